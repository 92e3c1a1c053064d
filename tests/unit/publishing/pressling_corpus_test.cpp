// The converter on Markdown that nobody here wrote: the documentation that the machine's
// packages install. Whatever the page does around it, the code must be the code that the
// renderer alone finds, and nothing of the protection may show.
#include <gtest/gtest.h>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "support/files.hpp"
#include "support/html_entities.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace {

namespace fs = std::filesystem;
using vemtora::pressling::PresslingConverter;

const fs::path kDocs = "/usr/share/doc";

std::vector<fs::path> installed_markdown() {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(kDocs, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->path().extension() == ".md" && it->is_regular_file(type_ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The code elements of an HTML body as "[language] text", texts unescaped and without
// line breaks at their end (the page leaves out the one before a closing fence, and
// trailing empty lines show as nothing). Diagram blocks are left out: the page turns
// them into diagrams.
std::vector<std::string> code_blocks(std::string_view html) {
    static const support::Regex code(R"re(<pre><code(?: class="language-([^"]*)")?>([\s\S]*?)</code></pre>)re");
    std::vector<std::string> blocks;
    for (const auto& m : code.find_all(html)) {
        std::string lang = support::html_unescape(m.group(1));
        if (lang == "mermaid" || lang == "wavedrom") continue;
        std::string text = support::html_unescape(m.group(2));
        while (text.ends_with('\n')) text.pop_back();
        blocks.push_back("[" + lang + "] " + text);
    }
    return blocks;
}

// The renderer alone on the text, raw HTML kept.
std::string render_alone(const std::string& text) {
    cmark_gfm_core_extensions_ensure_registered();
    cmark_parser* parser = cmark_parser_new(CMARK_OPT_UNSAFE);
    if (cmark_syntax_extension* table = cmark_find_syntax_extension("table"))
        cmark_parser_attach_syntax_extension(parser, table);
    cmark_parser_feed(parser, text.data(), text.size());
    cmark_node* doc = cmark_parser_finish(parser);
    char* html = cmark_render_html(doc, CMARK_OPT_UNSAFE, cmark_parser_get_syntax_extensions(parser));
    std::string out = html;
    std::free(html);
    cmark_node_free(doc);
    cmark_parser_free(parser);
    return out;
}

// Private-use characters (U+E000..U+F8FF) and placeholder texts.
size_t protection_marks(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i + 2 < s.size(); ++i) {
        auto b0 = static_cast<unsigned char>(s[i]), b1 = static_cast<unsigned char>(s[i + 1]);
        if ((b0 == 0xEE && b1 >= 0x80) || (b0 == 0xEF && b1 >= 0x80 && b1 <= 0xA3)) ++n;
    }
    for (std::string_view mark : {"<!--CODE_PLACEHOLDER_", "<!--MATH_PLACEHOLDER_"})
        for (size_t p = s.find(mark); p != std::string_view::npos; p = s.find(mark, p + 1)) ++n;
    return n;
}

}  // namespace

TEST(PresslingCorpus, InstalledDocumentationKeepsItsCode) {
    std::vector<fs::path> files = installed_markdown();
    if (files.empty()) GTEST_SKIP() << "no *.md files under " << kDocs.string();

    th::TempDir out;
    PresslingConverter converter(YAML::Load("config: {embed_images: false}"));
    converter.output_path = out.path().string();
    size_t pages = 0, blocks = 0;
    for (const auto& file : files) {
        auto read = support::read_regular_file(file, vemtora::pressling::max_markdown_bytes);
        if (read.outcome != support::BoundedRead::Outcome::read) continue;
        const std::string& bytes = read.bytes;
        std::string text = support::is_valid_utf8(bytes) ? bytes : support::decode_replace(bytes);
        fs::remove_all(out.path());
        {
            brenkit::app_logging::Capture quiet;
            ASSERT_TRUE(converter.run(file.string()).ok) << file;
        }
        std::vector<fs::path> written;
        for (const auto& e : fs::directory_iterator(out.path())) written.push_back(e.path());
        if (written.empty()) continue;  // an empty file gives no page
        ASSERT_EQ(written.size(), 1u) << file;
        std::string page = th::read_file(written[0]);
        size_t body = page.find("<article>");
        ASSERT_NE(body, std::string::npos) << file;
        std::string html = page.substr(body);

        // Front matter is shown as the code block it is made (that is tested on its own).
        vemtora::pressling::fence_front_matter(text);
        std::vector<std::string> expected = code_blocks(render_alone(text));
        std::vector<std::string> actual = code_blocks(html);
        // The first block that differs, rather than two whole pages of code.
        size_t i = 0;
        while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
        if (i < actual.size() || i < expected.size())
            ADD_FAILURE() << file.string() << ": code block " << i << " of " << expected.size() << "\n  page:     "
                          << (i < actual.size() ? actual[i] : "(none)") << "\n  renderer: "
                          << (i < expected.size() ? expected[i] : "(none)");
        EXPECT_LE(protection_marks(html), protection_marks(text)) << file;
        ++pages;
        blocks += expected.size();
    }
    std::cout << "[          ] " << pages << " pages with " << blocks << " code blocks from " << kDocs.string() << "\n";
}

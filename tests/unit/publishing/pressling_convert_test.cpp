#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;
using ::testing::Contains;
using ::testing::HasSubstr;

TEST(PresslingClean, MetadataLinesAndBlankLines) {
    EXPECT_EQ(clean_markdown("Created: 2024-01-01\ncreated by: Ann\nLanguage: zh\nStatusbar: on\nversion.x: 1\n"
                             "Version: 1.0\n  Created: x\nTags\nBody"),
              "\n\nVersion: 1.0\n  Created: x\nTags\nBody");
    EXPECT_EQ(clean_markdown("a\n\n\n\nb"), "a\n\nb");
    EXPECT_EQ(clean_markdown("a\n\nStatus: done\n\nb"), "a\n\nb");
    EXPECT_EQ(clean_markdown("a\r\n\r\n\r\nb"), "a\n\nb");
}

TEST(PresslingClean, CodeIsLeftAsWritten) {
    for (const std::string code : {
             "```yaml\nstatusCode: 200\nStatus = a:b\ntags: [a]\nlanguage: python\n\n\n\nend\n```\n",
             "- x\n\n  ~~~\n  Created: 1\n  ~~~\n",
             "text\n\n    Person: me\n\n\n\n    Tags: t\n",
         })
        EXPECT_EQ(clean_markdown(code + "\nStatus: gone\n\n\n\nx"), code + "\nx") << code;
}

TEST(PresslingClean, TocMarkerPlacement) {
    struct Case { std::string in, out; };
    for (const auto& c : std::vector<Case>{
             {"# T\n**Author:** me\nx", "# T\n**Author:** me\n\n[TOC]\n\n\nx"},
             {"intro\n# Title\nx", "intro\n# Title\n\n[TOC]\n\n\nx"},
             {"#\n\ntext\nmore", "#\n\ntext\n\n[TOC]\n\n\nmore"},
             {"## Part\nx", "[TOC]\n\n## Part\nx"},
             {"#Title", "[TOC]\n\n#Title"},
             {"no heading", "no heading"},
             // Code is not looked at: neither its headings nor its "#" place a marker.
             {"```\n# install\n```\n", "```\n# install\n```\n"},
             {"~~~\n# install\n~~~\n# Title\nx", "~~~\n# install\n~~~\n# Title\n\n[TOC]\n\n\nx"},
             {"    # install\n\n**Author:** me", "    # install\n\n**Author:** me\n\n[TOC]\n\n"},
             // Among several code blocks, what stands between and after them still counts.
             {"```\n# a\n```\n\n    # b\n\n~~~\n#\n~~~\n## Part\n",
              "[TOC]\n\n```\n# a\n```\n\n    # b\n\n~~~\n#\n~~~\n## Part\n"},
             {"```\n# a\n```\n# T\n```\n# b\n```\n", "```\n# a\n```\n# T\n\n[TOC]\n\n\n```\n# b\n```\n"},
             {"```\n# a\n```\n\n```\n# b\n```\ntext\n", "```\n# a\n```\n\n```\n# b\n```\ntext\n"},
         })
        EXPECT_EQ(insert_toc_marker(c.in), c.out) << c.in;
}

TEST(PresslingClean, VersionLabel) {
    struct Case { std::string in, version; };
    for (const auto& c : std::vector<Case>{
             {"**Version:** 1.2.0", "1.2.0"},
             {"**Version:** [1.0.4]", "1.0.4"},
             {"**Version:** [`v2.1`](http://x)", "v2.1"},
             {"**Version:**\n 1.0|2", "1.0"},
             {"**Version:** 1.0/beta", "1.0/beta"},
             {"**Version:** <b>1.0</b>", ""},
             {"**version:** 1.0", ""},
             {"```\n**Version:** 9\n```\n**Version:** 1", "9"},
         })
        EXPECT_EQ(find_version(c.in), c.version) << c.in;
}

TEST(PresslingClean, OutputFileNames) {
    EXPECT_EQ(output_file_name("notes", "", ""), "notes.html");
    EXPECT_EQ(output_file_name("notes", "1.2.0", "CONFIDENTIAL"), "notes_1.2.0_CONFIDENTIAL.html");
    EXPECT_EQ(output_file_name("notes.md", "", ""), "notes.html");
    EXPECT_EQ(output_file_name("release.v2", "", ""), "release.html");
    EXPECT_EQ(output_file_name(".hidden", "", ""), ".hidden.html");
    // The version cannot leave the output folder or break the name.
    EXPECT_EQ(output_file_name("n", "1.0/beta", ""), "n_1.0_beta.html");
    EXPECT_EQ(output_file_name("n", "../../etc", ""), "n_____etc.html");
    EXPECT_EQ(output_file_name("n", "a\\b:c*?\"d>\x01", ""), "n_a_b_c___d__.html");
    EXPECT_EQ(clean_watermark_text("Top Secret!"), "Top_Secret");
    EXPECT_EQ(clean_watermark_text("機密 文件"), "機密_文件");
    EXPECT_EQ(clean_watermark_text("Review-2024 (v1)"), "Review_2024_v1");
    EXPECT_EQ(clean_watermark_text("***"), "");
}

TEST(PresslingConverter, ReadsKeysWithDefaults) {
    // Debug mode comes from the frame's context, not from the environment.
    th::ScopedEnv env{{{"DOVUD_DEBUG", "1"}}};
    PresslingConverter defaults(YAML::Load("other: 1"));
    EXPECT_EQ(defaults.input_path, "./");
    EXPECT_EQ(defaults.output_path, "./");
    EXPECT_TRUE(defaults.embed_images);
    EXPECT_FALSE(defaults.watermark_enable);
    EXPECT_EQ(defaults.watermark_text, "CONFIDENTIAL");
    EXPECT_FALSE(defaults.is_debug);
    PresslingConverter set(YAML::Load("config: {input_path: in, embed_images: '', watermark_enable: yes, "
                                      "watermark_text: 42}"),
                           true);
    EXPECT_EQ(set.input_path, "in");
    EXPECT_FALSE(set.embed_images);
    EXPECT_TRUE(set.watermark_enable);
    EXPECT_EQ(set.watermark_text, "42");
    EXPECT_TRUE(set.is_debug);
}

TEST(PresslingConverter, GivenFileBecomesOnePage) {
    th::TempDir dir;
    th::write_file(dir / "docs/notes.md", "# Notes\n\n**Version:** 2.0\n\n![p](p.png)\n");
    th::write_file(dir / "docs/p.png", std::string("\x89PNG\r\n\x1a\n", 8));
    th::write_file(dir / "docs/empty.md", "");
    PresslingConverter converter(YAML::Load("config: {output_path: '" + (dir / "out").string() +
                                            "', watermark_enable: true, watermark_text: 'Top Secret!'}"),
                                 true);
    brenkit::app_logging::Capture capture;
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    support::Result r = converter.run("docs/notes.md");
    support::Result empty = converter.run("docs/empty.md");
    fs::current_path(cwd);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.text, "pressling 執行成功。");
    EXPECT_TRUE(empty.ok);
    std::string page = th::read_file(dir / "out/notes_2.0_Top_Secret.html");
    EXPECT_THAT(page, HasSubstr("<title>notes.md</title>"));
    EXPECT_THAT(page, HasSubstr("<h1 id=\"notes\">Notes</h1>"));
    EXPECT_THAT(page, HasSubstr("<img alt=\"p\" src=\"data:image/png;base64,iVBORw0KGgo=\" />"));
    EXPECT_THAT(page, HasSubstr(">Top Secret!</text>"));
    EXPECT_TRUE(fs::exists(dir / "out/notes.md_debug.md"));
    EXPECT_FALSE(fs::exists(dir / "out/empty.md_debug.md"));
    const auto messages = capture.messages();
    EXPECT_THAT(messages, Contains("✅ 已手動指定處理單一檔案：docs/notes.md"));
    EXPECT_THAT(messages, Contains("✅ 正在處理: " + (dir / "docs/notes.md").string()));
    EXPECT_THAT(messages, Contains("✅ 成功找到版本號碼: 2.0"));
}

TEST(PresslingCommand, BareConfigAndOutputOptionsGetAnEmptyValue) {
    using V = std::vector<std::string>;
    struct Case { V in, out; };
    for (const auto& c : std::vector<Case>{
             {{"-o", "-f", "a.md"}, {"-o", "", "-f", "a.md"}},
             {{"-c", "-o"}, {"-c", "", "-o", ""}},
             {{"--config", "x.yaml", "--output-dir"}, {"--config", "x.yaml", "--output-dir", ""}},
             {{"--config=a.yaml", "-ca.yaml", "-o./out", "-f"}, {"--config=a.yaml", "-ca.yaml", "-o./out", "-f"}},
         })
        EXPECT_EQ(rewrite_arguments(c.in), c.out);
}

// The prepared text is the cleaned and marked one, and its code blocks are the ones the
// renderer finds in it, also where the clean-up or the marker changes what is code.
TEST(PresslingPrepare, CodeBlocksAreThoseOfThePreparedText) {
    for (const std::string md : {
             "# T\n\nCreated: 2024-01-01\nTags: a, b\nStatus: Done\n**Version:** 1.2.0\n\n```py\nx = 1\n```\n",
             "para\nCreated: x\n    code",           // an emptied line opens an indented block
             "    a\nCreated: x\n    b",               // and joins two of them
             "<div>\nCreated: x\n```\ncode\n```\n</div>",
             "- a\nStatus: x\n      code",
             "- one\n\n  ```js\n  x\n\nCreated: 1\nTags: a\nrest",  // the list item would take the blank lines in
             "> a\nTags: x\n>     code",
             "| a |\n|---|\nStatus: x\nmore\n    code",
             "#\ntext\n    more",                      // the marker ends the paragraph
             "**Author:** me\n    code",
             "- **Author:** me\n\n      code",
             "# T\n> quote\n    code",
             "Created: x\r\n```\r\ncode\r\n```\r\n# T\r\n\r\n\r\n\r\n    c\r\n",
             "```\n# a\n```\n# T\n```\n# b\n```\n",
             "\xEF\xBB\xBF    code\n## Part",           // a byte-order mark counts only at the start
             "\xEF\xBB\xBF    c\r\n# T\r\n\r\n\r\n```\r\nx\r\n```\r\n",  // a block that starts at its line's end
             "---\nCreated: x\n````\n\n\n\n---\n    code\n# T\n",  // front matter, whatever it holds
             // A heading after an emptied line or the marker reads alike after a blank line;
             // a line that only looks like one may not.
             "# T\nCreated: x\n## Part\n    code",
             "para\nCreated: x\n   ###\n    code",
             "para\nCreated: x\n    # code",
             "para\nCreated: x\n\t# code",
             "para\nCreated: x\n####### no heading\n    code",
             "# T\n## Part\n    code",
             "# T\n    # code",
             "- a\nStatus: x\n# T\n    code",
         }) {
        PreparedMarkdown prepared = prepare_markdown(md);
        EXPECT_EQ(prepared.text, insert_toc_marker(clean_markdown(md))) << md;
        EXPECT_EQ(prepared.code_blocks, find_code_blocks(prepared.text)) << md;
    }
}

// Front matter at the very start of a file reads as its lines: a block of its own, neither a
// heading nor an entry of the table of contents. Anywhere else, or without a key on its
// first line, "---" means what it always means.
TEST(PresslingPrepare, FrontMatterIsABlockOfItsOwn) {
    auto body_of = [](std::string_view md) {
        PreparedMarkdown prepared = prepare_markdown(md);
        Protected p = protect_markdown_code_and_math(prepared.text, prepared.code_blocks);
        std::string html = render_markdown(p.text, p.code_placeholders, p.math_placeholders);
        return restore_markdown_code_and_math(html, p.code_placeholders, p.math_placeholders);
    };
    struct Case { std::string md, html; };
    for (const auto& c : std::vector<Case>{
             {"---\ntitle: Hello *world*\ntags: [a, b]\n# comment\n\n---\n\n# Intro\n\ntext",
              "<pre><code class=\"language-yaml\">title: Hello *world*\ntags: [a, b]\n# comment\n</code></pre>\n"
              "<h1 id=\"intro\">Intro</h1>\n<div class=\"toc\">\n<ul>\n<li><a href=\"#intro\">Intro</a></li>\n</ul>\n</div>\n"
              "<p>text</p>"},
             {"---  \r\ndate: 2024\r\n```js\r\n---\r\ntext $x$", "<pre><code class=\"language-yaml\">date: 2024\n```js</code></pre>\n"
              "<p>text \\(x\\)</p>"},
             {"text\n\n---\ntitle: x\n---", "<p>text</p>\n<hr />\n<h2 id=\"title-x\">title: x</h2>"},
             {"---\n\ntitle: x\n---", "<hr />\n<h2 id=\"title-x\">title: x</h2>"},
             {"---\n- a: x\n---", "<hr />\n<ul>\n<li>a: x</li>\n</ul>\n<hr />"},
             {"---\ntitle: x\n", "<hr />\n<p>title: x</p>"},
         })
        EXPECT_EQ(body_of(c.md), c.html) << c.md;
}

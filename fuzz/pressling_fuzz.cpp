// Fuzzes the whole per-file chain of the Markdown converter on one text: metadata
// cleaning and the table-of-contents marker (with the code blocks carried through them
// checked against a fresh parse), the version, code and math protection,
// rendering, restoring, Mermaid and WaveDrom blocks, image inlining against a small
// fixture folder, the page with a watermark, and the output file name.
//
// Input: the Markdown text; its first line (at most 64 bytes) is also the watermark text.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/markdown.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace fs = std::filesystem;
namespace pressling = vemtora::pressling;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The Markdown file's folder: a few images of each kind, a folder with an image's name,
// an empty image and one with a blank in its name.
const fs::path& fixture_folder() {
    static const fs::path folder = [] {
        auto path = fs::temp_directory_path() / "vemtora-fuzz-pressling";
        fs::create_directories(path / "images" / "folder.png");
        const char png[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1\x08\2\0\0\0\x90wS\xde";
        std::ofstream(path / "images" / "a.png", std::ios::binary).write(png, sizeof png - 1);
        std::ofstream(path / "images" / "my pic.png", std::ios::binary).write(png, sizeof png - 1);
        std::ofstream(path / "images" / "b.JPG", std::ios::binary) << "\xff\xd8\xff\xe0";
        std::ofstream(path / "images" / "c.svg") << "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
        std::ofstream(path / "images" / "empty.gif");
        // Outside the harness's own folder, so named as a user names the folder of their
        // notes: pictures are inlined from there only.
        static brenkit::fileIO::NamedPlaces named;
        named.add(path);
        return path;
    }();
    return folder;
}

// The real encoder, kept to the fixture folder so that no input reads the rest of the disk.
std::optional<std::string> encode_fixture_image(const fs::path& img_path) {
    auto relative = img_path.lexically_normal().lexically_relative(fixture_folder());
    if (relative.empty() || *relative.begin() == "..") return std::nullopt;
    return pressling::PresslingConverter::_encode_image_base64(img_path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brenkit::app_logging::Capture quiet;
    std::string input(reinterpret_cast<const char*>(data), size);
    // The file service hands the converter valid UTF-8, ill-formed bytes replaced.
    std::string text = support::is_valid_utf8(input) ? input : support::decode_replace(input);
    std::string watermark = text.substr(0, std::min(text.find('\n'), size_t{64}));
    if (!support::is_valid_utf8(watermark)) watermark.clear();  // cut inside a character

    // The code blocks found once and carried through the clean-up and the marker are the
    // ones the renderer finds in the result; without the table extension where it cannot
    // matter, they are those of a parse with it.
    auto prepared = pressling::prepare_markdown(text);
    check(prepared.text == pressling::insert_toc_marker(pressling::clean_markdown(text)));
    check(prepared.code_blocks == pressling::find_code_blocks(prepared.text));
    check(pressling::map_blocks(text).code_blocks == pressling::find_code_blocks(text));
    text = std::move(prepared.text);
    std::string version = pressling::find_version(text);
    auto prot = pressling::protect_markdown_code_and_math(text, prepared.code_blocks);
    std::string html = pressling::render_markdown(prot.text, prot.code_placeholders, prot.math_placeholders);
    html = pressling::restore_markdown_code_and_math(html, prot.code_placeholders, prot.math_placeholders);
    html = pressling::process_mermaid_charts(html);
    html = pressling::process_wavedrom_charts(html);
    html = pressling::embed_images_in_html(html, fixture_folder() / "note.md", encode_fixture_image, true);
    std::string page = pressling::generate_final_html("note.md", html, watermark);
    check(page.starts_with("<!DOCTYPE html>"));

    // Whatever the version and watermark hold, the page lands in the output folder itself.
    std::string name = pressling::output_file_name("note.md", version, pressling::clean_watermark_text(watermark));
    check(name.ends_with(".html"));
    check(name.find('/') == std::string::npos && name.find('\\') == std::string::npos);
    check(fs::path(name).filename() == fs::path(name) && name != ".." && name != ".");
    return 0;
}

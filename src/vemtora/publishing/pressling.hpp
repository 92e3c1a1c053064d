#pragma once
// Command "pressling": Markdown files (as a rule pages exported from Notion) become
// stand-alone HTML pages, with code and formulas kept intact, Mermaid and WaveDrom
// blocks made into diagrams, local images inlined and an optional watermark.
#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/markdown.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"

namespace vemtora::pressling {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log();

extern const std::string_view DEFAULT_YAML_CONTENT;
// The page, with the slots {title}, {watermark_css} and {content}, each standing once.
extern const std::string_view PAGE_TEMPLATE;

// ---- the pages' Markdown ----------------------------------------------------------
// Markdown as the pages read it: blocks opened by a markdown attribute hold Markdown (the
// attribute is dropped), every heading gets an id, a "[TOC]" paragraph becomes a nested
// list of the headings, and images are written with alt before src.
const support::markdown::Dialect& page_dialect();
// The HTML body of a text, without a line feed at its end; throws as
// support::markdown::render_html does.
std::string markdown_to_html(std::string_view text, support::markdown::Options options = {});
// The blocks and the code blocks of a text, as the pages read it.
support::markdown::BlockMap map_blocks(std::string_view text);
std::vector<support::markdown::CodeBlock> find_code_blocks(std::string_view text);

// The id base of a heading text: compatibility decomposition, non-ASCII dropped,
// characters other than word characters, white space and "-" dropped, stripped,
// lower-cased, and every run of "-" and white space made one "-".
std::string slugify(std::string_view text);
// Heading ids of one document. `unique` gives `id`, or id_1, id_2, ... (an id already
// ending in _N counts on from N), whichever is not taken yet; never an empty id. Each
// requested id remembers where its count stopped, so many equal headings stay linear.
class UniqueIds {
  public:
    std::string unique(const std::string& id);

  private:
    std::set<std::string> used_;
    std::map<std::string, std::string> resume_;  // requested id -> the last id given for it
};

// ---- code and math protection ----------------------------------------------------
struct CodePlaceholder {
    std::string placeholder;  // "<!--CODE_PLACEHOLDER_0-->"
    std::string html;         // the finished code element
    std::string source = {};  // the text it replaced, as written
};
struct MathPlaceholder {
    std::string placeholder;  // "<!--MATH_PLACEHOLDER_0-->"
    std::string formula;      // raw formula text
    bool is_block = false;    // display formula
    std::string source = {};  // the text it replaced, as written
};
struct Protected {
    std::string text;
    std::vector<CodePlaceholder> code_placeholders;
    std::vector<MathPlaceholder> math_placeholders;
};

// Cuts code blocks (fenced and indented, where the renderer finds them), inline code and
// formulas out of the Markdown text, leaving placeholders. Never fails: on an error it
// logs a warning and returns what it has.
Protected protect_markdown_code_and_math(std::string_view md_content);
// The same with the text's code blocks already known (as prepare_markdown gives them).
Protected protect_markdown_code_and_math(std::string_view md_content,
                                         const std::vector<support::markdown::CodeBlock>& code_blocks);
// Puts code and formulas back in place of their placeholders, in one pass over the HTML.
// Formulas come back between their delimiters with "&", "<" and ">" escaped, so the
// page stays well-formed and the typesetter still reads the formula's own text; code
// inside a formula comes back as code, and no placeholder is ever escaped into text.
std::string restore_markdown_code_and_math(std::string_view html_body,
                                           const std::vector<CodePlaceholder>& code_placeholders,
                                           const std::vector<MathPlaceholder>& math_placeholders);

// Renders protected Markdown. Placeholders come through intact wherever they stand:
// around the renderer they are inert tokens. A code block placeholder alone on its line
// becomes a block of its own rather than part of a paragraph; a display formula stands
// where its text stood, as a block where it makes a paragraph of its own and inside the
// paragraph it shares with other text. In a link destination or title, and in an
// autolink, the text they replaced comes back as written.
std::string render_markdown(std::string_view protected_text, const std::vector<CodePlaceholder>& code_placeholders,
                            const std::vector<MathPlaceholder>& math_placeholders);

// ---- chart blocks and images ---------------------------------------------------
// Each chart and image step takes the body and gives it back (itself when it has
// nothing to change).
std::string process_mermaid_charts(std::string html_body);
std::string process_wavedrom_charts(std::string html_body);

using ImageEncoder = std::function<std::optional<std::string>(const fs::path& img_path)>;
// Local images as data URLs. A value is read as the renderer wrote it: character
// references, then percent escapes. A reference that cannot be given stays as it was;
// "not found" is said only where no file is (the encoder has said why it refused one).
std::string embed_images_in_html(std::string html_body, const fs::path& md_file,
                                 const ImageEncoder& encode_image_fn, bool is_debug = false);

// The data URLs of a run's images, from `encode`: a picture that many pages show (the
// figures a folder's notes share) is read and encoded once. Only what could be given is
// kept, and no more than `max_bytes` of it; an image that cannot be given is asked for
// again, so that each page that uses it says why.
class ImageUrls {
  public:
    explicit ImageUrls(ImageEncoder encode, std::size_t max_bytes = std::size_t{32} << 20)
        : encode_(std::move(encode)), max_bytes_(max_bytes) {}
    std::optional<std::string> operator()(const fs::path& img_path);

  private:
    ImageEncoder encode_;
    std::unordered_map<fs::path::string_type, std::string> urls_;
    std::size_t bytes_ = 0, max_bytes_;
};

// "%XX" sequences as bytes read as UTF-8 (ill-formed ones give U+FFFD); a "%" without
// two hexadecimal digits and "+" stay as they are.
std::string percent_decode(std::string_view value);
// By the file's extension (case-insensitive): jpeg, gif, svg+xml, else png.
std::string image_mime_type(const fs::path& img_path);

// ---- page ------------------------------------------------------------------------
// The watermark rule for the style sheet, "" for an empty text. Any text stays inside
// its SVG text element, the data URL and the CSS string.
std::string watermark_css(std::string_view watermark_text);
std::string generate_final_html(std::string_view md_name, std::string_view html_body,
                                std::string_view watermark_text = "");

// ---- conversion run ------------------------------------------------------------
// Front matter at the very start of a text, as site generators and note apps write it (a
// line "---", a line that begins with a key such as "title: ...", more lines, a line
// "---"), made a yaml code block: its two marker lines become the fences, longer than any
// run of backquotes that begins a line inside. So it reads as the lines it is, not as a
// rule and a heading made of them. Any other text is left as it is.
void fence_front_matter(std::string& text);
// Front matter fenced, metadata lines emptied, runs of three or more line feeds made two;
// code blocks are left as they are.
std::string clean_markdown(std::string_view text);
// The "[TOC]" marker after the author line, else after the first level-one heading,
// else in front when the text holds a "#"; what stands in code blocks does not count.
std::string insert_toc_marker(std::string_view text);
// A source text with its line breaks made line feeds, cleaned and marked as the steps
// above do, together with the code blocks of the result. The text is parsed once
// for its code blocks, which are carried through both edits (parsed again only where an
// edit could change what the renderer takes for code).
struct PreparedMarkdown {
    std::string text;
    std::vector<support::markdown::CodeBlock> code_blocks;
};
PreparedMarkdown prepare_markdown(std::string_view text);
// The value after the first "**Version:**" label, "" when there is none.
std::string find_version(std::string_view text);
// "\W+" runs made "_", leading and trailing "_" removed.
std::string clean_watermark_text(std::string_view text);
// A text made safe as a part of a file name: path separators, characters that
// file names on Windows cannot hold, control characters and ".." become "_".
std::string safe_name_part(std::string_view text);
// The file-name stem: the name without its last extension (a leading dot not counting).
std::string strip_last_extension(std::string_view name);
std::string output_file_name(std::string_view doc_name, std::string_view version, std::string_view watermark_part);

// Larger Markdown files are refused (a failed file), without being read.
inline constexpr std::uintmax_t max_markdown_bytes = std::uintmax_t{64} << 20;
// Larger pictures are not inlined: the page would carry a third more than the file.
inline constexpr std::uintmax_t max_image_bytes = std::uintmax_t{16} << 20;

class PresslingConverter {
  public:
    // `debug`: debug mode is on (the frame's context says so); the prepared Markdown of
    // each file is kept beside its page.
    explicit PresslingConverter(const YAML::Node& config_dict, bool debug = false);

    // A data URL of the image file, or nothing when it cannot be given. Only a picture is
    // given: a regular file of at most max_image_bytes whose content is a PNG, JPEG, GIF,
    // WebP, BMP, ICO, AVIF, HEIC/HEIF or TIFF image by its signature, or an SVG image by
    // its XML root element; the type in the URL comes from the name (image_mime_type).
    static std::optional<std::string> _encode_image_base64(const fs::path& img_path);

    support::Result run(const std::optional<std::string>& target_file = std::nullopt) const;

    YAML::Node config;
    std::string input_path;
    std::string output_path;
    bool embed_images = true;
    bool watermark_enable = false;
    std::string watermark_text;
    bool watermark_text_set = true;  // the configured text is true by truth value
    bool is_debug = false;

  private:
    enum class Outcome { written, skipped, failed };
    // `page` is set to the path of the page when one was written; `images` gives the
    // run's images.
    Outcome convert_file(const fs::path& source, const std::string& doc_name, ImageUrls& images, fs::path& page) const;
};

// ---- command ---------------------------------------------------------------------
// After "-c", "--config", "-o" or "--output-dir" that is last or followed by an
// argument beginning with "-", an empty argument is added.
std::vector<std::string> rewrite_arguments(const std::vector<std::string>& args);
vemtora::CommandDecl cmd_pressling();

}  // namespace vemtora::pressling

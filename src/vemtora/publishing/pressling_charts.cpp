// Mermaid and WaveDrom blocks as diagram elements, local images as data URLs.
#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "support/base64.hpp"
#include "support/files.hpp"
#include "support/html_entities.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace vemtora::pressling {

namespace {

using support::Regex;

// Rebuilds `text` with every match replaced by `fn(match)`, in one pass.
template <typename Match, typename Fn>
std::string replace_matches(std::string_view text, const std::vector<Match>& matches, Fn fn) {
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    for (const auto& m : matches) {
        out.append(text.substr(copied, m.start() - copied));
        out += fn(m);
        copied = m.end();
    }
    out.append(text.substr(copied));
    return out;
}

// A code block of one language as the code step writes it: the content runs to the first
// "</code></pre>" after the opening tag (and without one, no later block is closed either).
struct LanguageBlock {
    size_t begin, finish;
    std::string_view content;
    size_t start() const { return begin; }
    size_t end() const { return finish; }
};
std::vector<LanguageBlock> language_blocks(std::string_view html, std::string_view language) {
    const std::string open = "<pre><code class=\"language-" + std::string(language) + "\">";
    constexpr std::string_view close = "</code></pre>";
    const std::boyer_moore_horspool_searcher opening(open.begin(), open.end());
    std::vector<LanguageBlock> blocks;
    for (auto it = std::search(html.begin(), html.end(), opening); it != html.end();) {
        size_t at = static_cast<size_t>(it - html.begin());
        size_t content = at + open.size();
        size_t close_at = html.find(close, content);
        if (close_at == std::string_view::npos) break;
        blocks.push_back({at, close_at + close.size(), html.substr(content, close_at - content)});
        it = std::search(html.begin() + static_cast<std::ptrdiff_t>(close_at + close.size()), html.end(), opening);
    }
    return blocks;
}

// The text of a script element that the browser ends where the element ends: neither an
// end tag ("</script") nor a comment opening ("<!--", after which a "<script" would hide
// the end tag) stands in it. The backslash put into either is no change to a string of
// the script, where they can only stand.
std::string script_text(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    for (size_t i = 0; i < content.size(); ++i) {
        out += content[i];
        if (content[i] != '<') continue;
        std::string_view rest = content.substr(i + 1);
        if (rest.starts_with("!--") || (rest.size() >= 7 && support::ascii_lower(rest.substr(0, 7)) == "/script"))
            out += '\\';
    }
    return out;
}

bool is_remote(std::string_view value) {
    return value.starts_with("http://") || value.starts_with("https://") || value.starts_with("data:");
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The tag text with every quoted attribute value that equals `value` replaced.
std::string replace_attribute_values(std::string_view tag, std::string_view value, std::string_view replacement) {
    std::string out;
    out.reserve(tag.size() + replacement.size());
    size_t copied = 0;
    for (size_t eq = tag.find('='); eq != std::string_view::npos; eq = tag.find('=', eq + 1)) {
        size_t q = eq + 1;
        while (q < tag.size() && (tag[q] == ' ' || tag[q] == '\t' || tag[q] == '\n' || tag[q] == '\r')) ++q;
        if (q >= tag.size() || (tag[q] != '"' && tag[q] != '\'')) continue;
        size_t close = tag.find(tag[q], q + 1);
        if (close == std::string_view::npos) break;
        if (tag.substr(q + 1, close - q - 1) == value) {
            out.append(tag.substr(copied, q + 1 - copied));
            out += replacement;
            copied = close;
        }
        eq = close;
    }
    out.append(tag.substr(copied));
    return out;
}

std::uint32_t little_endian(std::string_view bytes, size_t at, size_t width) {
    std::uint32_t value = 0;
    for (size_t i = width; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// AVIF and HEIC/HEIF: an ISO base media file that opens with its file type box ("ftyp")
// and names an image brand, as its major brand or among its compatible ones (a video's
// brands are none of these).
bool is_image_file_type(std::string_view b) {
    if (b.size() < 16 || b.substr(4, 4) != "ftyp") return false;
    std::uint32_t size = 0;
    for (size_t i = 0; i < 4; ++i) size = size << 8 | static_cast<unsigned char>(b[i]);
    if (size < 16) return false;
    size_t end = std::min<size_t>(size, b.size());
    auto image_brand = [](std::string_view brand) {
        for (std::string_view known : {"avif", "avis", "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs",
                                       "mif1", "msf1"})
            if (brand == known) return true;
        return false;
    };
    if (image_brand(b.substr(8, 4))) return true;
    for (size_t at = 16; at + 4 <= end; at += 4)  // the minor version stands between
        if (image_brand(b.substr(at, 4))) return true;
    return false;
}

// An XML document whose root element is svg: a byte-order mark, white space, the XML
// declaration, processing instructions, comments and a document type may come first.
bool is_svg(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
    for (;;) {
        size_t start = s.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos) return false;
        s.remove_prefix(start);
        size_t end = std::string_view::npos;
        if (s.starts_with("<?")) {
            end = s.find("?>");
            if (end != std::string_view::npos) end += 2;
        } else if (s.starts_with("<!--")) {
            end = s.find("-->", 4);
            if (end != std::string_view::npos) end += 3;
        } else if (s.starts_with("<!DOCTYPE")) {
            end = s.find_first_of("[>");
            if (end != std::string_view::npos && s[end] == '[') end = s.find(']', end);
            if (end != std::string_view::npos) end = s.find('>', end);
            if (end != std::string_view::npos) end += 1;
        } else {
            break;
        }
        if (end == std::string_view::npos) return false;
        s.remove_prefix(end);
    }
    return s.size() > 4 && s.starts_with("<svg") && std::string_view(" \t\r\n/>").find(s[4]) != std::string_view::npos;
}

// Whether the bytes are a picture that a page can show, by the signature at its start.
bool is_image(std::string_view b) {
    if (b.starts_with("\x89PNG\r\n\x1A\n")) return true;
    if (b.starts_with("\xFF\xD8\xFF")) return true;
    if (b.starts_with("GIF87a") || b.starts_with("GIF89a")) return true;
    if (b.size() >= 12 && b.starts_with("RIFF") && b.substr(8, 4) == "WEBP") return true;
    // BMP: "BM", then after the 14-byte file header the size of one of the known info headers.
    if (b.size() >= 18 && b.starts_with("BM")) {
        std::uint32_t info = little_endian(b, 14, 4);
        for (std::uint32_t known : {12u, 40u, 52u, 56u, 64u, 108u, 124u})
            if (info == known) return true;
    }
    // ICO: reserved 0, type 1, and at least one image in the directory.
    if (b.size() >= 6 && b.substr(0, 4) == std::string_view("\0\0\x01\0", 4) && little_endian(b, 4, 2) > 0) return true;
    if (b.starts_with(std::string_view("II*\0", 4)) || b.starts_with(std::string_view("MM\0*", 4))) return true;  // TIFF
    return is_image_file_type(b) || is_svg(b);
}

}  // namespace

std::string process_mermaid_charts(std::string html_body) {
    try {
        auto matches = language_blocks(html_body, "mermaid");
        if (matches.empty()) return html_body;
        log().info(fmt::format("✅ 發現 {} 個 Mermaid 區塊進行轉換。", matches.size()));
        // Mermaid reads the element's text: "<" and "&" stay escaped, or the browser would
        // take "<<interface>>" for tags; ">" needs no escape in text.
        auto fix_mermaid = [](const LanguageBlock& match) {
            std::string text = support::html_unescape(match.content);
            std::string html = "<div class=\"mermaid\">";
            html.reserve(html.size() + text.size() + text.size() / 8 + 6);
            size_t copied = 0;
            for (size_t i = text.find_first_of("&<"); i != std::string::npos; i = text.find_first_of("&<", i + 1)) {
                html.append(text, copied, i - copied).append(text[i] == '&' ? "&amp;" : "&lt;");
                copied = i + 1;
            }
            return html.append(text, copied).append("</div>");
        };
        return replace_matches(html_body, matches, fix_mermaid);
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ Mermaid 轉換出錯: ") + e.what());
        return html_body;
    }
}

std::string process_wavedrom_charts(std::string html_body) {
    try {
        auto matches = language_blocks(html_body, "wavedrom");
        if (matches.empty()) {
            log().debug("🔍 未在 HTML 中找到 WaveDrom 區塊");
            return html_body;
        }
        log().info(fmt::format("✅ 發現 {} 個 WaveDrom 區塊進行轉換。", matches.size()));
        auto fix_wavedrom = [](const LanguageBlock& match) {
            std::string content = support::html_unescape(match.content);
            std::string head;
            size_t pos = 0;
            for (int n = 0; n < 100 && pos < content.size(); ++n) support::append_utf8(head, support::next_code_point(content, pos));
            log().debug("🔍 正在處理 WaveDrom 內容 (前 100 字): " + head + "...");
            return "<script type=\"WaveDrom\">" + script_text(content) + "</script>";
        };
        return replace_matches(html_body, matches, fix_wavedrom);
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ WaveDrom 轉換出錯: ") + e.what());
        return html_body;
    }
}

std::string percent_decode(std::string_view value) {
    if (value.find('%') == std::string_view::npos) return std::string(value);
    std::string bytes;
    bytes.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        int hi = 0, lo = 0;
        if (value[i] == '%' && i + 2 < value.size() && (hi = hex_digit(value[i + 1])) >= 0 &&
            (lo = hex_digit(value[i + 2])) >= 0) {
            bytes += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    return support::decode_replace(bytes);
}

std::string image_mime_type(const fs::path& img_path) {
    std::string ext = support::ascii_lower(support::utf8_text(img_path.extension()));
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".gif") return "image/gif";
    if (ext == ".svg") return "image/svg+xml";
    return "image/png";
}

std::optional<std::string> PresslingConverter::_encode_image_base64(const fs::path& img_path) {
    std::error_code ec;
    fs::file_status status = fs::status(img_path, ec);
    if (!fs::exists(status)) return std::nullopt;
    auto fail = [&img_path](const std::string& why) {
        log().warning("⚠️ 無法將圖片 " + support::utf8_text(img_path) + " 編碼為 Base64: " + why);
        return std::nullopt;
    };
    // Only a regular file is read: a folder cannot be, and a FIFO or device could block
    // or never end.
    if (fs::is_directory(status)) return fail(std::make_error_code(std::errc::is_a_directory).message());
    // Nothing but a picture is inlined: a Markdown file from elsewhere must not copy a
    // key file or the process environment into a page that gets published, and a picture
    // that a link takes out of the working copy is not read.
    namespace fileIO = brenkit::fileIO;
    auto read = fileIO::read_local_file(img_path, {.limit = max_image_bytes});
    if (read.outcome != fileIO::LocalFile::Outcome::read) return fail(read.reason);
    if (!is_image(read.bytes)) return fail("not a PNG, JPEG, GIF, WebP, BMP, ICO, AVIF, HEIC/HEIF, TIFF or SVG image");
    return "data:" + image_mime_type(img_path) + ";base64," + support::base64_encode(read.bytes);
}

std::optional<std::string> ImageUrls::operator()(const fs::path& img_path) {
    if (auto kept = urls_.find(img_path.native()); kept != urls_.end()) return kept->second;
    std::optional<std::string> url = encode_(img_path);
    if (url && bytes_ + url->size() <= max_bytes_) {
        bytes_ += url->size();
        urls_.emplace(img_path.native(), *url);
    }
    return url;
}

std::string embed_images_in_html(std::string html_body, const fs::path& md_file,
                                 const ImageEncoder& encode_image_fn, bool is_debug) {
    static const Regex img_re(R"re(<img[^>]+src="([^">]+)")re");
    auto matches = img_re.find_all(html_body);
    if (matches.empty()) return html_body;
    size_t local = 0;
    for (const auto& m : matches) local += is_remote(m.group(1)) ? 0 : 1;
    if (local) log().info(fmt::format("✅ 發現 {} 張本地圖片進行 Base64 嵌入。", local));
    fs::path folder = md_file.parent_path();
    auto replace_img = [&](const Regex::Match& match) -> std::string {
        std::string_view value = match.group(1);
        if (is_remote(value)) return std::string(match.group(0));
        // The value as the renderer wrote it: character references first ("&" in a Notion
        // path arrives as "&amp;"), then the percent escapes.
        const std::string written = support::html_unescape(value);
        auto left_as_written = [&](const std::string& why) {
            log().warning("⚠️ 未嵌入圖片 " + written + ": " + why);
            return std::string(match.group(0));
        };
        // A page of a cloned repository must not carry the user's own pictures into a page
        // that gets published: pictures come only from the working copy and the places the
        // user named, and a file: URL, which names a place on the reader's disk, not at all.
        if (support::ascii_lower(std::string_view(written).substr(0, 5)) == "file:")
            return left_as_written("file: 網址不會被讀取");
        fs::path img_path = (folder / support::path_from_utf8(percent_decode(written))).make_preferred();
        if (auto reason = brenkit::fileIO::out_of_reach(img_path, brenkit::fileIO::Deed::read))
            return left_as_written(*reason);
        std::optional<std::string> data = encode_image_fn(img_path);
        if (!data || data->empty()) {
            // A file that is there was refused by the encoder, which has said why.
            std::error_code ec;
            fs::file_status status = fs::status(img_path, ec);
            if (!fs::exists(status) || fs::is_directory(status))
                log().warning("⚠️ 轉換過程中找不到圖片: " + support::utf8_text(img_path));
            return std::string(match.group(0));
        }
        if (is_debug) log().debug("已嵌入 Base64 圖片: " + support::utf8_text(img_path));
        return replace_attribute_values(match.group(0), value, *data);
    };
    return replace_matches(html_body, matches, replace_img);
}

}  // namespace vemtora::pressling

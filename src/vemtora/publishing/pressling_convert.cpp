// The conversion run: one page per Markdown file.
#include "vemtora/publishing/pressling.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <new>
#include <system_error>
#include <unordered_map>

#include "brenkit/fileIO.hpp"
#include "support/files.hpp"
#include "support/markdown.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/frame.hpp"

namespace vemtora::pressling {

namespace fileIO = brenkit::fileIO;
using support::Regex;

const brenkit::app_logging::Logger& log() {
    static const auto& logger = brenkit::app_logging::lazy_logger("Pressling");
    return logger;
}

namespace {

using support::markdown::BlockMap;
using support::markdown::CodeBlock;
using Spans = std::vector<std::pair<size_t, size_t>>;

// The lines that code blocks take, each span from the start of a block's first line to
// the end of its last line.
Spans code_lines(std::string_view text, const std::vector<CodeBlock>& blocks) {
    Spans spans;
    for (const auto& block : blocks) {
        size_t line_break = block.begin == 0 ? std::string_view::npos : text.rfind('\n', block.begin - 1);
        size_t begin = line_break == std::string_view::npos ? 0 : line_break + 1;
        size_t end = std::min(text.find('\n', block.end), text.size());
        if (!spans.empty() && begin < spans.back().second) spans.back().second = std::max(spans.back().second, end);
        else spans.emplace_back(begin, end);
    }
    return spans;
}

// The spans are in text order and apart, so only the first one that ends after `begin`
// can reach into [begin, end): a text of many code blocks stays linear to search.
bool overlaps(const Spans& spans, size_t begin, size_t end) {
    auto s = std::upper_bound(spans.begin(), spans.end(), begin,
                              [](size_t b, const auto& span) { return b < span.second; });
    return s != spans.end() && s->first < end;
}

// The first match of `re` that does not reach into a span of `spans`.
std::optional<Regex::Match> search_outside(const Regex& re, std::string_view text, const Spans& spans) {
    size_t from = 0;
    while (auto m = re.search(text, from)) {
        from = m->end();
        if (!overlaps(spans, m->start(), std::max(m->end(), m->start() + 1))) return m;
    }
    return std::nullopt;
}

void shift_blocks(std::vector<CodeBlock>& blocks, size_t from_index, std::ptrdiff_t delta) {
    for (size_t i = from_index; i < blocks.size(); ++i) {
        blocks[i].begin = static_cast<size_t>(static_cast<std::ptrdiff_t>(blocks[i].begin) + delta);
        blocks[i].end = static_cast<size_t>(static_cast<std::ptrdiff_t>(blocks[i].end) + delta);
    }
}

// ---- whether an edit leaves the code blocks where they were ----
// The clean-up empties lines and the marker puts blank lines after a line; both edit
// only outside code, so the code blocks found before the edit stand where they stood,
// moved by what the edit added or took away, unless the new blank line changes how the
// renderer reads the lines after it. It does not when the edited line is one of a
// paragraph or heading outside any container (so that nothing is closed by the blank
// line) and the line after it is blank, can begin nothing but a paragraph (so that it
// is read alike as the continuation of a paragraph and as the start of one), or is a
// heading of "#" marks (which interrupts a paragraph). Anything else is parsed again.

// A line that the renderer takes for blank.
bool is_blank_line(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

// Whether a line outside any container reads alike after a blank line and after a line of
// a paragraph.
bool reads_alike_after_blank(std::string_view line) {
    return is_blank_line(line) || support::markdown::begins_only_paragraph(line) || support::markdown::is_atx_heading(line);
}

// The line that starts at `pos` of `text` (pos may be text.size(): no line).
std::string_view line_at(std::string_view text, size_t pos) {
    if (pos >= text.size()) return {};
    size_t end = text.find('\n', pos);
    return text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

// The paragraph or heading outside any container that holds the line starting at
// `line_start`, or nothing.
const std::pair<size_t, size_t>* open_text_at(const Spans& open_text, size_t line_start) {
    auto s = std::upper_bound(open_text.begin(), open_text.end(), line_start,
                              [](size_t b, const auto& range) { return b < range.second; });
    return s != open_text.end() && s->first <= line_start ? &*s : nullptr;
}

bool in_open_text(const Spans& open_text, size_t line_start) { return open_text_at(open_text, line_start); }

// Whether no container is open before the line that starts at `line_start`, a line of a
// paragraph or heading outside any container: a blank line there could otherwise belong
// to a list item that the line closes, and an open fence in it would take the line in.
bool no_container_before(std::string_view text, const Spans& open_text, size_t line_start) {
    const auto* range = open_text_at(open_text, line_start);
    if (!range) return false;
    if (range->first < line_start) return true;
    // The first line of its paragraph: the nearest line before it with text must stand
    // outside any container too (the start of the text does).
    for (size_t next = line_start; next > 0;) {
        size_t end = next - 1;  // the line feed that ends the line before
        size_t start = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
        start = start == std::string_view::npos ? 0 : start + 1;
        if (!is_blank_line(text.substr(start, end - start))) return in_open_text(open_text, start);
        next = start;
    }
    return true;
}

// The text after the clean-up, its code blocks, and whether they are the ones it has.
struct Cleaned {
    std::string text;
    std::vector<CodeBlock> blocks;
    bool blocks_kept = true;
    // (start in the cleaned text, start in the source) of every line kept with its content.
    std::vector<std::pair<size_t, size_t>> kept_lines;
};

// Metadata lines emptied and runs of three or more line feeds made two, outside the lines
// that code blocks take.
Cleaned clean_outside_code(std::string_view all, const BlockMap& map) {
    static const Regex metadata(R"(^(Person|Created|Updated|language|version\.|Tags|Status|Assignee).*?:.*$)",
                                Regex::multiline | Regex::ignore_case);
    Cleaned out;
    out.text.reserve(all.size());
    out.blocks = map.code_blocks;
    // One stretch between code lines: the emptied lines are taken out, then runs of line
    // feeds cut to two, as the two replacements in turn would.
    auto clean = [&](size_t begin, size_t end) {
        std::string_view part = all.substr(begin, end - begin);
        std::vector<Regex::Match> emptied = metadata.find_all(part);
        for (size_t k = 0; k < emptied.size(); ++k) {
            const auto& m = emptied[k];
            size_t next = begin + m.end() + 1;  // the line after the emptied one
            bool next_emptied = k + 1 < emptied.size() && emptied[k + 1].start() == m.end() + 1;
            std::string_view after = line_at(all, next);
            if (!no_container_before(all, map.open_text, begin + m.start()) ||
                !(next_emptied || reads_alike_after_blank(after)))
                out.blocks_kept = false;
        }
        // Line by line: what stands on a kept line is copied whole; line feeds are counted
        // across emptied lines, and a run gives at most two.
        size_t feeds = 0, k = 0;
        for (size_t pos = 0; pos < part.size();) {
            size_t eol = std::min(part.find('\n', pos), part.size());
            bool emptied_line = k < emptied.size() && emptied[k].start() == pos;
            if (emptied_line) ++k;
            if (eol > pos && !emptied_line) {
                out.kept_lines.emplace_back(out.text.size(), begin + pos);
                out.text.append(part.substr(pos, eol - pos));
                feeds = 0;
            }
            if (eol == part.size()) break;
            if (feeds < 2) out.text += '\n';
            ++feeds;
            pos = eol + 1;
        }
    };
    size_t copied = 0, block = 0;
    for (auto [begin, end] : code_lines(all, map.code_blocks)) {
        clean(copied, begin);
        size_t first = block;
        // A block belongs to the span of its line (one at the very end of it included).
        while (block < out.blocks.size() && out.blocks[block].begin <= end) ++block;
        for (size_t i = first; i < block; ++i) {
            out.blocks[i].begin += out.text.size() - begin;
            out.blocks[i].end += out.text.size() - begin;
        }
        out.text.append(all.substr(begin, end - begin));
        copied = end;
    }
    clean(copied, all.size());
    return out;
}

// The marker, at the first place that takes one; `blocks` are moved with the text. Returns
// whether they are still the text's own: `reference` and `source_of` say where a line of
// `text` stood in the text whose blocks `reference` maps.
bool insert_marker(std::string& text, std::vector<CodeBlock>& blocks, const BlockMap& reference,
                   const std::function<std::optional<size_t>(size_t)>& source_of) {
    static const Regex author(R"((?m)^(\*\*Author:\*\*.*)$)");
    static const Regex title(R"(^#\s+.*$)", Regex::multiline);
    constexpr std::string_view marker = "\n\n[TOC]\n\n";
    Spans code = code_lines(text, blocks);
    std::optional<Regex::Match> m = search_outside(author, text, code);
    if (!m) m = search_outside(title, text, code);
    if (m) {
        size_t at = m->end();
        bool kept = true;
        if (at < text.size()) {
            // The line the match ends on; an empty one (the match ran over white space to
            // it) stands for no line of the source.
            size_t line_break = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
            size_t line_start = line_break == std::string::npos ? 0 : line_break + 1;
            std::optional<size_t> source = line_start < at ? source_of(line_start) : std::nullopt;
            std::string_view after = line_at(text, at + 1);
            kept = source && in_open_text(reference.open_text, *source) && reads_alike_after_blank(after);
        }
        text.insert(at, marker);
        size_t first = 0;
        while (first < blocks.size() && blocks[first].begin < at) ++first;
        shift_blocks(blocks, first, static_cast<std::ptrdiff_t>(marker.size()));
        return kept;
    }
    for (size_t hash = text.find('#'); hash != std::string::npos; hash = text.find('#', hash + 1)) {
        if (overlaps(code, hash, hash + 1)) continue;
        // In front of the text the marker ends in a blank line, as the start of a text
        // does; but the renderer skips a byte-order mark only at the very start.
        bool byte_order_mark = text.starts_with("\xEF\xBB\xBF");
        text.insert(0, "[TOC]\n\n");
        shift_blocks(blocks, 0, 7);
        return !byte_order_mark;
    }
    return true;
}

}  // namespace

PreparedMarkdown prepare_markdown(std::string_view text) {
    std::string normalized = support::normalize_newlines(text);
    fence_front_matter(normalized);
    BlockMap source = map_blocks(normalized);
    Cleaned cleaned = clean_outside_code(normalized, source);
    PreparedMarkdown out{std::move(cleaned.text), std::move(cleaned.blocks)};
    bool kept;
    if (cleaned.blocks_kept) {
        const auto& lines = cleaned.kept_lines;
        kept = insert_marker(out.text, out.code_blocks, source, [&lines](size_t at) -> std::optional<size_t> {
            auto it = std::lower_bound(lines.begin(), lines.end(), std::make_pair(at, size_t{0}));
            if (it == lines.end() || it->first != at) return std::nullopt;
            return it->second;
        });
    } else {
        BlockMap again = map_blocks(out.text);
        out.code_blocks = again.code_blocks;
        kept = insert_marker(out.text, out.code_blocks, again, [](size_t at) { return std::optional<size_t>(at); });
    }
    if (!kept) out.code_blocks = find_code_blocks(out.text);
    return out;
}

void fence_front_matter(std::string& text) {
    auto line_end = [&text](size_t pos) { return std::min(text.find('\n', pos), text.size()); };
    auto is_marker = [](std::string_view line) {
        return line.starts_with("---") && line.find_first_not_of(" \t\r", 3) == std::string_view::npos;
    };
    auto is_key_line = [](std::string_view line) {
        if (line.empty() || std::string_view(" \t#-:").find(line[0]) != std::string_view::npos) return false;
        size_t colon = line.find(':');
        return colon != std::string_view::npos &&
               (colon + 1 == line.size() || line[colon + 1] == ' ' || line[colon + 1] == '\t');
    };
    size_t opening = line_end(0);
    if (opening == text.size() || !is_marker(std::string_view(text).substr(0, opening))) return;
    size_t longest = 0;  // the longest run of backquotes that begins a line inside
    for (size_t pos = opening + 1; pos < text.size();) {
        size_t end = line_end(pos);
        std::string_view line = std::string_view(text).substr(pos, end - pos);
        if (pos == opening + 1 && !is_key_line(line)) return;
        if (pos > opening + 1 && is_marker(line)) {
            std::string fence(std::max<size_t>(3, longest + 1), '`');
            text.replace(pos, end - pos, fence);
            text.replace(0, opening, fence + "yaml");
            return;
        }
        size_t indent = line.find_first_not_of(' ');
        if (indent != std::string_view::npos && indent <= 3 && line[indent] == '`')
            longest = std::max(longest, std::min(line.find_first_not_of('`', indent), line.size()) - indent);
        pos = end + 1;
    }
}

std::string clean_markdown(std::string_view text) {
    std::string normalized = support::normalize_newlines(text);
    fence_front_matter(normalized);
    return clean_outside_code(normalized, map_blocks(normalized)).text;
}

std::string insert_toc_marker(std::string_view text) {
    std::string out(text);
    BlockMap map = map_blocks(text);
    insert_marker(out, map.code_blocks, map, [](size_t at) { return std::optional<size_t>(at); });
    return out;
}

std::string find_version(std::string_view text) {
    static const Regex version(R"(\*\*Version:\*\*\s*\[?`?([^\]\s<&|`]+)`?\]?)");
    auto m = version.search(text);
    return m ? std::string(m->group(1)) : std::string();
}

std::string clean_watermark_text(std::string_view text) {
    static const Regex non_word(R"(\W+)");
    return std::string(support::strip_chars(non_word.replace(text, "_"), "_"));
}

std::string safe_name_part(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        auto b = static_cast<unsigned char>(c);
        if (c == '.' && i + 1 < text.size() && text[i + 1] == '.') {
            while (i + 1 < text.size() && text[i + 1] == '.') ++i;
            out += '_';
        } else if (b < 0x20 || b == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            out += '_';
        } else {
            out += c;
        }
    }
    return out;
}

std::string strip_last_extension(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::string(name);
    // Dots that begin the name do not start an extension.
    size_t first = name.find_first_not_of('.');
    if (first == std::string_view::npos || first > dot) return std::string(name);
    return std::string(name.substr(0, dot));
}

std::string output_file_name(std::string_view doc_name, std::string_view version, std::string_view watermark_part) {
    std::string name = strip_last_extension(doc_name);
    if (!version.empty()) name.append("_").append(safe_name_part(version));
    if (!watermark_part.empty()) name.append("_").append(watermark_part);
    return name + ".html";
}

PresslingConverter::PresslingConverter(const YAML::Node& config_dict, bool debug) : is_debug(debug) {
    config = frame::settings_section(config_dict);
    auto key = [this](const char* name) { return fileIO::child(config, name); };
    input_path = fileIO::text_setting(config, "input_path", "./");
    output_path = fileIO::text_setting(config, "output_path", "./");
    embed_images = key("embed_images").IsDefined() ? fileIO::truthy(key("embed_images")) : true;
    watermark_enable = key("watermark_enable").IsDefined() && fileIO::truthy(key("watermark_enable"));
    watermark_text = fileIO::text_or(key("watermark_text"), "CONFIDENTIAL");
    // No value at all means no watermark text; a list or a mapping is no text.
    if (key("watermark_text").IsSequence() || key("watermark_text").IsMap())
        fileIO::warn_wrong_kind("watermark_text", key("watermark_text"), "a text", fileIO::default_used(watermark_text));
    watermark_text_set = key("watermark_text").IsDefined() ? fileIO::truthy(key("watermark_text")) : true;
}

PresslingConverter::Outcome PresslingConverter::convert_file(const fs::path& source, const std::string& doc_name,
                                                             ImageUrls& images, fs::path& page_path) const {
    const auto* logger = &log();
    log().info("✅ 正在處理: " + support::utf8_text(source));
    // Only a regular file is read (opening a FIFO or a device could wait for ever), and a
    // huge one is refused by its size, before any of it is read: the read itself refuses
    // both, and a source it did not read is then told as one that is no regular file or
    // too large, if so; one that the working copy's rule refused (a link out, a device's
    // name) is told by the rule's own line. A source that cannot be read is a failed file,
    // not an empty one.
    fileIO::LocalFile file = fileIO::read_local_file(source, {.limit = max_markdown_bytes});
    std::error_code ec;
    const bool read = file.outcome == fileIO::LocalFile::Outcome::read;
    if (!read && !file.by_rule) {
        if (!fs::is_regular_file(source, ec)) {
            log().error("❌ 處理 " + support::utf8_text(source) + " 失敗: 不是可讀取的一般檔案");
            return Outcome::failed;
        }
        if (auto size = fs::file_size(source, ec); !ec && size > max_markdown_bytes) {
            log().error(fmt::format("❌ 處理 {} 失敗: 檔案大小 {} 位元組，超過 {} MiB 上限", support::utf8_text(source),
                                    size, max_markdown_bytes >> 20));
            return Outcome::failed;
        }
    }
    std::string text = fileIO::local_text(std::move(file), source, "Markdown 檔案: " + doc_name, logger);
    // A source that was not read has failed (the loader has said why); an empty one is
    // skipped. A byte-order mark is no text: left in front, it would hide the first heading.
    if (!read) return Outcome::failed;
    text = fileIO::without_byte_order_mark(std::move(text));
    if (text.empty()) return Outcome::skipped;

    PreparedMarkdown prepared = prepare_markdown(text);
    // Emptied first: a string moved into one that holds text hands its old buffer to the
    // other, and the file as read would stay beside every later form of it.
    std::string().swap(text);
    text = std::move(prepared.text);
    std::string version = find_version(text);
    if (is_debug) {
        fs::path debug_path = fileIO::setup_output_file(support::path_from_utf8(output_path), doc_name + "_debug.md", logger);
        fileIO::save_local_file_content(debug_path, text, "Markdown 偵錯檔: " + doc_name, logger);
        log().debug("[" + doc_name + "] 已儲存預處理之 Markdown 至 " + support::utf8_text(debug_path));
    }

    Protected prot = protect_markdown_code_and_math(text, prepared.code_blocks);
    // Each form of the text goes once the next one exists: the largest file's parse is
    // held beside as few copies as possible.
    std::string().swap(text);
    std::vector<support::markdown::CodeBlock>().swap(prepared.code_blocks);
    std::string html = render_markdown(prot.text, prot.code_placeholders, prot.math_placeholders);
    html = restore_markdown_code_and_math(html, prot.code_placeholders, prot.math_placeholders);
    html = process_mermaid_charts(std::move(html));
    html = process_wavedrom_charts(std::move(html));
    if (embed_images)
        html = embed_images_in_html(std::move(html), source, [&images](const fs::path& p) { return images(p); }, is_debug);

    bool watermarked = watermark_enable && watermark_text_set;
    std::string page = generate_final_html(doc_name, html, watermark_enable ? watermark_text : "");
    if (!version.empty()) log().info("✅ 成功找到版本號碼: " + version);
    else log().info("🔍 未在 Markdown 中找到版本號碼");

    std::string name = output_file_name(doc_name, version, watermarked ? clean_watermark_text(watermark_text) : "");
    // The run made the output folder; the save makes it again should it have gone.
    fs::path out_path = support::path_from_utf8(output_path) / support::path_from_utf8(name);
    support::Result saved = fileIO::save_local_file_content(out_path, page, "HTML 頁面:");
    if (!saved.ok) {
        log().error("❌ 處理 " + support::utf8_text(source) + " 失敗: " + saved.text);
        return Outcome::failed;
    }
    page_path = out_path;
    return Outcome::written;
}

support::Result PresslingConverter::run(const std::optional<std::string>& target_file) const {
    const auto* logger = &log();
    log().info("✅ 開始 Pressling 轉換程序。輸入路徑：" + input_path);
    fileIO::setup_output_dir(support::path_from_utf8(output_path), logger);

    std::vector<fileIO::Choice> work;
    if (target_file && !target_file->empty()) {
        // The last component as given ("docs/notes.md" -> "notes.md"), trailing separators aside.
        std::string given = *target_file;
        while (given.size() > 1 && support::path_from_utf8(given).filename().empty()) given.pop_back();
        fs::path full = support::absolute_path(support::path_from_utf8(given)).lexically_normal();
        work.emplace_back(full, support::utf8_text(support::path_from_utf8(given).filename()));
        log().info("✅ 已手動指定處理單一檔案：" + *target_file);
    } else {
        work = fileIO::scan_and_select_files(support::path_from_utf8(input_path), {.extensions = {".md"},
                                                          .exclude_paths = {".venv", "build", "dist", "__pycache__", ".agents"},
                                                          .label = "Markdown 檔案",
                                                          .logger = logger,
                                                          .auto_select_single = true});
        if (work.empty()) {
            log().error("❌ 使用者未選擇任何 Markdown 檔案，或該路徑下無檔案。");
            return support::Result::failure("使用者取消或未找到檔案");
        }
    }
    if (is_debug) log().debug(fmt::format("偵錯模式已開啟。找到並選擇了 {} 個 Markdown 檔案。", work.size()));

    // Nothing else runs while the pages are made: each folder of sources, images and pages
    // is judged by the link rule once, and each image is read once.
    fileIO::SteadyFolders steady;
    ImageUrls images(&PresslingConverter::_encode_image_base64);
    size_t failed = 0;
    // The pages this run wrote with their sources, by their names in lower case: a later
    // page that lands on one of them (the same name, or one that differs in case only where
    // the file system takes the two for one file) replaces it, and the user is told which.
    std::unordered_map<std::string, std::vector<std::pair<fs::path, fs::path>>> written;
    for (const auto& [source, doc_name] : work) {
        try {
            fs::path page;
            Outcome outcome = convert_file(source, doc_name, images, page);
            if (outcome == Outcome::failed) ++failed;
            if (outcome != Outcome::written) continue;
            auto& same_name = written[support::lower(support::utf8_text(page.filename()))];
            auto earlier = std::find_if(same_name.begin(), same_name.end(), [&page](const auto& entry) {
                std::error_code ec;
                return fs::equivalent(entry.first, page, ec);
            });
            if (earlier == same_name.end()) {
                same_name.emplace_back(page, source);
                continue;
            }
            log().warning("⚠️ 頁面 " + support::utf8_text(page) + " 原本來自 " + support::utf8_text(earlier->second) +
                          "，現已被 " + support::utf8_text(source) + " 的頁面取代。");
            *earlier = {page, source};
        } catch (const std::exception& e) {
            // Memory that ran out is said in the system's words; each other failure says
            // what it is. Either way the run goes on with the next page.
            const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
            log().error("❌ 處理 " + support::utf8_text(source) + " 失敗: " + (memory ? support::failure_reason(e) : e.what()));
            ++failed;
        }
    }
    if (failed)
        return support::Result::failure(
            fmt::format("pressling 執行失敗：{} 個檔案中有 {} 個轉換失敗。", work.size(), failed));
    return support::Result::success("pressling 執行成功。");
}

}  // namespace vemtora::pressling

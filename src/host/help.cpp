#include "host/help.hpp"

#include <algorithm>
#include <cstdlib>

#include "support/console.hpp"
#include "support/env.hpp"
#include "support/text.hpp"

namespace host::help {

namespace {

using u32 = std::u32string;

u32 to_u32(std::string_view s) {
    u32 out;
    for (size_t pos = 0; pos < s.size();) out.push_back(support::next_code_point(s, pos));
    return out;
}

std::string to_utf8(const u32& s) {
    std::string out;
    for (char32_t c : s) support::append_utf8(out, c);
    return out;
}

long length(std::string_view s) { return static_cast<long>(support::code_point_count(s)); }

bool is_blank(const u32& s) {
    return std::all_of(s.begin(), s.end(), [](char32_t c) { return support::is_space(c); });
}

u32 lstrip(const u32& s) {
    size_t i = 0;
    while (i < s.size() && support::is_space(s[i])) ++i;
    return s.substr(i);
}

// Tab stops every 8 columns; a line end starts the count again.
u32 expand_tabs(const u32& s) {
    u32 out;
    size_t column = 0;
    for (char32_t c : s) {
        if (c == U'\t') {
            size_t spaces = 8 - column % 8;
            out.append(spaces, U' ');
            column += spaces;
        } else {
            out.push_back(c);
            column = (c == U'\n' || c == U'\r') ? 0 : column + 1;
        }
    }
    return out;
}

// The white space that separates words when text is wrapped (ASCII only).
bool is_break_space(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\v' || c == U'\f' || c == U'\r'; }

// A word character that is not a digit.
bool is_letter(char32_t c) {
    if (c < 0x80) return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'_';
    return !support::is_space(c);
}

// A word splits after a hyphen that has two letters (or letter, hyphen, letter) before
// it and a letter, an optional hyphen and a letter after it: "config-dev" -> "config-", "dev".
void split_hyphenated(const u32& word, std::vector<u32>& chunks) {
    auto letter_at = [&](long i) { return i >= 0 && i < static_cast<long>(word.size()) && is_letter(word[i]); };
    auto hyphen_at = [&](long i) { return i >= 0 && i < static_cast<long>(word.size()) && word[i] == U'-'; };
    size_t start = 0;
    for (long i = 1; i + 1 < static_cast<long>(word.size()); ++i) {
        if (word[i] != U'-' || i - static_cast<long>(start) < 1) continue;
        bool before = (letter_at(i - 1) && letter_at(i - 2)) || (letter_at(i - 1) && hyphen_at(i - 2) && letter_at(i - 3));
        bool after = letter_at(i + 1) && (letter_at(i + 2) || (hyphen_at(i + 2) && letter_at(i + 3)));
        if (before && after) {
            chunks.push_back(word.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    chunks.push_back(word.substr(start));
}

std::vector<u32> split_chunks(const u32& text) {
    std::vector<u32> chunks;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        bool space = is_break_space(text[i]);
        while (j < text.size() && is_break_space(text[j]) == space) ++j;
        u32 piece = text.substr(i, j - i);
        if (space)
            chunks.push_back(piece);
        else
            split_hyphenated(piece, chunks);
        i = j;
    }
    return chunks;
}

struct Wrapper {
    long width;
    u32 initial_indent;
    u32 subsequent_indent;

    // Greedy filling as Python's textwrap does it: long words broken (after a hyphen
    // when one fits), white space dropped at line ends and line starts.
    std::vector<u32> wrap(const u32& text) const {
        std::vector<u32> chunks = split_chunks(expand_tabs(text));
        std::reverse(chunks.begin(), chunks.end());
        std::vector<u32> lines;
        while (!chunks.empty()) {
            std::vector<u32> cur_line;
            long cur_len = 0;
            const u32& indent = lines.empty() ? initial_indent : subsequent_indent;
            long room = width - static_cast<long>(indent.size());
            if (!lines.empty() && is_blank(chunks.back())) chunks.pop_back();
            while (!chunks.empty()) {
                long l = static_cast<long>(chunks.back().size());
                if (cur_len + l > room) break;
                cur_line.push_back(chunks.back());
                chunks.pop_back();
                cur_len += l;
            }
            if (!chunks.empty() && static_cast<long>(chunks.back().size()) > room) break_long_word(chunks, cur_line, cur_len, room);
            if (!cur_line.empty() && is_blank(cur_line.back())) cur_line.pop_back();
            if (!cur_line.empty()) {
                u32 line = indent;
                for (const auto& c : cur_line) line += c;
                lines.push_back(line);
            }
        }
        return lines;
    }

    static void break_long_word(std::vector<u32>& chunks, std::vector<u32>& cur_line, long cur_len, long room) {
        long space_left = room < 1 ? 1 : room - cur_len;
        u32& chunk = chunks.back();
        size_t end = static_cast<size_t>(space_left);
        if (static_cast<long>(chunk.size()) > space_left) {
            size_t hyphen = chunk.rfind(U'-', static_cast<size_t>(space_left) - 1);
            if (hyphen != u32::npos && hyphen > 0 &&
                std::any_of(chunk.begin(), chunk.begin() + static_cast<long>(hyphen), [](char32_t c) { return c != U'-'; }))
                end = hyphen + 1;
        }
        cur_line.push_back(chunk.substr(0, end));
        chunk = chunk.substr(std::min(end, chunk.size()));
    }

    u32 fill(const u32& text) const {
        u32 out;
        for (const auto& line : wrap(text)) {
            if (!out.empty()) out += U'\n';
            out += line;
        }
        return out;
    }

    // Lines kept as written, only indented; a lone marker line shows as an empty line.
    u32 indent_only(const u32& text) const {
        u32 out;
        bool first = true;
        for (const auto& line : support::splitlines(to_utf8(text))) {
            if (!first) out += U'\n';
            if (line != "\b") out += (first ? initial_indent : subsequent_indent) + to_u32(line);
            first = false;
        }
        return out;
    }
};

struct Paragraph {
    size_t indent;
    bool raw;
    u32 text;
};

std::string join_names(const OptionDecl& option) {
    std::string names = option.short_name.empty() ? option.long_name : option.short_name + ", " + option.long_name;
    bool takes_value = option.kind == OptionKind::value || option.kind == OptionKind::optional_value;
    if (takes_value) names += " " + option.metavar;
    if (option.kind == OptionKind::flag_pair && !option.negative_name.empty()) names += " / " + option.negative_name;
    return names;
}

using Row = std::pair<std::string, std::string>;

class Formatter {
  public:
    explicit Formatter(size_t width) : width_(static_cast<long>(width)) {}

    void write(const std::string& s) { buffer_ += s; }
    void paragraph() {
        if (!buffer_.empty()) buffer_ += "\n";
    }
    void text(std::string_view text) {
        std::string indent(indent_, ' ');
        write(wrap_text(text, static_cast<size_t>(width_), indent, indent, true));
        write("\n");
    }
    void section(const std::string& heading, const std::vector<Row>& rows) {
        paragraph();
        write(std::string(indent_, ' ') + heading + ":\n");
        indent_ += 2;
        definition_list(rows);
        indent_ -= 2;
    }
    void indented_text(std::string_view s) {
        paragraph();
        indent_ += 2;
        text(s);
        indent_ -= 2;
    }
    std::string value() const {
        std::string out = buffer_;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out + "\n";
    }

  private:
    void definition_list(const std::vector<Row>& rows) {
        const long col_max = 30, col_spacing = 2;
        long widest = 0;
        for (const auto& [first, second] : rows) widest = std::max(widest, length(first));
        long first_col = std::min(widest, col_max) + col_spacing;
        std::string pad_to_text(static_cast<size_t>(first_col + static_cast<long>(indent_)), ' ');
        for (const auto& [first, second] : rows) {
            write(std::string(indent_, ' ') + first);
            if (second.empty()) {
                write("\n");
                continue;
            }
            if (length(first) <= first_col - col_spacing)
                write(std::string(static_cast<size_t>(first_col - length(first)), ' '));
            else
                write("\n" + pad_to_text);
            long text_width = std::max(width_ - first_col - 2, 10L);
            auto lines = support::splitlines(wrap_text(second, static_cast<size_t>(text_width), "", "", true));
            if (lines.empty()) {
                write("\n");
                continue;
            }
            write(lines[0] + "\n");
            for (size_t i = 1; i < lines.size(); ++i) write(pad_to_text + lines[i] + "\n");
        }
    }

    long width_;
    size_t indent_ = 0;
    std::string buffer_;
};

}  // namespace

size_t page_width() {
    // COLUMNS first, then the terminal's own width, else 80.
    long columns = 0;
    if (auto env = support::get_env("COLUMNS")) {
        char* end = nullptr;
        long value = std::strtol(env->c_str(), &end, 10);
        if (end && *end == '\0' && value > 0) columns = value;
    }
    if (columns == 0) columns = support::terminal_columns().value_or(80);
    return static_cast<size_t>(std::max(std::min(columns, 80L) - 2, 50L));
}

std::string wrap_text(std::string_view text, size_t width, const std::string& initial_indent,
                      const std::string& subsequent_indent, bool preserve_paragraphs) {
    u32 expanded = expand_tabs(to_u32(text));
    Wrapper wrapper{static_cast<long>(width), to_u32(initial_indent), to_u32(subsequent_indent)};
    if (!preserve_paragraphs) return to_utf8(wrapper.fill(expanded));

    std::vector<Paragraph> paragraphs;
    std::vector<u32> buf;
    std::optional<size_t> indent;
    auto flush = [&] {
        if (buf.empty()) return;
        Paragraph p{indent.value_or(0), false, {}};
        p.raw = support::strip(to_utf8(buf[0])) == "\b";
        for (size_t i = p.raw ? 1 : 0; i < buf.size(); ++i) {
            if (i > (p.raw ? 1u : 0u)) p.text += p.raw ? U'\n' : U' ';
            p.text += buf[i];
        }
        paragraphs.push_back(std::move(p));
        buf.clear();
    };
    for (const auto& line_utf8 : support::splitlines(to_utf8(expanded))) {
        u32 line = to_u32(line_utf8);
        if (line.empty()) {
            flush();
            indent.reset();
            continue;
        }
        if (!indent) {
            u32 stripped = lstrip(line);
            indent = line.size() - stripped.size();
            line = stripped;
        }
        buf.push_back(line);
    }
    flush();

    u32 out;
    for (const auto& p : paragraphs) {
        u32 extra(p.indent, U' ');
        Wrapper w{wrapper.width, wrapper.initial_indent + extra, wrapper.subsequent_indent + extra};
        if (!out.empty() || &p != &paragraphs.front()) out += U"\n\n";
        out += p.raw ? w.indent_only(p.text) : w.fill(p.text);
    }
    return to_utf8(out);
}

std::string cleandoc(std::string_view text) {
    std::vector<u32> lines;
    u32 all = expand_tabs(to_u32(text));
    size_t start = 0;
    for (size_t i = 0; i <= all.size(); ++i) {
        if (i == all.size() || all[i] == U'\n') {
            lines.push_back(all.substr(start, i - start));
            start = i + 1;
        }
    }
    size_t margin = SIZE_MAX;
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t content = lstrip(lines[i]).size();
        if (content) margin = std::min(margin, lines[i].size() - content);
    }
    if (!lines.empty()) lines[0] = lstrip(lines[0]);
    if (margin != SIZE_MAX)
        for (size_t i = 1; i < lines.size(); ++i) lines[i] = lines[i].substr(std::min(margin, lines[i].size()));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    u32 out;
    for (size_t i = first; i < lines.size(); ++i) {
        if (i > first) out += U'\n';
        out += lines[i];
    }
    return to_utf8(out);
}

std::string short_help(std::string_view help, size_t max_length) {
    std::string_view first_paragraph = help.substr(0, help.find("\n\n"));
    std::vector<std::string> words = support::split_whitespace(first_paragraph);
    if (!words.empty() && words[0] == "\b") words.erase(words.begin());
    if (words.empty()) return "";
    const long limit = static_cast<long>(max_length);
    long total = 0;
    size_t i = 0;
    for (; i < words.size(); ++i) {
        total += length(words[i]) + (i > 0 ? 1 : 0);
        if (total > limit) break;
        if (words[i].back() == '.') return support::join({words.begin(), words.begin() + static_cast<long>(i) + 1}, " ");
        if (total == limit && i + 1 != words.size()) break;
    }
    if (i == words.size()) return support::join(words, " ");
    total += 3;
    while (i > 0) {
        total -= length(words[i]) + 1;
        if (total <= limit) break;
        --i;
    }
    return support::join({words.begin(), words.begin() + static_cast<long>(i)}, " ") + "...";
}

std::string quoted(std::string_view text) {
    bool has_single = text.find('\'') != std::string_view::npos;
    bool has_double = text.find('"') != std::string_view::npos;
    char quote = has_single && !has_double ? '"' : '\'';
    std::string out(1, quote);
    for (unsigned char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c == static_cast<unsigned char>(quote)) {
                    out += '\\';
                    out += static_cast<char>(c);
                } else if (c < 0x20 || c == 0x7f) {
                    static const char* digits = "0123456789abcdef";
                    out += "\\x";
                    out += digits[c >> 4];
                    out += digits[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + quote;
}

std::string command_usage(const CommandDecl& decl) { return "Usage: " + std::string(program) + " " + decl.name + " [OPTIONS]"; }

std::string group_usage() { return "Usage: " + std::string(program) + " [OPTIONS] COMMAND [ARGS]..."; }

std::string command_page(const CommandDecl& decl, size_t width) {
    Formatter f(width);
    f.write(command_usage(decl) + "\n");
    std::string help = cleandoc(decl.help);
    if (!help.empty()) f.indented_text(help);
    std::vector<Row> rows;
    for (const auto& option : decl.options) rows.emplace_back(join_names(option), option.help);
    rows.emplace_back("--help", "Show this message and exit.");
    f.section("Options", rows);
    std::string epilog = cleandoc(decl.epilog);
    if (!epilog.empty()) f.indented_text(epilog);
    return f.value();
}

std::string group_page(const std::vector<CommandDecl>& decls, size_t width) {
    Formatter f(width);
    f.write(group_usage() + "\n");
    f.section("Options", {{"--help", "Show this message and exit."}});
    std::vector<const CommandDecl*> sorted;
    for (const auto& d : decls) sorted.push_back(&d);
    std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->name < b->name; });
    if (!sorted.empty()) {
        long widest = 0;
        for (auto* d : sorted) widest = std::max(widest, static_cast<long>(d->name.size()));
        size_t limit = static_cast<size_t>(std::max(static_cast<long>(width) - 6 - widest, 0L));
        std::vector<Row> rows;
        for (auto* d : sorted) rows.emplace_back(d->name, std::string(support::strip(short_help(d->help, limit))));
        f.section("Commands", rows);
    }
    return f.value();
}

std::optional<std::string_view> compiled_page(CompiledPages pages, std::string_view command, size_t width) {
    if (width != compiled_width) return std::nullopt;
    for (const auto& page : pages)
        if (page.command == command) return page.text;
    return std::nullopt;
}

namespace {

// A C++ string literal of any bytes: what is not printable ASCII in octal escapes of three
// digits (which no following digit can lengthen), a new literal after each line feed.
std::string cpp_literal(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += i + 1 < text.size() ? "\\n\"\n     \"" : "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += '\\';
            out += static_cast<char>('0' + (c >> 6));
            out += static_cast<char>('0' + ((c >> 3) & 7));
            out += static_cast<char>('0' + (c & 7));
        }
    }
    return out + "\"";
}

}  // namespace

std::string compiled_pages_source(const std::vector<CommandDecl>& decls) {
    std::string out =
        "// Made by vemtora-help-pages when the program was built: every help page at the width of\n"
        "// a page without a terminal.\n"
        "#include \"host/help.hpp\"\n\n"
        "namespace {\n\n"
        "constexpr host::help::CompiledPage pages[] = {\n";
    auto add = [&out](std::string_view command, const std::string& page) {
        out += "    {" + cpp_literal(command) + ",\n     " + cpp_literal(page) + "},\n";
    };
    add("", group_page(decls, compiled_width));
    for (const auto& decl : decls) add(decl.name, command_page(decl, compiled_width));
    out += "};\n\n}  // namespace\n\nconst host::help::CompiledPages host::help::compiled_pages{pages};\n";
    return out;
}

}  // namespace host::help

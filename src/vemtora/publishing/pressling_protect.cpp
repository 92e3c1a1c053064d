// Code and formulas cut out before rendering and put back after it.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "support/html_entities.hpp"
#include "support/markdown.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace vemtora::pressling {

namespace {

constexpr std::string_view kCodePrefix = "<!--CODE_PLACEHOLDER_";
constexpr std::string_view kMathPrefix = "<!--MATH_PLACEHOLDER_";
constexpr std::string_view kClose = "-->";
constexpr std::string_view kShared = "_PLACEHOLDER_";  // in every placeholder, after "<!--" and the kind

// The placeholder of the entry numbered `n` of a kind: kind prefix + digits + kClose. Put
// together by hand in one allocation, since a page makes thousands of them.
std::string placeholder_for(std::string_view prefix, size_t n) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, n);
    const auto count = static_cast<size_t>(written.ptr - digits);
    std::string placeholder;
    placeholder.reserve(prefix.size() + count + kClose.size());
    placeholder.append(prefix).append(digits, count).append(kClose);
    return placeholder;
}

// The placeholder syntax at `pos` ("<!--" + kind + digits + "-->"): its length, or 0.
size_t placeholder_length(std::string_view s, size_t pos) {
    std::string_view rest = s.substr(pos);
    size_t prefix = rest.starts_with(kCodePrefix) ? kCodePrefix.size()
                    : rest.starts_with(kMathPrefix) ? kMathPrefix.size()
                                                    : 0;
    if (!prefix) return 0;
    size_t i = prefix;
    while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') ++i;
    if (i == prefix || !rest.substr(i).starts_with(kClose)) return 0;
    return i + kClose.size();
}

// The entry of `list` at the place that the number in `placeholder` names, when it is that
// entry's placeholder: entries are numbered by their place in the list.
template <typename Entry>
const Entry* numbered_entry(const std::vector<Entry>& list, std::string_view placeholder) {
    size_t digits = 0;
    while (digits < placeholder.size() && (placeholder[digits] < '0' || placeholder[digits] > '9')) ++digits;
    size_t n = 0;
    bool small = digits < placeholder.size();
    for (size_t i = digits; i < placeholder.size() && placeholder[i] >= '0' && placeholder[i] <= '9'; ++i) {
        small = small && n < list.size();
        n = n * 10 + (placeholder[i] - '0');
    }
    return small && n < list.size() && list[n].placeholder == placeholder ? &list[n] : nullptr;
}

// The entry of `list` whose placeholder is `placeholder`: found by its number, and in a
// list built otherwise by its text.
template <typename Entry>
class PlaceholderIndex {
  public:
    explicit PlaceholderIndex(const std::vector<Entry>& list) : list_(list) {}
    const Entry* find(std::string_view placeholder) const {
        if (const Entry* e = numbered_entry(list_, placeholder)) return e;
        if (!by_text_) {
            by_text_.emplace();
            for (const auto& e : list_) by_text_->emplace(e.placeholder, &e);
        }
        auto it = by_text_->find(placeholder);
        return it == by_text_->end() ? nullptr : it->second;
    }

  private:
    const std::vector<Entry>& list_;
    mutable std::optional<std::unordered_map<std::string_view, const Entry*>> by_text_;
};

// Calls `on_placeholder(text)` for every placeholder-shaped comment and `on_text` for
// the text between them, in one pass.
// Both kinds share the part after "<!--" and a four-letter kind, which is looked for
// first: it is long, so the search skips ahead far in HTML full of "<".
template <typename OnText, typename OnPlaceholder>
void scan_placeholders(std::string_view s, OnText on_text, OnPlaceholder on_placeholder) {
    static constexpr size_t kBefore = kCodePrefix.size() - kShared.size();
    static const std::boyer_moore_horspool_searcher shared(kShared.begin(), kShared.end());
    size_t copied = 0;
    for (auto it = std::search(s.begin(), s.end(), shared); it != s.end(); it = std::search(it + 1, s.end(), shared)) {
        size_t at = static_cast<size_t>(it - s.begin());
        if (at < copied + kBefore) continue;
        size_t pos = at - kBefore;
        size_t len = placeholder_length(s, pos);
        if (!len) continue;
        on_text(s.substr(copied, pos - copied));
        on_placeholder(s.substr(pos, len));
        copied = pos + len;
        it = s.begin() + static_cast<std::ptrdiff_t>(copied) - 1;
    }
    on_text(s.substr(copied));
}

// ---- inert tokens around the renderer ----
// A token is U+E000, a kind, and the index of the swapped text in U+E010..U+E019
// digits: private-use characters that Markdown gives no meaning and that heading ids
// drop. Private-use characters of that range already in the text are swapped too, so
// every token read back is one of ours.
constexpr char32_t kTokenStart = 0xE000;
constexpr char32_t kInlineKind = 0xE001;
constexpr char32_t kBlockKind = 0xE002;
constexpr char32_t kLiteralKind = 0xE003;
constexpr char32_t kDisplayKind = 0xE004;
constexpr char32_t kDigitZero = 0xE010;

bool is_token_char(std::string_view s, size_t pos) {
    // U+E000..U+E01F are EE 80 80..9F in UTF-8.
    return pos + 2 < s.size() && static_cast<unsigned char>(s[pos]) == 0xEE &&
           static_cast<unsigned char>(s[pos + 1]) == 0x80 && (static_cast<unsigned char>(s[pos + 2]) & 0xE0) == 0x80;
}
char32_t token_char(std::string_view s, size_t pos) {
    return 0xE000 + (static_cast<unsigned char>(s[pos + 2]) & 0x1F);
}

void append_token(std::string& out, char32_t kind, size_t index) {
    support::append_utf8(out, kTokenStart);
    support::append_utf8(out, kind);
    std::string digits = std::to_string(index);
    for (char d : digits) support::append_utf8(out, kDigitZero + (d - '0'));
}

// Reads a token at `pos`; returns its length and sets kind and index, or 0.
size_t read_token(std::string_view s, size_t pos, char32_t& kind, size_t& index) {
    if (!is_token_char(s, pos) || token_char(s, pos) != kTokenStart || !is_token_char(s, pos + 3)) return 0;
    kind = token_char(s, pos + 3);
    size_t i = pos + 6;
    index = 0;
    size_t digits = 0;
    while (is_token_char(s, i) && token_char(s, i) >= kDigitZero && token_char(s, i) <= kDigitZero + 9) {
        index = index * 10 + (token_char(s, i) - kDigitZero);
        i += 3;
        ++digits;
    }
    return digits ? i - pos : 0;
}

// A line without the white space around it, when it can be a marker line: one that begins
// with a token or a comment. Most lines are not, and are told by their first character.
std::optional<std::string_view> marker_line(std::string_view line) {
    line = support::lstrip(line);
    if (line.empty() || (line[0] != '\xEE' && line[0] != '<')) return std::nullopt;
    return support::rstrip(line);
}
// Whether a line holds one token of `kind` and nothing else.
bool is_token_line(std::string_view line, char32_t kind) {
    char32_t found = 0;
    size_t index = 0;
    size_t len = read_token(line, 0, found, index);
    return len && len == line.size() && found == kind;
}
// A line that stands for a code block (a block token, or a placeholder kept as a comment)
// stands as a block; a display formula's token stands as a block where it makes a paragraph
// of its own.
support::markdown::LineRole line_role(std::string_view line) {
    using support::markdown::LineRole;
    auto marker = marker_line(line);
    if (!marker) return LineRole::text;
    if (is_token_line(*marker, kBlockKind) || placeholder_length(*marker, 0) == marker->size()) return LineRole::block;
    return is_token_line(*marker, kDisplayKind) ? LineRole::block_alone : LineRole::text;
}

// A fenced block: the language (the first word of the info string) as its class and the
// code without the line break before the closing fence. An indented block as the
// renderer writes it.
std::string code_block_html(const support::markdown::CodeBlock& block) {
    if (!block.fenced) return block.html;
    std::string_view info = block.info;
    std::string_view lang = info.substr(0, std::min(info.find_first_of(" \t"), info.size()));
    std::string_view body = block.literal;
    if (body.ends_with("\r\n")) body.remove_suffix(2);
    else if (body.ends_with('\n')) body.remove_suffix(1);
    std::string html = "<pre><code";
    if (!lang.empty()) html += " class=\"language-" + support::html_escape(lang, true) + "\"";
    return html + ">" + support::html_escape(body) + "</code></pre>";
}

// ---- code spans and formulas, each kind found in one pass that never backtracks ----
// The delimiters and white space follow the patterns the rules are written in: "\s" is
// Unicode white space. A dollar sign after an odd number of backslashes is written as
// text ("\$") and delimits nothing.

bool is_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// The white space that starts at `pos`: its length in bytes, or 0.
size_t space_at(std::string_view s, size_t pos) {
    if (pos >= s.size()) return 0;
    size_t end = pos;
    return is_space(support::next_code_point(s, end)) ? end - pos : 0;
}
// The white space that ends at `end`: its length in bytes, or 0.
size_t space_before(std::string_view s, size_t end) {
    for (size_t len = 1; len <= 3 && len <= end; ++len) {
        size_t pos = end - len;
        if (len < 3 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) continue;  // inside a character
        size_t next = pos;
        char32_t c = support::next_code_point(s, next);
        return next == end && is_space(c) ? len : 0;
    }
    return 0;
}
size_t skip_spaces(std::string_view s, size_t pos) {
    while (size_t len = space_at(s, pos)) pos += len;
    return pos;
}
std::string_view strip_spaces(std::string_view s) {
    size_t begin = skip_spaces(s, 0), end = s.size();
    while (end > begin)
        if (size_t len = space_before(s, end)) end -= len;
        else break;
    return s.substr(begin, end - begin);
}
// After a line break ("\n" or "\r\n") at `pos`: the position after it, or npos.
size_t after_line_break(std::string_view s, size_t pos) {
    if (s.compare(pos, 1, "\n") == 0) return pos + 1;
    if (s.compare(pos, 2, "\r\n") == 0) return pos + 2;
    return std::string_view::npos;
}
// "\begin{name}" or "\end{name}" at `pos` (`word` is "\begin{" or "\end{"): the position
// after its closing brace, or npos.
size_t after_environment_mark(std::string_view s, size_t pos, std::string_view word) {
    if (s.compare(pos, word.size(), word) != 0) return std::string_view::npos;
    size_t i = pos + word.size(), name = i;
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_' || s[i] == '*')) ++i;
    return i > name && i < s.size() && s[i] == '}' ? i + 1 : std::string_view::npos;
}

// Whether the character at `pos` is escaped: an odd number of backslashes before it.
bool is_escaped(std::string_view s, size_t pos) {
    size_t backslashes = 0;
    while (backslashes < pos && s[pos - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}
// The first `delimiter` at or after `from` whose first character is not escaped.
size_t find_delimiter(std::string_view s, std::string_view delimiter, size_t from) {
    size_t p = s.find(delimiter, from);
    while (p != std::string_view::npos && is_escaped(s, p)) p = s.find(delimiter, p + 1);
    return p;
}
// Whether only blanks and tabs stand between the start of its line and `pos`, or between
// `pos` and the end of its line (a carriage return before the line feed included).
bool opens_line(std::string_view s, size_t pos) {
    while (pos > 0 && (s[pos - 1] == ' ' || s[pos - 1] == '\t')) --pos;
    return pos == 0 || s[pos - 1] == '\n';
}
bool closes_line(std::string_view s, size_t pos) {
    pos = s.find_first_not_of(" \t\r", pos);
    return pos == std::string_view::npos || s[pos] == '\n';
}

// A line that makes Markdown of what follows, so that a display formula does not run over
// it: a heading or a heading's underline, a table row, a code fence or code block, a list
// item.
bool is_structure_line(std::string_view line) {
    line = support::strip(line);
    if (line.empty()) return false;
    // A table's delimiter row, or a "---" underline.
    if (line.find_first_not_of("|:- \t") == std::string_view::npos && line.find('-') != std::string_view::npos)
        return true;
    size_t run = std::min(line.find_first_not_of(line[0]), line.size());  // of the first character
    bool blank_after = run == line.size() || line[run] == ' ' || line[run] == '\t';
    switch (line[0]) {
        case '#': return run <= 6 && blank_after;
        case '=': return run == line.size();
        case '-':
        case '*':
        case '+': return run == 1 && blank_after;
        case '|': return true;
        case '`':
        case '~': return run >= 3;
        default: break;
    }
    if (line.starts_with(kCodePrefix)) return true;
    size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0 || digits > 9 || digits == std::string_view::npos) return false;
    return (line[digits] == '.' || line[digits] == ')') &&
           (digits + 1 == line.size() || line[digits + 1] == ' ' || line[digits + 1] == '\t');
}
// Whether a line after the one of `from`, up to the one of `to` and with it, is such a
// line. The questions must come with `from` never decreasing: the line found answers for
// every later `from` before it (and none found, for every later one), so however many
// delimiters ask about one partner, the text between is looked through about once.
class StructureLines {
  public:
    explicit StructureLines(std::string_view s) : s_(s) {}
    bool between(size_t from, size_t to) {
        if (to != to_ || (found_ != std::string_view::npos && found_ <= from)) {
            to_ = to;
            found_ = std::string_view::npos;
            std::string_view head = s_.substr(0, to);
            for (size_t nl = head.find('\n', from); nl != std::string_view::npos;) {
                size_t next = head.find('\n', nl + 1);
                if (is_structure_line(head.substr(nl + 1, std::min(next, head.size()) - nl - 1))) {
                    found_ = nl + 1;
                    break;
                }
                nl = next;
            }
        }
        return found_ != std::string_view::npos;
    }

  private:
    std::string_view s_;
    size_t to_ = std::string_view::npos;
    size_t found_ = std::string_view::npos;  // the start of the line found
};

// ---- formulas inside quotes and list items ----
// A formula over several lines of a container holds the container's markers on every
// line after its first; the formula's text is without them, as the container's other
// text is.

// What stands at the start of the line that holds `pos`, before `pos`: the quote markers
// (">", after up to three blanks, with one blank or tab after it), and then the column
// where the text of the list items opened there begins, or else the line's indentation.
struct Containers {
    size_t quotes = 0;
    size_t indent = 0;
};
// After the quote marker that begins at `i` (before `end`): the position after it, or npos.
size_t after_quote_marker(std::string_view s, size_t i, size_t end) {
    size_t j = i;
    while (j < end && j - i < 3 && s[j] == ' ') ++j;
    if (j >= end || s[j] != '>') return std::string_view::npos;
    return j + 1 < end && (s[j + 1] == ' ' || s[j + 1] == '\t') ? j + 2 : j + 1;
}
Containers containers_before(std::string_view s, size_t pos) {
    Containers c;
    size_t newline = pos ? s.rfind('\n', pos - 1) : std::string_view::npos;
    size_t i = newline == std::string_view::npos ? 0 : newline + 1;
    for (size_t after; (after = after_quote_marker(s, i, pos)) != std::string_view::npos; i = after) ++c.quotes;
    size_t column = 0;
    for (;;) {
        size_t j = s.find_first_not_of(' ', i);
        j = std::min(j, pos);
        size_t marker = j;
        if (marker < pos && (s[marker] == '-' || s[marker] == '*' || s[marker] == '+')) {
            ++marker;
        } else {
            while (marker < pos && marker - j < 9 && s[marker] >= '0' && s[marker] <= '9') ++marker;
            marker = marker > j && marker < pos && (s[marker] == '.' || s[marker] == ')') ? marker + 1 : j;
        }
        if (marker == j || marker >= pos || s[marker] != ' ') {
            c.indent = column + (j - i);
            return c;
        }
        // One to four blanks after the marker; more make indented code, of which one counts.
        size_t gap = std::min(s.find_first_not_of(' ', marker), pos) - marker;
        if (gap > 4) gap = 1;
        column += (j - i) + (marker - j) + gap;
        i = marker + gap;
    }
}
// `kept` (a part of `s`) with the markers of `c` taken off every line of it that begins
// inside it: up to `c.quotes` quote markers, then up to `c.indent` columns of blanks and
// tabs. White space left at its two ends goes too.
std::string without_container_markers(std::string_view s, std::string_view kept, Containers c) {
    std::string out;
    out.reserve(kept.size());
    const size_t end = static_cast<size_t>(kept.data() - s.data()) + kept.size();
    for (size_t i = end - kept.size(); i < end;) {
        if (i > 0 && s[i - 1] == '\n') {
            for (size_t q = 0, after; q < c.quotes && (after = after_quote_marker(s, i, end)) != std::string_view::npos; ++q)
                i = after;
            for (size_t column = 0; i < end && column < c.indent && (s[i] == ' ' || s[i] == '\t'); ++i)
                column += s[i] == '\t' ? 4 - column % 4 : 1;
        }
        size_t next = std::min(s.find('\n', i), end - 1) + 1;
        out.append(s.substr(i, next - i));
        i = next;
    }
    return std::string(strip_spaces(out));
}

// Whether a blank line (a line feed, then only blanks, tabs and carriage returns, then a
// line feed) lies inside [from, to). The questions must come with `from` never decreasing.
class BlankLines {
  public:
    explicit BlankLines(std::string_view s) : s_(s) {}
    bool within(size_t from, size_t to) {
        if (!searched_ || (first_ != std::string_view::npos && first_ < from)) find(from);
        searched_ = true;
        return second_ < to;
    }

  private:
    // The first blank line whose first line feed is at or after `from`.
    void find(size_t from) {
        for (size_t i = s_.find('\n', from); i != std::string_view::npos; i = s_.find('\n', i + 1)) {
            size_t j = s_.find_first_not_of(" \t\r", i + 1);
            if (j == std::string_view::npos) break;
            if (s_[j] == '\n') {
                first_ = i;
                second_ = j;
                return;
            }
            i = j - 1;
        }
        first_ = second_ = std::string_view::npos;
    }
    std::string_view s_;
    size_t first_ = 0, second_ = 0;
    bool searched_ = false;
};

// What a pass found: the whole match and the text it keeps (the code or the formula).
using OnMatch = std::function<std::string(std::string_view whole, std::string_view kept)>;

// Each pass writes `s` into `out` with every match replaced and returns true when it
// finds one; otherwise it writes nothing and returns false (the text stays as it is).

// Whether a code span may run on from `line` into the line after it, `next`: the two are
// lines of one paragraph. `line` is text, neither a heading nor a table row; `next`, its
// indentation aside, can begin nothing but a paragraph (so it goes on with the one before)
// and is no table row, whose cells a span never leaves. Where that cannot be told from
// the two lines (inside a quote, say), a span stays on its line.
bool span_goes_on(std::string_view line, std::string_view next) {
    return !support::strip(line).empty() && !support::markdown::is_atx_heading(line) &&
           line.find('|') == std::string_view::npos && next.find('|') == std::string_view::npos &&
           support::markdown::begins_only_paragraph(support::lstrip(next));
}

// Code spans: a run of backquotes opens a span that the next run of exactly as many in the
// same paragraph closes; a run without such a partner is text, all of it. A backquote
// after an odd number of backslashes is text and opens nothing; inside a span a backslash
// is code, so it keeps no run from closing. In the code a line break and the indentation
// after it are one blank, and the code loses one blank at each end when it has one at
// both and is not all blanks.
bool replace_code_spans(std::string& out, std::string_view s, const OnMatch& on_match) {
    struct Run {
        size_t length, pos;
        auto operator<=>(const Run&) const = default;
    };
    std::vector<Run> runs, by_length;
    std::string joined;
    size_t copied = 0;
    auto line_end = [s](size_t from) { return std::min(s.find('\n', from), s.size()); };
    for (size_t first = s.find('`'); first != std::string_view::npos;) {
        // The lines from the one of the first backquote on, as far as its paragraph goes.
        size_t begin = s.rfind('\n', first);
        begin = begin == std::string_view::npos ? 0 : begin + 1;
        size_t end = line_end(first);
        while (end < s.size() && span_goes_on(s.substr(begin, end - begin), s.substr(end + 1, line_end(end + 1) - end - 1))) {
            begin = end + 1;
            end = line_end(begin);
        }
        runs.clear();
        for (size_t i = first; i < end; i = s.find('`', i)) {
            size_t j = std::min(s.find_first_not_of('`', i), end);
            runs.push_back({j - i, i});
            i = j;
        }
        // The runs of each length in text order: a run's partner is found by a binary
        // search, not by a walk over the rest of the paragraph.
        by_length = runs;
        std::sort(by_length.begin(), by_length.end());
        for (size_t k = 0; k < runs.size(); ++k) {
            if (runs[k].pos < copied) continue;
            size_t open = runs[k].pos + (is_escaped(s, runs[k].pos) ? 1 : 0);
            size_t length = runs[k].pos + runs[k].length - open;
            auto partner = std::upper_bound(by_length.begin(), by_length.end(), Run{length, open});
            if (!length || partner == by_length.end() || partner->length != length) continue;
            std::string_view code = s.substr(open + length, partner->pos - open - length);
            if (code.find('\n') != std::string_view::npos) {
                joined.clear();
                for (size_t from = 0; from <= code.size();) {
                    size_t nl = std::min(code.find('\n', from), code.size());
                    std::string_view piece = code.substr(from, nl - from);
                    if (from) {
                        joined += ' ';
                        piece = support::lstrip(piece);
                    }
                    if (nl < code.size() && piece.ends_with('\r')) piece.remove_suffix(1);
                    joined += piece;
                    from = nl + 1;
                }
                code = joined;
            }
            if (code.size() >= 2 && code.front() == ' ' && code.back() == ' ' &&
                code.find_first_not_of(' ') != std::string_view::npos)
                code = code.substr(1, code.size() - 2);
            out.append(s.substr(copied, open - copied));
            out += on_match(s.substr(open, partner->pos + length - open), code);
            copied = partner->pos + length;
        }
        first = s.find('`', end);
    }
    if (copied) out.append(s.substr(copied));
    return copied != 0;
}

// An inline formula between dollars on one line, at least one character long. `accept`
// may refuse a pair by its content; the closing dollar of a refused pair can open the
// next one. An escaped dollar is text.
template <typename Accept>
bool replace_single_delimited(std::string& out, std::string_view s, char delimiter, Accept accept,
                              const OnMatch& on_match) {
    size_t copied = 0;
    auto is_delimiter = [&](size_t i) { return s[i] == delimiter && !is_escaped(s, i); };
    for (size_t p = s.find(delimiter); p != std::string_view::npos;) {
        if (!is_delimiter(p)) {
            p = s.find(delimiter, p + 1);
            continue;
        }
        size_t e = p + 1;
        while (e < s.size() && !is_delimiter(e) && s[e] != '\n' && s[e] != '\r') ++e;
        bool closed = e < s.size() && is_delimiter(e);
        if (closed && e > p + 1 && accept(p + 1, e)) {
            out.append(s.substr(copied, p - copied));
            out += on_match(s.substr(p, e + 1 - p), s.substr(p + 1, e - p - 1));
            copied = e + 1;
            p = s.find(delimiter, copied);
        } else {
            p = closed ? e : s.find(delimiter, e);
        }
    }
    if (copied) out.append(s.substr(copied));
    return copied != 0;
}

// `open`, the formula, `close` ("$$" and "$$", "\\[" and "\\]", "\\(" and "\\)"): the next
// closing delimiter closes the opening one; neither is escaped. A display formula written
// on lines of its own (its opening delimiter opens a line, its closing one closes a line)
// may hold blank lines, unless a line between makes Markdown of what follows; any other
// holds none, so that a delimiter in a sentence pairs only within its paragraph. White
// space at both ends of the formula is not part of it.
bool replace_delimited_formulas(std::string& out, std::string_view s, std::string_view open, std::string_view close,
                                bool display, const OnMatch& on_match) {
    size_t copied = 0;
    BlankLines blanks(s);
    StructureLines structure(s);
    // The first closing delimiter after the last opening one looked at: it stays the
    // partner of every later opening one before it, so the text is searched once.
    size_t q = 0;
    for (size_t p = find_delimiter(s, open, 0); p != std::string_view::npos;) {
        if (q < p + open.size()) q = find_delimiter(s, close, p + open.size());
        if (q == std::string_view::npos) break;
        if (blanks.within(p, q) &&
            !(display && opens_line(s, p) && closes_line(s, q + close.size()) && !structure.between(p, q))) {
            p = find_delimiter(s, open, p + 1);
            continue;
        }
        out.append(s.substr(copied, p - copied));
        out += on_match(s.substr(p, q + close.size() - p), strip_spaces(s.substr(p + open.size(), q - p - open.size())));
        copied = q + close.size();
        p = find_delimiter(s, open, copied);
    }
    if (copied) out.append(s.substr(copied));
    return copied != 0;
}

// "$", a line break, white space, "\begin{name}", anything up to the first "\end{name}"
// that a line break, white space and "$" follow, and those; no blank line in between.
// The formula runs from "\begin" to the brace that closes the end mark.
bool replace_environments(std::string& out, std::string_view s, const OnMatch& on_match) {
    struct Closing {
        size_t start, formula_end, end;
    };
    std::vector<Closing> closings;
    for (size_t c = s.find("\\end{"); c != std::string_view::npos; c = s.find("\\end{", c + 1)) {
        size_t brace = after_environment_mark(s, c, "\\end{");
        size_t line = brace == std::string_view::npos ? brace : after_line_break(s, brace);
        if (line == std::string_view::npos) continue;
        size_t dollar = skip_spaces(s, line);
        if (dollar < s.size() && s[dollar] == '$') closings.push_back({c, brace, dollar + 1});
    }
    size_t copied = 0, next = 0;
    BlankLines blanks(s);
    for (size_t p = s.find('$'); p != std::string_view::npos;) {
        size_t line = after_line_break(s, p + 1);
        size_t begin = line == std::string_view::npos ? line : skip_spaces(s, line);
        size_t body = begin == std::string_view::npos ? begin : after_environment_mark(s, begin, "\\begin{");
        if (body != std::string_view::npos) {
            while (next < closings.size() && closings[next].start < body) ++next;
            if (next < closings.size() && !blanks.within(p, closings[next].end)) {
                const Closing& c = closings[next];
                out.append(s.substr(copied, p - copied));
                out += on_match(s.substr(p, c.end - p), s.substr(begin, c.formula_end - begin));
                copied = c.end;
                p = s.find('$', copied);
                continue;
            }
        }
        p = s.find('$', p + 1);
    }
    if (copied) out.append(s.substr(copied));
    return copied != 0;
}

}  // namespace

Protected protect_markdown_code_and_math(std::string_view md_content) {
    std::vector<support::markdown::CodeBlock> blocks;
    try {
        blocks = find_code_blocks(md_content);
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ 公式或程式碼預處理出錯: ") + e.what());
        return {std::string(md_content), {}, {}};
    }
    return protect_markdown_code_and_math(md_content, blocks);
}

Protected protect_markdown_code_and_math(std::string_view md_content,
                                         const std::vector<support::markdown::CodeBlock>& code_blocks) {
    Protected result;
    bool text_taken = false;  // result.text holds the text, so a failure from here on keeps it
    auto& code = result.code_placeholders;
    auto& math = result.math_placeholders;
    try {
        auto code_replacer = [&code](std::string html, std::string_view source) {
            std::string placeholder = placeholder_for(kCodePrefix, code.size());
            code.push_back({placeholder, std::move(html), std::string(source)});
            return placeholder;
        };
        // Code blocks where the renderer finds them; inline spans in the text between them.
        std::string text;
        text.reserve(md_content.size());
        auto put_spans = [&](std::string_view part) {
            bool any = replace_code_spans(text, part, [&](std::string_view span, std::string_view inner) {
                std::string html;
                html.reserve(inner.size() + 13);
                html.append("<code>").append(support::html_escape(inner)).append("</code>");
                return code_replacer(std::move(html), span);
            });
            if (!any) text.append(part);
        };
        size_t copied = 0;
        for (const auto& block : code_blocks) {
            if (block.begin < copied) continue;
            put_spans(md_content.substr(copied, block.begin - copied));
            text += code_replacer(code_block_html(block), md_content.substr(block.begin, block.end - block.begin));
            copied = block.end;
        }
        put_spans(md_content.substr(copied));
        result.text = std::move(text);
        text_taken = true;

        PlaceholderIndex code_index(code);
        auto math_replacer = [&](bool is_block) {
            return [&, is_block](std::string_view whole, std::string_view formula) {
                std::string placeholder = placeholder_for(kMathPrefix, math.size());
                // Formulas do not nest: one that an earlier pass found inside this one is
                // text of this one, as written. Code stays a placeholder in the formula, to
                // be put back as code; in the text as written it is as written too.
                auto as_written = [&](std::string& out, std::string_view text, bool code_too) {
                    scan_placeholders(
                        text, [&](std::string_view t) { out += t; },
                        [&](std::string_view p) {
                            if (const MathPlaceholder* m = numbered_entry(math, p)) out += m->source;
                            else if (const CodePlaceholder* c = code_too ? code_index.find(p) : nullptr) out += c->source;
                            else out += p;
                        });
                };
                std::string unmarked;
                const std::string_view scanned = result.text;
                if (formula.find('\n') != std::string_view::npos) {
                    Containers c = containers_before(scanned, static_cast<size_t>(whole.data() - scanned.data()));
                    if (c.quotes || c.indent) formula = unmarked = without_container_markers(scanned, formula, c);
                }
                std::string text, source;
                if (whole.find(kShared) == std::string_view::npos) {
                    text = formula;
                    source = whole;
                } else {
                    as_written(text, formula, false);
                    as_written(source, whole, true);
                }
                math.push_back({placeholder, std::move(text), is_block, std::move(source)});
                return placeholder;
            };
        };
        // Each pass on the text the one before left, written into the spare buffer that the
        // pass before gave up: the text is allocated twice, not once per kind of formula.
        std::string spare;
        spare.reserve(result.text.size() + result.text.size() / 8);
        auto pass = [&result, &spare](auto replace) {
            spare.clear();
            if (replace(spare, std::string_view(result.text))) result.text.swap(spare);
        };
        pass([&](std::string& out, std::string_view t) {
            return replace_delimited_formulas(out, t, "$$", "$$", true, math_replacer(true));
        });
        // The page's typesetter reads these too; protected, Markdown's escapes leave them whole.
        pass([&](std::string& out, std::string_view t) {
            return replace_delimited_formulas(out, t, "\\[", "\\]", true, math_replacer(true));
        });
        pass([&](std::string& out, std::string_view t) {
            return replace_delimited_formulas(out, t, "\\(", "\\)", false, math_replacer(false));
        });
        pass([&](std::string& out, std::string_view t) { return replace_environments(out, t, math_replacer(true)); });
        // "$", no white space, the formula on one line, no white space, "$" that no digit
        // follows: "$5 and $10", "$500k–$5M" are prices.
        pass([&](std::string& out, std::string_view t) {
            return replace_single_delimited(
                out, t, '$',
                [t](size_t begin, size_t end) {
                    bool digit_after = end + 1 < t.size() && t[end + 1] >= '0' && t[end + 1] <= '9';
                    return !space_at(t, begin) && !space_before(t, end) && !digit_after;
                },
                math_replacer(false));
        });
        if (!code.empty() || !math.empty())
            log().info(fmt::format("✅ 成功保護 {} 個程式碼區塊與 {} 個數學公式。", code.size(), math.size()));
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ 公式或程式碼預處理出錯: ") + e.what());
        if (!text_taken) result.text = std::string(md_content);
    }
    return result;
}

std::string restore_markdown_code_and_math(std::string_view html_body,
                                           const std::vector<CodePlaceholder>& code_placeholders,
                                           const std::vector<MathPlaceholder>& math_placeholders) {
    if (!code_placeholders.empty() || !math_placeholders.empty())
        log().info(fmt::format("✅ 還原 {} 個程式碼區塊與 {} 個數學公式。", code_placeholders.size(),
                               math_placeholders.size()));
    std::string out;
    try {
        PlaceholderIndex code(code_placeholders);
        PlaceholderIndex math(math_placeholders);
        out.reserve(html_body.size() + html_body.size() / 4);
        auto put_code = [&](std::string_view placeholder) {
            const CodePlaceholder* c = code.find(placeholder);
            out += c ? std::string_view(c->html) : placeholder;
        };
        // A formula's text may hold code placeholders (inline code between dollars):
        // the code goes back inside the formula, the rest of it is escaped. A placeholder
        // is never escaped into text the reader would see: one that names no code stays the
        // comment it is.
        auto put_formula = [&](const MathPlaceholder& m) {
            out += m.is_block ? "$$" : "\\(";
            scan_placeholders(
                m.formula, [&](std::string_view text) { out += support::html_escape(text); }, put_code);
            out += m.is_block ? "$$" : "\\)";
        };
        scan_placeholders(
            html_body, [&](std::string_view text) { out += text; },
            [&](std::string_view placeholder) {
                if (placeholder.starts_with(kMathPrefix)) {
                    if (const MathPlaceholder* m = math.find(placeholder)) return put_formula(*m);
                    out += placeholder;
                } else {
                    put_code(placeholder);
                }
            });
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ 公式或程式碼還原出錯: ") + e.what());
        return std::string(html_body);
    }
    return out;
}

std::string render_markdown(std::string_view protected_text, const std::vector<CodePlaceholder>& code_placeholders,
                            const std::vector<MathPlaceholder>& math_placeholders) {
    PlaceholderIndex code(code_placeholders);
    PlaceholderIndex math(math_placeholders);
    // A code block stands as a block wherever it is; a display formula's text is paragraph
    // text, so it stands where that text stood (see below); anything else is inline.
    auto kind_of = [&](std::string_view placeholder) {
        if (placeholder.starts_with(kMathPrefix)) {
            const MathPlaceholder* m = math.find(placeholder);
            return m && m->is_block ? kDisplayKind : kInlineKind;
        }
        const CodePlaceholder* c = code.find(placeholder);
        return c && c->html.starts_with("<pre>") ? kBlockKind : kInlineKind;
    };

    // Swap placeholders (and stray private-use characters of the token range) for tokens;
    // what a token stands for is a piece of the protected text.
    std::vector<std::string_view> swapped;
    std::string tokenized;
    tokenized.reserve(protected_text.size());
    auto put_text = [&](std::string_view text) {
        size_t copied = 0;
        for (size_t i = text.find('\xEE'); i != std::string_view::npos; i = text.find('\xEE', i + 1)) {
            if (!is_token_char(text, i)) continue;
            tokenized.append(text.substr(copied, i - copied));
            append_token(tokenized, kLiteralKind, swapped.size());
            swapped.emplace_back(text.substr(i, 3));
            copied = i + 3;
            i += 2;
        }
        tokenized.append(text.substr(copied));
    };
    // A code block placeholder alone on its line, indented less than code would be, stays
    // the HTML comment it is: a line the renderer takes as a block of raw HTML, which ends a
    // paragraph and is never the continuation of one, just as the code block it replaces.
    // Only the few characters beside it are looked at: a long line of code stays linear.
    auto alone_on_line = [&protected_text](std::string_view placeholder) {
        size_t pos = static_cast<size_t>(placeholder.data() - protected_text.data());
        size_t start = pos;
        while (start > 0 && pos - start < 4 && protected_text[start - 1] == ' ') --start;
        if (pos - start > 3 || (start > 0 && protected_text[start - 1] != '\n')) return false;
        size_t end = protected_text.find_first_not_of(" \t\r", pos + placeholder.size());
        return end == std::string_view::npos || protected_text[end] == '\n';
    };
    scan_placeholders(protected_text, put_text, [&](std::string_view placeholder) {
        char32_t kind = kind_of(placeholder);
        if (kind == kBlockKind && alone_on_line(placeholder)) {
            tokenized.append(placeholder);
            return;
        }
        append_token(tokenized, kind, swapped.size());
        swapped.emplace_back(placeholder);
    });

    // Tokens back to what they stand for: `put` gives the text for one swapped item.
    auto untokenize = [&swapped](std::string_view html, auto put) {
        std::string out;
        out.reserve(html.size() + html.size() / 8);
        size_t copied = 0;
        for (size_t i = html.find('\xEE'); i != std::string_view::npos; i = html.find('\xEE', i)) {
            char32_t kind = 0;
            size_t index = 0;
            size_t len = read_token(html, i, kind, index);
            if (!len || index >= swapped.size()) {
                ++i;
                continue;
            }
            out.append(html.substr(copied, i - copied));
            put(out, kind, swapped[index]);
            i += len;
            copied = i;
        }
        out.append(html.substr(copied));
        return out;
    };
    // In links the text as written, its escapes read where the renderer read the rest's: a
    // formula or code element cannot stand in a URL.
    auto as_written = [&](std::string_view text, bool escapes) {
        return untokenize(text, [&](std::string& out, char32_t kind, std::string_view item) {
            const std::string* source = nullptr;
            if (kind != kLiteralKind && item.starts_with(kMathPrefix)) {
                if (const MathPlaceholder* m = math.find(item)) source = &m->source;
            } else if (kind != kLiteralKind) {
                if (const CodePlaceholder* c = code.find(item)) source = &c->source;
            }
            if (!source || source->empty()) out += item;
            else if (escapes) out += support::markdown::read_backslash_escapes(*source);
            else out += *source;
        });
    };
    std::string html = markdown_to_html(
        tokenized, {.line_role = line_role, .link_text = as_written});
    return untokenize(html, [](std::string& out, char32_t, std::string_view item) { out += item; });
}

}  // namespace vemtora::pressling

#include "support/text.hpp"

#include <cstdint>
#include <cstring>

#include "support/unicode.hpp"

namespace support {

bool is_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D:
        case 0x1C: case 0x1D: case 0x1E: case 0x1F: case 0x20:
        case 0x85: case 0xA0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

char32_t next_code_point(std::string_view s, size_t& pos) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int len = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3; cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4; cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        ++pos;
        return 0xFFFD;
    }
    // Python's decoder replaces the maximal ill-formed subpart: the lead byte and the
    // continuation bytes that were valid so far.
    size_t i = pos + 1;
    for (int k = 1; k < len; ++k, ++i) {
        if (i >= s.size()) { pos = i; return 0xFFFD; }
        unsigned char b = byte(i);
        unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) { pos = i; return 0xFFFD; }
        cp = (cp << 6) | (b & 0x3F);
    }
    pos = i;
    return cp;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// Decodes the code point that ends just before `end` (for right strip).
size_t previous_start(std::string_view s, size_t end) {
    size_t i = end - 1;
    int steps = 0;
    while (i > 0 && steps < 3 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) {
        --i;
        ++steps;
    }
    return i;
}

}  // namespace

std::string_view lstrip(std::string_view s) {
    size_t pos = 0;
    while (pos < s.size()) {
        size_t next = pos;
        if (!is_space(next_code_point(s, next))) break;
        pos = next;
    }
    return s.substr(pos);
}

std::string_view rstrip(std::string_view s) {
    size_t end = s.size();
    while (end > 0) {
        size_t start = previous_start(s, end);
        size_t probe = start;
        char32_t c = next_code_point(s, probe);
        if (probe != end || !is_space(c)) break;
        end = start;
    }
    return s.substr(0, end);
}

std::string_view strip(std::string_view s) { return rstrip(lstrip(s)); }

std::string_view strip_chars(std::string_view s, std::string_view chars) {
    size_t b = s.find_first_not_of(chars);
    if (b == std::string_view::npos) return s.substr(0, 0);
    size_t e = s.find_last_not_of(chars);
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitlines(std::string_view s, bool keepends) {
    std::vector<std::string> lines;
    size_t line_start = 0, pos = 0;
    while (pos < s.size()) {
        size_t cp_start = pos;
        char32_t c = next_code_point(s, pos);
        bool boundary = c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x1C || c == 0x1D ||
                        c == 0x1E || c == 0x85 || c == 0x2028 || c == 0x2029;
        if (!boundary) continue;
        if (c == '\r' && pos < s.size() && s[pos] == '\n') ++pos;
        lines.emplace_back(s.substr(line_start, (keepends ? pos : cp_start) - line_start));
        line_start = pos;
    }
    if (line_start < s.size()) lines.emplace_back(s.substr(line_start));
    return lines;
}

std::vector<std::string> split_whitespace(std::string_view s) {
    std::vector<std::string> parts;
    size_t pos = 0, word_start = std::string_view::npos;
    while (pos < s.size()) {
        size_t cp_start = pos;
        char32_t c = next_code_point(s, pos);
        if (is_space(c)) {
            if (word_start != std::string_view::npos) {
                parts.emplace_back(s.substr(word_start, cp_start - word_start));
                word_start = std::string_view::npos;
            }
        } else if (word_start == std::string_view::npos) {
            word_start = cp_start;
        }
    }
    if (word_start != std::string_view::npos) parts.emplace_back(s.substr(word_start));
    return parts;
}

std::vector<std::string> split(std::string_view s, std::string_view sep) {
    std::vector<std::string> parts;
    if (sep.empty()) {
        parts.emplace_back(s);
        return parts;
    }
    size_t start = 0;
    while (true) {
        size_t at = s.find(sep, start);
        if (at == std::string_view::npos) {
            parts.emplace_back(s.substr(start));
            return parts;
        }
        parts.emplace_back(s.substr(start, at - start));
        start = at + sep.size();
    }
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}

std::string lower(std::string_view s) {
    bool ascii = true;
    for (unsigned char c : s) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) return ascii_lower(s);
    return unicode::lower(s);
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(s);
    std::string out;
    out.reserve(s.size());
    size_t start = 0;
    while (true) {
        size_t at = s.find(from, start);
        if (at == std::string_view::npos) break;
        out.append(s.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(s.substr(start));
    return out;
}

namespace {

// Whether the code point that next_code_point read from s[start, pos) stands for
// ill-formed bytes: it gives U+FFFD for those, and for a U+FFFD that is written out.
bool ill_formed(char32_t c, std::string_view s, size_t start, size_t pos) {
    return c == 0xFFFD && s.substr(start, pos - start) != "\xEF\xBF\xBD";
}

// Where the first ill-formed sequence at or after `pos` begins (s.size() for none). ASCII
// goes eight bytes at a time; a real U+FFFD is well formed.
size_t valid_utf8_end(std::string_view s, size_t pos) {
    while (pos < s.size()) {
        for (std::uint64_t word; pos + 8 <= s.size(); pos += 8) {
            std::memcpy(&word, s.data() + pos, 8);
            if (word & 0x8080808080808080ull) break;
        }
        if (pos < s.size() && static_cast<unsigned char>(s[pos]) < 0x80) {
            ++pos;
            continue;
        }
        if (pos >= s.size()) break;
        size_t start = pos;
        const char32_t c = next_code_point(s, pos);
        if (ill_formed(c, s, start, pos)) return start;
    }
    return s.size();
}

// The well-formed runs are copied whole; each ill-formed sequence between them is
// dropped or replaced.
template <bool Replace>
std::string decode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t pos = 0;;) {
        size_t bad = valid_utf8_end(bytes, pos);
        out.append(bytes.substr(pos, bad - pos));
        if (bad == bytes.size()) break;
        next_code_point(bytes, bad);
        if constexpr (Replace) out.append("\xEF\xBF\xBD");
        pos = bad;
    }
    return out;
}

}  // namespace

bool is_valid_utf8(std::string_view s) { return valid_utf8_end(s, 0) == s.size(); }

std::string decode_replace(std::string_view bytes) { return decode<true>(bytes); }

std::string decode_ignore(std::string_view bytes) { return decode<false>(bytes); }
std::string decode_ignore(std::string&& bytes) {
    if (valid_utf8_end(bytes, 0) == bytes.size()) return std::move(bytes);
    return decode<false>(bytes);
}

namespace {

// UTF-16 in the byte order given, after its mark; an unpaired surrogate or a last byte
// without its pair is U+FFFD.
SavedText decode_utf16(std::string_view bytes, bool big_endian) {
    constexpr char32_t replacement = 0xFFFD;
    SavedText out;
    out.text.reserve(bytes.size());
    auto unit = [&](size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char32_t>(big_endian ? first << 8 | second : second << 8 | first);
    };
    auto put = [&](char32_t c, bool bad = false) {
        if (bad || c == 0) {
            out.well_formed = false;
            c = replacement;
        }
        append_utf8(out.text, c);
    };
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t next = unit(i + 2);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                put(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                i += 2;
                continue;
            }
        }
        put(u, u >= 0xD800 && u <= 0xDFFF);
    }
    if (i < bytes.size()) put(replacement, true);
    return out;
}

}  // namespace

SavedText decode_saved_text(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return decode_utf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return decode_utf16(bytes.substr(2), true);
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    const bool valid = is_valid_utf8(bytes);
    SavedText out{.text = valid ? std::string(bytes) : decode_replace(bytes), .well_formed = valid};
    if (out.text.find('\0') != std::string::npos) {
        out.text = replace_all(out.text, std::string_view("\0", 1), "\xEF\xBF\xBD");
        out.well_formed = false;
    }
    return out;
}

std::string normalize_newlines(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t copied = 0;
    for (size_t cr = s.find('\r'); cr != std::string_view::npos; cr = s.find('\r', copied)) {
        out.append(s.substr(copied, cr - copied));
        out += '\n';
        copied = cr + 1 < s.size() && s[cr + 1] == '\n' ? cr + 2 : cr + 1;
    }
    out.append(s.substr(copied));
    return out;
}

size_t code_point_count(std::string_view s) {
    size_t n = 0, pos = 0;
    while (pos < s.size()) {
        next_code_point(s, pos);
        ++n;
    }
    return n;
}

namespace {

void append_hex(std::string& out, const char* lead, unsigned value, int digits) {
    static constexpr char hex[] = "0123456789abcdef";
    out += lead;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xF];
}

// The embeddings, overrides and isolates of bidirectional text (U+202A-U+202E,
// U+2066-U+2069): a terminal would reorder what follows them, so that a name or a
// message would read other than it is.
bool is_bidi_control(char32_t c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

std::string visible_form(std::string_view text, bool one_line) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += text[pos++];
            continue;
        }
        const char32_t c = next_code_point(text, pos);
        if (ill_formed(c, text, start, pos)) {
            for (size_t i = start; i < pos; ++i) append_hex(out, "\\x", static_cast<unsigned char>(text[i]), 2);
            continue;
        }
        const bool crlf = c == '\r' && pos < text.size() && text[pos] == '\n';
        if (!one_line && (c == '\n' || c == '\t' || crlf)) {
            out += static_cast<char>(c);
            continue;
        }
        switch (c) {
            case 0x1B: out += "\\e"; continue;
            case '\a': out += "\\a"; continue;
            case '\b': out += "\\b"; continue;
            case '\t': out += "\\t"; continue;
            case '\n': out += "\\n"; continue;
            case '\v': out += "\\v"; continue;
            case '\f': out += "\\f"; continue;
            case '\r': out += "\\r"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7F) append_hex(out, "\\x", c, 2);
        else if ((c >= 0x80 && c <= 0x9F) || is_bidi_control(c) || (one_line && (c == 0x2028 || c == 0x2029)))
            append_hex(out, "\\u", c, 4);
        else out.append(text.substr(start, pos - start));
    }
    return out;
}

}  // namespace

std::string visible(std::string_view text) { return visible_form(text, false); }
std::string visible_line(std::string_view text) { return visible_form(text, true); }

bool prompt_safe(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        const char32_t c = next_code_point(text, pos);
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == '`' || c == '[' || c == ']')
            return false;
        if (ill_formed(c, text, start, pos)) return false;
    }
    return true;
}

std::string list_repr(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        const auto& s = items[i];
        char quote = (s.find('\'') != std::string::npos && s.find('"') == std::string::npos) ? '"' : '\'';
        out += quote;
        for (char c : s) {
            if (c == '\\' || c == quote) out += '\\', out += c;
            else if (c == '\n') out += "\\n";
            else if (c == '\r') out += "\\r";
            else if (c == '\t') out += "\\t";
            else out += c;
        }
        out += quote;
    }
    return out + "]";
}

}  // namespace support

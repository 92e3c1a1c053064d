#include "support/html_entities.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "support/text.hpp"

namespace support {

namespace {

struct NamedReference {
    const char* name;
    const char* text;
};
struct NumericFix {
    char32_t number;
    const char* text;
};

#include "support/html_entities_data.inc"

constexpr size_t kMaxNameLength = 32;  // in code points

bool ends_name(char32_t c) {
    return c == '\t' || c == '\n' || c == '\f' || c == ' ' || c == '<' || c == '&' || c == '#' || c == ';';
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

void append_numeric(std::string& out, uint64_t number) {
    auto fix = std::lower_bound(std::begin(kNumericFixes), std::end(kNumericFixes), number,
                                [](const NumericFix& f, uint64_t n) { return f.number < n; });
    if (fix != std::end(kNumericFixes) && fix->number == number) {
        out += fix->text;
        return;
    }
    if ((number >= 0xD800 && number <= 0xDFFF) || number > 0x10FFFF) {
        append_utf8(out, 0xFFFD);
        return;
    }
    if (std::binary_search(std::begin(kDroppedCodePoints), std::end(kDroppedCodePoints),
                           static_cast<char32_t>(number)))
        return;
    append_utf8(out, static_cast<char32_t>(number));
}

// A numeric reference at `pos` (just after "&#"): digits, an optional ";". Returns the
// end of the reference, or npos when no digit follows.
size_t numeric_reference(std::string_view s, size_t pos, std::string& out) {
    bool hex = pos < s.size() && (s[pos] == 'x' || s[pos] == 'X');
    size_t i = hex ? pos + 1 : pos;
    uint64_t number = 0;
    size_t first = i;
    for (; i < s.size() && (hex ? is_hex(s[i]) : (s[i] >= '0' && s[i] <= '9')); ++i) {
        uint64_t digit = hex ? hex_value(s[i]) : s[i] - '0';
        number = std::min<uint64_t>(number * (hex ? 16 : 10) + digit, 0x110000);  // past the range is enough
    }
    if (i == first) return std::string_view::npos;
    if (i < s.size() && s[i] == ';') ++i;
    append_numeric(out, number);
    return i;
}

// A named reference at `pos` (just after "&"). Returns the end of what it consumed, or
// npos when no name character follows.
size_t named_reference_at(std::string_view s, size_t pos, std::string& out) {
    // Code point boundaries of the candidate name: up to 32 characters, then an optional ";".
    size_t bounds[kMaxNameLength + 2];
    size_t count = 0;
    size_t i = pos;
    bounds[0] = pos;
    while (count < kMaxNameLength && i < s.size()) {
        size_t next = i;
        char32_t c = next_code_point(s, next);
        if (ends_name(c)) break;
        i = next;
        bounds[++count] = i;
    }
    if (count == 0) return std::string_view::npos;
    size_t end = i;
    if (end < s.size() && s[end] == ';') ++end;
    std::string_view whole = s.substr(pos, end - pos);
    if (auto text = named_reference(whole)) {
        out += *text;
        return end;
    }
    // The longest prefix (of at least two characters) that is a name; the rest stays text.
    size_t total = count + (end > i ? 1 : 0);
    for (size_t len = total - 1; len > 1; --len) {
        size_t cut = len <= count ? bounds[len] : i;
        if (auto text = named_reference(s.substr(pos, cut - pos))) {
            out += *text;
            out.append(s.substr(cut, end - cut));
            return end;
        }
    }
    out += '&';
    out.append(whole);
    return end;
}

}  // namespace

std::string html_escape(std::string_view text, bool quote) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    size_t copied = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '&' && c != '<' && c != '>' && c != '"' && c != '\'') continue;
        std::string_view entity;
        switch (c) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = quote ? "&quot;" : ""; break;
            case '\'': entity = quote ? "&#x27;" : ""; break;
            default: break;
        }
        if (entity.empty()) continue;
        out.append(text.substr(copied, i - copied));
        out.append(entity);
        copied = i + 1;
    }
    out.append(text.substr(copied));
    return out;
}

std::optional<std::string_view> named_reference(std::string_view name) {
    auto it = std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), name,
                               [](const NamedReference& r, std::string_view n) { return std::string_view(r.name) < n; });
    if (it == std::end(kNamedReferences) || std::string_view(it->name) != name) return std::nullopt;
    return std::string_view(it->text);
}

std::string html_unescape(std::string_view s) {
    size_t amp = s.find('&');
    if (amp == std::string_view::npos) return std::string(s);
    std::string out;
    out.reserve(s.size());
    size_t copied = 0;
    while (amp != std::string_view::npos) {
        out.append(s.substr(copied, amp - copied));
        size_t end = std::string_view::npos;
        if (amp + 1 < s.size() && s[amp + 1] == '#') end = numeric_reference(s, amp + 2, out);
        else end = named_reference_at(s, amp + 1, out);
        if (end == std::string_view::npos) {
            out += '&';
            copied = amp + 1;
        } else {
            copied = end;
        }
        amp = s.find('&', copied);
    }
    out.append(s.substr(copied));
    return out;
}

}  // namespace support

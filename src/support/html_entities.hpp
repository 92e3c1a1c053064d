#pragma once
// HTML character references: escaping for text and attribute values, and unescaping
// with the full HTML5 table of named references, decoding exactly what Python's
// html.unescape decodes (legacy names without ";", longest-prefix matches, the
// corrections of numeric references to C1 controls and invalid code points).
#include <optional>
#include <string>
#include <string_view>

namespace support {

// "&" -> "&amp;", "<" -> "&lt;", ">" -> "&gt;"; with `quote` also '"' -> "&quot;" and
// "'" -> "&#x27;".
std::string html_escape(std::string_view text, bool quote = false);

// Replaces every named, decimal and hexadecimal character reference by its text.
std::string html_unescape(std::string_view text);

// The text of one named reference as the table spells it ("amp;" or "amp"), or nothing.
std::optional<std::string_view> named_reference(std::string_view name);

}  // namespace support

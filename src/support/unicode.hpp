#pragma once
// Unicode character data and the text operations that need it, from ICU. ICU and its data
// (some 30 MB) are loaded at the first question that ASCII alone cannot answer, so that
// the runs that meet only ASCII start and end without them (the Windows build links ICU
// into the program). Where ICU cannot be loaded, such a question raises
// std::runtime_error with the loader's reason.
#include <string>
#include <string_view>

namespace support::unicode {

// The value of a decimal digit of any script (general category Nd), or -1.
int digit_value(char32_t c);
// A letter of any script, ideographs included (general category L).
bool is_letter(char32_t c);
// Whether the character has a numeric value: digits, numerals, fractions ("½", "Ⅻ").
bool has_numeric_value(char32_t c);
// A decimal digit or another digit ("²", "①"): numeric type Decimal or Digit.
bool is_digit(char32_t c);
char32_t title_case(char32_t c);

// Full lower-case mapping in the root locale ("İ" becomes "i̇"). Ill-formed UTF-8 reads as
// U+FFFD.
std::string lower(std::string_view text);
// The compatibility decomposition (NFKD): "ﬁ" becomes "fi", "é" an "e" and its accent. The
// text as it is where ICU has no decomposition data.
std::string nfkd(std::string_view text);

}  // namespace support::unicode

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <string>
#include <vector>

#include "support/unicode.hpp"

namespace unicode = support::unicode;

// Every character fact is ICU's own answer: ASCII, answered without ICU, and characters of
// other scripts, answered by the ICU that the program loads.
TEST(Unicode, CharacterFactsAreIcus) {
    std::vector<char32_t> chars;
    for (char32_t c = 0; c < 0x80; ++c) chars.push_back(c);
    for (char32_t c : {U'é', U'Ä', U'ǆ', U'ß', U'Σ', U'中', U'\u0663', U'\u0966', U'²', U'①', U'Ⅻ', U'½', U'\U0001D7D8',
                       U'\u00A0', U'\uFFFD', U'\U0010FFFF'})
        chars.push_back(c);
    for (char32_t c : chars) {
        SCOPED_TRACE(static_cast<unsigned>(c));
        const auto u = static_cast<UChar32>(c);
        EXPECT_EQ(unicode::digit_value(c), u_charDigitValue(u));
        EXPECT_EQ(unicode::is_letter(c), static_cast<bool>(u_isalpha(u)));
        EXPECT_EQ(unicode::has_numeric_value(c), u_getNumericValue(u) != U_NO_NUMERIC_VALUE);
        const auto type = u_getIntPropertyValue(u, UCHAR_NUMERIC_TYPE);
        EXPECT_EQ(unicode::is_digit(c), type == U_NT_DECIMAL || type == U_NT_DIGIT);
        EXPECT_EQ(unicode::title_case(c), static_cast<char32_t>(u_totitle(u)));
    }
}

TEST(Unicode, LowerAndDecomposeWholeTexts) {
    struct Case {
        std::string in, lower, nfkd;
    };
    for (const auto& c : std::vector<Case>{
             {"ÄÖÜ ΑΒΓ", "äöü αβγ", "A\u0308O\u0308U\u0308 ΑΒΓ"},
             {"\u0130", "i\u0307", "I\u0307"},           // one code point lowers to two
             {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2", "\u039F\u0394\u039F\u03A3"},  // final sigma
             {"ﬁ² Ⅻ", "ﬁ² ⅻ", "fi2 XII"},
             {std::string(3000, 'A') + "É", std::string(3000, 'a') + "é", std::string(3000, 'A') + "E\u0301"},
             {"a\xff" "b", "a\uFFFDb", "a\uFFFDb"},     // ill-formed UTF-8 reads as U+FFFD
             {"", "", ""},
             {"\uFDFA", "\uFDFA", "\u0635\u0644\u0649 \u0627\u0644\u0644\u0647 \u0639\u0644\u064A\u0647 "
                                  "\u0648\u0633\u0644\u0645"},  // one code point, eighteen after
         }) {
        EXPECT_EQ(unicode::lower(c.in), c.lower) << c.in;
        EXPECT_EQ(unicode::nfkd(c.in), c.nfkd) << c.in;
    }
}

#include <gtest/gtest.h>

#include "support/text.hpp"

using namespace support;

TEST(Text, StripUsesUnicodeWhiteSpace) {
    struct Case { std::string in, out; };
    for (const auto& c : std::vector<Case>{
             {"  a b \t\n", "a b"},
             {"\u3000\u00a0x\u2028\u0085", "x"},  // ideographic space, NBSP, line separator, NEL
             {"\x1c\x1fy\x0b\x0c", "y"},
             {"\u200bz", "\u200bz"},  // zero-width space is not white space
             {"", ""},
             {" \t ", ""},
         })
        EXPECT_EQ(strip(c.in), c.out) << c.in;
    EXPECT_EQ(lstrip("  a "), "a ");
    EXPECT_EQ(rstrip("  a\u3000"), "  a");
}

TEST(Text, SplitlinesKnowsEveryLineEnd) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitlines("a\nb\r\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(splitlines("a\n\nb\n"), (V{"a", "", "b"}));
    EXPECT_EQ(splitlines("a\x0b" "b\x0c" "c\x1c" "d\u2028e\u0085f"), (V{"a", "b", "c", "d", "e", "f"}));
    EXPECT_EQ(splitlines(""), V{});
    EXPECT_EQ(splitlines("a\r\nb", true), (V{"a\r\n", "b"}));
    EXPECT_EQ(split_whitespace("  a \u3000 b\n"), (V{"a", "b"}));
    EXPECT_EQ(split("a,,b", ","), (V{"a", "", "b"}));
}

TEST(Text, LowerUsesFullUnicodeMapping) {
    EXPECT_EQ(lower("Gemini 3.5 Flash (Medium)"), "gemini 3.5 flash (medium)");
    EXPECT_EQ(lower("ÄÖÜ ΑΒΓ"), "äöü αβγ");
    EXPECT_EQ(lower("\u0130"), "i\u0307");  // dotted capital I expands to two code points
    EXPECT_EQ(ascii_lower("ÄB"), "Äb");
}

TEST(Text, DecodingRepairsIllFormedUtf8LikePython) {
    struct Case { std::string in, replaced, ignored; };
    for (const auto& c : std::vector<Case>{
             {"ok \xe4\xb8\xad", "ok \xe4\xb8\xad", "ok \xe4\xb8\xad"},
             {"a\xffz", "a\uFFFDz", "az"},
             {"\xe4\xb8z", "\uFFFDz", "z"},               // truncated sequence: one replacement
             {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD", ""},  // surrogate: each byte replaced
             {"\xc0\xaf", "\uFFFD\uFFFD", ""},            // overlong
             {"\xf0\x9f\x98", "\uFFFD", ""},              // truncated at the end
             {"\uFFFD", "\uFFFD", "\uFFFD"},              // a real replacement character stays
         }) {
        EXPECT_EQ(decode_replace(c.in), c.replaced);
        EXPECT_EQ(decode_ignore(c.in), c.ignored);
        EXPECT_EQ(is_valid_utf8(c.in), c.in == c.replaced);
    }
    // Long valid runs around ill-formed bytes, at every offset from an eight-byte boundary.
    for (size_t lead = 0; lead < 9; ++lead) {
        std::string run(lead, 'a');
        std::string in = run + "\xff" + run + "\xe4\xb8\xad" + run + "\xed\xa0\x80" + run + "\xe4\xb8";
        EXPECT_EQ(decode_ignore(in), run + run + "\xe4\xb8\xad" + run + run) << lead;
        EXPECT_EQ(decode_replace(in), run + "\uFFFD" + run + "\xe4\xb8\xad" + run + "\uFFFD\uFFFD\uFFFD" + run + "\uFFFD")
            << lead;
    }
    // A text of its own is decoded where it stands: valid text comes back as it was.
    std::string owned(5000, 'x');
    const char* storage = owned.data();
    std::string kept = decode_ignore(std::move(owned));
    EXPECT_EQ(kept.data(), storage);
    EXPECT_EQ(decode_ignore(std::string("a\xffz") + std::string(40, 'b')), "az" + std::string(40, 'b'));
}

TEST(Text, NewlinesAndReplace) {
    EXPECT_EQ(normalize_newlines("a\r\nb\rc\n\r\n"), "a\nb\nc\n\n");
    EXPECT_EQ(replace_all("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(replace_all("abc", "", "x"), "abc");
    EXPECT_EQ(code_point_count("a中😀"), 3u);
}

// What a terminal would obey is shown instead; git's quoted names, backslashes and text
// of every script stay as they are.
TEST(Text, VisibleFormShowsEveryControlCharacter) {
    struct Case { std::string in, lines, one_line; };
    for (const auto& c : std::vector<Case>{
             {"plain 中文 😀 \\ \"q\"", "plain 中文 😀 \\ \"q\"", "plain 中文 😀 \\ \"q\""},
             {"\x1b]52;c;ZWNobw==\x07", "\\e]52;c;ZWNobw==\\a", "\\e]52;c;ZWNobw==\\a"},  // clipboard write
             {"up\x1b[1A\x1b[2K", "up\\e[1A\\e[2K", "up\\e[1A\\e[2K"},
             {"a\nb\tc\r\nd", "a\nb\tc\r\nd", "a\\nb\\tc\\r\\nd"},
             {"over\rwrite", "over\\rwrite", "over\\rwrite"},
             {std::string("\0\b\v\f\x1f\x7f", 6), "\\x00\\b\\v\\f\\x1f\\x7f", "\\x00\\b\\v\\f\\x1f\\x7f"},
             {"csi\u009b2J nel\u0085", "csi\\u009b2J nel\\u0085", "csi\\u009b2J nel\\u0085"},  // C1 controls
             {"sep\u2028par\u2029", "sep\u2028par\u2029", "sep\\u2028par\\u2029"},
             // bidi embeddings, overrides and isolates reorder what follows them
             {"invoice\u202Edm.exe.md", "invoice\\u202edm.exe.md", "invoice\\u202edm.exe.md"},
             {"\u202A\u202B\u202C\u202D \u2066\u2067\u2068\u2069",
              "\\u202a\\u202b\\u202c\\u202d \\u2066\\u2067\\u2068\\u2069",
              "\\u202a\\u202b\\u202c\\u202d \\u2066\\u2067\\u2068\\u2069"},
             {"marks \u200E\u200F\u061C\u2065\u206A", "marks \u200E\u200F\u061C\u2065\u206A",
              "marks \u200E\u200F\u061C\u2065\u206A"},  // no reordering of their own
             {"bad\xff\xc3 \xe4\xb8", "bad\\xff\\xc3 \\xe4\\xb8", "bad\\xff\\xc3 \\xe4\\xb8"},  // ill-formed UTF-8
             {"\"un\\033[31mtracked\"", "\"un\\033[31mtracked\"", "\"un\\033[31mtracked\""},    // quoted by git
             {"\uFFFD", "\uFFFD", "\uFFFD"},
         }) {
        EXPECT_EQ(visible(c.in), c.lines) << c.in;
        EXPECT_EQ(visible_line(c.in), c.one_line) << c.in;
        EXPECT_EQ(visible(visible_line(c.in)), visible_line(c.in)) << "shown once, never twice";
    }
}

TEST(Text, PromptSafeRefusesWhatCouldEndAReferenceOrALine) {
    for (const std::string ok : {"/home/me/項目/a b.c", "C:/Users/me/x (1).md", "@{}<>$\\'\"", "\uFFFD"})
        EXPECT_TRUE(prompt_safe(ok)) << ok;
    for (const std::string& bad : std::vector<std::string>{"a\nb", "a\rb", "a\tb", "a`b", "a]b", "a[b", "\x1b[2J", "a\x7f", "nel\u0085",
                                  "ls\u2028", "ps\u2029", "bad\xff", std::string("nul\0", 4)})
        EXPECT_FALSE(prompt_safe(bad)) << bad;
}

// Text as an editor saves it: a byte-order mark tells UTF-16 from UTF-8 and is no text;
// what is not UTF-8 text (an ANSI code page, an unpaired surrogate, a cut last unit, a
// NUL) becomes U+FFFD and is reported.
TEST(Text, SavedTextInAnyEncodingBecomesUtf8) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
        bool well_formed;
    };
    const Case cases[] = {
        {"UTF-8", "需求", "需求", true},
        {"UTF-8 with its mark", "\xEF\xBB\xBF需求", "需求", true},
        {"UTF-16 LE", std::string("\xFF\xFE\x00\x97\x42\x6C\x0A\x00", 8), "需求\n", true},
        {"UTF-16 BE", std::string("\xFE\xFF\x97\x00\x6C\x42\x00\x0A", 8), "需求\n", true},
        {"UTF-16 LE, a pair of surrogates", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "😀", true},
        {"UTF-16 LE, a lone surrogate", std::string("\xFF\xFE\x3D\xD8\x41\x00", 6), r + "A", false},
        {"UTF-16 LE, an odd last byte", std::string("\xFF\xFE\x41\x00\x42", 5), "A" + r, false},
        {"UTF-16 LE, a NUL", std::string("\xFF\xFE\x41\x00\x00\x00", 6), "A" + r, false},
        {"an ANSI code page", "caf\xE9", "caf" + r, false},
        {"a NUL in UTF-8", std::string("a\0b", 3), "a" + r + "b", false},
        {"nothing", "", "", true},
    };
    for (const auto& c : cases) {
        const auto decoded = decode_saved_text(c.bytes);
        EXPECT_EQ(decoded.text, c.text) << c.what;
        EXPECT_EQ(decoded.well_formed, c.well_formed) << c.what;
    }
}

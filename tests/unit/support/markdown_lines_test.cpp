#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/markdown_lines.hpp"

using support::markdown::LineIndex;

namespace {

constexpr size_t added = std::string::npos;

}  // namespace

// Every kind of line break the renderer knows, a last line without one and a text that
// ends with one (an empty last line).
TEST(MarkdownLines, LinesEndAtLineFeedsCarriageReturnsOrBoth) {
    const std::string text = "ab\r\ncd\ref\n\ngh";
    const LineIndex lines(text);
    ASSERT_EQ(lines.lines(), 5u);
    const std::vector<size_t> starts{0, 4, 7, 10, 11}, ends{2, 6, 9, 10, 13};
    const std::vector<std::string> breaks{"\r\n", "\r", "\n", "\n", "\n"};
    for (size_t line = 0; line < lines.lines(); ++line) {
        SCOPED_TRACE(line);
        EXPECT_EQ(lines.start(line), starts[line]);
        EXPECT_EQ(lines.line_end(line), ends[line]);
        EXPECT_EQ(lines.line_break(line), breaks[line]);
    }

    const LineIndex ended("a\n");
    ASSERT_EQ(ended.lines(), 2u);
    EXPECT_EQ(ended.start(1), 2u);
    EXPECT_EQ(ended.line_end(1), 2u);
    EXPECT_EQ(LineIndex("").lines(), 1u);
    EXPECT_EQ(LineIndex("").line_end(0), 0u);
}

// A column past the line's end is its end; a negative one is the line's start; the first
// line's columns start after a byte-order mark.
TEST(MarkdownLines, PositionsStayOnTheirLine) {
    const LineIndex lines("abc\r\nde");
    EXPECT_EQ(lines.position(0, 2), 2u);
    EXPECT_EQ(lines.position(0, 9), 3u);
    EXPECT_EQ(lines.position(0, -1), 0u);
    EXPECT_EQ(lines.position(1, 1), 6u);
    EXPECT_EQ(lines.position(1, 5), 7u);

    const LineIndex marked("\xEF\xBB\xBF" "ab\ncd");
    EXPECT_EQ(marked.position(0, 0), 3u);
    EXPECT_EQ(marked.position(0, 1), 4u);
    EXPECT_EQ(marked.position(0, 7), 5u);
    EXPECT_EQ(marked.position(1, 0), 6u);
}

// The renderer's line numbers count from 1 over the text it parsed; lines added to that
// text count as the line before them.
TEST(MarkdownLines, ParsedLinesAreLinesOfTheText) {
    const std::string text = "a\nb\nc";
    const LineIndex plain(text);
    EXPECT_EQ(plain.line_of(1), 0u);
    EXPECT_EQ(plain.line_of(3), 2u);
    EXPECT_EQ(plain.line_of(0), 0u);
    EXPECT_EQ(plain.line_of(9), 2u);

    // parsed: a, (added), b, (added), c
    const LineIndex opened(text, {0, added, 1, added, 2});
    const std::vector<size_t> expected{0, 0, 1, 1, 2};
    for (int parsed = 1; parsed <= 5; ++parsed) EXPECT_EQ(opened.line_of(parsed), expected[parsed - 1]) << parsed;
    EXPECT_EQ(opened.line_of(7), 2u);
    EXPECT_EQ(LineIndex(text, {added, added, 0}).line_of(2), 0u);
    // An origin past the text's lines is its last line.
    EXPECT_EQ(LineIndex(text, {0, 5}).line_of(2), 2u);
}

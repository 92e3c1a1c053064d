#include <gtest/gtest.h>

#include "harness.hpp"
#include "support/markdown.hpp"

using support::markdown::render_html;

TEST(MarkdownRender, KeepsRawHtmlAndBreaksSingleLineFeeds) {
    EXPECT_EQ(render_html("a\nb"), "<p>a<br />\nb</p>");
    EXPECT_EQ(render_html("<span class=\"x\">hi</span> <script>x()</script>"),
              "<p><span class=\"x\">hi</span> <script>x()</script></p>");
    // No autolinks, no strikethrough.
    EXPECT_EQ(render_html("see www.example.com and ~~old~~"), "<p>see www.example.com and ~~old~~</p>");
}

TEST(MarkdownRender, TablesAlignWithStyleAttributes) {
    std::string html = render_html("| a | b | c |\n|:--|:-:|--:|\n| 1 | 2 | 3 |");
    EXPECT_NE(html.find("<th style=\"text-align: left\">a</th>"), std::string::npos) << html;
    EXPECT_NE(html.find("<td style=\"text-align: center\">2</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<td style=\"text-align: right\">3</td>"), std::string::npos) << html;
    EXPECT_EQ(html.find("align=\""), std::string::npos) << html;
}

// A text without a table is parsed without the table extension; whatever can hold one is
// parsed with it.
TEST(MarkdownRender, TablesWhereverTheRendererFindsThem) {
    for (const std::string md : {"| a |\r|---|\r| b |", " \v \n|---|", "- a\n  | b |\n  |---|", "> a | b\n> -|-"})
        EXPECT_NE(render_html(md).find("<table>"), std::string::npos) << md;
}

TEST(MarkdownRender, BlockLinesAreLiftedOutOfParagraphs) {
    using support::markdown::LineRole;
    support::markdown::Options options{.line_role = [](std::string_view line) {
        return line == "BLOCK" ? LineRole::block : line == "ALONE" ? LineRole::block_alone : LineRole::text;
    }};
    EXPECT_EQ(render_html("before\nBLOCK\nafter *x*", options), "<p>before</p>\nBLOCK\n<p>after <em>x</em></p>");
    EXPECT_EQ(render_html("BLOCK", options), "BLOCK");
    EXPECT_EQ(render_html("- item\n  BLOCK", options), "<ul>\n<li>item\nBLOCK\n</li>\n</ul>");
    EXPECT_EQ(render_html("a BLOCK", options), "<p>a BLOCK</p>");
    // A line that is a block only where its paragraph holds nothing else.
    EXPECT_EQ(render_html("ALONE\nBLOCK\nALONE\n\n- ALONE", options), "ALONE\nBLOCK\nALONE\n<ul>\n<li>\nALONE\n</li>\n</ul>");
    EXPECT_EQ(render_html("before\nALONE\nBLOCK", options), "<p>before<br />\nALONE</p>\nBLOCK");
}

// The table extension pads every row to the header's width, so a few bytes of Markdown
// can ask for millions of cells: a table over the limit is refused before parsing,
// while any table within it renders as always, padding included.
TEST(MarkdownRender, TableCellsAreBounded) {
    const support::markdown::Options limit12{.max_table_cells = 12};
    const std::string head = "| a | b | c |\n|:--|---|--:|\n";
    EXPECT_EQ(render_html(head + "| 1 |\n2\n| 3 | 4 | 5 | 6 |\n", limit12),
              "<table>\n<thead>\n<tr>\n<th style=\"text-align: left\">a</th>\n<th>b</th>\n"
              "<th style=\"text-align: right\">c</th>\n</tr>\n</thead>\n<tbody>\n"
              "<tr>\n<td style=\"text-align: left\">1</td>\n<td></td>\n<td style=\"text-align: right\"></td>\n</tr>\n"
              "<tr>\n<td style=\"text-align: left\">2</td>\n<td></td>\n<td style=\"text-align: right\"></td>\n</tr>\n"
              "<tr>\n<td style=\"text-align: left\">3</td>\n<td>4</td>\n<td style=\"text-align: right\">5</td>\n</tr>\n"
              "</tbody>\n</table>");
    struct Case {
        std::string text;
        bool refused;
    };
    const std::string quoted = "> | a | b | c |\n> |:--|---|--:|\n";
    const std::string listed = "- x\n\n  | a | b | c |\n  |:--|---|--:|\n";
    const Case cases[] = {
        {head + "1\n2\n3\n4\n", true},                        // 3 columns, 5 rows
        {quoted + "> 1\n> 2\n> 3\n> 4\n", true},              // inside a quote
        {listed + "  1\n  2\n  3\n  4\n", true},              // inside a list item
        {head + "1\n2\n3\n\n4\n5\n6\n", false},              // a blank line ends it
        {"\n|---|---|---|\n1\n2\n3\n4\n5\n", false},         // no header line: no table
    };
    for (const auto& c : cases) {
        if (c.refused) EXPECT_THROW(render_html(c.text, limit12), std::length_error) << c.text;
        else EXPECT_NO_THROW(render_html(c.text, limit12)) << c.text;
    }
    // The default limit, on a header of 2,000 columns over 5,000 one-cell rows.
    try {
        render_html(th::padded_table(2000, 5000));
        ADD_FAILURE() << "a table of ten million cells was rendered";
    } catch (const std::length_error& e) {
        EXPECT_EQ(std::string(e.what()), "a table of 2000 columns and 5001 rows exceeds the limit of 250000 cells");
    }
}

// The block map may parse without the table extension and without the inlines of longer
// paragraphs; its code blocks are still those of a full parse, also where a table ends
// where a paragraph would go on, and where a paragraph's lines decide what comes after it.
TEST(MarkdownBlocks, TheMapFindsTheCodeBlocksOfAFullParse) {
    using support::markdown::find_code_blocks;
    using support::markdown::map_blocks;
    for (const std::string md : {
             "| a |\n|---|\n| b |\n\n    code",
             "| a |\n|---|\n    code",                 // an indented line ends a table, not a paragraph
             "| a |\n|---|\n| b |\n    code\n",
             "> | a |\n> |---|\n    code",             // no lazy line after a table
             "- | a |\n  |---|\nlazy\n\n      code",
             "| a |\n|---|\n2.     code",              // an ordered list may interrupt a table
             "| a |\n|---|\n<div>\n\n    code",
             "text\n---\n    code",                    // a heading underline, not a table
             "a | b\n--|--\nc | d\n\n```\nx\n```",
             "```\n| a |\n|---|\n    x\n```",
             "| a |\r\n|---|\r\n    code\r\n",
             "| a |\n|---|\n\v\n    code",            // a vertical tab is no blank line
             "para\nline\n===\n    code",              // a heading takes no more lines
             "para\nline\n===\nnext\n    more",
             "[a]: /u\n===\n    code",                  // no heading: a paragraph goes on
             "text *a\nb* [c\nd](e)\n    more\n>     code",
             "> para\nlazy\n    more\n\n    code",
             "- item\n  more\n\n      code",
             // paragraphs of one line in a container opened on the same line
             "- a\n- b\n\n      code",
             "- a\nlazy\n    more\n\n    code",
             "> a\n\n    code\n> b",
             "- [x]: /u\n- b\n===\n    code",
             "1. a\n   ```\n   c\n   ```\n2. d\n   ---\n       code",
             "- a\n  - b\n    more\n- c",
             "> - a\n>   ```\n    code",
         }) {
        EXPECT_EQ(map_blocks(md).code_blocks, find_code_blocks(md)) << md;
    }
}

#include <gtest/gtest.h>

#include "vemtora/publishing/pressling.hpp"

namespace {
std::string render_html(std::string_view text) { return vemtora::pressling::markdown_to_html(text); }
}  // namespace

TEST(PresslingPageRules, ImagesWriteAltBeforeSrc) {
    EXPECT_EQ(render_html("![a *b* \"q\"](img/x%20y.png \"T\")"),
              "<p><img alt=\"a b &quot;q&quot;\" src=\"img/x%20y.png\" title=\"T\" /></p>");
    EXPECT_EQ(render_html("![](a.png)"), "<p><img alt=\"\" src=\"a.png\" /></p>");
}

TEST(PresslingPageRules, MarkdownAttributeOfHtmlBlocksIsDropped) {
    // The content of such a block is Markdown even without blank lines around it; a raw
    // element of the same name inside stays raw, and the text after the block is a paragraph.
    EXPECT_EQ(render_html("<div markdown=\"1\" class=\"n\">\nx\n</div>"), "<div class=\"n\">\n<p>x</p>\n</div>");
    EXPECT_EQ(render_html("<div markdown=\"1\">\n# H\n<div>\n**r**\n</div>\n</div>\nafter"),
              "<div>\n<h1 id=\"h\">H</h1>\n<div>\n**r**\n</div>\n</div>\n<p>after</p>");
    EXPECT_EQ(render_html("<section markdown='1'>\n\n**b**\n\n</section>"),
              "<section>\n<p><strong>b</strong></p>\n</section>");
    // Up to three blanks may stand before the opening tag; a fourth makes the line code.
    EXPECT_EQ(render_html("text <i>markdown</i>\n\n   <div markdown=\"1\">\nx\n</div>"),
              "<p>text <i>markdown</i></p>\n   <div>\n<p>x</p>\n</div>");
    EXPECT_EQ(render_html("    <div markdown=\"1\">\nx\n</div>"),
              "<pre><code>&lt;div markdown=&quot;1&quot;&gt;\n</code></pre>\n<p>x</p>\n</div>");
}

TEST(PresslingPageRules, HeadingIdsComeFromTheHeadingText) {
    EXPECT_EQ(render_html("# Hello *World*"), "<h1 id=\"hello-world\">Hello <em>World</em></h1>");
    std::string html = render_html("## Café Straße\n## Café Straße\n## Café Straße\n## 中文\n## 中文\n## A_1\n## A");
    for (const char* id : {"cafe-strae", "cafe-strae_1", "cafe-strae_2", "_1", "_2", "a_1", "\"a\""})
        EXPECT_NE(html.find(id), std::string::npos) << id << "\n" << html;
}

TEST(PresslingPageRules, SlugRules) {
    using vemtora::pressling::slugify;
    EXPECT_EQ(slugify("  Hello,  World! -- x "), "hello-world-x");
    EXPECT_EQ(slugify("ﬁle Ⅳ naïve"), "file-iv-naive");  // compatibility decomposition
    EXPECT_EQ(slugify("a&b_c"), "ab_c");
    vemtora::pressling::UniqueIds ids;
    EXPECT_EQ(ids.unique("x"), "x");
    EXPECT_EQ(ids.unique("x"), "x_1");
    EXPECT_EQ(ids.unique("x_1"), "x_2");
    EXPECT_EQ(ids.unique("x"), "x_3");
    EXPECT_EQ(ids.unique("x_9"), "x_9");
    EXPECT_EQ(ids.unique(""), "_1");
    EXPECT_EQ(ids.unique("_1"), "_2");
}

TEST(PresslingPageRules, TocMarkerBecomesNestedListOfAllHeadings) {
    std::string html = render_html("# Top\n\n[TOC]\n\n## A & B\n### Deep\n## C\n# Next");
    EXPECT_EQ(html,
              "<h1 id=\"top\">Top</h1>\n"
              "<div class=\"toc\">\n<ul>\n"
              "<li><a href=\"#top\">Top</a><ul>\n"
              "<li><a href=\"#a-b\">A &amp; B</a><ul>\n"
              "<li><a href=\"#deep\">Deep</a></li>\n"
              "</ul>\n</li>\n"
              "<li><a href=\"#c\">C</a></li>\n"
              "</ul>\n</li>\n"
              "<li><a href=\"#next\">Next</a></li>\n"
              "</ul>\n</div>\n"
              "<h2 id=\"a-b\">A &amp; B</h2>\n<h3 id=\"deep\">Deep</h3>\n<h2 id=\"c\">C</h2>\n<h1 id=\"next\">Next</h1>");
    // Only a paragraph holding nothing but the marker is replaced.
    EXPECT_EQ(render_html("see [TOC] here"), "<p>see [TOC] here</p>");
    EXPECT_EQ(render_html("[TOC]"), "<div class=\"toc\">\n<ul></ul>\n</div>");
}

#include <gtest/gtest.h>

#include "support/html_entities.hpp"

using support::html_unescape;

TEST(HtmlUnescape, DecodesLikePythonsHtmlUnescape) {
    struct Case { std::string in, out; };
    for (const auto& c : std::vector<Case>{
             {"&lt;a&gt; &amp;&quot;&#39;", "<a> &\"'"},
             {"&amp", "&"},                      // legacy name without ";"
             {"&ampx &notit; &notin;", "&x ¬it; ∉"},  // longest known prefix, the rest stays
             {"&copy2024", "©2024"},
             {"&nosuch; & &; &#; &#x;", "&nosuch; & &; &#; &#x;"},
             {"&#65;&#x42;&#X43;&#68", "ABCD"},
             {"&#0; &#x80; &#x9f; &#xD800; &#x110000; &#99999999999999999999;",
              "\uFFFD \u20AC \u0178 \uFFFD \uFFFD \uFFFD"},
             {"a&#1;b&#xb;c&#xFFFF;d", "abcd"},  // code points that decode to nothing
             {"&NotNestedGreaterGreater;&fjlig;", "\u2AA2\u0338fj"},
             {"no references", "no references"},
             {"&&amp;&", "&&&"},
         })
        EXPECT_EQ(html_unescape(c.in), c.out) << c.in;
}

TEST(HtmlUnescape, TableHoldsTheWholeHtml5Set) {
    EXPECT_EQ(support::named_reference("amp;"), "&");
    EXPECT_EQ(support::named_reference("zwnj;"), "\u200C");
    EXPECT_EQ(support::named_reference("AElig"), "Æ");
    EXPECT_FALSE(support::named_reference("zwnj").has_value());
}

TEST(HtmlEscape, EscapesMarkupAndOptionallyQuotes) {
    EXPECT_EQ(support::html_escape("<a href=\"x\">&'"), "&lt;a href=\"x\"&gt;&amp;'");
    EXPECT_EQ(support::html_escape("\"'", true), "&quot;&#x27;");
}

#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;

namespace {

// Protect, then restore straight away: what the page gets for the text's code and math.
std::string round_trip(const std::string& md) {
    Protected p = protect_markdown_code_and_math(md);
    return restore_markdown_code_and_math(p.text, p.code_placeholders, p.math_placeholders);
}

}  // namespace

TEST(PresslingProtect, FormulaDelimiters) {
    struct Case { std::string md, restored; };
    for (const auto& c : std::vector<Case>{
             {"costs $5 and $10", "costs $5 and $10"},
             {"costs $5 and$10", "costs \\(5 and\\)10"},
             {"($ x$)", "($ x$)"},
             {"($x $)", "($x $)"},
             {"($x$)", "(\\(x\\))"},
             {"$$\n a_1 + b_2 \n$$", "$$a_1 + b_2$$"},
             {"$\n\\begin{align}\\begin{matrix}a\\end{matrix}\\end{align}\n$",
              "$$\\begin{align}\\begin{matrix}a\\end{matrix}\\end{align}$$"},
             {"$a<b & c>d$", "\\(a&lt;b &amp; c&gt;d\\)"},  // escaped, so the page stays well-formed
             {"$`a`$", "\\(<code>a</code>\\)"},
             {"`$x$` and $y$", "<code>$x$</code> and \\(y\\)"},
             {"$\"a\" 'b'$", "\\(\"a\" 'b'\\)"},  // quotes stay as they are
         })
        EXPECT_EQ(round_trip(c.md), c.restored) << c.md;
}

TEST(PresslingProtect, CodeForms) {
    struct Case { std::string md, restored; };
    for (const auto& c : std::vector<Case>{
             {"```py\nprint('<a>&')\n```", "<pre><code class=\"language-py\">print('&lt;a&gt;&amp;')</code></pre>"},
             {"```\nx\n```", "<pre><code>x</code></pre>"},
             {"```objective-c\nx\n```", "<pre><code class=\"language-objective-c\">x</code></pre>"},
             {"```Mermaid\nx\n```", "<pre><code class=\"language-Mermaid\">x</code></pre>"},
             {"```c\r\na\r\nb\r\n```", "<pre><code class=\"language-c\">a\r\nb</code></pre>"},
             {"```\n\n```", "<pre><code></code></pre>"},
             {"```js title\nx\n```", "```js title\nx\n```"},  // more than a language: left to the renderer
             {"``x``", "`<code>x</code>`"},
             {"`a\nb`", "`a\nb`"},
             {"`say \"hi\" 'there'`", "<code>say \"hi\" 'there'</code>"},
         })
        EXPECT_EQ(round_trip(c.md), c.restored) << c.md;
}

TEST(PresslingProtect, PlaceholdersNumberPerKindAndAreLogged) {
    brenkit::app_logging::Capture capture;
    Protected p = protect_markdown_code_and_math("`a` $x$ `b`");
    EXPECT_EQ(p.text, "<!--CODE_PLACEHOLDER_0--> <!--MATH_PLACEHOLDER_0--> <!--CODE_PLACEHOLDER_1-->");
    ASSERT_EQ(p.code_placeholders.size(), 2u);
    EXPECT_EQ(p.math_placeholders[0].formula, "x");
    EXPECT_FALSE(p.math_placeholders[0].is_block);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"✅ 成功保護 2 個程式碼區塊與 1 個數學公式。"});

    capture.clear();
    Protected none = protect_markdown_code_and_math("plain");
    EXPECT_EQ(restore_markdown_code_and_math("<p>plain</p>", none.code_placeholders, none.math_placeholders),
              "<p>plain</p>");
    EXPECT_TRUE(capture.messages().empty());
}

TEST(PresslingProtect, RestoreReplacesEveryOccurrenceAndLeavesUnknownComments) {
    std::vector<CodePlaceholder> code{{"<!--CODE_PLACEHOLDER_0-->", "<code>c</code>"}};
    std::vector<MathPlaceholder> math{{"<!--MATH_PLACEHOLDER_0-->", "m", true}};
    EXPECT_EQ(restore_markdown_code_and_math(
                  "<!--CODE_PLACEHOLDER_0-->|<!--CODE_PLACEHOLDER_0-->|<!--MATH_PLACEHOLDER_0-->|"
                  "<!--CODE_PLACEHOLDER_1-->|<!-- x -->|<!--CODE_PLACEHOLDER_",
                  code, math),
              "<code>c</code>|<code>c</code>|$$m$$|<!--CODE_PLACEHOLDER_1-->|<!-- x -->|<!--CODE_PLACEHOLDER_");
}

TEST(PresslingRender, PlaceholdersSurviveRenderingInEveryPosition) {
    auto page = [](const std::string& md) {
        Protected p = protect_markdown_code_and_math(md);
        std::string html = render_markdown(p.text, p.code_placeholders, p.math_placeholders);
        return restore_markdown_code_and_math(html, p.code_placeholders, p.math_placeholders);
    };
    // An inline placeholder that starts a line does not make the line raw HTML.
    EXPECT_EQ(page("`make` then **bold**"), "<p><code>make</code> then <strong>bold</strong></p>");
    EXPECT_EQ(page("text\n`a` is *it*"), "<p>text<br />\n<code>a</code> is <em>it</em></p>");
    EXPECT_EQ(page("| a | b |\n|---|---|\n| `x|y` | $z$ |"),
              "<table>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n"
              "<td><code>x|y</code></td>\n<td>\\(z\\)</td>\n</tr>\n</tbody>\n</table>");
    EXPECT_EQ(page("- `a`\n- [`b`](#b)"), "<ul>\n<li><code>a</code></li>\n<li><a href=\"#b\"><code>b</code></a></li>\n</ul>");
    // A block placeholder alone on its line stands outside any paragraph.
    EXPECT_EQ(page("Run:\n```sh\nmake\n```\nthen"),
              "<p>Run:</p>\n<pre><code class=\"language-sh\">make</code></pre>\n<p>then</p>");
    EXPECT_EQ(page("$$x$$"), "$$x$$");
    EXPECT_EQ(page("- item\n\n  ```\n  a\n```"), "<ul>\n<li>\n<p>item</p>\n<pre><code>  a</code></pre>\n</li>\n</ul>");
    // Code in a heading: left out of the id, kept in the table of contents.
    EXPECT_EQ(page("[TOC]\n\n# Run `make`"),
              "<div class=\"toc\">\n<ul>\n<li><a href=\"#run\">Run <code>make</code></a></li>\n</ul>\n</div>\n"
              "<h1 id=\"run\">Run <code>make</code></h1>");
    // Private-use characters of the text itself come through unchanged.
    EXPECT_EQ(page("a \uE000\uE002\uE010 `b`"), "<p>a \uE000\uE002\uE010 <code>b</code></p>");
}

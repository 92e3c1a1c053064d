#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "support/markdown.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;
using ::testing::HasSubstr;

namespace {

// Protect, then restore straight away: what the page gets for the text's code and math.
std::string round_trip(const std::string& md) {
    Protected p = protect_markdown_code_and_math(md);
    return restore_markdown_code_and_math(p.text, p.code_placeholders, p.math_placeholders);
}

// The page body for a Markdown text: protected, rendered, restored, charts made.
std::string page_of(const std::string& md) {
    Protected p = protect_markdown_code_and_math(md);
    std::string html = render_markdown(p.text, p.code_placeholders, p.math_placeholders);
    html = restore_markdown_code_and_math(html, p.code_placeholders, p.math_placeholders);
    return process_wavedrom_charts(process_mermaid_charts(html));
}

}  // namespace

TEST(PresslingProtect, FormulaDelimiters) {
    struct Case { std::string md, restored; };
    for (const auto& c : std::vector<Case>{
             {"costs $5 and $10", "costs $5 and $10"},
             // A dollar sign right before a digit closes nothing: prices are no formulas.
             {"costs $5 and$10", "costs $5 and$10"},
             {"$500k–$5M", "$500k–$5M"},
             {"from $5 to $10 and $x$, $y$1 or $z$", "from $5 to $10 and \\(x\\), $y$1 or \\(z\\)"},
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
             {"$$\na\nb\n$$", "$$a\nb$$"},
             // A "$$" inside a sentence pairs only within its paragraph: without a partner
             // there it stays text and does not pair with a "$$" further down.
             {"a $$ b\n\nc $$d$$", "a $$ b\n\nc $$d$$"},
             {"$$ a\n \t\nb $$ c", "$$ a\n \t\nb $$ c"},
             // One that opens a line pairs across blank lines with one that closes a line.
             {"$$ a\n \t\nb $$", "$$a\n \t\nb$$"},
             // "\$" is a dollar sign, no delimiter; "\\" before one escapes nothing.
             {"Let $S$ be the start symbol, and $\\$$ denotes EOF.",
              "Let \\(S\\) be the start symbol, and \\(\\$\\) denotes EOF."},
             {"costs \\$5 and \\$10", "costs \\$5 and \\$10"},
             {"$$ a\\$$ b $$ and $$ c\\\\$$ d $$", "$$a\\$$ b$$ and $$c\\\\$$ d $$"},
             {"$\n\\begin{a}x\n\n\\end{a}\n$", "$\n\\begin{a}x\n\n\\end{a}\n$"},
             // The page's other delimiters: "\(" "\)" inline, "\[" "\]" display.
             {"Let \\(G_n\\) be \\(a<b\\).", "Let \\(G_n\\) be \\(a&lt;b\\)."},
             {"\\[\n x^2 \n\\] and \\[y\\]", "$$x^2$$ and $$y$$"},
             {"`\\(x\\)` and \\(\\$\\)", "<code>\\(x\\)</code> and \\(\\$\\)"},
             // An escaped backslash before the parenthesis opens nothing.
             {"\\\\(x\\\\)", "\\\\(x\\\\)"},
             {"\\(a\n\nb\\)", "\\(a\n\nb\\)"},
             {"$\n\\begin{a}x\\end{a}\n\n$", "$\n\\begin{a}x\\end{a}\n\n$"},
         })
        EXPECT_EQ(round_trip(c.md), c.restored) << c.md;
}

// A "$$" that opens a line pairs with the next one that closes a line, across blank lines,
// unless a heading, a table row, a fence or a list marker stands between them; a "$$"
// inside a sentence pairs only within its paragraph, so one quoted in prose takes nothing
// along.
TEST(PresslingRender, DisplayFormulasAcrossBlankLines) {
    struct Case { std::string md; std::vector<std::string> parts; };
    for (const auto& c : std::vector<Case>{
             {"$$\na = 1 \\\\\n\nb = 2 \\, c\n$$\nand $$x$$ here and $$y$$ end.",
              {"<p>$$a = 1 \\\\\n\nb = 2 \\, c$$<br />\nand $$x$$ here and $$y$$ end.</p>"}},
             {"$$\nE = mc^2\n\n$$", {"$$E = mc^2$$"}},
             {"Type '$$' to start a formula.\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n# Next\n\n"
              "Then $$x_1 + y_1$$ and $a*b*c$.",
              {"<p>Type '$$' to start a formula.</p>", "<td>1</td>", "<h1 id=\"next\">Next</h1>",
               "<p>Then $$x_1 + y_1$$ and \\(a*b*c\\).</p>"}},
             {"$$\na\n\n# H\n\n$$", {"<h1 id=\"h\">H</h1>\n<p>$$</p>"}},
             {"$$\na\n\n| t | u |\n|---|---|\n\n$$", {"<th>t</th>", "</table>\n<p>$$</p>"}},
             {"$$\na\n\n```\nb\n```\n\n$$", {"<pre><code>b</code></pre>\n<p>$$</p>"}},
             {"$$\na\n\n- b\n\n$$", {"<li>b</li>", "</ul>\n<p>$$</p>"}},
             {"$$\na\n\n10) b\n\n$$", {"<li>b</li>", "</ol>\n<p>$$</p>"}},
         })
        for (const auto& part : c.parts) EXPECT_THAT(page_of(c.md), HasSubstr(part)) << c.md;
}

// Shapes that make a backtracking search give up: protection holds for the whole text,
// without a warning.
TEST(PresslingProtect, HostileShapesKeepProtection) {
    std::string many_begins;
    for (int i = 0; i < 3000; ++i) many_begins += "$\n\\begin{x}";
    std::string many_displays, many_runs;
    for (int i = 0; i < 3000; ++i) many_displays += "\\[ a\n\n\\( b\n\n";
    many_displays += "# h\n\\]\n";
    for (int i = 1; i < 400; ++i) many_runs += std::string(static_cast<size_t>(i), '`') + "a";
    for (const std::string& hostile : {"$$" + std::string(5000, ' ') + "\n", many_begins + "\n\n",
                                       std::string(20000, '$') + "\n\n", "`" + std::string(100000, 'a') + "\n\n",
                                       many_displays + "\\)\n\n", many_runs + "\n\n"}) {
        brenkit::app_logging::Capture capture;
        std::string page = page_of(hostile + "$a*b*c$ and `x_y_z`");
        EXPECT_NE(page.find("\\(a*b*c\\) and <code>x_y_z</code>"), std::string::npos) << hostile.substr(0, 40);
        EXPECT_TRUE(capture.messages().empty() || capture.messages()[0].starts_with("✅")) << capture.messages()[0];
    }
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
             {"```js title\nx\n```", "<pre><code class=\"language-js\">x</code></pre>"},  // the first word is the language
             // A run of backquotes closes at the next run of as many; one blank inside
             // each end goes, as the renderer drops it.
             {"``x``", "<code>x</code>"},
             {"``a `b` c``", "<code>a `b` c</code>"},
             {"`` `a` ``", "<code>`a`</code>"},
             {"```x``` and ```y```", "<code>x</code> and <code>y</code>"},
             {"`a``b`", "<code>a``b</code>"},
             {"``a`b", "``a`b"},
             {"\\`a\\` `b`", "\\`a\\` <code>b</code>"},
             {"`a\\`b`", "<code>a\\</code>b`"},
             // A span goes on over the lines of its paragraph, never into a table's next row.
             {"`a\n  b` and ``c\r\nd``", "<code>a b</code> and <code>c d</code>"},
             {"`a\n\nb`", "`a\n\nb`"},
             {"# `a\nb`", "# `a\nb`"},
             {"| `a |\n| b` |", "| `a |\n| b` |"},
             {"`a\n- b`", "`a\n- b`"},
             {"`say \"hi\" 'there'`", "<code>say \"hi\" 'there'</code>"},
         })
        EXPECT_EQ(round_trip(c.md), c.restored) << c.md;
}

// Code spans of any run of backquotes stay inside their table cells, so a row stays a row.
TEST(PresslingRender, CodeSpansOfLongerRunsInTables) {
    EXPECT_EQ(page_of("| ```a``` | ``b`c`` |\n|---|---|\n| ```ls -l``` | ```x``` |"),
              "<table>\n<thead>\n<tr>\n<th><code>a</code></th>\n<th><code>b`c</code></th>\n</tr>\n</thead>\n"
              "<tbody>\n<tr>\n<td><code>ls -l</code></td>\n<td><code>x</code></td>\n</tr>\n</tbody>\n</table>");
}

// A formula over several lines of a quote or a list item loses the container's markers
// and indentation on each line, as the container's other text does.
TEST(PresslingRender, FormulaInAContainerLosesItsMarkers) {
    struct Case { std::string md, html; };
    for (const auto& c : std::vector<Case>{
             {"> $$\n> a^2 + b^2\n> $$", "<blockquote>\n$$a^2 + b^2$$\n</blockquote>"},
             {"> > $$\n> > a \\\\\n>> b\n> > $$", "<blockquote>\n<blockquote>\n$$a \\\\\nb$$\n</blockquote>\n</blockquote>"},
             {"> \\[\n> x\n> \\]\n\nafter", "<blockquote>\n$$x$$\n</blockquote>\n<p>after</p>"},
             {"- $$\n  a\n  b\n  $$", "<ul>\n<li>\n$$a\nb$$\n</li>\n</ul>"},
             {"> - $$\n>   a\n>   $$", "<blockquote>\n<ul>\n<li>\n$$a$$\n</li>\n</ul>\n</blockquote>"},
             {"> see $$a +\n> b$$ here", "<blockquote>\n<p>see $$a +\nb$$ here</p>\n</blockquote>"},
             // Outside any container the lines stay as written.
             {"$$\na\n  b\n$$", "$$a\n  b$$"},
         })
        EXPECT_EQ(page_of(c.md), c.html) << c.md;
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
    std::vector<MathPlaceholder> math{{"<!--MATH_PLACEHOLDER_0-->", "m", true},
                                      {"<!--MATH_PLACEHOLDER_1-->", "<!--CODE_PLACEHOLDER_0--><!--MATH_PLACEHOLDER_9-->"}};
    EXPECT_EQ(restore_markdown_code_and_math(
                  "<!--CODE_PLACEHOLDER_0-->|<!--CODE_PLACEHOLDER_0-->|<!--MATH_PLACEHOLDER_0-->|"
                  "<!--CODE_PLACEHOLDER_1-->|<!-- x -->|<!--CODE_PLACEHOLDER_|<!--MATH_PLACEHOLDER_1-->",
                  code, math),
              "<code>c</code>|<code>c</code>|$$m$$|<!--CODE_PLACEHOLDER_1-->|<!-- x -->|<!--CODE_PLACEHOLDER_|"
              "\\(<code>c</code><!--MATH_PLACEHOLDER_9-->\\)");
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
    // The fence of the item ends with the item; the unindented one opens a block of its own.
    EXPECT_EQ(page("- item\n\n  ```\n  a\n```"),
              "<ul>\n<li>\n<p>item</p>\n<pre><code>a</code></pre>\n</li>\n</ul>\n<pre><code></code></pre>");
    // Code in a heading: left out of the id, kept in the table of contents.
    EXPECT_EQ(page("[TOC]\n\n# Run `make`"),
              "<div class=\"toc\">\n<ul>\n<li><a href=\"#run\">Run <code>make</code></a></li>\n</ul>\n</div>\n"
              "<h1 id=\"run\">Run <code>make</code></h1>");
    // Private-use characters of the text itself come through unchanged.
    EXPECT_EQ(page("a \uE000\uE002\uE010 `b`"), "<p>a \uE000\uE002\uE010 <code>b</code></p>");
}

// Fenced code is found where the renderer finds it: any fence character and length, any
// indentation its container allows, any info string; prose around it stays prose.
TEST(PresslingRender, FencesAsTheRendererFindsThem) {
    struct Case { std::string md, html; };
    for (const auto& c : std::vector<Case>{
             // A fence inside a list item, then prose that must not become code.
             {"- one\n\n  ```js\n  let a = `x` * $y$;\n  ```\n- two $z$ and `w`",
              "<ul>\n<li>\n<p>one</p>\n<pre><code class=\"language-js\">let a = `x` * $y$;</code></pre>\n</li>\n"
              "<li>\n<p>two \\(z\\) and <code>w</code></p>\n</li>\n</ul>"},
             // An info string: its first word is the language.
             {"```js title=\"x\"\nconst a = 1 * 2 * 3;\n```\nafter *em*",
              "<pre><code class=\"language-js\">const a = 1 * 2 * 3;</code></pre>\n<p>after <em>em</em></p>"},
             {"```{note}\nSome $x$ text\n```", "<pre><code class=\"language-{note}\">Some $x$ text</code></pre>"},
             {"``` \"q\" <b>\nx\n```", "<pre><code class=\"language-&quot;q&quot;\">x</code></pre>"},
             // A longer fence holds a shorter one.
             {"````md\n```py\nx = 1\n```\n````\n\n`y`",
              "<pre><code class=\"language-md\">```py\nx = 1\n```</code></pre>\n<p><code>y</code></p>"},
             {"~~~\na_b_c $d$\n```\n~~~\n*e*", "<pre><code>a_b_c $d$\n```</code></pre>\n<p><em>e</em></p>"},
             // Unclosed: the code runs to the end of its container.
             {"> ```\n> a `b`\n\nafter $c$", "<blockquote>\n<pre><code>a `b`</code></pre>\n</blockquote>\n<p>after \\(c\\)</p>"},
             {"   ```\n   x\n  y\n   ```", "<pre><code>x\ny</code></pre>"},
             // A diagram after an indented fence is still found.
             {"- x\n\n  ```sh\n  ls\n  ```\n\n```mermaid\ngraph TD;A-->B\n```",
              "<ul>\n<li>\n<p>x</p>\n<pre><code class=\"language-sh\">ls</code></pre>\n</li>\n</ul>\n"
              "<div class=\"mermaid\">graph TD;A-->B</div>"},
         })
        EXPECT_EQ(page_of(c.md), c.html) << c.md;
}

// A display formula takes the place its text had: inside the paragraph it begins or goes on
// (a list item's too, so the list stays whole), a block of its own only where its text is
// a paragraph of its own.
TEST(PresslingRender, DisplayFormulaTakesThePlaceOfItsText) {
    struct Case { std::string md, html; };
    const std::string inside = "<p>a<br />\n$$x$$<br />\nb</p>";
    for (const auto& c : std::vector<Case>{
             {"a\n   $$x$$\nb", inside},
             {"a\n    $$x$$\nb", inside},
             {"a\n\t$$x$$\nb", inside},
             {"a\n$$x$$ \t\r\nb", inside},
             {"a $$x$$\nb", "<p>a $$x$$<br />\nb</p>"},
             {"a\n$$x$$ b", "<p>a<br />\n$$x$$ b</p>"},
             {"a\n$$x$$ $$y$$\nb", "<p>a<br />\n$$x$$ $$y$$<br />\nb</p>"},
             {"$$x$$\nmore", "<p>$$x$$<br />\nmore</p>"},
             {"$$x$$", "$$x$$"},
             {"a\n\n   $$x$$\n\nb", "<p>a</p>\n$$x$$\n<p>b</p>"},
             {"$$x$$\n$$\ny\n$$", "$$x$$\n$$y$$"},
             {"1. first item\n$$x=1$$\nstill item one\n2. second item",
              "<ol>\n<li>first item<br />\n$$x=1$$<br />\nstill item one</li>\n<li>second item</li>\n</ol>"},
             {"1. a\n$$\nx\n$$\n2. b", "<ol>\n<li>a<br />\n$$x$$</li>\n<li>b</li>\n</ol>"},
             {"- a\n$\n\\begin{x}y\\end{x}\n$\n- b",
              "<ul>\n<li>a<br />\n$$\\begin{x}y\\end{x}$$</li>\n<li>b</li>\n</ul>"},
             // An indented line after it goes on with the item, not as code.
             {"- a\n$$x$$\n    b", "<ul>\n<li>a<br />\n$$x$$<br />\nb</li>\n</ul>"},
             {"- a\n\n  $$x$$\n- b", "<ul>\n<li>\n<p>a</p>\n$$x$$\n</li>\n<li>\n<p>b</p>\n</li>\n</ul>"},
             {"- $$x$$", "<ul>\n<li>\n$$x$$\n</li>\n</ul>"},
         })
        EXPECT_EQ(page_of(c.md), c.html) << c.md;
}

// Formulas do not nest: one found inside another comes back as it was written, and no
// placeholder ever shows on the page.
TEST(PresslingRender, FormulaInsideAFormulaComesBackAsWritten) {
    struct Case { std::string md, html; };
    for (const auto& c : std::vector<Case>{
             {"Let $S$ be the start symbol, and $\\$$ denotes EOF. Then $$x$$.",
              "<p>Let \\(S\\) be the start symbol, and \\(\\$\\) denotes EOF. Then $$x$$.</p>"},
             {"$a $$x<y$$ b$ and $`c`$", "<p>\\(a $$x&lt;y$$ b\\) and \\(<code>c</code>\\)</p>"},
         })
        EXPECT_EQ(page_of(c.md), c.html) << c.md;
}

TEST(PresslingRender, IndentedCodeIsCode) {
    EXPECT_EQ(page_of("text\n\n    run `make` with $CC$ set\n    <b>&\"\n\nafter $x$"),
              "<p>text</p>\n<pre><code>run `make` with $CC$ set\n&lt;b&gt;&amp;&quot;\n</code></pre>\n<p>after \\(x\\)</p>");
    EXPECT_EQ(page_of("- item\n\n      $a$ `b`\n- next"),
              "<ul>\n<li>\n<p>item</p>\n<pre><code>$a$ `b`\n</code></pre>\n</li>\n<li>\n<p>next</p>\n</li>\n</ul>");
}

// Inside a link destination, an autolink or a reference definition the text stays as written.
TEST(PresslingRender, LinksKeepTheirTextAsWritten) {
    for (const std::string md : {
             "[q](https://api/x?$filter=a&$top=10)",
             "[q](https://api/x?$filter=a&$top=10 \"cost $5 and$ `t`\")",
             "![i](img/$a$b.png)",
             "<https://x.org/$a$b/`c`>",
             "[r] and [s]\n\n[r]: https://x?$a=1&$b=2\n[s]: <http://y/`k`> '$t$'",
             "[a](http://x/`b`/c)",
             // Escapes work in a destination and a title, not in an autolink.
             "[w](https://en.wikipedia.org/wiki/V8_\\(JavaScript_engine\\))",
             "[q](http://x/$a\\_b$ \"\\(t\\) \\[u\\]\")",
             "<https://x.org/\\(a\\)/$b\\_c$>",
         }) {
        EXPECT_EQ(page_of(md), vemtora::pressling::markdown_to_html(md)) << md;
    }
}

TEST(PresslingRender, MarkdownAttributeForms) {
    const std::string expected = page_of("<div markdown=\"1\">\n*a* $x$\n</div>");
    EXPECT_EQ(expected, "<div>\n<p><em>a</em> \\(x\\)</p>\n</div>");
    for (const std::string attr : {"markdown=\"block\"", "markdown='span'", "markdown", "markdown=block"})
        EXPECT_EQ(page_of("<div " + attr + ">\n*a* $x$\n</div>"), expected) << attr;
    EXPECT_EQ(page_of("a <span markdown=\"span\">*b*</span>"), "<p>a <span><em>b</em></span></p>");
    // Only the attribute itself goes: a value that mentions the word stays.
    EXPECT_EQ(page_of("<div title=\"no markdown here\" markdown>\n*a*\n</div>"),
              "<div title=\"no markdown here\">\n<p><em>a</em></p>\n</div>");
}

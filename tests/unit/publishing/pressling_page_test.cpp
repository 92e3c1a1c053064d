#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;

namespace {
size_t count(const std::string& s, const std::string& part) {
    size_t n = 0;
    for (size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
    return n;
}
}  // namespace

TEST(PresslingPage, SlotsAreFilledOnceAndLiterally) {
    brenkit::app_logging::Capture capture;
    std::string page = generate_final_html("{content} & <b>", "<p>{title} {watermark_css}</p>");
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"✅ 生成最終 HTML 頁面：{content} & <b>"});
    EXPECT_NE(page.find("    <title>{content} &amp; &lt;b&gt;</title>\n"), std::string::npos);
    EXPECT_NE(page.find("    <article>\n        <p>{title} {watermark_css}</p>\n    </article>\n</body>\n</html>"),
              std::string::npos);
    EXPECT_TRUE(page.ends_with("</html>"));
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>\n<html>\n<head>\n    <meta charset=\"UTF-8\">\n"));
    // No watermark: the slot's line keeps only its indentation.
    EXPECT_NE(page.find("            background-color: #ffffff;\n        }\n        \n        code:not(pre > code) {"),
              std::string::npos);
    EXPECT_EQ(page.find("Watermark"), std::string::npos);
    for (const char* cdn : {"npm/mermaid@10.9.1/dist/mermaid.esm.min.mjs", "npm/mathjax@3/es5/tex-mml-chtml.js",
                            "npm/wavedrom@3.5.0/skins/default.js", "npm/wavedrom@3.5.0/skins/narrow.js",
                            "npm/wavedrom@3.5.0/wavedrom.min.js"})
        EXPECT_EQ(count(page, cdn), 1u) << cdn;
    // Formulas come back between \( and \), so a dollar in prose is never a delimiter.
    EXPECT_NE(page.find("inlineMath: [['\\\\(', '\\\\)']],"), std::string::npos);
    EXPECT_EQ(page.find("['$', '$']"), std::string::npos);

    // The scripts of the head, in order; the two plain inline scripts carry no type.
    std::vector<std::string> scripts;
    for (size_t p = page.find("<script"); p != std::string::npos; p = page.find("<script", p + 1))
        scripts.push_back(page.substr(p, page.find('>', p) + 1 - p));
    const std::string cdn = "https://cdn.jsdelivr.net/npm/";
    EXPECT_EQ(scripts, (std::vector<std::string>{
                           "<script type=\"module\">", "<script>",
                           "<script id=\"MathJax-script\" async src=\"" + cdn + "mathjax@3/es5/tex-mml-chtml.js\">",
                           "<script type=\"text/javascript\" src=\"" + cdn + "wavedrom@3.5.0/skins/default.js\">",
                           "<script type=\"text/javascript\" src=\"" + cdn + "wavedrom@3.5.0/skins/narrow.js\">",
                           "<script type=\"text/javascript\" src=\"" + cdn + "wavedrom@3.5.0/wavedrom.min.js\">",
                           "<script>"}));
}

TEST(PresslingPage, WatermarkRule) {
    std::string page = generate_final_html("t", "b", "CONFIDENTIAL");
    EXPECT_EQ(count(page, "CONFIDENTIAL"), 1u);
    EXPECT_NE(page.find("        \n            /* 💡 Watermark Layer */\n            body::after {\n"
                        "                content: \"\";\n                position: fixed;\n"),
              std::string::npos);
    EXPECT_NE(page.find("transform='rotate(-30, 150, 100)'>CONFIDENTIAL</text></svg>\");\n"
                        "                background-repeat: repeat;\n                pointer-events: none;\n"
                        "                z-index: 1000;\n            }\n        code:not"),
              std::string::npos);
    EXPECT_EQ(watermark_css(""), "");
}

TEST(PresslingPage, WatermarkTextStaysInsideItsPlaces) {
    std::string css = watermark_css("A\"B'C#D%E<F>&G\\H\n</style>");
    size_t open = css.find("url(\"");
    size_t close = css.find("\");", open);
    ASSERT_NE(close, std::string::npos);
    std::string url = css.substr(open + 5, close - open - 5);
    // Nothing inside the CSS string ends it, starts a URL fragment or leaves the SVG text.
    EXPECT_EQ(url.find_first_of("\"#\\\n"), std::string::npos) << url;
    EXPECT_NE(url.find(">A&quot;B&%23x27;C%23D%25E&lt;F&gt;&amp;G%5CH%0A&lt;/style&gt;</text>"), std::string::npos)
        << url;
}

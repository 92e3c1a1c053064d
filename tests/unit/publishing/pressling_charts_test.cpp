#include <gtest/gtest.h>

#include <map>
#include <sys/stat.h>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "support/html_entities.hpp"
#include "support/markdown.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;

TEST(PresslingCharts, MermaidAndWavedromBlocksBecomeDiagramElements) {
    brenkit::app_logging::Capture capture;
    EXPECT_EQ(process_mermaid_charts("<pre><code class=\"language-mermaid\">A --&gt; B &amp;&#x41;</code></pre>"),
              "<div class=\"mermaid\">A --> B &amp;A</div>");
    EXPECT_EQ(process_mermaid_charts("<pre><code class=\"language-Mermaid\">x</code></pre>"),
              "<pre><code class=\"language-Mermaid\">x</code></pre>");
    brenkit::app_logging::setup_logging("Vemtora", true);
    std::string content = "{signal: [{name: 'clk'}]} xy  ";  // 30 characters
    ASSERT_EQ(content.size(), 30u);
    EXPECT_EQ(process_wavedrom_charts("a<pre><code class=\"language-wavedrom\">" + content + "</code></pre>b"),
              "a<script type=\"WaveDrom\">" + content + "</script>b");
    brenkit::app_logging::setup_logging("Vemtora", false);
    EXPECT_EQ(capture.messages(), (std::vector<std::string>{"✅ 發現 1 個 Mermaid 區塊進行轉換。",
                                                            "✅ 發現 1 個 WaveDrom 區塊進行轉換。",
                                                            "🔍 正在處理 WaveDrom 內容 (前 100 字): " + content + "..."}));
}

// The diagram's text reaches its script as written: the browser's text of the Mermaid
// element is the block's source, and nothing in a WaveDrom source ends its script element.
TEST(PresslingCharts, DiagramSourcesReachTheirScriptsAsWritten) {
    struct Case { std::string code, html; };
    auto block = [](std::string_view language, std::string_view code) {
        return "<pre><code class=\"language-" + std::string(language) + "\">" + support::html_escape(code) + "</code></pre>";
    };
    for (const auto& c : std::vector<Case>{
             {"classDiagram\nclass Shape{\n<<interface>>\n}\nA --> B : a & b <br> c",
              "<div class=\"mermaid\">classDiagram\nclass Shape{\n&lt;&lt;interface>>\n}\nA --> B : a &amp; b &lt;br> c</div>"},
             {"graph TD;A[\"&lt;\"]-->B", "<div class=\"mermaid\">graph TD;A[\"&amp;lt;\"]-->B</div>"},
         })
        EXPECT_EQ(process_mermaid_charts(block("mermaid", c.code)), c.html) << c.code;
    for (const auto& c : std::vector<Case>{
             {"{signal: [{name: '</script><b>&amp;'}, {name: '</SCRIPT '}]}",
              "<script type=\"WaveDrom\">{signal: [{name: '<\\/script><b>&amp;'}, {name: '<\\/SCRIPT '}]}</script>"},
             {"{name: '<!--<script>'}", "<script type=\"WaveDrom\">{name: '<\\!--<script>'}</script>"},
         })
        EXPECT_EQ(process_wavedrom_charts(block("wavedrom", c.code)), c.html) << c.code;
}

TEST(PresslingImages, PercentDecodingAndMimeTypes) {
    EXPECT_EQ(percent_decode("my%20pic.png"), "my pic.png");
    EXPECT_EQ(percent_decode("%E5%9C%96+%zz%4"), "圖+%zz%4");
    EXPECT_EQ(percent_decode("a%FFb"), "a\uFFFDb");
    EXPECT_EQ(percent_decode("&amp;"), "&amp;");
    EXPECT_EQ(image_mime_type("a.PNG"), "image/png");
    EXPECT_EQ(image_mime_type("a.JPG"), "image/jpeg");
    EXPECT_EQ(image_mime_type("a.jpeg"), "image/jpeg");
    EXPECT_EQ(image_mime_type("a.gif"), "image/gif");
    EXPECT_EQ(image_mime_type("a.svg"), "image/svg+xml");
    EXPECT_EQ(image_mime_type("a.webp"), "image/png");
    EXPECT_EQ(image_mime_type(".jpg"), "image/png");  // a leading dot starts no extension
}

// A picture that many pages show is read and encoded once a run; one that cannot be given
// is asked for again, so that each page says why, and no more than the bound is kept.
TEST(PresslingImages, EachImageIsEncodedOncePerRun) {
    std::map<std::string, int> calls;
    ImageUrls urls(
        [&calls](const fs::path& p) -> std::optional<std::string> {
            ++calls[p.string()];
            if (p == "bad.png") return std::nullopt;
            return "data:" + p.string();
        },
        12);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(urls("a.png"), "data:a.png");
        EXPECT_EQ(urls("bad.png"), std::nullopt);
        EXPECT_EQ(urls("b.png"), "data:b.png");  // beyond the bound: not kept
    }
    EXPECT_EQ(calls, (std::map<std::string, int>{{"a.png", 1}, {"b.png", 3}, {"bad.png", 3}}));
}

TEST(PresslingImages, EncoderReadsRegularFilesOnly) {
    th::TempDir dir;
    th::write_file(dir / "a.gif", "GIF89a");
    EXPECT_EQ(PresslingConverter::_encode_image_base64(dir / "a.gif"), "data:image/gif;base64,R0lGODlh");

    brenkit::app_logging::Capture capture;
    EXPECT_EQ(PresslingConverter::_encode_image_base64(dir / "missing.png"), std::nullopt);
    EXPECT_TRUE(capture.messages().empty());
    fs::create_directory(dir / "folder.png");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const char* name : {"folder.png", "pipe.png"}) {  // a FIFO must not block the run
        capture.clear();
        EXPECT_EQ(PresslingConverter::_encode_image_base64(dir / name), std::nullopt);
        ASSERT_EQ(capture.messages().size(), 1u);
        EXPECT_EQ(capture.messages()[0].rfind("⚠️ 無法將圖片 " + (dir / name).string() + " 編碼為 Base64: ", 0), 0u);
    }
}

// A page must never carry a copy of a file that is not a picture (a key file, the
// process environment): the content decides, whatever the name says.
TEST(PresslingImages, EncoderInlinesOnlyImagesByTheirContent) {
    th::TempDir dir;
    using namespace std::string_literals;
    const std::string bmp = "BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0"s + std::string(40, '\0');
    struct Case {
        std::string name;
        std::string bytes;
        std::string mime;  // empty: refused
    };
    const std::vector<Case> cases = {
        {"a.png", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, "image/png"},
        {"a.jpg", "\xff\xd8\xff\xe0\0\x10JFIF\0"s, "image/jpeg"},
        {"a.gif", "GIF87a\x01\0", "image/gif"},
        {"a.webp", "RIFF\x1a\0\0\0WEBPVP8 "s, "image/png"},  // the name's table decides the type
        {"a.bmp", bmp, "image/png"},
        {"a.ico", "\0\0\x01\0\x01\0\x10\x10"s, "image/png"},
        {"a.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "image/svg+xml"},
        {"b.svg",
         "\xef\xbb\xbf<?xml version=\"1.0\"?>\n<!-- drawn by hand -->\n"
         "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"svg11.dtd\" [<!ENTITY e \"x\">]>\n<svg\n width=\"1\">",
         "image/svg+xml"},
        // AVIF and HEIC/HEIF: an ISO-BMFF file type box with an image brand, first or
        // among the compatible ones; TIFF in both byte orders.
        {"a.avif", "\0\0\0\x1c" "ftypavif\0\0\0\0avifmif1miaf"s, "image/png"},
        {"a.heic", "\0\0\0\x18" "ftypheic\0\0\0\0mif1heic"s, "image/png"},
        {"b.heif", "\0\0\0\x10" "ftypmif1\0\0\0\0"s, "image/png"},
        {"c.heif", "\0\0\0\x18" "ftypmp41\0\0\0\0isommsf1"s, "image/png"},
        {"a.tif", "II*\0\x08\0\0\0"s, "image/png"},
        {"b.tiff", "MM\0*\0\0\0\x08"s, "image/png"},
        {"png-named.jpg", "\x89PNG\r\n\x1a\n"s, "image/jpeg"},
        {"movie.avif", "\0\0\0\x18" "ftypisom\0\0\0\0isomiso2"s, ""},
        {"brand-outside.avif", "\0\0\0\x10" "ftypisom\0\0\0\0avif"s, ""},
        {"text.tif", "II*x"s, ""},
        {"secret.txt", "API_KEY=sk-live-123\n", ""},
        {"text.png", "png", ""},
        {"empty.png", "", ""},
        {"page.svg", "<html><svg></svg></html>", ""},
        {"svgfont.svg", "<svgfont/>", ""},
        {"car.bmp", "BMW drives on the left of the table of cars\n", ""},
        {"sound.webp", "RIFF\x1a\0\0\0WAVEfmt "s, ""},
        {"short.png", "\x89PNG"s, ""},
    };
    for (const auto& c : cases) th::write_file(dir / c.name, c.bytes);
    // A picture beyond the size limit is refused by its size, before anything is read.
    th::write_file(dir / "huge.png", "\x89PNG\r\n\x1a\n"s);
    fs::resize_file(dir / "huge.png", std::uintmax_t{1} << 30);

    brenkit::app_logging::Capture capture;
    auto refused = [&capture](const fs::path& path) {
        capture.clear();
        EXPECT_EQ(PresslingConverter::_encode_image_base64(path), std::nullopt) << path;
        ASSERT_EQ(capture.messages().size(), 1u) << path;
        EXPECT_EQ(capture.messages()[0].rfind("⚠️ 無法將圖片 " + path.string() + " 編碼為 Base64: ", 0), 0u)
            << capture.messages()[0];
    };
    for (const auto& c : cases) {
        if (c.mime.empty()) {
            refused(dir / c.name);
            continue;
        }
        auto data = PresslingConverter::_encode_image_base64(dir / c.name);
        ASSERT_TRUE(data) << c.name;
        EXPECT_EQ(data->rfind("data:" + c.mime + ";base64,", 0), 0u) << c.name << ": " << *data;
    }
    refused(dir / "huge.png");
    refused("/proc/self/environ");
}

TEST(PresslingImages, LocalImagesAreInlined) {
    th::TempDir dir;
    th::CurrentDir working_copy(dir.path());
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8);
    th::write_file(dir / "docs/images/my pic.png", png);
    th::write_file(dir / "docs/HTTP:/x.png", png);
    th::write_file(dir / "docs/a.png", png);
    fs::create_directory(dir / "docs/folder.png");
    const fs::path md = dir / "docs/notes.md";
    std::vector<fs::path> asked;
    auto encoder = [&asked](const fs::path& p) {
        asked.push_back(p);
        return PresslingConverter::_encode_image_base64(p);
    };
    const std::string data = "data:image/png;base64,iVBORw0KGgo=";

    brenkit::app_logging::Capture capture;
    std::string html = embed_images_in_html(
        "<img alt=\"x\" src=\"images/my%20pic.png\" />"
        "<img alt=\"a.png\" src=\"a.png\" />"
        "<img alt=\"a picture of a.png\" title=\"a.png\" src=\"a.png\" />"
        "<img src=\"HTTP://x.png\">"
        "<img src=\"https://h/x.png\"><img src=\"data:image/png;base64,AA\"><img src='a.png'>"
        "<img alt=\"d\" src=\"folder.png\" /><img src=\"gone.png\">",
        md, encoder);
    EXPECT_EQ(html, "<img alt=\"x\" src=\"" + data + "\" />"
                    "<img alt=\"" + data + "\" src=\"" + data + "\" />"
                    "<img alt=\"a picture of a.png\" title=\"" + data + "\" src=\"" + data + "\" />"
                    "<img src=\"" + data + "\">"
                    "<img src=\"https://h/x.png\"><img src=\"data:image/png;base64,AA\"><img src='a.png'>"
                    "<img alt=\"d\" src=\"folder.png\" /><img src=\"gone.png\">");
    EXPECT_EQ(asked.front(), dir / "docs/images/my pic.png");
    EXPECT_EQ(capture.messages().front(), "✅ 發現 6 張本地圖片進行 Base64 嵌入。");
    auto folder = (dir / "docs/folder.png").string();
    auto gone = (dir / "docs/gone.png").string();
    auto messages = capture.messages();
    ASSERT_GE(messages.size(), 4u);
    std::vector<std::string> tail(messages.end() - 3, messages.end());
    EXPECT_EQ(tail[0].rfind("⚠️ 無法將圖片 " + folder + " 編碼為 Base64: ", 0), 0u);
    EXPECT_EQ(tail[1], "⚠️ 轉換過程中找不到圖片: " + folder);
    EXPECT_EQ(tail[2], "⚠️ 轉換過程中找不到圖片: " + gone);
}

// Notion writes "&" in link paths as it is; the renderer escapes it, and the file is
// still found.
TEST(PresslingImages, AmpersandsInPathsAreFound) {
    th::TempDir dir;
    th::CurrentDir working_copy(dir.path());
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8);
    th::write_file(dir / "Tasks & Sprints 1a2b/Untitled.png", png);
    th::write_file(dir / "Q&A.png", png);
    const std::string data = "data:image/png;base64,iVBORw0KGgo=";
    brenkit::app_logging::Capture capture;
    std::string md = "![x](Tasks%20&%20Sprints%201a2b/Untitled.png) ![q](Q&A.png) ![e](Q&amp;A.png)";
    EXPECT_EQ(embed_images_in_html(vemtora::pressling::markdown_to_html(md), dir / "notes.md",
                                   &PresslingConverter::_encode_image_base64),
              "<p><img alt=\"x\" src=\"" + data + "\" /> <img alt=\"q\" src=\"" + data + "\" /> <img alt=\"e\" src=\"" +
                  data + "\" /></p>");
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"✅ 發現 3 張本地圖片進行 Base64 嵌入。"});
}

TEST(PresslingImages, ReferencesToOtherFilesAreLeftAsTheyWere) {
    th::TempDir dir;
    th::CurrentDir working_copy(dir.path());
    th::write_file(dir / "a/secret.txt", "API_KEY=sk-live-123\n");
    th::write_file(dir / "a/b/docs/secret.txt", "API_KEY=sk-live-123\n");
    const fs::path md = dir / "a/b/docs/notes.md";
    const std::string html =
        "<p><img alt=\"x\" src=\"secret.txt\" /><img alt=\"y\" src=\"../../secret.txt\" />"
        "<img alt=\"z\" src=\"/proc/self/environ\" /></p>";
    brenkit::app_logging::Capture capture;
    EXPECT_EQ(embed_images_in_html(html, md, &PresslingConverter::_encode_image_base64), html);
    // Each file is there: one warning says why it is not inlined, none says it is missing.
    auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], "✅ 發現 3 張本地圖片進行 Base64 嵌入。");
    const fs::path paths[] = {dir / "a/b/docs/secret.txt", dir / "a/b/docs/../../secret.txt"};
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(messages[1 + i], "⚠️ 無法將圖片 " + paths[i].string() +
                                       " 編碼為 Base64: not a PNG, JPEG, GIF, WebP, BMP, ICO, AVIF, HEIC/HEIF, TIFF or SVG image");
    // Outside the working copy nothing is even looked at.
    EXPECT_EQ(messages[3], "⚠️ 未嵌入圖片 /proc/self/environ: /proc/self/environ 位於工作目錄之外，未讀取");
}

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "vemtora/publishing/pressling.hpp"

using namespace vemtora::pressling;

TEST(PresslingCharts, MermaidAndWavedromBlocksBecomeDiagramElements) {
    brenkit::app_logging::Capture capture;
    EXPECT_EQ(process_mermaid_charts("<pre><code class=\"language-mermaid\">A --&gt; B &amp;&#x41;</code></pre>"),
              "<div class=\"mermaid\">A --> B &A</div>");
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

TEST(PresslingImages, EncoderReadsRegularFilesOnly) {
    th::TempDir dir;
    th::write_file(dir / "a.gif", "GIF89a");
    th::write_file(dir / "empty.png", "");
    EXPECT_EQ(PresslingConverter::_encode_image_base64(dir / "a.gif"), "data:image/gif;base64,R0lGODlh");
    EXPECT_EQ(PresslingConverter::_encode_image_base64(dir / "empty.png"), "data:image/png;base64,");

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

TEST(PresslingImages, LocalImagesAreInlined) {
    th::TempDir dir;
    th::write_file(dir / "docs/images/my pic.png", "png");
    th::write_file(dir / "docs/HTTP:/x.png", "png");
    th::write_file(dir / "docs/a.png", "png");
    fs::create_directory(dir / "docs/folder.png");
    const fs::path md = dir / "docs/notes.md";
    std::vector<fs::path> asked;
    auto encoder = [&asked](const fs::path& p) {
        asked.push_back(p);
        return PresslingConverter::_encode_image_base64(p);
    };
    const std::string data = "data:image/png;base64,cG5n";

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

#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "common/harness.hpp"
#include "vemtora/publishing/varnel.hpp"

using namespace vemtora::varnel;
namespace fs = std::filesystem;

TEST(VarnelPage, TemplatesFillOnceWithoutRescanning) {
    EXPECT_EQ(fill_template("a {x} {y} {z} body { color: red }", {{"x", "{y}"}, {"y", "2"}}),
              "a {y} 2 {z} body { color: red }");
}

TEST(VarnelPage, IconRuleInOrder) {
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
        {"Changes", "", "changelog.zip", "📟"},  {"Blog posts", "", "a.pdf", "📟"},
        {"Archive", "", "all.ZIP", "📦"},        {"Intro", "", "README.md", "📜 "},
        {"D", "", "design_flow_chart.html", "🔀"}, {"D", "", "Flowchart.PDF", "🔀"},
        {"Notes", "a catalog", "notes.txt", "📟"}, {"Notes", "", "notes.txt", "📄"},
    };
    for (const auto& [title, description, file, icon] : cases)
        EXPECT_EQ(choose_icon(title, description, file), icon) << file;
}

TEST(VarnelPage, SiteLinksNeedTheWholeFolderName) {
    const std::string base(site_base_url);
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/srv/pelsite/a/Pelsite/b", "c.html", base + "/b/c.html"},
        {"/home/ann/Pelsite/guide", "docs/intro.html", base + "/guide/docs/intro.html"},
        {"/srv/x", "../PELSITE/a.html", base + "/a.html"},
        {"/srv/pelsite2/x", "c.html", "c.html"},
        {"/srv/mypelsite/x", "c.html", "c.html"},
        {"/srv/pelsite", "https://h/pelsite/a.html", "https://h/pelsite/a.html"},
        {"/srv/pelsite", "#", "#"},
        {"/srv/docs", "javascript:alert(1)", "./javascript:alert(1)"},
    };
    for (const auto& [folder, value, link] : cases) EXPECT_EQ(site_link(value, folder), link) << folder << " " << value;
}

// A browser finds a link's scheme after dropping C0 controls and blanks at both ends and
// every tab and line break inside, in any letter case: a link that would be read as a
// script or an inline document this way is made a relative path.
TEST(VarnelPage, LinksCarryNoScheme) {
    const std::vector<std::string> hostile = {
        "javascript:alert(1)", " javascript:alert(1)", "java\tscript:alert(1)", "java\nscript:alert(1)",
        "java\rscript:alert(1)", "\x01javascript:alert(1)", "\x1f\x0b javascript:x", "JavaScript:alert(1)",
        " data:text/html;base64,PHNjcmlwdD4=", "\tDATA:text/html,x", "vbscript:x",
        "j\ta\nv\ra\tscript\t:x", "mailto:me@example.org", "c:x", std::string("\0javascript:x", 13)};
    for (const auto& link : hostile) {
        EXPECT_EQ(safe_href(link), "./" + link) << link;
        EXPECT_EQ(site_link(link, "/srv/docs"), "./" + link) << link;
    }
    const std::vector<std::string> benign = {
        "guide.html", "docs/a:b.html", "./javascript:x", "#", "https://example.org/a", " https://example.org/a",
        "HTTPS://example.org/a", "ht\ttp://example.org/a", "a b.html", "", "1http:x", "-x:y", "%6Aavascript:x",
        "\x7fjavascript:x"};
    for (const auto& link : benign) EXPECT_EQ(safe_href(link), link) << link;
}

TEST(VarnelPage, EveryTextIsEscapedForItsPlace) {
    DocEntry entry{"1", "A & B <i>", "x\"><script>alert(1)</script>.html", "it's \"quoted\""};
    auto card = render_card(entry, "/srv/docs");
    EXPECT_EQ(card.find("<script>"), std::string::npos) << card;
    EXPECT_NE(card.find(R"(<a href="x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;.html" class="card">)"),
              std::string::npos)
        << card;
    EXPECT_NE(card.find(R"(<span class="file-tag">@x&quot;&gt;&lt;script&gt;)"), std::string::npos);
    EXPECT_NE(card.find("<h2>📄 A &amp; B &lt;i&gt;</h2>"), std::string::npos);
    EXPECT_NE(card.find("<p>it&#x27;s &quot;quoted&quot;</p>"), std::string::npos);
}

TEST(VarnelPage, CardDefaultsAndLayout) {
    auto card = render_card(DocEntry{"7", std::nullopt, std::nullopt, std::nullopt}, "/srv/docs");
    EXPECT_EQ(card,
              "            <!-- Document Card -->\n"
              "            <a href=\"#\" class=\"card\">\n"
              "                <span class=\"file-tag\">@#</span>\n"
              "                <div class=\"card-content\">\n"
              "                    <h2>📄 Document 7</h2>\n"
              "                    <p></p>\n"
              "                </div>\n"
              "            </a>\n");
}

TEST(VarnelCommand, BareConfigGetsAnEmptyValue) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"-c"}, {"-c", ""}},
        {{"-c", "--debug"}, {"-c", "", "--debug"}},
        {{"--config", "-"}, {"--config", "", "-"}},
        {{"-c", ""}, {"-c", ""}},
        {{"-c", "a.yaml", "--debug"}, {"-c", "a.yaml", "--debug"}},
        {{"-cfoo", "--config=x"}, {"-cfoo", "--config=x"}},
    };
    for (auto [args, expected] : cases) {
        rewrite_arguments(args);
        EXPECT_EQ(args, expected);
    }
}

TEST(VarnelApp, RunSyncsTheConfigurationInPlace) {
    th::TempDir dir;
    th::write_file(dir / "a-v2.txt", "a");
    th::write_file(dir / "b.txt", "b");
    auto previous = fs::current_path();
    fs::current_path(dir.path());
    auto config = YAML::Load(R"(
document10_title: "Ten"
document10_file: "b.txt"
document01_file: "a-v1.txt"
document3_title: "Gone"
document3_file: "gone.txt"
download_link: "#"
)");
    brenkit::app_logging::Capture capture;
    auto result = VarnelApp(config).run();
    fs::current_path(previous);

    ASSERT_TRUE(result.ok) << result.text;
    std::vector<std::string> keys;
    for (const auto& item : config) keys.push_back(item.first.Scalar());
    EXPECT_EQ(keys, (std::vector<std::string>{"document10_title", "document10_file", "document01_file",
                                              "download_link", "document1_file"}));
    EXPECT_EQ(config["document1_file"].as<std::string>(), "a-v2.txt");
    EXPECT_EQ(config["download_link"].as<std::string>(), "#");
    auto page = th::read_file(dir / "index.html");
    EXPECT_LT(page.find("<h2>📄 Document 1</h2>"), page.find("<h2>📄 Ten</h2>"));
    EXPECT_NE(page.find(R"(<a href="#" class="download-btn" download>)"), std::string::npos);
    EXPECT_EQ(th::zip_listing(dir / "package.zip"), (std::vector<std::string>{"a-v2.txt:deflate", "b.txt:deflate"}));
}

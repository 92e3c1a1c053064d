#include <gtest/gtest.h>

#include <algorithm>

#include "brenkit/app_logging.hpp"
#include "common/harness.hpp"
#include "vemtora/publishing/varnel.hpp"

using namespace vemtora::varnel;
namespace fs = std::filesystem;

TEST(VarnelEntries, MapFollowsKeyOrderAndLastKeyWins) {
    auto config = YAML::Load(R"(
document3_title: "Three"
document1_file: "a.html"
Document2_file: "ignored.html"
document_2_file: "ignored.html"
document01_file: "b.html"
document1_filename: "c.html"
document4_description: [1, 2]
download_link: "#"
)");
    auto docs = extract_docs_and_find_actual_files(config).docs;
    ASSERT_EQ(docs.size(), 4u);
    EXPECT_EQ(docs[0].key, "3");
    EXPECT_EQ(docs[0].title, "Three");
    EXPECT_FALSE(docs[0].file.has_value());
    EXPECT_EQ(docs[1].key, "1");
    EXPECT_EQ(docs[1].file, "c.html");
    EXPECT_EQ(docs[2].key, "4");
    EXPECT_FALSE(docs[2].description.has_value());
    EXPECT_TRUE(docs[3].is_download());
    EXPECT_EQ(docs[3].file, "#");

    auto no_link = extract_docs_and_find_actual_files(YAML::Load(R"({document1_title: "x", download_link: ""})")).docs;
    ASSERT_EQ(no_link.size(), 1u);
    EXPECT_EQ(no_link[0].key, "1");
}

TEST(VarnelScan, SkipsHiddenLinksIndexAndYamlSortedByName) {
    th::TempDir dir;
    for (const char* name : {"b.html", "A.txt", ".env", "index.html", "notes.YML", "config.yaml", "config.yaml.bak",
                             ".yaml", "a.html"})
        th::write_file(dir / name, "x");
    fs::create_directory(dir / "sub");
    th::write_file(dir / "sub" / "inner.html", "x");
    fs::create_symlink(dir / "a.html", dir / "link.html");
    fs::create_symlink("/etc/passwd", dir / "passwd.txt");

    auto found = find_actual_files(dir.path());
    std::vector<std::string> names;
    for (const auto& p : found) names.push_back(fs::path(p).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a.html", "b.html", "config.yaml.bak"}));
}

TEST(VarnelPackage, PacksNewestOfEachFamilyWithDeflate) {
    th::TempDir dir;
    std::vector<std::string> files;
    for (const char* name : {"guide-v1.html", "guide_v2.html", "Package.ZIP", "package-v1.zip", "notes.txt"}) {
        th::write_file(dir / name, std::string(2000, 'x'));
        files.push_back((dir / name).string());
    }
    brenkit::app_logging::Capture capture;
    auto written = zip_latest_version_files(files, "docs/package.zip", (dir / "out").string());
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, (dir / "out" / "package.zip").generic_string());
    EXPECT_EQ(th::zip_listing(*written),
              (std::vector<std::string>{"guide_v2.html:deflate", "package-v1.zip:deflate", "notes.txt:deflate"}));
    EXPECT_NE(capture.text().find("🎉 成功建立壓縮包，共打包 3 個檔案！"), std::string::npos);
}

TEST(VarnelPackage, NothingToPackWritesNothing) {
    th::TempDir dir;
    th::write_file(dir / "PACKAGE.zip", "old");
    brenkit::app_logging::Capture capture;
    EXPECT_FALSE(zip_latest_version_files({(dir / "PACKAGE.zip").string()}, "package.zip", (dir / "new").string()));
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_NE(capture.text().find("⚠️ 沒有任何需要打包的檔案。"), std::string::npos);
}

TEST(VarnelPackage, FailedPackingLeavesNoPartialArchive) {
    th::TempDir dir;
    th::write_file(dir / "a.txt", "a");
    th::write_file(dir / "c.txt", "c");
    const std::vector<std::string> files = {(dir / "a.txt").string(), (dir / "b-vanished.txt").string(),
                                            (dir / "c.txt").string()};
    brenkit::app_logging::Capture capture;
    EXPECT_FALSE(zip_latest_version_files(files, "package.zip", dir.path().string()));
    EXPECT_FALSE(fs::exists(dir / "package.zip"));
    EXPECT_NE(capture.text().find("❌ 打包壓縮檔失敗: "), std::string::npos);

    // An older package stays as it was.
    th::write_file(dir / "package.zip", "previous");
    EXPECT_FALSE(zip_latest_version_files(files, "package.zip", dir.path().string()));
    EXPECT_EQ(th::read_file(dir / "package.zip"), "previous");
    std::vector<std::string> leftovers;
    for (const auto& e : fs::directory_iterator(dir.path())) leftovers.push_back(e.path().filename().string());
    std::sort(leftovers.begin(), leftovers.end());
    EXPECT_EQ(leftovers, (std::vector<std::string>{"a.txt", "c.txt", "package.zip"}));
}

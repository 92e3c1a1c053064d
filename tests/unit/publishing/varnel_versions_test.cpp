#include <gtest/gtest.h>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "vemtora/publishing/varnel.hpp"

using namespace vemtora::varnel;

namespace {

VersionKey key(std::vector<std::string> pieces) { return VersionKey{std::move(pieces)}; }

DocEntry entry(std::string number, std::string file) { return DocEntry{std::move(number), std::nullopt, std::move(file)}; }

std::vector<std::string> files_of(const Docs& docs) {
    std::vector<std::string> out;
    for (const auto& e : docs) out.push_back(e.key + "=" + e.file.value_or("<none>"));
    return out;
}

}  // namespace

TEST(VarnelNames, CleanVersionTable) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Guide-v1.2.html", "guide.html"},      {"guide_V3.html", "guide.html"},
        {"guide.html", "guide.html"},           {"API_v2_final-v3.pdf", "api_final.pdf"},
        {"bundle-v1.tar.gz", "bundle.tar.gz"},  {"notes-v1.2", "notes.2"},
        {"v1.html", "v1.html"},                 {"docs/sub/Guide-v9.HTML", "guide.html"},
        {".bashrc", ".bashrc"},                 {"ÄRGER-v2.TXT", "ärger.txt"},
    };
    for (const auto& [name, clean] : cases) EXPECT_EQ(clean_version(name), clean) << name;
}

TEST(VarnelNames, PathsAreNormalisedBeforeTakenApart) {
    EXPECT_EQ(normalize_path("./guide.md"), "guide.md");
    EXPECT_EQ(normalize_path("docs//./guide.md/"), "docs/guide.md");
    EXPECT_EQ(normalize_path("/srv//doc/a.pdf"), "/srv/doc/a.pdf");
    EXPECT_EQ(normalize_path("docs\\guide-v1.html", true), "docs/guide-v1.html");
    EXPECT_EQ(normalize_path("C:\\work\\a.html", true), "C:/work/a.html");
    EXPECT_EQ(file_name_of("docs\\guide-v1.html", false), "docs\\guide-v1.html");
    EXPECT_EQ(split_extension("README"), (std::pair<std::string, std::string>{"README", ""}));
    EXPECT_EQ(split_extension("a."), (std::pair<std::string, std::string>{"a.", ""}));
}

TEST(VarnelVersions, KeysOrderNumericallyWithPrefixOlder) {
    // Each key is older than the next.
    const std::vector<VersionKey> ascending = {key({"0"}),      key({"0", "0"}), key({"1"}), key({"1", "0"}),
                                               key({"1", "2"}), key({"1", "9"}), key({"1", "10"}), key({"2"})};
    for (size_t i = 0; i + 1 < ascending.size(); ++i) EXPECT_LT(ascending[i], ascending[i + 1]) << i;

    const std::vector<std::pair<std::string, VersionKey>> read = {
        {"guide-v1.10.2.html", key({"1", "10", "2"})},
        {"guide.html", key({"0"})},
        {"guide-v0.html", key({"0"})},
        {"a_V007.pdf", key({"7"})},
        {"x-v1-v2.txt", key({"1"})},             // the first tag decides
        {"notes.txt-v3", key({"3"})},            // the extension is searched too
        {"doc-v\u0661\u0662.html", key({"12"})},  // Arabic-Indic digits by their value
    };
    for (const auto& [name, expected] : read) EXPECT_EQ(get_version_key(name), expected) << name;
}

TEST(VarnelVersions, HugeVersionPiecesCompareByValue) {
    auto big = get_version_key("g-v1.123456789012345678901234567890.html");
    auto bigger = get_version_key("g-v1.123456789012345678901234567891.html");
    auto padded = get_version_key("g-v1.000123456789012345678901234567890.html");
    EXPECT_LT(big, bigger);
    EXPECT_EQ(big, padded);
    EXPECT_GT(get_version_key("g-v99999999999999999999999.html"), get_version_key("g-v9999999999999999999999.html"));
}

TEST(VarnelUpdate, MovesEntriesToNewestAndListsUnlisted) {
    Docs docs = {entry("1", "guide-v1.9.html"), entry("2", "docs\\x/../Notes-v1.txt"), entry("3", "#"),
                 entry("4", "./guide-v2.html"), entry("5", "https://h/x/report-v1.pdf"), entry("6", ""),
                 DocEntry{"7"}, entry("8", "/srv/doc/a-v1.pdf")};
    const std::vector<std::string> actual = {"a-v2.pdf", "guide-v1.10.html", "guide-v1.9.html", "notes_V3.TXT",
                                             "report-v3.pdf", "other.md"};
    brenkit::app_logging::Capture capture;
    auto unlisted = update_docs_to_latest_versions(docs, actual);
    EXPECT_EQ(files_of(docs),
              (std::vector<std::string>{"1=guide-v1.10.html", "2=notes_V3.TXT", "3=#", "4=guide-v1.10.html",
                                        "5=https://h/x/report-v1.pdf", "6=", "7=<none>", "8=a-v2.pdf"}));
    // report-v3.pdf's family is named by the web link, so it is neither matched nor unlisted.
    EXPECT_EQ(unlisted, std::vector<std::string>{"other.md"});
    EXPECT_NE(capture.text().find("✅ 自動匹配檔案：將 ./guide-v2.html 更新為最新版本 guide-v1.10.html"), std::string::npos);
}

TEST(VarnelUpdate, EqualKeysKeepListOrderAndDirectoryIsKept) {
    Docs docs = {entry("1", "guide.html"), entry("2", "docs/guide-v1.html")};
    auto unlisted = update_docs_to_latest_versions(docs, {"Guide_V0.HTML", "guide.html"});
    EXPECT_EQ(files_of(docs), (std::vector<std::string>{"1=Guide_V0.HTML", "2=Guide_V0.HTML"}));
    EXPECT_TRUE(unlisted.empty());
}

TEST(VarnelUpdate, DropsVanishedDocumentsAndMissingPackage) {
    Docs docs = {entry("1", "guide-v1.html"), entry("2", "gone.pdf"), entry("3", "HTTPS://h/x.pdf"),
                 DocEntry{std::string(download_key), std::nullopt, "package.zip"}};
    brenkit::app_logging::Capture capture;
    update_docs_to_latest_versions(docs, {"guide-v2.html"});
    EXPECT_EQ(files_of(docs), std::vector<std::string>{"1=guide-v2.html"});
    EXPECT_NE(capture.text().find("⚠️ 找不到與 gone.pdf 匹配的實體檔案，將其自索引中移除。"), std::string::npos);
    EXPECT_NE(capture.text().find("⚠️ 找不到與 package.zip 匹配的實體檔案，將其自索引中移除。"), std::string::npos);
}

TEST(VarnelUpdate, NothingIsDroppedWhenNoEntryFindsItsFile) {
    // A failed scan, or a run in the wrong folder, must not empty the index.
    for (const std::vector<std::string>& actual : {std::vector<std::string>{}, std::vector<std::string>{"other.txt"}}) {
        Docs docs = {entry("1", "guide-v1.html"), entry("2", "b.pdf"),
                     DocEntry{std::string(download_key), std::nullopt, "package.zip"}};
        auto before = files_of(docs);
        auto unlisted = update_docs_to_latest_versions(docs, actual);
        EXPECT_EQ(files_of(docs), before);
        EXPECT_EQ(unlisted, actual);
    }
}

// The scan sees only the index page's folder; a file that exists in a sub-folder keeps its
// entry, and counts as found, so a vanished entry beside it is still dropped.
TEST(VarnelUpdate, FilesInSubFoldersKeepTheirEntries) {
    th::TempDir dir;
    th::write_file(dir / "guides" / "setup-v1.html", "x");
    th::CurrentDir cwd(dir.path());
    Docs docs{entry("1", "guides/setup-v1.html"), entry("2", "gone.pdf"), entry("3", "guide-v1.html")};
    auto unlisted = update_docs_to_latest_versions(docs, {"guide-v2.html"});
    EXPECT_EQ(files_of(docs), (std::vector<std::string>{"1=guides/setup-v1.html", "3=guide-v2.html"}));
    EXPECT_TRUE(unlisted.empty());
    docs = {entry("1", "guides/setup-v1.html"), entry("2", "gone.pdf")};
    update_docs_to_latest_versions(docs, {});
    EXPECT_EQ(files_of(docs), (std::vector<std::string>{"1=guides/setup-v1.html"}));
}

// A newer file of the same family beside the index page is no newer version of a file
// that exists in a sub-folder: the entry would name a file that is not there.
TEST(VarnelUpdate, EntryInASubFolderIsNotMovedToANameThatIsNotThere) {
    th::TempDir dir;
    th::write_file(dir / "dist" / "package.zip", "x");
    th::write_file(dir / "docs" / "guide-v1.html", "x");
    th::write_file(dir / "docs" / "guide-v2.html", "x");
    th::CurrentDir cwd(dir.path());
    Docs docs{entry("1", "dist/package.zip"), entry("2", "docs/guide-v1.html"), entry("3", "guide-v1.html")};
    update_docs_to_latest_versions(docs, {"package-v2.zip", "guide-v2.html"});
    EXPECT_EQ(files_of(docs), (std::vector<std::string>{"1=dist/package.zip", "2=docs/guide-v2.html",
                                                        "3=guide-v2.html"}));
}

// An entry with a folder part is moved within its folder only where the newer file is
// there; otherwise it links to the file that was matched beside the index page, or keeps
// naming its own file where that exists. It never links to a path that is not there.
TEST(VarnelUpdate, EntryInAFolderLinksToAFileThatIsThere) {
    struct Case {
        std::string entry;
        std::vector<std::string> on_disk;  // besides the scanned x-v2.html
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"docs/x-v1.html", {}, "x-v2.html"},
        {"docs/x-v2.html", {}, "x-v2.html"},
        {"./docs/../docs/x-v1.html", {}, "x-v2.html"},
        {"docs/x-v1.html", {"docs/x-v1.html"}, "docs/x-v1.html"},
        {"docs/x-v1.html", {"docs/x-v1.html", "docs/x-v2.html"}, "docs/x-v2.html"},
        {"docs/x-v1.html", {"docs/x-v2.html"}, "docs/x-v2.html"},
    };
    for (const auto& c : cases) {
        th::TempDir dir;
        th::write_file(dir / "x-v2.html", "x");
        for (const auto& file : c.on_disk) th::write_file(dir / file, "x");
        th::CurrentDir cwd(dir.path());
        Docs docs{entry("1", c.entry)};
        update_docs_to_latest_versions(docs, {"x-v2.html"});
        EXPECT_EQ(files_of(docs), std::vector<std::string>{"1=" + c.expected}) << c.entry << " with " << c.on_disk.size();
    }
}

// The download entry names the package that the run wrote: an earlier release of the same
// family never takes its place. It stays while its file is there, and goes when it is not.
TEST(VarnelUpdate, DownloadEntryIsNeverMovedToAnotherFile) {
    th::TempDir dir;
    th::write_file(dir / "package.zip", "new");
    th::write_file(dir / "dist" / "package.zip", "new");
    th::write_file(dir / "dist" / "package-v1.zip", "the user's");
    th::CurrentDir cwd(dir.path());
    for (const std::string link : {"package.zip", "dist/package.zip"}) {
        Docs docs{entry("1", "a.txt"), DocEntry{std::string(download_key), std::nullopt, link}};
        auto unlisted = update_docs_to_latest_versions(docs, {"a.txt", "package-v1.zip", "package.zip", "package-v2.zip"});
        EXPECT_EQ(files_of(docs), (std::vector<std::string>{"1=a.txt", "download_link=" + link}));
        EXPECT_TRUE(unlisted.empty()) << link;
    }
    Docs gone{entry("1", "a.txt"), DocEntry{std::string(download_key), std::nullopt, "pkg.zip"}};
    update_docs_to_latest_versions(gone, {"a.txt", "pkg-v1.zip"});
    EXPECT_EQ(files_of(gone), (std::vector<std::string>{"1=a.txt"}));
}

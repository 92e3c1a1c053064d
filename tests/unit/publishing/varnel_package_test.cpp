#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <random>

#include "brenkit/app_logging.hpp"
#include "common/harness.hpp"
#include "support/interrupt.hpp"
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
    // No package of the archive's own family goes in: they are earlier releases of it.
    EXPECT_EQ(th::zip_listing(*written), (std::vector<std::string>{"guide_v2.html:deflate", "notes.txt:deflate"}));
    EXPECT_NE(capture.text().find("🎉 成功建立壓縮包，共打包 2 個檔案！"), std::string::npos);
}

// Deflate at zlib's default level, as zip and Python's zipfile write: bits 1 and 2 of an
// entry's flags name the level's class, 0 for the normal levels, 1 for the maximum ones.
TEST(VarnelPackage, DeflatesAtTheUsualLevel) {
    th::TempDir dir;
    std::vector<std::string> files;
    for (const char* name : {"guide.html", "notes.txt"}) {
        th::write_file(dir / name, std::string(5000, 'x'));
        files.push_back((dir / name).string());
    }
    brenkit::app_logging::Capture quiet;
    auto written = zip_latest_version_files(files, "package.zip", dir.path().string());
    ASSERT_TRUE(written);
    const std::string zip = th::read_file(*written);
    size_t entries = 0;
    for (size_t at = zip.find("PK\x03\x04"); at != std::string::npos && at + 8 <= zip.size(); at = zip.find("PK\x03\x04", at + 4)) {
        unsigned flags = static_cast<unsigned char>(zip[at + 6]) | static_cast<unsigned char>(zip[at + 7]) << 8;
        EXPECT_EQ(flags & 6u, 0u) << "entry " << entries;
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

// What is compressed already (known by its kind: pictures, video, archives) is stored as it
// is, which deflate would only make larger; the rest is deflated, each member by the
// package's one compressor in turn. Every member reads back whole, with its file's time
// and mode, whatever the members before it were.
TEST(VarnelPackage, StoresWhatIsCompressedAlreadyAndDeflatesTheRest) {
    th::TempDir dir;
    std::mt19937 random(7);
    auto noise = [&random](size_t size) {
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(random());
        return bytes;
    };
    std::string page;
    for (int i = 0; page.size() < 300000; ++i) page += "<p>Paragraph " + std::to_string(i * 7919 % 1000) + " of the page.</p>\n";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"photo.PNG", noise(100000)}, {"page.html", page},          {"empty.txt", ""},
        {"clip.mp4", noise(3000)},    {"one.txt", "x"},             {"bundle.zip", noise(70000)},
        {"noise.bin", noise(70000)},  {"notes.md", page.substr(0, 5000)},
    };
    const std::map<std::string, std::string> methods = {
        {"photo.PNG", "stored"}, {"clip.mp4", "stored"},   {"bundle.zip", "stored"},  {"page.html", "deflate"},
        {"empty.txt", "deflate"}, {"one.txt", "deflate"}, {"noise.bin", "deflate"}, {"notes.md", "deflate"}};
    std::vector<std::string> paths;
    const auto time = std::chrono::file_clock::now() - std::chrono::hours(24 * 400);
    for (const auto& [name, content] : files) {
        th::write_file(dir / name, content);
        fs::last_write_time(dir / name, time);
        paths.push_back((dir / name).string());
    }
    fs::permissions(dir / "page.html", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(dir / "photo.PNG", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec);
    brenkit::app_logging::Capture quiet;
    auto written = zip_latest_version_files(paths, "package.zip", (dir / "out").string());
    ASSERT_TRUE(written);
    auto members = th::zip_members(*written);
    ASSERT_TRUE(members) << "the package does not read back whole";
    ASSERT_EQ(members->size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& [name, content] = files[i];
        const auto& member = (*members)[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(member.name, name);
        EXPECT_EQ(member.method, methods.at(name));
        EXPECT_TRUE(member.content == content);
        struct stat st {};
        ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
        EXPECT_EQ(member.mode, st.st_mode);
        EXPECT_LE(std::abs(member.mtime - st.st_mtime), 2);  // the archive keeps even seconds
    }
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

namespace {

std::vector<std::string> entries_of(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// What an earlier run left when it was killed while writing the archive (the writer's
// scratch copy, empty or without the archive's end) goes on the next run; a file of the
// user's that only looks like one, a whole archive or another text, stays.
TEST(VarnelPackage, ScratchOfAKilledRunIsRemovedOnTheNextRun) {
    th::TempDir dir;
    th::write_file(dir / "a.txt", std::string(5000, 'a'));
    brenkit::app_logging::Capture capture;
    ASSERT_TRUE(zip_latest_version_files({(dir / "a.txt").string()}, "package.zip", dir.path().string()));
    const std::string whole = th::read_file(dir / "package.zip");
    ASSERT_GT(whole.size(), 100u);

    th::write_file(dir / "package.zip.k3x9qa", whole.substr(0, whole.size() / 2));  // cut off before its end
    th::write_file(dir / "PACKAGE.ZIP.000000", "");                                  // killed before a byte
    th::write_file(dir / "package.zip.backup", whole);                               // a whole archive
    th::write_file(dir / "package.zip.notes1", "the user's notes");
    th::write_file(dir / "package.zip.bak", whole.substr(0, 10));
    ASSERT_TRUE(zip_latest_version_files({(dir / "a.txt").string()}, "package.zip", dir.path().string()));
    EXPECT_EQ(entries_of(dir.path()), (std::vector<std::string>{"a.txt", "package.zip", "package.zip.backup",
                                                                "package.zip.bak", "package.zip.notes1"}));
}

// An interrupt while the archive is written stops the writing: the run unwinds, the
// older package stays as it was, and the writer's scratch copy goes. A first member that
// is a pipe holds the writing where the test can interrupt it.
TEST(VarnelPackage, InterruptWhileWritingKeepsTheOlderPackage) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        th::TempDir dir;
        const fs::path pipe = dir / "a.txt";
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        th::write_file(dir / "b.txt", std::string(5000, 'b'));
        th::write_file(dir / "package.zip", "the older package");
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            support::install_interrupt_handlers();
            brenkit::app_logging::Capture quiet;
            try {
                zip_latest_version_files({pipe.string(), (dir / "b.txt").string()}, "package.zip", dir.path().string());
            } catch (const support::Interrupted& interrupted) {
                ::_exit(interrupted.exit_status());
            }
            ::_exit(0);
        }
        // The writer has opened the pipe once a writer's open no longer fails.
        int fd = -1;
        th::wait_until([&] { return (fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; });
        ::kill(pid, sig);
        if (fd >= 0) {
            // The writer may have ended before its input arrives: the write then fails
            // (the test programs ignore SIGPIPE) instead of ending the test program.
            const std::string data(100000, 'a');
            errno = 0;
            const ssize_t written = ::write(fd, data.data(), data.size());
            EXPECT_TRUE(written > 0 || errno == EPIPE) << std::strerror(errno);
            ::close(fd);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << status;
        EXPECT_EQ(th::read_file(dir / "package.zip"), "the older package");
        EXPECT_EQ(entries_of(dir.path()), (std::vector<std::string>{"a.txt", "b.txt", "package.zip"}));
    }
}

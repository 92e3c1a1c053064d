#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

#ifdef VEMTORA_HIDE_LIBRARIES
namespace fs = std::filesystem;
using ::testing::HasSubstr;

// On a system without libcurl, libzip or ICU, the download, the package or the text beyond
// ASCII that needs one fails and says why; the run goes on or ends with an error, never
// with a crash. What needs none of them works as usual.
TEST(HostCli, MissingLibrariesAreReportedNotCrashedOn) {
    const std::map<std::string, std::optional<std::string>> hidden = {
        {"LD_PRELOAD", VEMTORA_HIDE_LIBRARIES},
        // The address sanitizer's library must otherwise come first.
        {"ASAN_OPTIONS", "verify_asan_link_order=0"},
        {"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()}};
    th::TempDir dir;
    th::write_file(dir.path() / "pages/note_v1.0.html", "<p>note</p>\n");
    th::write_file(dir.path() / "notes/plain.md", "# Plain title\n\nText.\n");
    th::write_file(dir.path() / "notes/accented.md", "# Café au lait\n\nText.\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        fs::path cwd;
        std::string input;
        std::string said;
        int status = 1;
    };
    const std::vector<Case> cases = {
        {"download", {"torvane"}, dir.path(), "1\n\n",
         "Python_API_Manual_fileIO_ai.md (/nonexistent/libhidden.so: cannot open shared object file"},
        {"package", {"varnel"}, dir.path() / "pages", "",
         "❌ 打包壓縮檔失敗: /nonexistent/libhidden.so: cannot open shared object file"},
        // A heading's id takes the compatibility decomposition of its letters.
        {"text beyond ASCII", {"pressling", "-f", "notes/accented.md", "-o", "out"}, dir.path(), "",
         "notes/accented.md 失敗: 無法載入 Unicode 字元資料 (ICU): /nonexistent/libhidden.so: cannot open shared object file"},
        {"ASCII text", {"pressling", "-f", "notes/plain.md", "-o", "out"}, dir.path(), "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        th::Outcome r =
            th::run({.args = c.args, .cwd = c.cwd, .input = c.input, .env = hidden, .fake_agy = true, .capped = true});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.said));
    }
}
#endif

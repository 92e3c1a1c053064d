#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

#ifdef VEMTORA_HIDE_LIBRARIES
namespace fs = std::filesystem;
using ::testing::HasSubstr;

// On a system without libcurl or libzip, the download or the package that needs one fails
// and says why; the run goes on or ends with an error, never with a crash.
TEST(HostCli, MissingLibrariesAreReportedNotCrashedOn) {
    const std::map<std::string, std::optional<std::string>> hidden = {
        {"LD_PRELOAD", VEMTORA_HIDE_LIBRARIES},
        // The address sanitizer's library must otherwise come first.
        {"ASAN_OPTIONS", "verify_asan_link_order=0"},
        {"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()}};
    th::TempDir dir;
    th::write_file(dir.path() / "pages/note_v1.0.html", "<p>note</p>\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        fs::path cwd;
        std::string input;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"download", {"torvane"}, dir.path(), "1\n\n",
         "Python_API_Manual_fileIO_ai.md (/nonexistent/libhidden.so: cannot open shared object file"},
        {"package", {"varnel"}, dir.path() / "pages", "",
         "❌ 打包壓縮檔失敗: /nonexistent/libhidden.so: cannot open shared object file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        th::Outcome r =
            th::run({.args = c.args, .cwd = c.cwd, .input = c.input, .env = hidden, .fake_agy = true, .capped = true});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_THAT(r.err, HasSubstr(c.said));
    }
}
#endif

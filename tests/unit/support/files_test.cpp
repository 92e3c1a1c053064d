// Saving a file: a new file is renamed into place, yet the saved file stays the file the
// user had (links, mode, owner) and a save the user may not make is refused.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "brenkit/fileIO.hpp"
#include "harness.hpp"
#include "support/files.hpp"

namespace fs = std::filesystem;

namespace {

unsigned mode_of(const fs::path& p) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// The names in a folder, sorted: a save leaves no temporary file behind.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the save says: "" when it succeeded, else the reason it gives.
std::string save(const fs::path& p, const std::string& text) {
    try {
        support::write_file_atomic(p, text);
        return "";
    } catch (const fs::filesystem_error& e) {
        return e.code().message();
    }
}

}  // namespace

TEST(WriteFileAtomic, KeepsTheModeAndWritesThroughLinks) {
    th::TempDir dir;
    struct Case {
        const char* name;
        unsigned mode;
    };
    // A script stays executable, a private configuration stays private.
    for (const Case& c : {Case{"script.sh", 0755}, Case{"secret.yaml", 0600}, Case{"shared.txt", 0664},
                          Case{"group.txt", 0640}}) {
        th::write_file(dir / c.name, "old\n");
        fs::permissions(dir / c.name, static_cast<fs::perms>(c.mode), fs::perm_options::replace);
        EXPECT_EQ(save(dir / c.name, "new\n"), "") << c.name;
        EXPECT_EQ(th::read_file(dir / c.name), "new\n") << c.name;
        EXPECT_EQ(mode_of(dir / c.name), c.mode) << c.name;
    }

    // A chain of links, one relative and one absolute, into another folder: the links stay
    // and the file they end at gets the text.
    th::write_file(dir / "real/cli.py", "old\n");
    fs::permissions(dir / "real/cli.py", static_cast<fs::perms>(0750), fs::perm_options::replace);
    fs::create_directories(dir / "project");
    fs::create_symlink("../real/cli.py", dir / "project/inner");
    fs::create_symlink(dir / "project/inner", dir / "project/cli.py");
    EXPECT_EQ(save(dir / "project/cli.py", "new\n"), "");
    EXPECT_TRUE(fs::is_symlink(dir / "project/cli.py"));
    EXPECT_TRUE(fs::is_symlink(dir / "project/inner"));
    EXPECT_EQ(th::read_file(dir / "real/cli.py"), "new\n");
    EXPECT_EQ(mode_of(dir / "real/cli.py"), 0750u);
    EXPECT_EQ(names_in(dir / "real"), std::vector<std::string>{"cli.py"});
    EXPECT_EQ(names_in(dir / "project"), (std::vector<std::string>{"cli.py", "inner"}));

    // A link to a file not made yet makes that file, as writing through it would.
    fs::create_symlink("later.txt", dir / "pending");
    EXPECT_EQ(save(dir / "pending", "made\n"), "");
    EXPECT_TRUE(fs::is_symlink(dir / "pending"));
    EXPECT_EQ(th::read_file(dir / "later.txt"), "made\n");

    // A name near the system's limit still saves; one beyond it says so.
    const std::string long_name(250, 'n');
    EXPECT_EQ(save(dir / long_name, "long\n"), "");
    EXPECT_EQ(th::read_file(dir / long_name), "long\n");
    EXPECT_EQ(save(dir / std::string(300, 'n'), "x"), std::make_error_code(std::errc::filename_too_long).message());

    // Links in a loop end nowhere.
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    EXPECT_EQ(save(dir / "loop-a", "x"), std::make_error_code(std::errc::too_many_symbolic_link_levels).message());
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "loop-a")));
}

// A save killed before its rename (SIGKILL) leaves its partial file behind. The first save
// into that folder afterwards removes such files of the saves' own naming that no live
// save holds, and nothing else.
TEST(WriteFileAtomic, PartialFilesOfKilledSavesGoWithTheNextSave) {
    th::TempDir dir;
    struct Case {
        std::string name;
        int minutes_old;
        bool held;  // by a save still at work (here this process)
        bool removed;
    };
    const Case cases[] = {
        {".big.html.tmp-0123456789", 60, false, true},
        {".page.html.tmp-abcdefghij", 1, false, true},
        {".live.html.tmp-abcdefghij", 60, true, false},
        {".new.html.tmp-abcdefghij", 0, false, false},  // its save may not hold it yet
        {".page.html.tmp-abcdefghi", 60, false, false},  // names of other making
        {".page.html.tmp-ABCDEFGHIJ", 60, false, false},
        {"page.html.tmp-abcdefghij", 60, false, false},
        {"sub/.page.html.tmp-abcdefghij", 60, false, false},  // another folder
    };
    std::vector<int> locks;
    for (const auto& c : cases) {
        th::write_file(dir / c.name, "partial");
        fs::last_write_time(dir / c.name, fs::file_time_type::clock::now() - std::chrono::minutes(c.minutes_old));
        if (!c.held) continue;
        locks.push_back(::open((dir / c.name).c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(locks.back(), LOCK_EX | LOCK_NB), 0);
    }
    // A folder or a link of such a name is no partial file either.
    fs::create_directories(dir / ".folder.tmp-abcdefghij");
    fs::create_symlink("page.html.tmp-abcdefghij", dir / ".link.tmp-abcdefghij");

    EXPECT_EQ(save(dir / "saved.html", "whole"), "");
    for (int fd : locks) ::close(fd);
    for (const auto& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
    EXPECT_TRUE(fs::is_directory(dir / ".folder.tmp-abcdefghij"));
    EXPECT_TRUE(fs::is_symlink(dir / ".link.tmp-abcdefghij"));
    EXPECT_EQ(th::read_file(dir / "saved.html"), "whole");
}

TEST(WriteFileAtomic, KeepsTheOwnerWhereTheProcessMay) {
    if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    TH_UNPRIVILEGED_USER(user);
    th::TempDir dir;
    th::write_file(dir / "theirs.txt", "old\n");
    th::give_to(dir / "theirs.txt", user);
    EXPECT_EQ(save(dir / "theirs.txt", "new\n"), "");
    struct stat st {};
    ASSERT_EQ(stat((dir / "theirs.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user.uid);
    EXPECT_EQ(st.st_gid, user.gid);
}

TEST(WriteFileAtomic, RefusesWhatAPlainOpenForWritingWouldRefuse) {
    TH_UNPRIVILEGED_USER(user);
    th::TempDir dir;
    th::write_file(dir / "open/protected.txt", "keep\n");
    fs::permissions(dir / "open/protected.txt", static_cast<fs::perms>(0444), fs::perm_options::replace);
    fs::create_directories(dir / "open/folder");
    fs::create_symlink("protected.txt", dir / "open/link");
    th::write_file(dir / "closed/existing.txt", "keep\n");
    th::give_to(dir.path(), user);
    fs::permissions(dir / "closed", static_cast<fs::perms>(0555), fs::perm_options::replace);

    const std::string denied = std::make_error_code(std::errc::permission_denied).message();
    ASSERT_EQ(denied, "Permission denied");
    struct Case {
        fs::path target;
        std::string reason;
    };
    const Case cases[] = {
        {dir / "open/protected.txt", denied},  // mode 444: the folder would allow a rename
        {dir / "open/link", denied},           // the same file through a link
        {dir / "closed/new.txt", denied},      // no new file in a write-protected folder
        {dir / "closed/existing.txt", denied},
        {dir / "open/folder", std::make_error_code(std::errc::is_a_directory).message()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(th::as_user(user, [&] { return save(c.target, "new\n"); }), c.reason) << c.target;
    }
    EXPECT_EQ(th::read_file(dir / "open/protected.txt"), "keep\n");
    EXPECT_EQ(th::read_file(dir / "closed/existing.txt"), "keep\n");
    EXPECT_TRUE(fs::is_symlink(dir / "open/link"));
    EXPECT_EQ(names_in(dir / "open"), (std::vector<std::string>{"folder", "link", "protected.txt"}));
    EXPECT_EQ(names_in(dir / "closed"), std::vector<std::string>{"existing.txt"});

    // The save's own message carries the reason, not a general input/output error.
    auto message = th::as_user(user, [&] {
        return brenkit::fileIO::save_local_file_content(dir / "open/protected.txt", "new\n", "設定檔").text;
    });
    EXPECT_EQ(message, "無法寫入設定檔 " + (dir / "open/protected.txt").string() + ": Permission denied");
}

TEST(WriteFileAtomic, AFailedWriteNamesTheReasonAndKeepsTheOldFile) {
    th::TempDir dir;
    th::write_file(dir / "big.txt", "old\n");
    th::User self{getuid(), getgid(), false};
    // A file size limit stands in for a full disk: the write stops part way.
    auto reason = th::as_user(self, [&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        return save(dir / "big.txt", std::string(100000, 'x'));
    });
    EXPECT_EQ(reason, std::make_error_code(std::errc::file_too_large).message());
    EXPECT_EQ(th::read_file(dir / "big.txt"), "old\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"big.txt"});
}


TEST(BoundedRead, ReadsOnlyRegularFilesWithinTheLimit) {
    using Outcome = support::BoundedRead::Outcome;
    th::TempDir dir;
    th::write_file(dir / "ten.txt", "0123456789");
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);  // nobody writes: reading it would block
    fs::create_symlink("ten.txt", dir / "link");
    fs::create_symlink("nothing", dir / "dangling");
    fs::create_symlink("pipe", dir / "pipe-link");
    th::write_file(dir / "shared.txt", "twice");
    fs::create_hard_link(dir / "shared.txt", dir / "twin.txt");  // one file, two names
    struct Case {
        fs::path path;
        std::uintmax_t limit;
        bool follow;
        Outcome outcome;
    };
    const Case cases[] = {
        {dir / "ten.txt", 10, true, Outcome::read},
        {dir / "ten.txt", 10, false, Outcome::read},
        {dir / "ten.txt", 9, true, Outcome::too_large},
        {dir / "folder", 100, true, Outcome::not_regular},
        {dir / "pipe", 100, true, Outcome::not_regular},
        {"/dev/zero", 100, true, Outcome::not_regular},
        {dir / "missing", 100, true, Outcome::missing},
        {dir / "missing", 100, false, Outcome::missing},
        {dir / "link", 100, true, Outcome::read},
        {dir / "link", 100, false, Outcome::link},
        {dir / "dangling", 100, true, Outcome::missing},
        {dir / "dangling", 100, false, Outcome::link},
        {dir / "pipe-link", 100, true, Outcome::not_regular},
        {dir / "pipe-link", 100, false, Outcome::link},
        {dir / "twin.txt", 100, true, Outcome::read},
        {dir / "twin.txt", 100, false, Outcome::hard_link},
        {dir / "shared.txt", 100, false, Outcome::hard_link},
        {dir / "ten.txt/below", 100, true, Outcome::missing},  // nothing can lie below a file
        // The kernel gives its size as 0, whatever it holds.
        {"/proc/self/cmdline", 1, true, Outcome::too_large},
    };
    for (const auto& c : cases) {
        auto r = support::read_regular_file(c.path, c.limit, c.follow);
        EXPECT_EQ(r.outcome, c.outcome) << c.path << (c.follow ? "" : " (links not followed)");
        if (c.outcome != Outcome::read) {
            EXPECT_EQ(r.bytes, "") << c.path;
        }
        EXPECT_EQ(r.reason.empty(), c.outcome != Outcome::failed) << c.path;
    }
    EXPECT_EQ(support::read_regular_file(dir / "ten.txt", 10).bytes, "0123456789");
}

TEST(BoundedRead, LargeSparseFileIsRefusedBySize) {
    using Outcome = support::BoundedRead::Outcome;
    th::TempDir dir;
    th::write_file(dir / "big", "");
    fs::resize_file(dir / "big", std::uintmax_t{1} << 40);  // a terabyte of holes
    auto r = support::read_regular_file(dir / "big", 1 << 20);
    EXPECT_EQ(r.outcome, Outcome::too_large);
}

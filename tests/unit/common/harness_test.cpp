// What every other test rests on: a test program survives a write to a pipe whose reader
// has gone, and a temporary folder goes whatever the test did to its tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "harness.hpp"

namespace fs = std::filesystem;

// A test that writes to a child it has just ended must see the write fail, not die of
// SIGPIPE with every temporary folder of the run left behind.
TEST(Harness, WriteToAPipeWithoutReaderFailsInsteadOfEndingTheTests) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[0]);
    errno = 0;
    EXPECT_EQ(::write(p[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE) << std::strerror(errno);
    ::close(p[1]);
}

// Folders that a test closed (read-only, or with no rights at all) are removed too, which
// for a user who is not root takes opening them first.
TEST(Harness, TempDirRemovesClosedFolders) {
    fs::path gone;
    {
        th::TempDir dir;
        gone = dir.path();
        th::write_file(dir / "read-only/file", "x");
        th::write_file(dir / "closed/inner/file", "x");
        fs::permissions(dir / "read-only", fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        fs::permissions(dir / "closed/inner", fs::perms::none, fs::perm_options::replace);
        fs::permissions(dir / "closed", fs::perms::none, fs::perm_options::replace);
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    }
    EXPECT_FALSE(fs::exists(gone));
}

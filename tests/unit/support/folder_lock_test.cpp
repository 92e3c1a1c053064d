#include "support/folder_lock.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "harness.hpp"

namespace fs = std::filesystem;

// The lock is the folder's own: a second holder finds it busy until the first lets go,
// and nothing is written into the folder for it.
TEST(FolderLock, SecondHolderFindsItBusyUntilTheFirstLetsGo) {
    th::TempDir dir;
    auto first = std::make_unique<support::FolderLock>(dir.path());
    EXPECT_FALSE(first->busy());
    EXPECT_TRUE(support::FolderLock(dir.path()).busy());
    EXPECT_TRUE(fs::is_empty(dir.path()));
    first.reset();
    EXPECT_FALSE(support::FolderLock(dir.path()).busy());
    EXPECT_THROW(support::FolderLock(dir / "missing"), fs::filesystem_error);
}

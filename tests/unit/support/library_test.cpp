#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/library.hpp"

#ifdef __linux__
using support::Library;

TEST(Library, OpensTheFirstOneFoundAndFindsItsFunctions) {
    std::string error;
    EXPECT_FALSE(Library::open({"libvemtora-none.so.9"}, error));
    EXPECT_THAT(error, testing::HasSubstr("libvemtora-none.so.9"));

    auto libc = Library::open({"libvemtora-none.so.9", "libc.so.6"}, error);
    ASSERT_TRUE(libc) << error;
    int (*absolute)(int) = nullptr;
    ASSERT_TRUE(libc->function("abs", absolute));
    EXPECT_EQ(absolute(-3), 3);
    EXPECT_FALSE(libc->function("vemtora_no_such_function", absolute));
    EXPECT_EQ(absolute(-4), 4);  // left as it was
}
#endif

#include <gtest/gtest.h>

#include "harness.hpp"
#include "support/console.hpp"

using namespace support;

TEST(Console, PromptAsksAgainWithoutDefault) {
    th::StdinFrom in("\n\nvalue\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(prompt("Name"), "value");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Name: Name: Name: ");
}

TEST(Console, PromptTakesDefaultOnEnter) {
    th::StdinFrom in("\n  \n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(prompt("Version", std::string("1.0")), "1.0");
    EXPECT_EQ(prompt("Version", std::string("1.0")), "  ");  // blanks are an answer
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Version [1.0]: Version [1.0]: ");
}

TEST(Console, ConfirmReadsYesNoInAnyCase) {
    th::StdinFrom in("YES\nn\n\nmaybe\ny\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(confirm("Go?", true));
    EXPECT_FALSE(confirm("Go?", true));
    EXPECT_TRUE(confirm("Go?", true));
    EXPECT_TRUE(confirm("Go?", false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Go? [Y/n]: Go? [Y/n]: Go? [Y/n]: Go? [y/N]: Go? [y/N]: ");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: invalid input\n");
}

TEST(Console, EndOfInputAbortsEveryQuestion) {
    testing::internal::CaptureStdout();
    {
        th::StdinFrom in("");
        EXPECT_THROW(prompt("Name"), Aborted);
    }
    {
        th::StdinFrom in("maybe");  // a last line without line end still counts, then the end
        testing::internal::CaptureStderr();
        EXPECT_THROW(confirm("Go?"), Aborted);
        testing::internal::GetCapturedStderr();
    }
    {
        th::StdinFrom in("x\n");
        testing::internal::CaptureStderr();
        EXPECT_THROW(prompt_choice("Pick", {"a", "b"}), Aborted);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: 'x' is not one of 'a', 'b'.\n");
    }
    testing::internal::GetCapturedStdout();
}

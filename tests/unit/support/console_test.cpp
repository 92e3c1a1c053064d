#include <gtest/gtest.h>

#include "harness.hpp"
#include "support/console.hpp"

using namespace support;

// Input that is no terminal shows no line end: each question's line is ended after its answer.
TEST(Console, PromptAsksAgainWithoutDefault) {
    th::StdinFrom in("\n\nvalue\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(prompt("Name"), "value");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Name: \nName: \nName: \n");
}

TEST(Console, PromptTakesDefaultOnEnter) {
    th::StdinFrom in("\n  \n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(prompt("Version", std::string("1.0")), "1.0");
    EXPECT_EQ(prompt("Version", std::string("1.0")), "  ");  // blanks are an answer
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Version [1.0]: \nVersion [1.0]: \n");
}

TEST(Console, ConfirmReadsYesNoInAnyCase) {
    th::StdinFrom in("YES\nn\n\nmaybe\ny\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(confirm("Go?", true));
    EXPECT_FALSE(confirm("Go?", true));
    EXPECT_TRUE(confirm("Go?", true));
    EXPECT_TRUE(confirm("Go?", false));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Go? [Y/n]: \nGo? [Y/n]: \nGo? [Y/n]: \nGo? [y/N]: \nGo? [y/N]: \n");
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

// What a console gives in UTF-16, one read at a time, becomes UTF-8 text; a character
// outside the basic plane may be split between two reads, and Ctrl-Z typed at the start
// of a line ends the input.
TEST(Console, ConsoleReadsBecomeUtf8) {
    struct Case {
        const char* what;
        std::vector<std::u16string> reads;
        std::vector<std::optional<std::string>> texts;  // nothing: the end of input
    };
    const std::vector<Case> cases = {
        {"Chinese and a line end", {u"測試 x\r\n"}, {"測試 x\r\n"}},
        {"a character split between reads", {u"a\xD83D", u"\xDE00\r\n"}, {"a", "😀\r\n"}},
        {"lone surrogates", {u"\xDE00x\xD83D", u"y\r\n"}, {"\xEF\xBF\xBDx", "\xEF\xBF\xBDy\r\n"}},
        {"Ctrl-Z at the start of a line", {u"yes\r\n", u"\x1A\r\n"}, {"yes\r\n", std::nullopt}},
        {"Ctrl-Z inside a line is text", {u"a\x1A\r\n"}, {"a\x1A\r\n"}},
        {"a long line read in two parts", {u"abc", u"\x1A" u"def\r\n"}, {"abc", "\x1A" "def\r\n"}},
    };
    for (const auto& c : cases) {
        ConsoleInput input;
        for (size_t i = 0; i < c.reads.size(); ++i) EXPECT_EQ(input.decode(c.reads[i]), c.texts[i]) << c.what << " " << i;
    }
}

// Answers piped from a file that an editor saved with a UTF-8 byte-order mark: the mark
// is no part of the first answer; the same bytes later on are text.
TEST(Console, AByteOrderMarkBeforeTheFirstAnswerIsDropped) {
    th::StdinFrom in("\xEF\xBB\xBF" "a\n\xEF\xBB\xBF" "b\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(prompt("Name"), "a");
    EXPECT_EQ(prompt("Name"), "\xEF\xBB\xBF" "b");
    testing::internal::GetCapturedStdout();
}

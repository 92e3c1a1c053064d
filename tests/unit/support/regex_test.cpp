#include <gtest/gtest.h>

#include "support/regex.hpp"

using support::Regex;

TEST(Regex, EmptyMatchesStepLikePython) {
    // re.sub('x*', '-', 'abxd') == '-a-b--d-'
    EXPECT_EQ(Regex("x*").replace("abxd", "-"), "-a-b--d-");
    EXPECT_EQ(Regex("").replace("中文", "|"), "|中|文|");
    EXPECT_EQ(Regex("a|").find_all("baa").size(), 4u);  // '', 'a', 'a', ''
}

TEST(Regex, ReplacementIsLiteral) {
    EXPECT_EQ(Regex("(b)").replace("abc", "$1\\1\\g<1>"), "a$1\\1\\g<1>c");
    EXPECT_EQ(Regex("o").replace("foo boo", "0", 2), "f00 boo");
    auto upper = [](const Regex::Match& m) { return std::string("[").append(m.group(1)).append("]"); };
    EXPECT_EQ(Regex("(\\w+)").replace("ab cd", upper), "[ab] [cd]");
}

TEST(Regex, UnicodeClassesAndFlags) {
    EXPECT_TRUE(Regex("^\\w+$").full_match("中文_a1"));
    EXPECT_TRUE(Regex("^\\s$").full_match("\u3000"));
    EXPECT_FALSE(Regex("^.$").full_match("\n"));
    EXPECT_TRUE(Regex("^.$", Regex::dotall).full_match("\n"));
    auto all = Regex("^#", Regex::multiline).find_all("#a\n#b\n c");
    EXPECT_EQ(all.size(), 2u);
    EXPECT_TRUE(Regex("abc", Regex::ignore_case).contains("xABCx"));
    EXPECT_TRUE(Regex("a$").search("a\n"));  // $ before a final line feed, as in Python
}

TEST(Regex, GroupsAndAnchors) {
    auto m = Regex("(?<key>\\w+)=(\\d+)?").search("  k=");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->group("key"), "k");
    EXPECT_FALSE(m->matched(2));
    EXPECT_EQ(m->group(2), "");
    EXPECT_EQ(m->start(), 2u);
    EXPECT_FALSE(Regex("b").match("ab"));
    EXPECT_TRUE(Regex("a").match("ab"));
    EXPECT_FALSE(Regex("a").full_match("ab"));
    EXPECT_EQ(Regex("\\s*,\\s*").split("a , b,c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Regex::escape("a.b*c"), "a\\.b\\*c");
}

TEST(Regex, ErrorsAreReportedNotFatal) {
    EXPECT_THROW(Regex("(unclosed"), support::RegexError);
    // Catastrophic backtracking ends with an error instead of running for ever.
    std::string input(40, 'a');
    input += "!";
    EXPECT_THROW(Regex("^(a|aa)+$").search(input), support::RegexError);
    // Input that is not valid UTF-8 is searched, not refused.
    EXPECT_TRUE(Regex("z").search("\xff" "z"));
}

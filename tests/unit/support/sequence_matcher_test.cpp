// The longest-matching-block differ: matches, hunks and the unified ranges.
#include <gtest/gtest.h>

#include "support/sequence_matcher.hpp"

namespace {

using support::MatchBlock;
using support::SequenceMatcher;

std::vector<std::string_view> chars(std::string_view s) {
    std::vector<std::string_view> out;
    for (size_t i = 0; i < s.size(); ++i) out.push_back(s.substr(i, 1));
    return out;
}

std::vector<std::string_view> repeat(std::string_view line, size_t n) { return std::vector<std::string_view>(n, line); }

std::vector<std::string_view> concat(std::vector<std::string_view> a, const std::vector<std::string_view>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SequenceMatcher, LongestBlockFirstEarliestOnTies) {
    EXPECT_EQ(SequenceMatcher(chars("abxcd"), chars("cdxab")).get_matching_blocks(),
              (std::vector<MatchBlock>{{0, 3, 2}, {5, 5, 0}}));
    EXPECT_EQ(SequenceMatcher(chars("qabxcd"), chars("abycdf")).get_matching_blocks(),
              (std::vector<MatchBlock>{{1, 0, 2}, {4, 3, 2}, {6, 6, 0}}));
    EXPECT_EQ(SequenceMatcher({}, {}).get_matching_blocks(), (std::vector<MatchBlock>{{0, 0, 0}}));
}

TEST(SequenceMatcher, PopularLinesInLongTextsCannotStartAMatch) {
    // 200 lines: "x" occurs 4 times, more than 1 + 200/100, so it cannot be matched.
    const auto a = std::vector<std::string_view>{"x"};
    EXPECT_EQ(SequenceMatcher(a, concat(repeat("y", 196), repeat("x", 4))).get_matching_blocks(),
              (std::vector<MatchBlock>{{1, 200, 0}}));
    // 199 lines: the rule is off.
    EXPECT_EQ(SequenceMatcher(a, concat(repeat("y", 195), repeat("x", 4))).get_matching_blocks(),
              (std::vector<MatchBlock>{{0, 195, 1}, {1, 199, 0}}));
    // A match that starts on a rare line grows over popular ones.
    const std::vector<std::string_view> start{"k", "x", "x"};
    EXPECT_EQ(SequenceMatcher(start, concat(concat(start, repeat("y", 197)), repeat("x", 3))).get_matching_blocks(),
              (std::vector<MatchBlock>{{0, 0, 3}, {3, 203, 0}}));
}

TEST(SequenceMatcher, GroupedOpcodesKeepThreeLinesOfContext) {
    using support::OpTag;
    const auto groups = SequenceMatcher(chars("abcdefghijklmnop"), chars("aBcdefghijklmnoP")).get_grouped_opcodes();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::vector<support::Opcode>{
                             {OpTag::equal, 0, 1, 0, 1}, {OpTag::replace, 1, 2, 1, 2}, {OpTag::equal, 2, 5, 2, 5}}));
    EXPECT_EQ(groups[1], (std::vector<support::Opcode>{{OpTag::equal, 12, 15, 12, 15}, {OpTag::replace, 15, 16, 15, 16}}));
    EXPECT_TRUE(SequenceMatcher(chars("same"), chars("same")).get_grouped_opcodes().empty());
}

TEST(UnifiedDiff, RangesAndLines) {
    const std::vector<std::tuple<size_t, size_t, std::string>> ranges = {
        {0, 0, "0,0"}, {0, 1, "1"}, {4, 5, "5"}, {0, 3, "1,3"}, {4, 4, "4,0"}, {9, 12, "10,3"}};
    for (const auto& [start, stop, text] : ranges) EXPECT_EQ(support::format_range_unified(start, stop), text);

    const std::vector<std::string_view> a{"one\n", "two\n", "three\n"};
    const std::vector<std::string_view> b{"zero\n", "one\n", "three\n", "four"};
    EXPECT_EQ(support::unified_diff(a, b, "old", "new"),
              (std::vector<std::string>{"--- old\n", "+++ new\n", "@@ -1,3 +1,4 @@\n", "+zero\n", " one\n", "-two\n",
                                        " three\n", "+four"}));
    EXPECT_TRUE(support::unified_diff(a, a, "old", "new").empty());
}

}  // namespace

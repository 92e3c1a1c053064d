#pragma once
// Line differ by longest matching blocks (Ratcliff/Obershelp style): the longest run
// of equal elements is matched first, then the parts on either side of it, the same
// way. In a second sequence of 200 elements or more, an element that occurs more than
// 1 + n/100 times is "popular" and cannot start a match, though a match may grow over
// it. The hunks this gives are the ones users know from classic unified diffs; a
// shortest-edit-script differ would group changes differently.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace support {

struct MatchBlock {
    size_t a = 0;  // start in the first sequence
    size_t b = 0;  // start in the second sequence
    size_t size = 0;
    bool operator==(const MatchBlock&) const = default;
};

enum class OpTag { equal, replace, remove, insert };

// a[i1:i2] becomes b[j1:j2].
struct Opcode {
    OpTag tag;
    size_t i1, i2, j1, j2;
    bool operator==(const Opcode&) const = default;
};

class SequenceMatcher {
  public:
    // The views must outlive the matcher.
    SequenceMatcher(std::vector<std::string_view> a, std::vector<std::string_view> b);

    // The longest equal run in a[alo:ahi] and b[blo:bhi]; of several, the one that starts
    // earliest in a, then earliest in b. Size 0 when there is none.
    MatchBlock find_longest_match(size_t alo, size_t ahi, size_t blo, size_t bhi) const;
    // Non-adjacent matching blocks in order, ended by the block (len(a), len(b), 0).
    std::vector<MatchBlock> get_matching_blocks() const;
    std::vector<Opcode> get_opcodes() const;
    // The opcodes cut into hunks with up to `n` equal elements of context on each side.
    std::vector<std::vector<Opcode>> get_grouped_opcodes(size_t n = 3) const;

  private:
    std::vector<std::string_view> a_;
    std::vector<std::string_view> b_;
    std::unordered_map<std::string_view, std::vector<size_t>> b2j_;  // popular elements left out
};

// "start,count" of a hunk range (lines from 1); the start alone for one line; an empty
// range names the line before it.
std::string format_range_unified(size_t start, size_t stop);

// Unified diff lines of two line lists whose elements keep their own line ends: the
// "--- "/"+++ " file lines (each ended by `lineterm`), then per hunk an "@@" line and
// the lines prefixed by " ", "-" or "+". Empty when the lists are equal.
std::vector<std::string> unified_diff(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                                      std::string_view fromfile, std::string_view tofile, size_t n = 3,
                                      std::string_view lineterm = "\n");

}  // namespace support

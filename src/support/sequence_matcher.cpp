#include "support/sequence_matcher.hpp"

#include <algorithm>
#include <tuple>

namespace support {

SequenceMatcher::SequenceMatcher(std::vector<std::string_view> a, std::vector<std::string_view> b)
    : a_(std::move(a)), b_(std::move(b)) {
    for (size_t j = 0; j < b_.size(); ++j) b2j_[b_[j]].push_back(j);
    const size_t n = b_.size();
    if (n >= 200) {
        const size_t ntest = n / 100 + 1;
        std::erase_if(b2j_, [ntest](const auto& entry) { return entry.second.size() > ntest; });
    }
}

MatchBlock SequenceMatcher::find_longest_match(size_t alo, size_t ahi, size_t blo, size_t bhi) const {
    size_t besti = alo, bestj = blo, bestsize = 0;
    // j2len[j] = length of the longest match ending with a[i-1] and b[j].
    std::unordered_map<size_t, size_t> j2len, newj2len;
    for (size_t i = alo; i < ahi; ++i) {
        newj2len.clear();
        auto it = b2j_.find(a_[i]);
        if (it != b2j_.end()) {
            for (size_t j : it->second) {
                if (j < blo) continue;
                if (j >= bhi) break;
                size_t prev = 0;
                if (j > 0) {
                    auto p = j2len.find(j - 1);
                    if (p != j2len.end()) prev = p->second;
                }
                size_t k = prev + 1;
                newj2len[j] = k;
                if (k > bestsize) {
                    besti = i + 1 - k;
                    bestj = j + 1 - k;
                    bestsize = k;
                }
            }
        }
        std::swap(j2len, newj2len);
    }
    // Popular elements cannot start a match, but a match may grow over them.
    while (besti > alo && bestj > blo && a_[besti - 1] == b_[bestj - 1]) {
        --besti;
        --bestj;
        ++bestsize;
    }
    while (besti + bestsize < ahi && bestj + bestsize < bhi && a_[besti + bestsize] == b_[bestj + bestsize]) ++bestsize;
    return {besti, bestj, bestsize};
}

std::vector<MatchBlock> SequenceMatcher::get_matching_blocks() const {
    const size_t la = a_.size(), lb = b_.size();
    std::vector<std::tuple<size_t, size_t, size_t, size_t>> queue{{0, la, 0, lb}};
    std::vector<MatchBlock> blocks;
    while (!queue.empty()) {
        auto [alo, ahi, blo, bhi] = queue.back();
        queue.pop_back();
        MatchBlock m = find_longest_match(alo, ahi, blo, bhi);
        if (m.size == 0) continue;
        blocks.push_back(m);
        if (alo < m.a && blo < m.b) queue.emplace_back(alo, m.a, blo, m.b);
        if (m.a + m.size < ahi && m.b + m.size < bhi) queue.emplace_back(m.a + m.size, ahi, m.b + m.size, bhi);
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const MatchBlock& x, const MatchBlock& y) { return std::tie(x.a, x.b, x.size) < std::tie(y.a, y.b, y.size); });

    std::vector<MatchBlock> merged;
    MatchBlock cur;
    for (const MatchBlock& m : blocks) {
        if (cur.a + cur.size == m.a && cur.b + cur.size == m.b) {
            cur.size += m.size;
        } else {
            if (cur.size) merged.push_back(cur);
            cur = m;
        }
    }
    if (cur.size) merged.push_back(cur);
    merged.push_back({la, lb, 0});
    return merged;
}

std::vector<Opcode> SequenceMatcher::get_opcodes() const {
    std::vector<Opcode> codes;
    size_t i = 0, j = 0;
    for (const MatchBlock& m : get_matching_blocks()) {
        if (i < m.a && j < m.b) codes.push_back({OpTag::replace, i, m.a, j, m.b});
        else if (i < m.a) codes.push_back({OpTag::remove, i, m.a, j, m.b});
        else if (j < m.b) codes.push_back({OpTag::insert, i, m.a, j, m.b});
        i = m.a + m.size;
        j = m.b + m.size;
        if (m.size) codes.push_back({OpTag::equal, m.a, i, m.b, j});
    }
    return codes;
}

std::vector<std::vector<Opcode>> SequenceMatcher::get_grouped_opcodes(size_t n) const {
    std::vector<Opcode> codes = get_opcodes();
    if (codes.empty()) codes.push_back({OpTag::equal, 0, 1, 0, 1});
    // Trim the leading and trailing context to n elements.
    if (Opcode& c = codes.front(); c.tag == OpTag::equal) {
        c.i1 = std::max(c.i1, c.i2 >= n ? c.i2 - n : 0);
        c.j1 = std::max(c.j1, c.j2 >= n ? c.j2 - n : 0);
    }
    if (Opcode& c = codes.back(); c.tag == OpTag::equal) {
        c.i2 = std::min(c.i2, c.i1 + n);
        c.j2 = std::min(c.j2, c.j1 + n);
    }
    std::vector<std::vector<Opcode>> groups;
    std::vector<Opcode> group;
    for (Opcode c : codes) {
        // A long equal stretch ends one hunk and starts the next.
        if (c.tag == OpTag::equal && c.i2 - c.i1 > 2 * n) {
            group.push_back({OpTag::equal, c.i1, std::min(c.i2, c.i1 + n), c.j1, std::min(c.j2, c.j1 + n)});
            groups.push_back(std::move(group));
            group.clear();
            c.i1 = std::max(c.i1, c.i2 - n);
            c.j1 = std::max(c.j1, c.j2 - n);
        }
        group.push_back(c);
    }
    if (!group.empty() && !(group.size() == 1 && group.front().tag == OpTag::equal)) groups.push_back(std::move(group));
    return groups;
}

std::string format_range_unified(size_t start, size_t stop) {
    size_t beginning = start + 1;
    const size_t length = stop - start;
    if (length == 1) return std::to_string(beginning);
    if (length == 0) --beginning;
    return std::to_string(beginning) + "," + std::to_string(length);
}

std::vector<std::string> unified_diff(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b,
                                      std::string_view fromfile, std::string_view tofile, size_t n,
                                      std::string_view lineterm) {
    std::vector<std::string> lines;
    const SequenceMatcher matcher(a, b);
    for (const auto& group : matcher.get_grouped_opcodes(n)) {
        if (lines.empty()) {
            lines.push_back("--- " + std::string(fromfile) + std::string(lineterm));
            lines.push_back("+++ " + std::string(tofile) + std::string(lineterm));
        }
        const Opcode& first = group.front();
        const Opcode& last = group.back();
        lines.push_back("@@ -" + format_range_unified(first.i1, last.i2) + " +" +
                        format_range_unified(first.j1, last.j2) + " @@" + std::string(lineterm));
        auto add = [&lines](char mark, const std::vector<std::string_view>& seq, size_t from, size_t to) {
            for (size_t k = from; k < to; ++k) lines.push_back(mark + std::string(seq[k]));
        };
        for (const Opcode& c : group) {
            if (c.tag == OpTag::equal) {
                add(' ', a, c.i1, c.i2);
                continue;
            }
            if (c.tag == OpTag::replace || c.tag == OpTag::remove) add('-', a, c.i1, c.i2);
            if (c.tag == OpTag::replace || c.tag == OpTag::insert) add('+', b, c.j1, c.j2);
        }
    }
    return lines;
}

}  // namespace support

#pragma once
// What the Markdown renderer (markdown.cpp) and the block scan (markdown_blocks.cpp) share:
// the parser as every parse here sets it up, the memory pool it works in, and the reading
// of tables.
#include <cmark-gfm.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace support::markdown::detail {

inline constexpr int kOptions = CMARK_OPT_UNSAFE | CMARK_OPT_HARDBREAKS | CMARK_OPT_TABLE_PREFER_STYLE_ATTRIBUTES;

// Once an allocation in the pool has failed, what the parser and the tree hold is not
// walked to be freed (cmark was cut short in the middle of its work): the pool takes it back.
struct ParserDeleter {
    void operator()(cmark_parser* p) const;
};
struct NodeDeleter {
    void operator()(cmark_node* n) const;
};

// While one is alive, every tree, node and rendered text comes from the renderer's pool;
// when the outermost one ends, everything goes back at once. The outermost one bounds what
// the pool may hold by the size of the text it parses: an allocation past that bound raises
// std::length_error, one that the system refuses std::bad_alloc, out of the cmark call
// that made it.
class PoolUse {
  public:
    explicit PoolUse(std::size_t text_bytes);
    ~PoolUse();
    PoolUse(const PoolUse&) = delete;
    PoolUse& operator=(const PoolUse&) = delete;
};

// A text that cmark rendered, copied out of the pool; the piece goes back.
std::string take_rendered(char* html);

// A parser with the options and extensions of every parse here.
std::unique_ptr<cmark_parser, ParserDeleter> new_parser(int options, bool tables = true);

// Throws std::length_error for a table of more than `max_cells` cells; returns whether a
// table can stand in the text at all.
bool check_table_sizes(std::string_view text, size_t max_cells);

// Whether a parse without the table extension finds the code blocks that a parse with it
// finds, given the first and last line (counted from 1) of each paragraph and heading
// outside any container.
bool tables_leave_code_alone(std::string_view source, const std::vector<std::pair<int, int>>& open_lines);

}  // namespace support::markdown::detail

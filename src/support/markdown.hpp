#pragma once
// Markdown to HTML: CommonMark with the GitHub table extension (alignment written as a
// style attribute), raw HTML kept, a single line feed rendered as a hard break, no
// autolinks, strikethrough or tag filter. What a caller's pages add to that (a rewrite
// of the text before it is parsed, an edit of the tree before it is rendered) comes in as
// a Dialect.
#include <cmark-gfm.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace support::markdown {

inline constexpr std::size_t default_max_table_cells = 250000;

// How a line of a paragraph stands, for markers of content that the caller puts back
// after rendering: as text; as a block (the line is taken out of its paragraph and stands
// as a raw HTML block of its own); or as a block where it makes a paragraph of its own
// with other such lines and block lines, and as text where it shares one with text.
enum class LineRole { text, block, block_alone };

// A parsed text as an edit of the caller's sees it: the nodes of the kinds an edit looks
// at, in text order, gathered in one walk (the paragraphs are those left after block
// lines were lifted out of them).
struct Tree {
    cmark_node* root = nullptr;
    cmark_llist* extensions = nullptr;
    std::vector<cmark_node*> paragraphs, images, html_blocks, html_inlines, headings;
};

// What a caller adds to the Markdown that every parse here reads.
struct Dialect {
    // The text to parse in place of `text`, or nothing to parse it as it is. `origin`, when
    // given, gets for every line of the result the index of the line of `text` it is, or
    // npos for a line the rewrite added; a rewrite only adds lines.
    std::optional<std::string> (*rewrite)(std::string_view text, std::vector<size_t>* origin) = nullptr;
    // Edits the tree before it is rendered; nodes it makes come from new_node.
    void (*edit)(const Tree& tree) = nullptr;
};

// A node of `type` holding `literal`, in the memory of the tree being edited.
cmark_node* new_node(cmark_node_type type, const std::string& literal);
// Puts `new_node` where `old_node` stands and frees `old_node` and all below it.
void replace_node(cmark_node* old_node, cmark_node* new_node);
// The HTML of one node of the tree, as the page renders it.
std::string render_node(cmark_node* node, const Tree& tree);

struct Options {
    // The role of a line of a paragraph, given its whole text; a code block or an HTML block
    // that holds nothing but a block line stands as that line.
    std::function<LineRole(std::string_view line)> line_role;
    // Given the text of a link destination or title (also of a reference definition) and
    // the text of an autolink, returns what stands there instead (markers the caller
    // swapped in go back to the text as written). `escapes` says whether backslash
    // escapes were read in it: in a destination and a title, not in an autolink.
    std::function<std::string(std::string_view text, bool escapes)> link_text;
    // The most cells, columns times rows (the header row included), that a table may
    // have. The table extension pads every row to the header's width, so a few bytes can
    // ask for millions of cells; a text with a larger table is refused before parsing.
    std::size_t max_table_cells = default_max_table_cells;
    Dialect dialect;
};

// A code block as the renderer finds it in a text.
struct CodeBlock {
    size_t begin = 0;  // byte offset of its first character (the fence, or the first code character)
    size_t end = 0;    // byte offset just past its last character (closing fence or last code line)
    bool fenced = false;
    std::string info;     // the fence's info string
    std::string literal;  // the code, each line ended by the line break the text has there
    std::string html;     // the renderer's own HTML for an indented block; "" for a fenced one

    bool operator==(const CodeBlock&) const = default;
};
// The code blocks of `text`, fenced and indented, in text order. Throws
// std::length_error, as render_html does, for a table over `max_table_cells`.
std::vector<CodeBlock> find_code_blocks(std::string_view text, const Dialect& dialect = {},
                                        std::size_t max_table_cells = default_max_table_cells);

// The blocks of a text from one parse: its code blocks, and the paragraphs and headings
// that stand in no container (no list, quote or table), each as the byte range from the
// start of its first line to the end of its last, in text order. A paragraph whose place
// the renderer does not report (the one a table header was taken from) is left out.
struct BlockMap {
    std::vector<CodeBlock> code_blocks;
    std::vector<std::pair<size_t, size_t>> open_text;
};
BlockMap map_blocks(std::string_view text, const Dialect& dialect = {}, std::size_t max_table_cells = default_max_table_cells);

// Whether a line (without its line break) can begin nothing but a paragraph, where a
// block may begin outside any container: it is then read alike as the continuation of a
// paragraph and as the start of one, and no other line is read otherwise because of it.
bool begins_only_paragraph(std::string_view line);
// Whether a line (without its line break) is a heading of "#" marks: up to three blanks,
// one to six "#", then a blank, a tab or the line's end. Such a line interrupts a
// paragraph, so it reads alike after a line of text and after a blank line.
bool is_atx_heading(std::string_view line);

// The HTML body, without a line feed at its end. Throws std::length_error, naming the
// table's size, for a text that holds a table over options.max_table_cells.
std::string render_html(std::string_view text, const Options& options = {});

// A text with its backslash escapes read, as in a link destination or title: a backslash
// before an ASCII punctuation character goes.
std::string read_backslash_escapes(std::string_view text);

}  // namespace support::markdown

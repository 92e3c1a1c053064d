#pragma once
// Markdown to HTML: CommonMark with the GitHub table extension (alignment written as a
// style attribute), raw HTML kept, a single line feed rendered as a hard break, no
// autolinks, strikethrough or tag filter. On the syntax tree this layer adds what the
// documentation pages expect: an id on every heading, the "[TOC]" paragraph replaced
// by a nested list of the headings, images written with alt before src, and the
// markdown attribute (markdown="1", "block", "span" or bare) dropped from HTML blocks.
#include <cstddef>
#include <functional>
#include <map>
#include <set>
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
std::vector<CodeBlock> find_code_blocks(std::string_view text, std::size_t max_table_cells = default_max_table_cells);

// The blocks of a text from one parse: its code blocks, and the paragraphs and headings
// that stand in no container (no list, quote or table), each as the byte range from the
// start of its first line to the end of its last, in text order. A paragraph whose place
// the renderer does not report (the one a table header was taken from) is left out.
struct BlockMap {
    std::vector<CodeBlock> code_blocks;
    std::vector<std::pair<size_t, size_t>> open_text;
};
BlockMap map_blocks(std::string_view text, std::size_t max_table_cells = default_max_table_cells);

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

// The id base of a heading text: compatibility decomposition, non-ASCII dropped,
// characters other than word characters, white space and "-" dropped, stripped,
// lower-cased, and every run of "-" and white space made one "-".
std::string slugify(std::string_view text);
// Heading ids of one document. `unique` gives `id`, or id_1, id_2, ... (an id already
// ending in _N counts on from N), whichever is not taken yet; never an empty id. Each
// requested id remembers where its count stopped, so many equal headings stay linear.
class UniqueIds {
  public:
    std::string unique(const std::string& id);

  private:
    std::set<std::string> used_;
    std::map<std::string, std::string> resume_;  // requested id -> the last id given for it
};

}  // namespace support::markdown

#include "support/markdown.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/markdown_internal.hpp"
#include "support/text.hpp"

namespace support::markdown {

using detail::kOptions;
using detail::NodeDeleter;
using detail::ParserDeleter;
using detail::take_rendered;

namespace {

// The memory of every tree, node and rendered text here. A parse makes tens of thousands
// of small allocations, where the system allocator spends about a fifth of a page's time;
// this one hands out small pieces from blocks that are kept from file to file, keeps what
// is freed on a list by size for the next piece of that size, grows the newest piece in
// place (texts grow by appending), and takes everything back at once when the outermost
// call of this file ends. A large piece (a long text, a rendered node) comes from the
// system allocator, which can grow it without a copy and gives it back when it is freed.
// One thread uses it, as one uses the program.
//
// What a parse holds is bounded by the text it is given: a few bytes of brackets or
// emphasis marks ask the parser for a node of a few hundred bytes each, so that megabytes
// of them would take gigabytes. Past the bound, or when the system has no more memory, the
// allocation raises, and the exception unwinds through cmark's C code to the caller that
// parses. Nothing in those C frames needs undoing: all they hold is in the pool, and they
// are compiled with the unwind tables that the platform's C compiler always writes on
// x86-64 and arm64 (on Windows x64 they are part of the calling convention). Once an
// allocation has failed, the parser and the tree are left as the failure found them: they
// are not walked to be freed (see ParserDeleter): the pool takes back all of it at once.
class Pool {
  public:
    static cmark_mem* mem() {
        static cmark_mem m{&Pool::calloc, &Pool::realloc, &Pool::free};
        return &m;
    }

    // The pool serves from the first enter() on, and holds at most bound_for(text_bytes)
    // until the last leave() matches it; then everything goes back.
    static void enter(size_t text_bytes) {
        if (depth_++ == 0) {
            text_bytes_ = text_bytes;
            bound_ = bound_for(text_bytes);
        }
    }
    static void leave() {
        if (--depth_ == 0) reset();
    }
    // Whether an allocation has failed since the outermost enter().
    static bool failed() { return failed_; }

  private:
    // A large piece, linked with the others that are out, so that the end of a parse
    // takes back any that were not freed.
    struct Large {
        Large* prev;
        Large* next;
        size_t capacity;  // the piece's header word, as for every piece
    };
    // Each piece is preceded by one word: its capacity, a multiple of the grain, with the
    // lowest bit set for a large piece. What cmark keeps in its pieces (pointers, sizes,
    // integers, characters) needs no more than the alignment of a pointer.
    static constexpr size_t grain = alignof(void*);
    static constexpr size_t header = sizeof(size_t);
    static constexpr size_t large_bit = 1;
    static constexpr size_t block_size = size_t{1} << 20;
    // Pieces above this come from the system allocator.
    static constexpr size_t large_limit = size_t{64} << 10;
    // Blocks are kept between files up to the most that one file needed, and never more
    // than this many: a large file does not hold its memory for the rest of the run.
    static constexpr size_t kept_blocks = 32;
    // Sizes up to small_limit go by the grain; above it, each doubling has `steps` classes.
    static constexpr size_t small_limit = 1024;
    static constexpr size_t steps = 8;
    static constexpr size_t small_classes = small_limit / grain + 1;  // class 0 holds nothing
    static constexpr size_t classes = small_classes + steps * static_cast<size_t>(std::bit_width(large_limit) - std::bit_width(small_limit));

    static inline std::vector<std::unique_ptr<std::byte[]>> blocks_;
    static inline size_t current_ = 0;                          // the block in use
    static inline std::byte *cursor_ = nullptr, *limit_ = nullptr;  // its free room
    static inline std::byte* last_ = nullptr;     // the newest piece, while it is the last one of its block
    static inline std::array<std::byte*, classes> free_{};  // freed pieces by class, linked through their first word
    static inline Large* large_ = nullptr;
    static inline int depth_ = 0;
    // What the pool holds now (its blocks in use and its large pieces) and the most it may.
    static inline size_t held_ = 0, bound_ = 0, text_bytes_ = 0;
    static inline bool failed_ = false;

    // A parse holds a few times the size of prose, and up to some sixty times that of text
    // made of short pieces (list items, table cells, headings of a word); text that is one
    // node every few bytes (brackets, emphasis marks) asks for nearly two hundred times its
    // size. The bound lets the first through with room to spare and stops the second long
    // before it fills the machine.
    static constexpr size_t bound_per_text_byte = 96;
    static constexpr size_t bound_floor = size_t{64} << 20;
    static size_t bound_for(size_t text_bytes) {
        return text_bytes > (SIZE_MAX - bound_floor) / bound_per_text_byte ? SIZE_MAX
                                                                            : bound_floor + bound_per_text_byte * text_bytes;
    }
    // Takes `n` more bytes into what the pool holds, or raises when that passes the bound.
    static void hold(size_t n) {
        if (n > bound_ - held_) {
            throw std::length_error("parsing needs more than " + std::to_string(bound_ >> 20) +
                                    " MiB of memory, the most for a text of " + std::to_string(text_bytes_) +
                                    " bytes");
        }
        held_ += n;
    }

    static size_t& header_of(std::byte* piece) { return *reinterpret_cast<size_t*>(piece - header); }
    static size_t rounded(size_t n) { return (n + grain - 1) / grain * grain; }
    static size_t class_size(size_t index) {
        if (index < small_classes) return index * grain;
        size_t i = index - small_classes;
        return (steps + 1 + i % steps) << (i / steps + static_cast<size_t>(std::bit_width(small_limit) - std::bit_width(steps)));
    }
    // The smallest class whose pieces hold n bytes (n <= large_limit).
    static size_t class_for(size_t n) {
        if (n <= small_limit) return std::max<size_t>(1, (n + grain - 1) / grain);
        const auto e = static_cast<size_t>(std::bit_width(n - 1)) - 1;  // 2^e < n <= 2^(e+1)
        const size_t step = size_t{1} << (e + 1 - static_cast<size_t>(std::bit_width(steps)));
        const size_t k = (n + step - 1) / step;  // steps + 1 .. 2 * steps
        return small_classes + (e + 1 - static_cast<size_t>(std::bit_width(small_limit))) * steps + (k - steps - 1);
    }
    // The largest class that a piece of `capacity` bytes can serve.
    static size_t class_within(size_t capacity) {
        size_t index = class_for(std::min(capacity, large_limit));
        return class_size(index) > capacity ? index - 1 : index;
    }

    static std::byte* bump(size_t capacity) {
        if (static_cast<size_t>(limit_ - cursor_) < header + capacity) next_block();
        std::byte* piece = cursor_ + header;
        cursor_ = piece + capacity;
        header_of(piece) = capacity;
        return last_ = piece;
    }
    // The next block, kept or new; what the current one has left goes unused.
    [[gnu::noinline]] static void next_block() {
        hold(block_size);
        const size_t next = cursor_ ? current_ + 1 : current_;
        if (next == blocks_.size()) {
            // Not zeroed here: calloc zeroes what it hands out.
            std::unique_ptr<std::byte[]> block(new std::byte[block_size]);
            blocks_.push_back(std::move(block));
        }
        current_ = next;
        cursor_ = blocks_[current_].get();
        limit_ = cursor_ + block_size;
        last_ = nullptr;
    }
    static std::byte* take_large(size_t n) {
        const size_t capacity = rounded(n);
        hold(capacity);
        auto* large = static_cast<Large*>(std::malloc(sizeof(Large) + capacity));
        if (!large) throw std::bad_alloc();
        *large = {nullptr, large_, capacity | large_bit};
        if (large_) large_->prev = large;
        return reinterpret_cast<std::byte*>(large_ = large) + sizeof(Large);
    }
    static Large* large_of(std::byte* piece) { return reinterpret_cast<Large*>(piece - sizeof(Large)); }
    static void relink(Large* large) {
        if (large->prev) large->prev->next = large;
        else large_ = large;
        if (large->next) large->next->prev = large;
    }
    static void unlink(Large* large) {
        if (large->prev) large->prev->next = large->next;
        else large_ = large->next;
        if (large->next) large->next->prev = large->prev;
    }
    static std::byte* take(size_t n) {
        if (n > large_limit) return take_large(n);
        const size_t index = class_for(n);
        if (std::byte* piece = free_[index]) {
            std::memcpy(&free_[index], piece, sizeof(std::byte*));
            return piece;
        }
        return bump(class_size(index));
    }
    // What cmark asks for. A failure is marked before it unwinds through cmark's code.
    static void* calloc(size_t count, size_t size) {
        try {
            if (size != 0 && count > SIZE_MAX / size) throw std::bad_alloc();
            const size_t n = count * size;
            return std::memset(take(n), 0, n);
        } catch (...) {
            failed_ = true;
            throw;
        }
    }
    static void* realloc(void* p, size_t n) {
        try {
            return grow(static_cast<std::byte*>(p), n);
        } catch (...) {
            failed_ = true;
            throw;
        }
    }
    static std::byte* grow(std::byte* piece, size_t n) {
        if (!piece) return take(n);
        const size_t word = header_of(piece);
        const size_t capacity = word & ~large_bit;
        if (n <= capacity) return piece;
        if ((word & large_bit) != 0) {
            // The system allocator moves a large piece's pages rather than its bytes.
            hold(rounded(n) - capacity);
            Large* large = large_of(piece);
            auto* grown = static_cast<Large*>(std::realloc(large, sizeof(Large) + rounded(n)));
            if (!grown) {
                held_ -= rounded(n) - capacity;
                throw std::bad_alloc();
            }
            grown->capacity = rounded(n) | large_bit;
            relink(grown);
            return reinterpret_cast<std::byte*>(grown) + sizeof(Large);
        }
        if (piece == last_ && n <= large_limit && rounded(n) <= static_cast<size_t>(limit_ - piece)) {
            cursor_ = piece + rounded(n);
            header_of(piece) = rounded(n);
            return piece;
        }
        std::byte* grown = take(n);
        std::memcpy(grown, piece, std::min(capacity, n));
        free(piece);
        return grown;
    }
    static void free(void* p) {
        auto* piece = static_cast<std::byte*>(p);
        if (!piece) return;
        const size_t word = header_of(piece);
        if ((word & large_bit) != 0) {
            Large* large = large_of(piece);
            held_ -= large->capacity & ~large_bit;
            unlink(large);
            std::free(large);
            return;
        }
        if (piece == last_) {
            // The newest piece of its block gives its room back to the block.
            cursor_ = piece - header;
            last_ = nullptr;
            return;
        }
        const size_t index = word <= small_limit ? word / grain : class_within(word);
        if (index == 0) return;
        std::memcpy(piece, &free_[index], sizeof(std::byte*));
        free_[index] = piece;
    }
    static void reset() {
        while (large_) {
            Large* next = large_->next;
            std::free(large_);
            large_ = next;
        }
        if (blocks_.size() > kept_blocks) blocks_.resize(kept_blocks);
        free_.fill(nullptr);
        current_ = 0;
        cursor_ = limit_ = last_ = nullptr;
        held_ = 0;
        failed_ = false;
    }

  public:
    // A text that cmark rendered, copied out of the pool; the piece goes back.
    static std::string take_text(char* rendered) {
        if (!rendered) return "";
        std::string text(rendered);
        free(rendered);
        return text;
    }
};

// The nodes the passes below and the caller's edit work on, gathered in one walk.
struct Nodes {
    Tree tree;
    std::vector<cmark_node*> links, code_blocks;
};

Nodes collect(cmark_node* root) {
    Nodes nodes;
    Tree& tree = nodes.tree;
    tree.root = root;
    cmark_iter* iter = cmark_iter_new(root);
    for (cmark_event_type ev; (ev = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        if (ev != CMARK_EVENT_ENTER) continue;
        cmark_node* node = cmark_iter_get_node(iter);
        switch (cmark_node_get_type(node)) {
            case CMARK_NODE_PARAGRAPH: tree.paragraphs.push_back(node); break;
            case CMARK_NODE_IMAGE:
                tree.images.push_back(node);
                nodes.links.push_back(node);
                break;
            case CMARK_NODE_LINK: nodes.links.push_back(node); break;
            case CMARK_NODE_CODE_BLOCK: nodes.code_blocks.push_back(node); break;
            case CMARK_NODE_HTML_BLOCK: tree.html_blocks.push_back(node); break;
            case CMARK_NODE_HTML_INLINE: tree.html_inlines.push_back(node); break;
            case CMARK_NODE_HEADING: tree.headings.push_back(node); break;
            default: break;
        }
    }
    cmark_iter_free(iter);
    return nodes;
}

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_break(cmark_node* n) {
    auto t = cmark_node_get_type(n);
    return t == CMARK_NODE_SOFTBREAK || t == CMARK_NODE_LINEBREAK;
}

// Takes the lines that the caller marks as block content out of their paragraphs, and
// the paragraphs made of nothing but lines it marks as blocks of their own. The emptied
// paragraphs go to `detached`: the texts moved out of them still point into their
// content, so they must live as long as the document.
// Returns the paragraphs that remain, old and new.
std::vector<cmark_node*> lift_block_lines(const std::vector<cmark_node*>& paragraphs, const Options& options,
                                          std::vector<std::unique_ptr<cmark_node, NodeDeleter>>& detached) {
    if (!options.line_role) return paragraphs;
    std::vector<cmark_node*> remaining;
    remaining.reserve(paragraphs.size());
    std::string text;
    for (cmark_node* para : paragraphs) {
        // A first look, which most paragraphs end with: does any of its lines stand for a
        // block, or do all of them?
        bool any = false, all = true, plain = true, empty = true;
        auto line_done = [&] {
            LineRole role = plain && !empty ? options.line_role(text) : LineRole::text;
            any = any || role == LineRole::block;
            all = all && role != LineRole::text;
            text.clear();
            plain = empty = true;
        };
        for (cmark_node* c = cmark_node_first_child(para); c && !any; c = cmark_node_next(c)) {
            if (is_break(c)) {
                line_done();
                continue;
            }
            empty = false;
            if (cmark_node_get_type(c) == CMARK_NODE_TEXT) text += cmark_node_get_literal(c);
            else plain = false;
        }
        if (!any) line_done();
        if (!any && !all) {
            remaining.push_back(para);
            continue;
        }
        struct Line {
            std::vector<cmark_node*> nodes;
            std::string text;
            bool plain = true;
            LineRole role = LineRole::text;
            bool lifted = false;
        };
        std::vector<Line> lines(1);
        std::vector<cmark_node*> breaks;
        for (cmark_node* c = cmark_node_first_child(para); c; c = cmark_node_next(c)) {
            if (is_break(c)) {
                breaks.push_back(c);
                lines.emplace_back();
                continue;
            }
            lines.back().nodes.push_back(c);
            if (cmark_node_get_type(c) == CMARK_NODE_TEXT) lines.back().text += cmark_node_get_literal(c);
            else lines.back().plain = false;
        }
        all = true;
        for (auto& line : lines) {
            if (line.plain && !line.nodes.empty()) line.role = options.line_role(line.text);
            all = all && line.role != LineRole::text;
        }
        for (auto& line : lines) line.lifted = line.role == LineRole::block || (all && line.role == LineRole::block_alone);
        cmark_node* pending = nullptr;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].lifted) {
                pending = nullptr;
                cmark_node_insert_before(para, new_node(CMARK_NODE_HTML_BLOCK, lines[i].text));
                continue;
            }
            if (!pending) {
                pending = cmark_node_new_with_mem(CMARK_NODE_PARAGRAPH, Pool::mem());
                cmark_node_insert_before(para, pending);
                remaining.push_back(pending);
            } else {
                cmark_node* br = breaks[i - 1];
                cmark_node_unlink(br);
                cmark_node_append_child(pending, br);
            }
            for (cmark_node* n : lines[i].nodes) {
                cmark_node_unlink(n);
                cmark_node_append_child(pending, n);
            }
        }
        cmark_node_unlink(para);  // what is left: the lifted texts and the breaks around them
        detached.emplace_back(para);
    }
    return remaining;
}

// Link destinations and titles, and the text of autolinks, through the caller's function.
void write_link_texts(const std::vector<cmark_node*>& links, const Options& options) {
    if (!options.link_text) return;
    for (cmark_node* link : links) {
        std::string url = cmark_node_get_url(link);
        cmark_node* text = cmark_node_first_child(link);
        bool autolink = cmark_node_get_type(link) == CMARK_NODE_LINK && text && !cmark_node_next(text) &&
                        cmark_node_get_type(text) == CMARK_NODE_TEXT &&
                        (url == cmark_node_get_literal(text) || url == "mailto:" + std::string(cmark_node_get_literal(text)));
        if (autolink) cmark_node_set_literal(text, options.link_text(cmark_node_get_literal(text), false).c_str());
        cmark_node_set_url(link, options.link_text(url, !autolink).c_str());
        std::string title = cmark_node_get_title(link);
        if (!title.empty()) cmark_node_set_title(link, options.link_text(title, true).c_str());
    }
}

// A code block that holds nothing but a block line of the caller stands for it; an HTML
// block that is such a line loses the indentation it had.
void lift_block_code(const std::vector<cmark_node*>& code_blocks, const std::vector<cmark_node*>& html_blocks,
                     const Options& options) {
    if (!options.line_role) return;
    auto is_block_line = [&options](std::string_view line) { return options.line_role(line) == LineRole::block; };
    for (cmark_node* block : html_blocks) {
        std::string_view literal = cmark_node_get_literal(block);
        std::string_view bare = strip(literal);
        if (bare.size() != literal.size() && literal.starts_with(' ') && is_block_line(bare))
            cmark_node_set_literal(block, std::string(bare).c_str());
    }
    for (cmark_node* code : code_blocks) {
        std::string literal = cmark_node_get_literal(code);
        if (literal.ends_with('\n')) literal.pop_back();
        if (literal.find('\n') == std::string::npos && is_block_line(literal))
            replace_node(code, new_node(CMARK_NODE_HTML_BLOCK, literal));
    }
}

bool is_blank_line(std::string_view line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') return false;
    return true;
}

// The columns of a table's delimiter row ("|:--|---|", "--- | :-:"), after any quote
// markers and indentation before it; 0 for any other line.
size_t delimiter_columns(std::string_view line) {
    size_t begin = 0;
    while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t' || line[begin] == '>')) ++begin;
    // Most lines are not one: a row begins with a bar, a colon or a dash.
    if (begin == line.size() || (line[begin] != '|' && line[begin] != ':' && line[begin] != '-')) return 0;
    size_t end = line.find_last_not_of(" \t\r\v\f");
    if (end == std::string_view::npos || end < begin) return 0;
    std::string_view row = line.substr(begin, end + 1 - begin);
    if (row.starts_with('|')) row.remove_prefix(1);
    if (row.ends_with('|')) row.remove_suffix(1);
    size_t columns = 0;
    for (size_t pos = 0;;) {
        size_t bar = row.find('|', pos);
        std::string_view cell = strip(row.substr(pos, bar == std::string_view::npos ? bar : bar - pos));
        if (cell.starts_with(':')) cell.remove_prefix(1);
        if (cell.ends_with(':')) cell.remove_suffix(1);
        if (cell.empty() || cell.find_first_not_of('-') != std::string_view::npos) return 0;
        ++columns;
        if (bar == std::string_view::npos) return columns;
        pos = bar + 1;
    }
}

// A line that the renderer takes for blank: nothing but blanks and tabs.
bool is_renderer_blank(std::string_view line) { return line.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

namespace detail {

PoolUse::PoolUse(std::size_t text_bytes) { Pool::enter(text_bytes); }
PoolUse::~PoolUse() { Pool::leave(); }

void ParserDeleter::operator()(cmark_parser* p) const {
    if (!Pool::failed()) cmark_parser_free(p);
}
void NodeDeleter::operator()(cmark_node* n) const {
    if (!Pool::failed()) cmark_node_free(n);
}

std::string take_rendered(char* html) { return Pool::take_text(html); }

// A parser with the options and extensions of every parse here.
std::unique_ptr<cmark_parser, ParserDeleter> new_parser(int options, bool tables) {
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });
    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new_with_mem(options, Pool::mem()));
    if (cmark_syntax_extension* table = tables ? cmark_find_syntax_extension("table") : nullptr)
        cmark_parser_attach_syntax_extension(parser.get(), table);
    return parser;
}

// A table is a header line, a delimiter row that fixes the number of columns, and the
// lines after it up to a blank one (other blocks may end it sooner: the count is an upper
// bound). The extension gives every row all the columns, so the cells it would make are
// known before parsing, in one pass over the lines. Returns whether a table can stand in
// the text at all: a delimiter row after a line that the renderer does not take for blank
// (any text with a lone carriage return counts, its lines are not split here).
bool check_table_sizes(std::string_view text, size_t max_cells) {
    bool previous_blank = true, previous_text = false;
    bool tables = text.find('\r') != std::string_view::npos;
    size_t pos = 0;
    auto next_line = [&]() {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? end : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        return line;
    };
    while (pos < text.size()) {
        std::string_view line = next_line();
        // The row is read once for both questions, and not at all when neither asks.
        const std::uint64_t delimiter = !previous_blank || (previous_text && !tables) ? delimiter_columns(line) : 0;
        tables = tables || (previous_text && delimiter > 0);
        previous_text = !is_renderer_blank(line);
        std::uint64_t columns = previous_blank ? 0 : delimiter;
        previous_blank = is_blank_line(line);
        if (columns == 0) continue;
        std::uint64_t rows = 1;  // the header
        while (pos < text.size()) {
            if (is_blank_line(next_line())) {
                previous_blank = true;
                break;
            }
            ++rows;
        }
        if (columns * rows > max_cells)
            throw std::length_error("a table of " + std::to_string(columns) + " columns and " + std::to_string(rows) +
                                    " rows exceeds the limit of " + std::to_string(max_cells) + " cells");
    }
    return tables;
}

// Whether a parse without the table extension finds the code blocks that a parse with it
// finds. A table changes how the lines after its delimiter row are read: it is no
// paragraph, so an indented line, an ordered list item or a line without the container's
// marks ends it where a paragraph would go on. A table cannot stand where no delimiter row
// follows a line of text; where one does, the two parses agree when the row lies in a
// paragraph or heading outside any container (`open_lines`, the first and last line of
// each, counted from 1) and every line after it up to a blank one begins nothing but text.
bool tables_leave_code_alone(std::string_view source, const std::vector<std::pair<int, int>>& open_lines) {
    bool previous_blank = true, in_rows = false;
    size_t open = 0;
    int number = 0;
    const bool has_cr = source.find('\r') != std::string_view::npos;
    for (size_t pos = 0; pos < source.size();) {
        // Lines end where the renderer ends them: at a line feed, a carriage return, or both.
        size_t end = std::min(has_cr ? source.find_first_of("\r\n", pos) : source.find('\n', pos), source.size());
        std::string_view line = source.substr(pos, end - pos);
        pos = end + (source.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++number;
        bool blank = is_renderer_blank(line);
        if (in_rows) {
            if (blank) in_rows = false;
            else if (!begins_only_paragraph(line)) return false;
        } else if (!previous_blank && delimiter_columns(line) > 0) {
            while (open < open_lines.size() && open_lines[open].second < number) ++open;
            if (open == open_lines.size() || open_lines[open].first > number) return false;
            in_rows = true;
        }
        previous_blank = blank;
    }
    return true;
}

}  // namespace detail

bool begins_only_paragraph(std::string_view line) {
    if (line.empty()) return false;
    auto c = static_cast<unsigned char>(line[0]);
    if (c >= 0x80 || is_ascii_alpha(line[0]) || std::string_view("!\"$%&'(),./:;?@[\\]^{|}").find(line[0]) != std::string_view::npos)
        return true;
    if (is_ascii_digit(line[0])) {
        // Digits followed by "." or ")" and a blank, a tab or the line's end mark a list item.
        size_t i = line.find_first_not_of("0123456789");
        return i != std::string_view::npos && !((line[i] == '.' || line[i] == ')') &&
                                                (i + 1 == line.size() || line[i + 1] == ' ' || line[i + 1] == '\t'));
    }
    // "*", "-", "+", "_" and "=" begin a list item when a blank follows them, a thematic
    // break or a heading underline when the line holds nothing else.
    if (std::string_view("*-+_=").find(line[0]) == std::string_view::npos) return false;
    return line.size() > 1 && line[1] != ' ' && line[1] != '\t' &&
           line.find_first_not_of(std::string{line[0], ' ', '\t'}) != std::string_view::npos;
}

bool is_atx_heading(std::string_view line) {
    size_t hashes = line.find_first_not_of(' ');
    if (hashes == std::string_view::npos || hashes > 3 || line[hashes] != '#') return false;
    size_t end = std::min(line.find_first_not_of('#', hashes), line.size());
    return end - hashes <= 6 && (end == line.size() || line[end] == ' ' || line[end] == '\t');
}

std::string read_backslash_escapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        static constexpr std::string_view punctuation = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
        if (text[i] == '\\' && i + 1 < text.size() && punctuation.find(text[i + 1]) != std::string_view::npos) ++i;
        out += text[i];
    }
    return out;
}

cmark_node* new_node(cmark_node_type type, const std::string& literal) {
    cmark_node* node = cmark_node_new_with_mem(type, Pool::mem());
    cmark_node_set_literal(node, literal.c_str());
    return node;
}

void replace_node(cmark_node* old_node, cmark_node* new_node) {
    cmark_node_replace(old_node, new_node);
    cmark_node_free(old_node);
}

std::string render_node(cmark_node* node, const Tree& tree) {
    return take_rendered(cmark_render_html(node, kOptions, tree.extensions));
}

namespace {

// The memory of a rendered page: the system allocator's, so that the page outlives the
// pool and is copied out after the tree's memory has gone back. A refusal raises, as the
// pool's does; the renderer it unwinds through frees nothing, so what it was handed is
// kept on a list for the caller to take back.
thread_local std::vector<void*> page_pieces;

cmark_mem* page_memory() {
    static cmark_mem m{
        [](size_t count, size_t size) {
            page_pieces.reserve(page_pieces.size() + 1);
            void* p = std::calloc(count, size);
            if (!p && count && size) throw std::bad_alloc();
            page_pieces.push_back(p);
            return p;
        },
        [](void* p, size_t n) {
            page_pieces.reserve(page_pieces.size() + 1);
            void* grown = std::realloc(p, n);
            if (!grown && n) throw std::bad_alloc();
            auto at = std::find(page_pieces.begin(), page_pieces.end(), p);
            if (p && at != page_pieces.end()) *at = grown;
            else page_pieces.push_back(grown);
            return grown;
        },
        [](void* p) {
            if (auto at = std::find(page_pieces.begin(), page_pieces.end(), p); p && at != page_pieces.end())
                page_pieces.erase(at);
            std::free(p);
        }};
    return &m;
}

// Renders `doc` into the page's memory; what a failed rendering was handed goes back.
char* render_page(cmark_node* doc, cmark_llist* extensions) {
    page_pieces.clear();
    try {
        char* page = cmark_render_html_with_mem(doc, kOptions, extensions, page_memory());
        page_pieces.clear();
        return page;
    } catch (...) {
        for (void* p : page_pieces) std::free(p);
        page_pieces.clear();
        throw;
    }
}

}  // namespace

std::string render_html(std::string_view text, const Options& options) {
    std::unique_ptr<char, decltype(&std::free)> rendered(nullptr, &std::free);
    {
        detail::PoolUse pooled(text.size());
        std::optional<std::string> rewritten = options.dialect.rewrite ? options.dialect.rewrite(text, nullptr) : std::nullopt;
        std::string_view source = rewritten ? std::string_view(*rewritten) : text;
        // The table extension alone costs half a parse: it is left out where no table can stand.
        auto parser = detail::new_parser(kOptions, detail::check_table_sizes(source, options.max_table_cells));
        cmark_parser_feed(parser.get(), source.data(), source.size());
        std::unique_ptr<cmark_node, NodeDeleter> doc(cmark_parser_finish(parser.get()));

        // Nodes are replaced, paragraphs split; none of that frees a node that another list
        // still holds (images move with their paragraph's other inlines).
        Nodes nodes = collect(doc.get());
        nodes.tree.extensions = cmark_parser_get_syntax_extensions(parser.get());
        std::vector<std::unique_ptr<cmark_node, NodeDeleter>> detached;
        nodes.tree.paragraphs = lift_block_lines(nodes.tree.paragraphs, options, detached);
        lift_block_code(nodes.code_blocks, nodes.tree.html_blocks, options);
        write_link_texts(nodes.links, options);
        if (options.dialect.edit) options.dialect.edit(nodes.tree);

        rendered.reset(render_page(doc.get(), nodes.tree.extensions));
    }
    // The tree and the pool's blocks are gone before the page is copied out, so that the
    // two are never held at once.
    std::string html(rendered ? rendered.get() : "");
    rendered.reset();
    if (!html.empty() && html.back() == '\n') html.pop_back();
    return html;
}

}  // namespace support::markdown

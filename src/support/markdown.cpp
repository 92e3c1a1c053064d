#include "support/markdown.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

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

#include "support/html_entities.hpp"
#include "support/markdown_internal.hpp"
#include "support/regex.hpp"
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
// call of this file ends. A large piece (a long text, the rendered page) comes from the
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

// The nodes the passes below work on, gathered in one walk over the tree.
struct Nodes {
    std::vector<cmark_node*> paragraphs, images, html_blocks, html_inlines, headings, links, code_blocks;
};

Nodes collect(cmark_node* root) {
    Nodes nodes;
    cmark_iter* iter = cmark_iter_new(root);
    for (cmark_event_type ev; (ev = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        if (ev != CMARK_EVENT_ENTER) continue;
        cmark_node* node = cmark_iter_get_node(iter);
        switch (cmark_node_get_type(node)) {
            case CMARK_NODE_PARAGRAPH: nodes.paragraphs.push_back(node); break;
            case CMARK_NODE_IMAGE:
                nodes.images.push_back(node);
                nodes.links.push_back(node);
                break;
            case CMARK_NODE_LINK: nodes.links.push_back(node); break;
            case CMARK_NODE_CODE_BLOCK: nodes.code_blocks.push_back(node); break;
            case CMARK_NODE_HTML_BLOCK: nodes.html_blocks.push_back(node); break;
            case CMARK_NODE_HTML_INLINE: nodes.html_inlines.push_back(node); break;
            case CMARK_NODE_HEADING: nodes.headings.push_back(node); break;
            default: break;
        }
    }
    cmark_iter_free(iter);
    return nodes;
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

// The plain text below a node: texts and code, a break as a blank; raw HTML left out.
void append_plain_text(cmark_node* node, std::string& out) {
    for (cmark_node* c = cmark_node_first_child(node); c; c = cmark_node_next(c)) {
        switch (cmark_node_get_type(c)) {
            case CMARK_NODE_TEXT:
            case CMARK_NODE_CODE: out += cmark_node_get_literal(c); break;
            case CMARK_NODE_SOFTBREAK:
            case CMARK_NODE_LINEBREAK: out += ' '; break;
            default: append_plain_text(c, out);
        }
    }
}

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

std::string attribute(std::string_view name, std::string_view value) {
    // Appended one by one: GCC 12 warns of a false overlap in the chain of operator+.
    std::string out = " ";
    out.append(name).append("=\"").append(html_escape(value, true)).append("\"");
    return out;
}

// Images as <img alt src title />, in that order. An image may stand inside another
// image's text: every alt text is taken while the tree is whole, then the images are
// replaced innermost first, since replacing the outer one frees the inner one too.
void write_images(const std::vector<cmark_node*>& images) {
    std::vector<std::string> alts(images.size());
    for (size_t i = 0; i < images.size(); ++i) append_plain_text(images[i], alts[i]);
    for (size_t i = images.size(); i-- > 0;) {
        cmark_node* image = images[i];
        std::string tag = "<img" + attribute("alt", alts[i]) + attribute("src", cmark_node_get_url(image));
        const char* title = cmark_node_get_title(image);
        if (title && *title) tag += attribute("title", title);
        tag += " />";
        replace_node(image, new_node(CMARK_NODE_HTML_INLINE, tag));
    }
}

bool is_tag_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// A start tag read from its "<": its name, the markdown attributes that turn on Markdown
// inside the element (each from the white space before it to its end) and its end.
struct StartTag {
    std::string name;
    std::vector<std::pair<size_t, size_t>> markdown_attributes;
    size_t end = 0;  // just past the ">"
};

std::optional<StartTag> read_start_tag(std::string_view s, size_t pos) {
    if (pos + 1 >= s.size() || s[pos] != '<' || !is_ascii_alpha(s[pos + 1])) return std::nullopt;
    StartTag tag;
    size_t i = pos + 1;
    while (i < s.size() && (is_ascii_alpha(s[i]) || is_ascii_digit(s[i]) || s[i] == '-')) ++i;
    tag.name = std::string(s.substr(pos + 1, i - pos - 1));
    auto is_name_char = [](char c) {
        return is_ascii_alpha(c) || is_ascii_digit(c) || c == '_' || c == ':' || c == '.' || c == '-';
    };
    while (true) {
        size_t space = i;
        while (i < s.size() && is_tag_space(s[i])) ++i;
        if (i >= s.size()) return std::nullopt;
        if (s[i] == '>' || (s[i] == '/' && i + 1 < s.size() && s[i + 1] == '>')) {
            tag.end = i + (s[i] == '>' ? 1 : 2);
            return tag;
        }
        if (i == space || !(is_ascii_alpha(s[i]) || s[i] == '_' || s[i] == ':')) return std::nullopt;
        size_t name_begin = i;
        while (i < s.size() && is_name_char(s[i])) ++i;
        std::string_view name = s.substr(name_begin, i - name_begin);
        std::optional<std::string_view> value;
        size_t after_name = i;
        while (i < s.size() && is_tag_space(s[i])) ++i;
        if (i < s.size() && s[i] == '=') {
            ++i;
            while (i < s.size() && is_tag_space(s[i])) ++i;
            if (i >= s.size()) return std::nullopt;
            if (s[i] == '"' || s[i] == '\'') {
                size_t close = s.find(s[i], i + 1);
                if (close == std::string_view::npos) return std::nullopt;
                value = s.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                size_t begin = i;
                while (i < s.size() && !is_tag_space(s[i]) && std::string_view("\"'=<>`").find(s[i]) == std::string_view::npos)
                    ++i;
                if (i == begin) return std::nullopt;
                value = s.substr(begin, i - begin);
            }
        } else {
            i = after_name;
        }
        if (name == "markdown" && (!value || *value == "1" || *value == "block" || *value == "span"))
            tag.markdown_attributes.emplace_back(space, i);
    }
}

// The markdown attributes are an instruction to this renderer, not part of the page.
void drop_markdown_attributes(const std::vector<cmark_node*>& html_nodes) {
    for (cmark_node* block : html_nodes) {
        std::string_view literal = cmark_node_get_literal(block);
        if (literal.find("markdown") == std::string_view::npos) continue;
        std::string changed;
        size_t copied = 0;
        for (size_t lt = literal.find('<'); lt != std::string_view::npos; lt = literal.find('<', lt + 1)) {
            auto tag = read_start_tag(literal, lt);
            if (!tag) continue;
            for (auto [begin, end] : tag->markdown_attributes) {
                changed.append(literal.substr(copied, begin - copied));
                copied = end;
            }
            lt = tag->end - 1;
        }
        if (copied == 0) continue;
        changed.append(literal.substr(copied));
        cmark_node_set_literal(block, changed.c_str());
    }
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

struct TocEntry {
    int level;
    std::string id;
    std::string name;  // HTML text
    std::vector<TocEntry> children;
};

// Headings with their ids, rendered as raw HTML; returns the table-of-contents entries
// in document order.
std::vector<TocEntry> write_headings(const std::vector<cmark_node*>& headings, cmark_llist* extensions) {
    std::vector<TocEntry> entries;
    UniqueIds ids;
    for (cmark_node* heading : headings) {
        std::string text;
        append_plain_text(heading, text);
        std::string id = ids.unique(slugify(text));
        std::string html = take_rendered(cmark_render_html(heading, kOptions, extensions));
        // The renderer opens a heading with exactly "<hN>".
        html.insert(3, attribute("id", id));
        entries.push_back({cmark_node_get_heading_level(heading), id, html_escape(text), {}});
        replace_node(heading, new_node(CMARK_NODE_HTML_BLOCK, html));
    }
    return entries;
}

// Nests a flat list of headings by level: a deeper heading becomes a child of the one
// before it, a shallower one goes back up to the nearest level that is not deeper.
std::vector<TocEntry> nest(std::vector<TocEntry> flat) {
    std::vector<TocEntry> top;
    if (flat.empty()) return top;
    // Paths of indices from the top list, so that pointers stay valid while vectors grow.
    using Path = std::vector<size_t>;
    auto at = [&top](const Path& path) -> TocEntry& {
        TocEntry* e = &top[path[0]];
        for (size_t i = 1; i < path.size(); ++i) e = &e->children[path[i]];
        return *e;
    };
    top.push_back(std::move(flat[0]));
    Path last{0};
    std::vector<int> levels{top[0].level};
    std::vector<Path> parents;
    for (size_t k = 1; k < flat.size(); ++k) {
        TocEntry t = std::move(flat[k]);
        int level = t.level;
        if (level < levels.back()) {
            levels.pop_back();
            size_t to_pop = 0;
            for (auto p = parents.rbegin(); p != parents.rend() && level <= at(*p).level; ++p) ++to_pop;
            if (to_pop) {
                levels.resize(levels.size() - to_pop);
                parents.resize(parents.size() - to_pop);
            }
            levels.push_back(level);
        }
        if (level == levels.back()) {
            if (parents.empty()) {
                top.push_back(std::move(t));
                last = {top.size() - 1};
            } else {
                Path p = parents.back();
                at(p).children.push_back(std::move(t));
                p.push_back(at(p).children.size() - 1);
                last = p;
            }
        } else {
            Path p = last;
            at(p).children.push_back(std::move(t));
            parents.push_back(last);
            levels.push_back(level);
            p.push_back(at(p).children.size() - 1);
            last = p;
        }
    }
    return top;
}

void write_list(const std::vector<TocEntry>& entries, std::string& out) {
    out += "<ul>\n";
    for (const auto& e : entries) {
        out += "<li><a href=\"#" + html_escape(e.id, true) + "\">" + e.name + "</a>";
        if (!e.children.empty()) {
            write_list(e.children, out);
            out += "\n";
        }
        out += "</li>\n";
    }
    out += "</ul>";
}

void write_toc(const std::vector<cmark_node*>& paragraphs, const std::vector<TocEntry>& headings) {
    std::vector<cmark_node*> markers;
    for (cmark_node* para : paragraphs) {
        std::string text;
        bool plain = true;
        for (cmark_node* c = cmark_node_first_child(para); c && plain; c = cmark_node_next(c)) {
            if (cmark_node_get_type(c) == CMARK_NODE_TEXT) text += cmark_node_get_literal(c);
            else plain = false;
        }
        if (plain && strip(text) == "[TOC]") markers.push_back(para);
    }
    if (markers.empty()) return;
    std::string div = "<div class=\"toc\">\n";
    if (headings.empty()) div += "<ul></ul>";
    else write_list(nest(headings), div);
    div += "\n</div>\n";
    for (cmark_node* para : markers) replace_node(para, new_node(CMARK_NODE_HTML_BLOCK, div));
}

bool is_ascii_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}
bool is_ascii_word(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// "12" -> "13", "099" -> "100" (numbers of any length).
std::string increment(std::string_view digits) {
    std::string n(digits.substr(std::min(digits.find_first_not_of('0'), digits.size())));
    if (n.empty()) return "1";
    size_t i = n.size();
    while (i > 0 && n[i - 1] == '9') n[--i] = '0';
    if (i == 0) n.insert(n.begin(), '1');
    else ++n[i - 1];
    return n;
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

constexpr char kMarkdownWord[] = "markdown";

// Blocks opened by a tag line carrying markdown="1" hold Markdown. Such a tag starts a
// raw HTML block that would run to the next blank line and swallow the content, so a
// blank line goes after the opening line and around the matching closing line; the
// content is then parsed as Markdown and the attribute dropped later.
// `origin`, when given, gets for every line of the result the index of the line of `text`
// it is, or npos for an added blank line. Nothing when the text holds no such block.
std::optional<std::string> open_markdown_blocks(std::string_view text, std::vector<size_t>* origin) {
    // Only a line that begins with "<" (after at most three blanks) and names the
    // attribute can open such a block; "<" is rare at the start of a Markdown line.
    auto may_open = [text] {
        for (size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', lt + 1)) {
            size_t start = lt;
            while (start > 0 && text[start - 1] == ' ') --start;
            if (lt - start > 3 || (start > 0 && text[start - 1] != '\n')) continue;
            size_t end = text.find('\n', lt);
            if (text.substr(lt, end == std::string_view::npos ? end : end - lt).find(kMarkdownWord) != std::string_view::npos)
                return true;
        }
        return false;
    };
    if (!may_open()) return std::nullopt;
    // The whole line is one start tag with a markdown attribute: its tag name, else "".
    auto opening = [](std::string_view line) {
        size_t lt = line.find_first_not_of(' ');
        if (lt == std::string_view::npos || lt > 3) return std::string();
        auto tag = read_start_tag(line, lt);
        if (!tag || tag->markdown_attributes.empty() ||
            line.find_first_not_of(" \t", tag->end) != std::string_view::npos)
            return std::string();
        return tag->name;
    };
    struct Open {
        std::string tag;
        int depth = 1;  // open elements of that name, the block's own included
    };
    std::vector<Open> open;
    std::string out;
    out.reserve(text.size() + 16);
    bool last_blank = true;
    size_t pos = 0;
    for (size_t index = 0; pos <= text.size(); ++index) {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        std::string_view bare = strip(line);
        bool blank = bare.empty();
        bool opens = false, ends = false;
        if (std::string name = opening(line); !name.empty()) {
            open.push_back({name});
            opens = true;
        } else if (!open.empty()) {
            // Elements of the same name inside the block, so that the right closing tag is found.
            const std::string& tag = open.back().tag;
            static const Regex any_tag(R"(<(/?)([A-Za-z][A-Za-z0-9-]*)(?=[\s/>]))");
            bool closes = false;
            // The step is taken first, while the match is certainly alive (a for-loop
            // increment that reads the condition's match trips the sanitizer with GCC 12).
            size_t from = 0;
            while (auto t = any_tag.search(line, from)) {
                from = t->end();
                if (ascii_lower(t->group(2)) != ascii_lower(tag)) continue;
                if (t->matched(1) && !t->group(1).empty()) {
                    if (--open.back().depth == 0) closes = true;
                } else {
                    ++open.back().depth;
                }
            }
            if (closes && ascii_lower(bare) == "</" + ascii_lower(tag) + ">") {
                if (!last_blank) {
                    out += '\n';
                    if (origin) origin->push_back(std::string::npos);
                }
                open.pop_back();
                ends = true;
            } else if (closes) {
                open.pop_back();  // closed inside a line of content: left as written
            }
        }
        out.append(line);
        if (origin) origin->push_back(index);
        if (end == std::string_view::npos) break;
        out += '\n';
        last_blank = blank;
        if (opens || ends) {
            out += '\n';
            if (origin) origin->push_back(std::string::npos);
            last_blank = true;
        }
        pos = end + 1;
    }
    return out;
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
        tables = tables || (previous_text && delimiter_columns(line) > 0);
        previous_text = !is_renderer_blank(line);
        std::uint64_t columns = previous_blank ? 0 : delimiter_columns(line);
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

std::string slugify(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    // ASCII text is its own decomposition.
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const icu::Normalizer2* nfkd = ascii ? nullptr : icu::Normalizer2::getNFKDInstance(status);
    std::string decomposed;
    if (ascii) {
        decomposed = std::string(text);
    } else if (U_SUCCESS(status)) {
        icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
        icu::UnicodeString n = nfkd->normalize(u, status);
        if (U_SUCCESS(status)) n.toUTF8String(decomposed);
    }
    if (!U_SUCCESS(status)) decomposed = std::string(text);
    std::string kept;
    for (char c : decomposed) {
        if (static_cast<unsigned char>(c) >= 0x80) continue;  // non-ASCII is dropped
        if (is_ascii_word(c) || is_ascii_space(c) || c == '-') kept += c;
    }
    size_t b = 0, e = kept.size();
    while (b < e && is_ascii_space(kept[b])) ++b;
    while (e > b && is_ascii_space(kept[e - 1])) --e;
    std::string slug;
    bool in_run = false;
    for (size_t i = b; i < e; ++i) {
        char c = kept[i];
        if (c == '-' || is_ascii_space(c)) {
            if (!in_run) slug += '-';
            in_run = true;
            continue;
        }
        in_run = false;
        slug += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return slug;
}

std::string UniqueIds::unique(const std::string& requested) {
    static const Regex counted(R"(^(.*)_([0-9]+)$)", Regex::dotall);
    // Every id between the request and its last answer is taken, so counting resumes there.
    auto resume = resume_.find(requested);
    std::string id = resume == resume_.end() ? requested : resume->second;
    while (id.empty() || used_.count(id)) {
        if (auto m = counted.match(id)) id = std::string(m->group(1)) + "_" + increment(m->group(2));
        else id += "_1";
    }
    used_.insert(id);
    resume_[requested] = id;
    return id;
}

std::string render_html(std::string_view text, const Options& options) {
    detail::PoolUse pooled(text.size());
    std::optional<std::string> opened = detail::open_markdown_blocks(text);
    std::string_view source = opened ? std::string_view(*opened) : text;
    // The table extension alone costs half a parse: it is left out where no table can stand.
    auto parser = detail::new_parser(kOptions, detail::check_table_sizes(source, options.max_table_cells));
    cmark_parser_feed(parser.get(), source.data(), source.size());
    std::unique_ptr<cmark_node, NodeDeleter> doc(cmark_parser_finish(parser.get()));
    cmark_llist* extensions = cmark_parser_get_syntax_extensions(parser.get());

    // Images and headings are replaced, paragraphs split; none of that frees a node that
    // another list still holds (images move with their paragraph's other inlines).
    Nodes nodes = collect(doc.get());
    std::vector<std::unique_ptr<cmark_node, NodeDeleter>> detached;
    std::vector<cmark_node*> paragraphs = lift_block_lines(nodes.paragraphs, options, detached);
    lift_block_code(nodes.code_blocks, nodes.html_blocks, options);
    write_link_texts(nodes.links, options);
    // Before images and headings are replaced: that frees the raw HTML inside them.
    drop_markdown_attributes(nodes.html_blocks);
    drop_markdown_attributes(nodes.html_inlines);
    write_images(nodes.images);
    std::vector<TocEntry> headings = write_headings(nodes.headings, extensions);
    write_toc(paragraphs, headings);

    char* rendered = cmark_render_html(doc.get(), kOptions, extensions);
    // The tree goes before the page is copied out, so that the two are never held at once.
    doc.reset();
    detached.clear();
    parser.reset();
    std::string html = take_rendered(rendered);
    if (!html.empty() && html.back() == '\n') html.pop_back();
    return html;
}

}  // namespace support::markdown

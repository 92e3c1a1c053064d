// The block scan: where the code blocks and the paragraphs and headings outside any
// container stand in a text, from one parse, as byte offsets of the text.
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/markdown.hpp"
#include "support/markdown_internal.hpp"
#include "support/markdown_lines.hpp"

namespace support::markdown {

using detail::kOptions;
using detail::NodeDeleter;

namespace {

// A parse for the blocks alone does not need what paragraphs and headings hold: this
// extension marks them as blocks whose text is not parsed into inlines (where most of a
// parse's time goes), and otherwise lets a paragraph match the lines a paragraph matches.
// The blocks come out as without it. The parser asks it on a line where no other block
// begins: a paragraph that goes on is the container there, and one that a blank line ends
// (as a heading is ended by any line) is the container's newest child. A paragraph that
// the line opens in a container opened on the same line (a list item, a quote) does not
// exist yet when it is asked: the container is remembered, and its newest child is marked
// when the parser asks next, or when the text has been fed (see mark_pending_paragraph).
thread_local cmark_node* pending_container = nullptr;

void mark_inline_free(cmark_syntax_extension* self, cmark_node* node) {
    cmark_node_type type = node ? cmark_node_get_type(node) : CMARK_NODE_NONE;
    if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) cmark_node_set_syntax_extension(node, self);
}

cmark_syntax_extension* blocks_only_extension() {
    static cmark_syntax_extension* extension = [] {
        cmark_syntax_extension* ext = cmark_syntax_extension_new("vemtora-blocks-only");
        cmark_syntax_extension_set_open_block_func(
            ext, [](cmark_syntax_extension* self, int, cmark_parser*, cmark_node* container, unsigned char*,
                    int) -> cmark_node* {
                // Containers are never taken out of the tree while it is parsed; a
                // paragraph may be (one of link definitions only), so none is remembered.
                if (pending_container) mark_inline_free(self, cmark_node_last_child(pending_container));
                mark_inline_free(self, container);
                mark_inline_free(self, cmark_node_last_child(container));
                cmark_node_type type = cmark_node_get_type(container);
                pending_container = type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING ? nullptr : container;
                return nullptr;
            });
        // A paragraph goes on with every line that is not blank; a heading (a paragraph
        // that an underline made one) takes no more lines.
        cmark_syntax_extension_set_match_block_func(
            ext, [](cmark_syntax_extension*, cmark_parser* parser, unsigned char*, int, cmark_node* container) {
                return cmark_node_get_type(container) == CMARK_NODE_PARAGRAPH && !cmark_parser_is_blank(parser) ? 1 : 0;
            });
        cmark_syntax_extension_set_contains_inlines_func(ext, [](cmark_syntax_extension*, cmark_node*) { return 0; });
        return ext;
    }();
    return extension;
}

// A parse of the source with source positions: `full`, with the table extension and the
// inlines; otherwise without either (see blocks_only_extension).
std::unique_ptr<cmark_node, NodeDeleter> parse(std::string_view source, bool full) {
    auto parser = detail::new_parser(kOptions | CMARK_OPT_SOURCEPOS, full);
    if (!full) cmark_parser_attach_syntax_extension(parser.get(), blocks_only_extension());
    pending_container = nullptr;
    cmark_parser_feed(parser.get(), source.data(), source.size());
    // Every line ended by a line break has been read: the paragraph of the last one asked
    // about is marked. (A last line without a line break is read by the finish.)
    if (pending_container) mark_inline_free(blocks_only_extension(), cmark_node_last_child(pending_container));
    pending_container = nullptr;
    return std::unique_ptr<cmark_node, NodeDeleter>(cmark_parser_finish(parser.get()));
}

// The tree the scan reads. Without the table extension (half a parse on its own) and
// without the inlines of longer paragraphs the code blocks come out the same, unless a
// table (`tables`: one can stand in the source) can change them.
std::unique_ptr<cmark_node, NodeDeleter> parse_for_blocks(std::string_view source, bool allow_plain, bool tables) {
    std::unique_ptr<cmark_node, NodeDeleter> doc = parse(source, !allow_plain);
    if (allow_plain && tables) {
        std::vector<std::pair<int, int>> open_lines;
        for (cmark_node* n = cmark_node_first_child(doc.get()); n; n = cmark_node_next(n)) {
            cmark_node_type type = cmark_node_get_type(n);
            if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING)
                open_lines.emplace_back(cmark_node_get_start_line(n), cmark_node_get_end_line(n));
        }
        if (!detail::tables_leave_code_alone(source, open_lines)) doc = parse(source, true);
    }
    return doc;
}

// The block after `node` in text order; what a paragraph, heading or table cell holds is
// inline content, where no code block can stand, and is not walked.
cmark_node* next_block(cmark_node* root, cmark_node* node) {
    cmark_node* child = cmark_node_first_child(node);
    if (child && (cmark_node_get_type(child) & CMARK_NODE_TYPE_MASK) == CMARK_NODE_TYPE_BLOCK) return child;
    for (; node != root; node = cmark_node_parent(node))
        if (cmark_node* next = cmark_node_next(node)) return next;
    return nullptr;
}

// A code block of the tree, its place given in bytes of the text.
CodeBlock read_code_block(cmark_node* node, const LineIndex& text_lines) {
    CodeBlock block;
    int fence_length = 0, fence_offset = 0;
    char fence_char = 0;
    block.fenced = cmark_node_get_fenced(node, &fence_length, &fence_offset, &fence_char) != 0;
    block.info = cmark_node_get_fence_info(node) ? cmark_node_get_fence_info(node) : "";
    std::string_view literal = cmark_node_get_literal(node) ? cmark_node_get_literal(node) : "";
    size_t first = text_lines.line_of(cmark_node_get_start_line(node));
    block.begin = text_lines.position(first, cmark_node_get_start_column(node) - 1);
    size_t lines = static_cast<size_t>(std::count(literal.begin(), literal.end(), '\n'));
    size_t first_code = block.fenced ? first + 1 : first;
    cmark_node* parent = cmark_node_parent(node);
    bool container_ended = parent && cmark_node_get_end_line(node) > cmark_node_get_end_line(parent);
    if (block.fenced && !container_ended) {
        size_t last = text_lines.line_of(cmark_node_get_end_line(node));
        int column = cmark_node_get_end_column(node);
        // Column 0: the block ended with the line before (a blank line closing the text).
        if (column <= 0 && last > first) block.end = text_lines.line_end(last - 1);
        else block.end = text_lines.position(last, column);
    } else if (block.fenced) {
        // Left open and ended by the end of its container: the renderer gives the line
        // that ended the container as its end, but the code stops at its last line.
        block.end = text_lines.line_end(std::min(first + lines, text_lines.lines() - 1));
    } else {
        block.end = text_lines.line_end(std::min(first + (lines ? lines - 1 : 0), text_lines.lines() - 1));
    }
    block.end = std::max(block.end, block.begin);
    // The code's lines keep the line breaks the text has there.
    size_t line = first_code;
    for (size_t pos = 0; pos < literal.size(); ++line) {
        size_t nl = literal.find('\n', pos);
        if (nl == std::string_view::npos) {
            block.literal.append(literal.substr(pos));
            break;
        }
        block.literal.append(literal.substr(pos, nl - pos));
        block.literal += text_lines.line_break(line);
        pos = nl + 1;
    }
    if (!block.fenced) {
        block.html = detail::take_rendered(cmark_render_html(node, kOptions, nullptr));
        if (block.html.ends_with('\n')) block.html.pop_back();
    }
    return block;
}

// The blocks as the renderer finds them. `allow_plain`: parsed without the table
// extension where that finds the same code blocks, and without the inlines of longer
// paragraphs; otherwise the one full parse that the others are checked against.
BlockMap scan_blocks(std::string_view text, const Dialect& dialect, std::size_t max_table_cells, bool allow_plain) {
    detail::PoolUse pooled(text.size());
    std::vector<size_t> origin;
    std::optional<std::string> rewritten = dialect.rewrite ? dialect.rewrite(text, &origin) : std::nullopt;
    if (!rewritten) origin.clear();
    std::string_view source = rewritten ? std::string_view(*rewritten) : text;
    // The renderer reads a NUL byte as a three-byte replacement character: a one-byte
    // stand-in keeps its columns those of the text.
    std::string nul_free;
    if (source.find('\0') != std::string_view::npos) {
        nul_free = std::string(source);
        std::replace(nul_free.begin(), nul_free.end(), '\0', '\x01');
        source = nul_free;
    }
    const bool tables = detail::check_table_sizes(source, max_table_cells);
    std::unique_ptr<cmark_node, NodeDeleter> doc = parse_for_blocks(source, allow_plain, tables);
    const LineIndex text_lines(text, std::move(origin));

    BlockMap map;
    for (cmark_node* node = next_block(doc.get(), doc.get()); node; node = next_block(doc.get(), node)) {
        cmark_node_type type = cmark_node_get_type(node);
        if ((type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) && cmark_node_parent(node) == doc.get()) {
            int start = cmark_node_get_start_line(node), end = cmark_node_get_end_line(node);
            if (start > 0 && end >= start)
                map.open_text.emplace_back(text_lines.start(text_lines.line_of(start)),
                                           text_lines.line_end(text_lines.line_of(end)));
        } else if (type == CMARK_NODE_CODE_BLOCK) {
            map.code_blocks.push_back(read_code_block(node, text_lines));
        }
    }
    return map;
}

}  // namespace

std::vector<CodeBlock> find_code_blocks(std::string_view text, const Dialect& dialect, std::size_t max_table_cells) {
    return scan_blocks(text, dialect, max_table_cells, false).code_blocks;
}

BlockMap map_blocks(std::string_view text, const Dialect& dialect, std::size_t max_table_cells) {
    return scan_blocks(text, dialect, max_table_cells, true);
}

}  // namespace support::markdown

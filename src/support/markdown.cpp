#include "support/markdown.hpp"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "support/html_entities.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"

namespace support::markdown {

namespace {

constexpr int kOptions = CMARK_OPT_UNSAFE | CMARK_OPT_HARDBREAKS | CMARK_OPT_TABLE_PREFER_STYLE_ATTRIBUTES;

struct ParserDeleter {
    void operator()(cmark_parser* p) const { cmark_parser_free(p); }
};
struct NodeDeleter {
    void operator()(cmark_node* n) const { cmark_node_free(n); }
};

std::string take_rendered(char* html) {
    std::string out = html ? html : "";
    std::free(html);
    return out;
}

// The nodes the passes below work on, gathered in one walk over the tree.
struct Nodes {
    std::vector<cmark_node*> paragraphs, images, html_blocks, headings;
};

Nodes collect(cmark_node* root) {
    Nodes nodes;
    cmark_iter* iter = cmark_iter_new(root);
    for (cmark_event_type ev; (ev = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        if (ev != CMARK_EVENT_ENTER) continue;
        cmark_node* node = cmark_iter_get_node(iter);
        switch (cmark_node_get_type(node)) {
            case CMARK_NODE_PARAGRAPH: nodes.paragraphs.push_back(node); break;
            case CMARK_NODE_IMAGE: nodes.images.push_back(node); break;
            case CMARK_NODE_HTML_BLOCK: nodes.html_blocks.push_back(node); break;
            case CMARK_NODE_HEADING: nodes.headings.push_back(node); break;
            default: break;
        }
    }
    cmark_iter_free(iter);
    return nodes;
}

cmark_node* new_node(cmark_node_type type, const std::string& literal) {
    cmark_node* node = cmark_node_new(type);
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

// Takes the lines that the caller marks as block content out of their paragraphs. The
// emptied paragraphs go to `detached`: the texts moved out of them still point into
// their content, so they must live as long as the document.
// Returns the paragraphs that remain, old and new.
std::vector<cmark_node*> lift_block_lines(const std::vector<cmark_node*>& paragraphs, const Options& options,
                                          std::vector<std::unique_ptr<cmark_node, NodeDeleter>>& detached) {
    if (!options.is_block_line) return paragraphs;
    std::vector<cmark_node*> remaining;
    remaining.reserve(paragraphs.size());
    for (cmark_node* para : paragraphs) {
        struct Line {
            std::vector<cmark_node*> nodes;
            std::string text;
            bool plain = true;
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
        bool any = false;
        for (auto& line : lines) {
            line.lifted = line.plain && !line.nodes.empty() && options.is_block_line(line.text);
            any = any || line.lifted;
        }
        if (!any) {
            remaining.push_back(para);
            continue;
        }
        cmark_node* pending = nullptr;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].lifted) {
                pending = nullptr;
                cmark_node_insert_before(para, new_node(CMARK_NODE_HTML_BLOCK, lines[i].text));
                continue;
            }
            if (!pending) {
                pending = cmark_node_new(CMARK_NODE_PARAGRAPH);
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
    return " " + std::string(name) + "=\"" + html_escape(value, true) + "\"";
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

void drop_markdown_attributes(const std::vector<cmark_node*>& html_blocks) {
    static const Regex attr(R"((<[A-Za-z][^<>]*?)\s+markdown=(?:"1"|'1'|1)(?=[\s/>]))");
    for (cmark_node* block : html_blocks) {
        std::string_view literal = cmark_node_get_literal(block);
        if (literal.find("markdown=") == std::string_view::npos) continue;
        std::string changed = attr.replace(literal, [](const Regex::Match& m) { return std::string(m.group(1)); });
        cmark_node_set_literal(block, changed.c_str());
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

// Blocks opened by a tag line carrying markdown="1" hold Markdown. Such a tag starts a
// raw HTML block that would run to the next blank line and swallow the content, so a
// blank line goes after the opening line and around the matching closing line; the
// content is then parsed as Markdown and the attribute dropped later.
std::string open_markdown_blocks(std::string_view text) {
    if (text.find("markdown=") == std::string_view::npos) return std::string(text);
    static const Regex opening(
        R"(^ {0,3}<([A-Za-z][A-Za-z0-9-]*)(?:\s[^<>]*?)?\smarkdown=(?:"1"|'1'|1)(?:[\s/][^<>]*)?>[ \t]*$)");
    struct Open {
        std::string tag;
        int depth = 1;  // open elements of that name, the block's own included
    };
    std::vector<Open> open;
    std::string out;
    out.reserve(text.size() + 16);
    bool last_blank = true;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        std::string_view bare = strip(line);
        bool blank = bare.empty();
        bool opens = false, ends = false;
        if (auto m = opening.match(line)) {
            open.push_back({std::string(m->group(1))});
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
                if (!last_blank) out += '\n';
                open.pop_back();
                ends = true;
            } else if (closes) {
                open.pop_back();  // closed inside a line of content: left as written
            }
        }
        out.append(line);
        if (end == std::string_view::npos) break;
        out += '\n';
        last_blank = blank;
        if (opens || ends) {
            out += '\n';
            last_blank = true;
        }
        pos = end + 1;
    }
    return out;
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

}  // namespace

std::string slugify(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
    std::string decomposed;
    if (U_SUCCESS(status)) {
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
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });

    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(kOptions));
    if (cmark_syntax_extension* table = cmark_find_syntax_extension("table"))
        cmark_parser_attach_syntax_extension(parser.get(), table);
    std::string source = open_markdown_blocks(text);
    cmark_parser_feed(parser.get(), source.data(), source.size());
    std::unique_ptr<cmark_node, NodeDeleter> doc(cmark_parser_finish(parser.get()));
    cmark_llist* extensions = cmark_parser_get_syntax_extensions(parser.get());

    // Images and headings are replaced, paragraphs split; none of that frees a node that
    // another list still holds (images move with their paragraph's other inlines).
    Nodes nodes = collect(doc.get());
    std::vector<std::unique_ptr<cmark_node, NodeDeleter>> detached;
    std::vector<cmark_node*> paragraphs = lift_block_lines(nodes.paragraphs, options, detached);
    write_images(nodes.images);
    drop_markdown_attributes(nodes.html_blocks);
    std::vector<TocEntry> headings = write_headings(nodes.headings, extensions);
    write_toc(paragraphs, headings);

    std::string html = take_rendered(cmark_render_html(doc.get(), kOptions, extensions));
    if (!html.empty() && html.back() == '\n') html.pop_back();
    return html;
}

}  // namespace support::markdown

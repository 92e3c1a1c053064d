// The page rules that pressling adds to Markdown: an id on every heading, the "[TOC]"
// paragraph replaced by a nested list of the headings, images written with alt before
// src, and blocks opened by a markdown attribute (markdown="1", "block", "span" or bare)
// read as Markdown, the attribute dropped from the page.
#include <cmark-gfm.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/html_entities.hpp"
#include "support/markdown.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "support/unicode.hpp"
#include "vemtora/publishing/pressling.hpp"

namespace vemtora::pressling {

namespace {

using support::ascii_lower;
using support::html_escape;
using support::Regex;
using support::strip;
using support::markdown::new_node;
using support::markdown::replace_node;
using support::markdown::Tree;

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

struct TocEntry {
    int level;
    std::string id;
    std::string name;  // HTML text
    std::vector<TocEntry> children;
};

// Headings with their ids, rendered as raw HTML; returns the table-of-contents entries
// in document order.
std::vector<TocEntry> write_headings(const Tree& tree) {
    std::vector<TocEntry> entries;
    UniqueIds ids;
    for (cmark_node* heading : tree.headings) {
        std::string text;
        append_plain_text(heading, text);
        std::string id = ids.unique(slugify(text));
        std::string html = support::markdown::render_node(heading, tree);
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

// Before images and headings are replaced: that frees the raw HTML inside them.
void apply_page_rules(const Tree& tree) {
    drop_markdown_attributes(tree.html_blocks);
    drop_markdown_attributes(tree.html_inlines);
    write_images(tree.images);
    write_toc(tree.paragraphs, write_headings(tree));
}

}  // namespace

const support::markdown::Dialect& page_dialect() {
    static const support::markdown::Dialect dialect{.rewrite = open_markdown_blocks, .edit = apply_page_rules};
    return dialect;
}

std::string markdown_to_html(std::string_view text, support::markdown::Options options) {
    options.dialect = page_dialect();
    return support::markdown::render_html(text, options);
}

support::markdown::BlockMap map_blocks(std::string_view text) { return support::markdown::map_blocks(text, page_dialect()); }

std::vector<support::markdown::CodeBlock> find_code_blocks(std::string_view text) {
    return support::markdown::find_code_blocks(text, page_dialect());
}

std::string slugify(std::string_view text) {
    // ASCII text is its own decomposition.
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string decomposed = ascii ? std::string(text) : support::unicode::nfkd(text);
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

}  // namespace vemtora::pressling

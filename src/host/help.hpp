#pragma once
// Help pages laid out the way click lays them out: usage line, help text, the options
// as a two-column list, then the epilog, with paragraph-aware wrapping in which a
// paragraph that starts with a line holding only "\b" keeps its lines as written.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/declarations.hpp"

namespace host::help {

inline constexpr std::string_view program = "vemtora";

// The page width: $COLUMNS (at most 80) minus 2, never below 50.
size_t page_width();

// Wraps at `width` code points. With `preserve_paragraphs`, empty lines separate
// paragraphs; each paragraph keeps the indentation of its first line, marked paragraphs
// keep their lines and other paragraphs are refilled.
std::string wrap_text(std::string_view text, size_t width, const std::string& initial_indent = "",
                      const std::string& subsequent_indent = "", bool preserve_paragraphs = false);

// Python's inspect.cleandoc: tabs expanded, the common indentation of the lines after
// the first removed, the first line left-stripped, leading and trailing empty lines dropped.
std::string cleandoc(std::string_view text);

// The first sentence of the help text, or as many words as fit in `max_length`
// followed by "...".
std::string short_help(std::string_view help, size_t max_length);

// Text in single quotes, or in double quotes when it holds a single quote and no double
// quote, with backslashes, the quote and control characters escaped.
std::string quoted(std::string_view text);

std::string command_usage(const CommandDecl& decl);  // "Usage: vemtora quillary [OPTIONS]"
std::string group_usage();                           // "Usage: vemtora [OPTIONS] COMMAND [ARGS]..."

// The whole page, ending with one line feed.
std::string command_page(const CommandDecl& decl, size_t width);
std::string group_page(const std::vector<CommandDecl>& decls, size_t width);

// Pages made when the program was built, at the width that a page has without a terminal
// or on one of 80 columns or more: a run that shows one of them formats nothing.
inline constexpr size_t compiled_width = 78;
struct CompiledPage {
    std::string_view command;  // "" for the program's own page
    std::string_view text;
};
using CompiledPages = std::span<const CompiledPage>;
// The program's: made by vemtora-help-pages from the commands it offers (none in a cross
// build, which cannot run what it builds).
extern const CompiledPages compiled_pages;
// The compiled page of `command` ("" for the program's own) when it was made at `width`.
std::optional<std::string_view> compiled_page(CompiledPages pages, std::string_view command, size_t width);
// The C++ source of the program's compiled pages, the program's own page first.
std::string compiled_pages_source(const std::vector<CommandDecl>& decls);

}  // namespace host::help

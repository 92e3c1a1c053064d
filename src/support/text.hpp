#pragma once
// Unicode-aware text helpers. Texts are UTF-8 std::string throughout.
#include <string>
#include <string_view>
#include <vector>

namespace support {

// White space as Python's str.strip() understands it (ASCII controls \t\n\v\f\r,
// \x1c-\x1f, blank, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000).
bool is_space(char32_t c);
std::string_view strip(std::string_view s);
std::string_view lstrip(std::string_view s);
std::string_view rstrip(std::string_view s);
// Strips only the given ASCII characters (Python's s.strip(chars) for ASCII sets).
std::string_view strip_chars(std::string_view s, std::string_view chars);

// Python's str.splitlines(): \n, \r, \r\n, \v, \f, \x1c, \x1d, \x1e, U+0085, U+2028,
// U+2029 end a line; the ends are not kept; a final line end adds no empty line.
std::vector<std::string> splitlines(std::string_view s, bool keepends = false);
// Python's str.split() without a separator: runs of white space separate, ends dropped.
std::vector<std::string> split_whitespace(std::string_view s);
// Python's str.split(sep): exact separator, empty pieces kept.
std::vector<std::string> split(std::string_view s, std::string_view sep);
std::string join(const std::vector<std::string>& parts, std::string_view sep);
// Python's printed form of a list of texts: ['a', 'b'] (a text holding ' and no " is
// written between double quotes).
std::string list_repr(const std::vector<std::string>& items);

// Full Unicode lower-case mapping (ICU root locale), as Python's str.lower().
std::string lower(std::string_view s);
// ASCII-only lower-casing, for protocol words and file suffixes.
std::string ascii_lower(std::string_view s);

std::string replace_all(std::string_view s, std::string_view from, std::string_view to);

// UTF-8 validity and repair. `decode_replace` turns every ill-formed sequence into
// U+FFFD the way Python's errors="replace" does (one per maximal ill-formed subpart);
// `decode_ignore` drops them; given a text of its own, it gives that text back when it is
// valid, without a copy.
bool is_valid_utf8(std::string_view s);
std::string decode_replace(std::string_view bytes);
std::string decode_ignore(std::string_view bytes);
std::string decode_ignore(std::string&& bytes);

// Text as an editor saves it, made UTF-8: a leading byte-order mark is dropped, and text
// that starts with UTF-16's mark (little or big endian) is decoded from UTF-16. What is not
// UTF-8 text (bytes of an ANSI code page, an unpaired surrogate, a NUL) becomes U+FFFD, and
// `well_formed` is false then.
struct SavedText {
    std::string text;
    bool well_formed = true;
};
SavedText decode_saved_text(std::string_view bytes);

// CRLF and lone CR become LF.
std::string normalize_newlines(std::string_view s);

// Decodes one code point at `pos` (advancing it); ill-formed input yields U+FFFD and
// advances one byte.
char32_t next_code_point(std::string_view s, size_t& pos);
void append_utf8(std::string& out, char32_t c);
size_t code_point_count(std::string_view s);

// Text from outside the program (the working copy, git, the agent) as a terminal is to
// show it: no control character reaches the terminal to be obeyed. ESC is written \e;
// BEL, BS, VT, FF and a CR that ends no line as \a \b \v \f \r; any other C0 control
// and DEL as \xNN; the C1 controls U+0080-U+009F, which terminals obey too, and the
// bidi embeddings, overrides and isolates U+202A-U+202E and U+2066-U+2069, which would
// reorder what follows them, as \uNNNN; each byte of ill-formed UTF-8 as \xNN. Line
// feeds, tabs and the CR of a CRLF stay, so that a text of several lines keeps them.
// Everything else, a backslash too, stays as it is, so that a text already quoted (git's
// names) is shown as it came.
std::string visible(std::string_view text);
// The same for a text that stands inside one line, such as a name in a menu: line feeds,
// tabs, carriage returns and the line and paragraph separators U+2028 and U+2029 are
// written \n \t \r \u2028 \u2029 too.
std::string visible_line(std::string_view text);

// Whether the text can stand in a prompt between the marks that delimit it ("@[" and "]",
// or backticks) without changing what the prompt says: well-formed UTF-8 without a
// control character (C0, DEL, C1), line or paragraph separator, backtick or bracket.
bool prompt_safe(std::string_view text);

}  // namespace support

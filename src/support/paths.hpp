#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace support {

// Our text is UTF-8 everywhere; a path is built from it and turned back into it only
// through these two. (On Windows a path made from a plain std::string, or read back with
// string(), goes through the ANSI code page and corrupts every other character.)
std::filesystem::path path_from_utf8(std::string_view text);
std::string utf8_text(const std::filesystem::path& p);
// The same with "/" as the separator on every platform.
std::string generic_utf8_text(const std::filesystem::path& p);
// The path as UTF-8 text, or nothing when it is no Unicode text (a POSIX name of other
// bytes, such as Latin-1; a Windows name with an unpaired surrogate): such a name cannot be
// written into a text (a configuration, a page, an archive's UTF-8 names) as it is.
std::optional<std::string> valid_utf8_text(const std::filesystem::path& p);
// The path as a message names it, whatever it holds: its UTF-8 text; for a name that is no
// Unicode text, its bytes (POSIX, shown escaped by the message) or U+FFFD for each unpaired
// surrogate (Windows). Never fails.
std::string message_text(const std::filesystem::path& p);

// The absolute form that prompts and messages use: relative paths are taken from the
// current folder, "." components and empty components are dropped, ".." is kept, no
// link is resolved, and the separator is "/".
std::string reference_form(const std::filesystem::path& p);

// A path the way a lexical path type reads it: empty and "." components dropped
// ("./out/" is "out"), ".." kept, "." for nothing at all.
std::filesystem::path lexical_path(const std::filesystem::path& p);

// The last suffix of a file name: from its last dot on, unless that dot is the name's
// first or last character ("a.tar.gz" -> ".gz", ".bashrc" -> "", "notes." -> "").
std::string name_suffix(const std::string& name);

// Parent folder as Python's pathlib gives it: "." for a bare name or for ".".
std::filesystem::path parent_or_dot(const std::filesystem::path& p);

}  // namespace support

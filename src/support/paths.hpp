#pragma once
#include <filesystem>
#include <string>

namespace support {

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

// The path as text in the platform's own notation.
std::string native_text(const std::filesystem::path& p);

// Parent folder as Python's pathlib gives it: "." for a bare name or for ".".
std::filesystem::path parent_or_dot(const std::filesystem::path& p);

}  // namespace support

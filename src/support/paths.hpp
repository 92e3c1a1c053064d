#pragma once
#include <filesystem>
#include <string>

namespace support {

// The absolute form that prompts and messages use: relative paths are taken from the
// current folder, "." components and empty components are dropped, ".." is kept, no
// link is resolved, and the separator is "/".
std::string reference_form(const std::filesystem::path& p);

// The path as text in the platform's own notation.
std::string native_text(const std::filesystem::path& p);

// Parent folder as Python's pathlib gives it: "." for a bare name or for ".".
std::filesystem::path parent_or_dot(const std::filesystem::path& p);

}  // namespace support

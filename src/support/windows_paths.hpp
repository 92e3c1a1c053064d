#pragma once
// Windows paths as pure text functions (UTF-8 text, "\" or "/" as separators), so that they
// are tested everywhere; the file functions of the Windows build use them.
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace support {

// Whether a file name is one that Windows keeps for a device (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, the superscript digits ¹²³ too), with any extension, in any letters' case, and
// with the blanks and dots that the system drops at the end: such a file cannot be made,
// and opening it opens the device.
bool windows_reserved_name(std::string_view name);
// The first component of the path whose name is such a name, or nothing.
std::optional<std::string> windows_reserved_component(std::string_view path);
// The first component of the path whose name ends in a blank or a dot, which the system
// drops from a name: "out " would be made as "out", and every later open of "out \x"
// would miss it. "." and ".." are no such names, nor is the prefix of "\\?\" or "\\.\".
std::optional<std::string> windows_trimmed_component(std::string_view path);

// Whether the path has the extended-length prefix ("\\?\") or the device prefix ("\\.\"),
// either separator: the system takes such a path as it is, joined to no current folder.
bool windows_prefixed_path(std::string_view path);

// The form of an absolute path that the system's calls take past MAX_PATH: "\\?\C:\..." or
// "\\?\UNC\server\share\...", with "." and ".." taken out and every "/" made "\" (the
// prefix turns off the system's own clean-up). A path shorter than `limit`, a relative
// one and one that has either prefix already are given back as they are.
std::string windows_long_path(std::string_view absolute, size_t limit = 248);

// A path as GetFinalPathNameByHandleW gives it ("\\?\C:\x", "\\?\UNC\server\share\x"), or
// with the device prefix ("\\.\C:\x"), in the form of a plain absolute path ("C:\x",
// "\\server\share\x"). A prefixed path that names no drive's or share's file (a volume,
// a pipe, a device) is given back as it is.
std::string windows_plain_path(std::string_view final_path);
// Whether `path` is `folder` or lies below it: both final paths, of either form, compared
// in any letters' case, as the file system compares names.
bool windows_path_within(std::string_view path, std::string_view folder);

// The portable condition that a Windows error code (GetLastError) stands for, so that a
// failure reads as it does elsewhere ("Permission denied"); nothing for a code without one.
std::optional<std::errc> windows_error_condition(unsigned long code);

}  // namespace support

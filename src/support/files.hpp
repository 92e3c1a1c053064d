#pragma once
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace support {

// A read of a file that must be a regular file of bounded size.
struct BoundedRead {
    enum class Outcome { read, missing, link, hard_link, not_regular, too_large, failed };
    Outcome outcome = Outcome::failed;
    std::string bytes{};   // the content, when read
    std::string reason{};  // the system's message, when failed
};
// Reads a regular file of at most `limit` bytes. Anything else is refused: a folder, a
// device, a FIFO or a socket is never read (a FIFO is never opened so that it could
// block), and a larger file is refused by its size before any reading. A file whose
// size says nothing (such as /proc files) is read only until it passes the limit.
// Without `follow_links` a path that is itself a symbolic link (on Windows any reparse
// point) is refused as `link`, and a file that has another name besides this one (a hard
// link, which may stand for a file anywhere on the same file system) as `hard_link`, both
// checked on the open file. Nothing at the path is `missing`.
BoundedRead read_regular_file(const std::filesystem::path& p, std::uintmax_t limit, bool follow_links = true);

// Writes to a temporary file beside the target and renames it into place, so a failed
// write never leaves a truncated target. The saved file stays the user's file: a symbolic
// link is written through (its final target is replaced, the link kept), and a replaced
// file keeps its permission bits and, where the process may set them, its owner and group.
// A target that opening for writing would refuse (a read-only file, a folder) is refused.
// Throws std::filesystem::filesystem_error whose code is the system's reason.
void write_file_atomic(const std::filesystem::path& p, std::string_view data);

// Makes in the folder the temporary file that a save into it makes first, and removes
// it: a folder that a save would fail in (a read-only folder or mount, another user's
// folder) is known before the work whose result it is to hold. Throws
// std::filesystem::filesystem_error whose code is the system's reason.
void try_save_in(const std::filesystem::path& folder);

// A symbolic link met on the way to `p` that leads out of the folder `root` (an absolute
// path without links, such as the current folder): the link, relative to `root`, and the
// place it leads to once every link is followed. Nothing when every link on the way stays
// inside, or when `p` names a place outside `root` by itself (an absolute path elsewhere,
// or one that leaves through ".."): such a place was named on purpose.
struct LinkOut {
    std::filesystem::path link;
    std::filesystem::path target;
};
std::optional<LinkOut> link_out_of(const std::filesystem::path& p, const std::filesystem::path& root);

// Where `p` leads once every link on the way is followed (as far as the path exists; the
// rest is taken as it is), made absolute. On Windows symbolic links and junctions alike.
std::filesystem::path resolved_path(const std::filesystem::path& p);

// Whether `p` is `folder` or lies below it, both absolute and compared as written: no link
// is followed, and on Windows names compare in any letters' case, as the file system does.
bool path_within(const std::filesystem::path& p, const std::filesystem::path& folder);

// The reason an operation failed, as the user should read it: the system's own text for
// a system or file-system error ("Permission denied") and for memory that ran out
// ("Cannot allocate memory"), else what the exception says.
std::string failure_reason(const std::exception& e);
// The text of an error code as the user should read it. On Windows a system error code
// (GetLastError) reads as the condition it stands for ("Permission denied", as elsewhere),
// or else as the system's own message for it.
std::string error_text(const std::error_code& ec);

// The form of `p` that the system's file calls take. On Windows an absolute path past
// MAX_PATH (260 characters) gets the "\\?\" prefix, which lifts that limit (a UNC path
// "\\?\UNC\"), and a path relative to a drive's current folder ("D:drel") is made
// absolute (GetFullPathNameW); a path that has the "\\?\" or the "\\.\" prefix already,
// any other path, and every path elsewhere, is given back as it is.
std::filesystem::path os_path(const std::filesystem::path& p);

// The absolute form of `p` as the system reads it (the file system library's own takes
// "\\?\C:\x", "\\.\C:\x" and "\\server\share\x" on Windows for paths below the current
// drive's root). POSIX: relative to the current folder, ".." kept, since links decide
// where it leads. Windows (GetFullPathNameW): "." and ".." resolved in the text as the
// system resolves them, a drive-relative "D:drel" from that drive's current folder, a
// UNC path as it is, and a path with the "\\?\" or "\\.\" prefix in its plain form
// ("C:\x"), which os_path prefixes again where it needs to. The throwing form raises
// std::filesystem::filesystem_error.
std::filesystem::path absolute_path(const std::filesystem::path& p, std::error_code& ec);
std::filesystem::path absolute_path(const std::filesystem::path& p);

// One entry of a folder: its path (the folder's path joined with its name), whether it is
// a link itself (on Windows a symbolic link or a junction), and the kind of what it names
// once links are followed (`missing` for a link to nothing). An entry the system would not
// look at (a path past the system's length limit, a folder that may be listed but not
// entered, a loop of links) is `unknown`, with the system's reason in `error`.
struct FolderEntry {
    enum class Kind { file, folder, other, missing, unknown };
    std::filesystem::path path;
    Kind kind = Kind::other;
    bool link = false;
    std::error_code error{};
};
// The entries of the folder, "." and ".." left out, in no particular order; nothing, with
// the system's reason in `ec`, when it cannot be read. On Windows folders past MAX_PATH
// are read too.
std::vector<FolderEntry> list_folder(const std::filesystem::path& folder, std::error_code& ec);

// Removes the folder and everything in it; a link in it goes as a link, and what it leads
// to stays (on Windows a junction or a symbolic link too, and read-only files go as well).
// Nothing there is no failure; `ec` says why something could not be removed.
void remove_tree(const std::filesystem::path& p, std::error_code& ec);

// Sets the permission bits 0o755 (owner read, write, execute; group and others read,
// execute): `made`, or `failed` with the reason in `error` when given. Windows has no such
// bits (a script runs through its interpreter without them): nothing is done there, and
// the answer is `not_needed`.
enum class Executable { made, not_needed, failed };
Executable make_executable(const std::filesystem::path& p, std::string* error = nullptr);

// A fresh temporary folder (removed by the caller). Throws std::filesystem::filesystem_error
// with the system's reason of the last try when none can be made.
std::filesystem::path make_temp_dir(std::string_view prefix);

}  // namespace support

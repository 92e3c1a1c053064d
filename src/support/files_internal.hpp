#pragma once
// What the files of one platform (files_posix.cpp, files_windows.cpp) share with the
// portable part of the file functions (files.cpp).
#include <filesystem>
#include <string>
#include <system_error>

#include "support/files.hpp"

namespace support::files_detail {

inline BoundedRead refused(BoundedRead::Outcome outcome, std::string reason = {}) {
    return {.outcome = outcome, .reason = std::move(reason)};
}

[[noreturn]] void fail(const char* what, const std::filesystem::path& p, std::error_code ec);

// The file that a save of `p` replaces: symbolic links are followed to their final target,
// so a link stays a link and the file it names gets the new text. A link to nothing yet
// gives the file it names.
std::filesystem::path final_target(const std::filesystem::path& p);

// A save's partial file: hidden, beside the target (a rename never crosses file systems),
// with a random name that the clean-up below knows.
std::filesystem::path temp_name_beside(const std::filesystem::path& target);
// The name of the target that try_save_in's partial file is named after.
inline constexpr const char* probe_name = "write-check";

// The folder of a save's target, as given and made absolute (empty when it cannot be): the
// clean-up below and the signal handler both need the absolute form, found once per save.
struct SaveFolder {
    std::filesystem::path given;
    std::filesystem::path absolute;
};
SaveFolder folder_of(const std::filesystem::path& target);
// The temporary file at `tmp` (in `folder`), as the signal handler is told it.
std::filesystem::path absolute_temp_path(const SaveFolder& folder, const std::filesystem::path& tmp);

// A save killed before its rename (SIGKILL, a crash, a power cut) leaves its partial file
// beside the target, and nothing else would ever remove it: the first save into a folder
// in a run removes those that no save still holds.
void remove_abandoned_partial_files(const SaveFolder& saved_into);
// Removes the partial file unless a save still at work holds it (platform's own): a save
// holds its partial file's lock while it writes, and the system drops the lock with the
// process, however that ends; where the file system has no such locks, only a file
// `long_abandoned` is taken for a dead save's. (Windows: an open file cannot be removed,
// which tells the same.)
void remove_unless_held(const std::filesystem::path& p, bool long_abandoned);

#ifdef _WIN32
// A Windows error code (GetLastError) as an error code whose condition and text are those
// of the matching portable condition, or else the system's own message.
std::error_code windows_error(unsigned long code);
// The system's own text for an error code (or, with ntdll's module handle as `module`, for
// a status code); "error N" when the system has none for an error code.
std::string system_message(unsigned long code, void* module = nullptr);

// Puts the finished file `from`, open as `handle` with DELETE access, in the place of
// `to`, and closes the handle: the error, if it failed. A file that another program holds
// open (a browser or a viewer on the page) is replaced all the same where it lets others
// delete it; where it does not, the error is the sharing violation, which reads as such.
std::error_code replace_file(void* handle, const std::filesystem::path& from, const std::filesystem::path& to);
#endif

}  // namespace support::files_detail

#pragma once
// What the Windows file functions (files_windows.cpp) give the rest of the support layer.
#ifdef _WIN32
#include <filesystem>
#include <string>
#include <system_error>

namespace support::files_detail {

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

}  // namespace support::files_detail
#endif

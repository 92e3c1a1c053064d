#pragma once
// What the Windows file functions (files_windows.cpp) give the rest of the support layer.
#ifdef _WIN32
#include <string>
#include <system_error>

namespace support::files_detail {

// A Windows error code (GetLastError) as an error code whose condition and text are those
// of the matching portable condition, or else the system's own message.
std::error_code windows_error(unsigned long code);
// The system's own text for an error code (or, with ntdll's module handle as `module`, for
// a status code); "error N" when the system has none for an error code.
std::string system_message(unsigned long code, void* module = nullptr);

}  // namespace support::files_detail
#endif

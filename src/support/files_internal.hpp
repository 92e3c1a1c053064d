#pragma once
// What the Windows file functions (files_windows.cpp) give the rest of the support layer.
#ifdef _WIN32
#include <system_error>

namespace support::files_detail {

// A Windows error code (GetLastError) as an error code whose condition and text are those
// of the matching portable condition, or else the system's own message.
std::error_code windows_error(unsigned long code);

}  // namespace support::files_detail
#endif

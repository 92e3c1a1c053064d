#pragma once
// What the platforms' signal files (interrupt_posix.cpp, interrupt_windows.cpp) and the
// part they share (interrupt.cpp) give each other.
#include <filesystem>

namespace support::interrupt_detail {

// Removes the temporary files registered with RemoveOnSignal. Only async-signal-safe
// calls: the handlers call it.
void remove_armed_files();
// Removes one of them (the platform's own call, safe in a signal handler).
void remove_now(const std::filesystem::path::value_type* path);
// Ends the program the way the ending signal `sig` ends it, after the clean-ups that an
// ending signal runs.
void end_by(int sig);

}  // namespace support::interrupt_detail

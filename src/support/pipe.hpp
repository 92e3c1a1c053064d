#pragma once
// Pipes for the process runner and the interrupt handlers (POSIX only).

namespace support {

#ifndef _WIN32
// Opens a pipe whose two ends are closed when another program is started, and that
// never blocks when `nonblocking` is set: pipe2 where the system has it, pipe and fcntl
// elsewhere (macOS). False, with errno set, when it fails.
bool open_pipe(int fds[2], bool nonblocking = false);
#endif

}  // namespace support

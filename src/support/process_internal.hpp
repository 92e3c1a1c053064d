#pragma once
// What the platforms' process runners (process_posix.cpp, process_windows.cpp) share.
#include <string>
#include <vector>

namespace support::process_detail {

// Appends, keeping no more than the last `limit` bytes (everything when 0). The front is
// cut only when twice the limit is reached, so the cost stays linear in what is read.
void append_tail(std::string& sink, const char* data, size_t n, size_t limit);
// The last `limit` bytes (everything when 0), once reading is over.
void cut_to_tail(std::string& sink, size_t limit);

// Raises ProcessError for an argument vector that cannot start a program: an empty one,
// or one with an argument that holds a NUL (the system would end the argument there, and
// the program would get a part of it).
void refuse_unpassable(const std::vector<std::string>& argv);

// "Command '['git', 'commit']'", the start of every description of a child's end.
std::string command_named(const std::vector<std::string>& argv);
// "... returned non-zero exit status N.", the end that both platforms describe alike.
std::string exit_status_description(const std::vector<std::string>& argv, int status);

}  // namespace support::process_detail

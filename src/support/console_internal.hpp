#pragma once
// What the platforms' console files (console_posix.cpp, console_windows.cpp) give the
// questions and messages that every platform shares (console.cpp).
#include <cstdio>
#include <string>

#include "support/console.hpp"

namespace support::console_detail {

inline FILE* file_of(Stream s) { return s == Stream::out ? stdout : stderr; }

// Waits for standard input and appends what it gives next to `pending` (possibly
// nothing, when the wait was cut short and is to be taken up again); false at the end of
// input. SIGINT (Ctrl-C) while waiting raises Aborted, the other ending signals
// Interrupted, each once the question's line is ended. `console` decodes what a Windows
// console gives.
bool read_more(std::string& pending, ConsoleInput& console);

// Whether standard input is a terminal, which shows the line end that is typed.
bool input_is_terminal();

}  // namespace support::console_detail

// What the process runners of every platform share; each platform's runner is a file of
// its own (process_posix.cpp, process_windows.cpp), and the Windows command lines are
// pure text functions in windows_cmdline.cpp.
#include "support/process.hpp"

#include <cstdio>

#include "support/process_internal.hpp"
#include "support/text.hpp"

namespace support {

namespace process_detail {

void append_tail(std::string& sink, const char* data, size_t n, size_t limit) {
    sink.append(data, n);
    if (limit && sink.size() >= 2 * limit) sink.erase(0, sink.size() - limit);
}

void cut_to_tail(std::string& sink, size_t limit) {
    if (limit && sink.size() > limit) sink.erase(0, sink.size() - limit);
}

void refuse_unpassable(const std::vector<std::string>& argv) {
    if (argv.empty()) throw ProcessError("empty command");
    for (const auto& arg : argv)
        if (arg.find('\0') != std::string::npos)
            throw ProcessError(argv[0] + ": an argument holding a NUL character cannot be passed: " + list_repr({arg}));
}

std::string command_named(const std::vector<std::string>& argv) {
    std::string list;
    for (const auto& a : argv) list += (list.empty() ? "'" : ", '") + a + "'";
    return "Command '[" + list + "]'";
}

std::string exit_status_description(const std::vector<std::string>& argv, int status) {
    return command_named(argv) + " returned non-zero exit status " + std::to_string(status) + ".";
}

}  // namespace process_detail

std::string windows_exception_description(const std::vector<std::string>& argv, unsigned long code,
                                          const std::string& system_message) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", code & 0xFFFFFFFFul);
    std::string text = process_detail::command_named(argv) + " died with exception " + hex;
    const std::string message(strip(system_message));
    if (!message.empty()) text += " (" + message + ")";
    return text + ".";
}

}  // namespace support

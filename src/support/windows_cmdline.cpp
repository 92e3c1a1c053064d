// Command lines for Windows, as pure text functions so that they are tested everywhere.
#include "support/process.hpp"

namespace support {

// The C runtime's rules: an element that is empty or holds a blank or a tab is put in
// double quotes; a double quote is preceded by a backslash; backslashes are doubled
// only where a double quote (the closing one included) follows them.
std::string windows_quote_arg(const std::string& arg) {
    const bool needquote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    std::string out;
    if (needquote) out += '"';
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            out.append(backslashes * 2, '\\');
            backslashes = 0;
            out += "\\\"";
        } else {
            out.append(backslashes, '\\');
            backslashes = 0;
            out += c;
        }
    }
    out.append(backslashes, '\\');
    if (needquote) {
        out.append(backslashes, '\\');
        out += '"';
    }
    return out;
}

std::string windows_command_line(const std::vector<std::string>& argv) {
    std::string line;
    for (const auto& arg : argv) {
        if (!line.empty()) line += ' ';
        line += windows_quote_arg(arg);
    }
    return line;
}

// cmd.exe reads the line once more after the C runtime quoting: there "&", "|", "<", ">"
// and parentheses would chain or redirect commands, "%" and "!" would expand variables.
// A caret makes the next character literal, but not inside a double-quoted stretch, so
// the double quotes get a caret too: then no stretch is quoted for cmd.exe and every
// metacharacter stays plain text. cmd.exe drops the carets before the program sees the
// line. A line end would end the command, so it becomes a blank.
std::string windows_cmd_escape(const std::string& command_line) {
    std::string out;
    out.reserve(command_line.size() * 2);
    for (char c : command_line) {
        switch (c) {
            case '(': case ')': case '%': case '!': case '^': case '"': case '<': case '>': case '&': case '|':
                out += '^';
                out += c;
                break;
            case '\r': case '\n':
                out += ' ';
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace support

// Command lines for Windows, as pure text functions so that they are tested everywhere.
#include <cctype>
#include <string_view>

#include "support/process.hpp"
#include "support/text.hpp"

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

std::vector<std::string> windows_program_names(const std::string& name, const std::string& pathext) {
    std::vector<std::string> exts;
    for (auto& e : split(pathext, ";"))
        if (!strip(e).empty()) exts.emplace_back(strip(e));
    if (exts.empty()) exts = {".COM", ".EXE", ".BAT", ".CMD"};
    const size_t last_separator = name.find_last_of("/\\:");
    const size_t dot = name.rfind('.');
    const bool has_extension = dot != std::string::npos && (last_separator == std::string::npos || dot > last_separator);
    std::vector<std::string> names;
    if (has_extension) {
        const std::string suffix = ascii_lower(name.substr(dot));
        for (const auto& e : exts)
            if (ascii_lower(e) == suffix) {
                names.push_back(name);
                break;
            }
    }
    for (const auto& e : exts) names.push_back(name + e);
    return names;
}

bool windows_is_command_script(const std::string& file_name) {
    const std::string lower = ascii_lower(file_name);
    return lower.ends_with(".cmd") || lower.ends_with(".bat");
}

namespace {

// What would end the interpreter's command line early (a NUL ends it as well).
constexpr std::string_view line_ends("\r\n\0", 3);

// "%" followed by "%cd:~,%" is a substring of nothing taken from a variable that always
// exists: the interpreter expands that to nothing and no longer sees the "%" as the start
// of a variable name of the argument's own (needs command extensions, /e:on).
void append_without_expansion(std::string& out, char c) {
    if (c == '%') out += "%%cd:~,";
    out += c;
}

bool is_c1_control(const std::string& s, size_t i) {
    return static_cast<unsigned char>(s[i]) == 0xC2 && i + 1 < s.size() &&
           static_cast<unsigned char>(s[i + 1]) >= 0x80 && static_cast<unsigned char>(s[i + 1]) <= 0x9F;
}

}  // namespace

std::string windows_batch_quote_arg(const std::string& arg) {
    if (arg.find_first_of(line_ends) != std::string::npos)
        throw ProcessError("an argument holding a line end cannot be passed safely to a command script: " +
                           list_repr({arg}));
    // Quoting is the default; only letters, digits and these signs are left bare. A
    // trailing backslash is quoted too, so that "%~1" in the script cannot end in \".
    static const std::string harmless = "#$*+-./:?@\\_";
    bool quote = arg.empty() || arg.back() == '\\';
    for (size_t i = 0; i < arg.size() && !quote; ++i) {
        const auto c = static_cast<unsigned char>(arg[i]);
        if (c < 0x80) quote = !(std::isalnum(c) || harmless.find(static_cast<char>(c)) != std::string::npos);
        else quote = is_c1_control(arg, i);
    }
    std::string out;
    if (quote) out += '"';
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            out += c;
            continue;
        }
        // Inside quotes a double quote is written twice; backslashes before it are doubled
        // so that a C runtime reading the line afterwards keeps them.
        if (c == '"') out.append(backslashes, '\\') += '"';
        backslashes = 0;
        append_without_expansion(out, c);
    }
    if (quote) out.append(backslashes, '\\') += '"';
    return out;
}

namespace {

std::string interpreter_prefix(const std::string& interpreter) {
    // /d: no AutoRun commands from the registry; /v:off: "!" is never expanded, whatever
    // the registry says; /e:on: the "%" guard above needs the extensions; /s /c: the
    // outer quotes are taken off and the rest runs as it stands.
    return windows_quote_arg(interpreter) + " /d /e:on /v:off /s /c \"";
}

}  // namespace

std::string windows_batch_command_line(const std::string& interpreter, const std::string& script,
                                       const std::vector<std::string>& args) {
    if (script.find('"') != std::string::npos || script.find_first_of(line_ends) != std::string::npos)
        throw ProcessError("a command script's path cannot hold a double quote or a line end: " + list_repr({script}));
    std::string line = interpreter_prefix(interpreter) + '"';
    for (char c : script) append_without_expansion(line, c);
    line += '"';
    for (const auto& arg : args) line += ' ' + windows_batch_quote_arg(arg);
    return line + '"';
}

std::string windows_interpreter_command_line(const std::string& interpreter, const std::string& command_text,
                                             const std::vector<std::string>& args) {
    std::string line = interpreter_prefix(interpreter) + command_text;
    for (const auto& arg : args) line += ' ' + windows_batch_quote_arg(arg);
    return line + '"';
}

}  // namespace support

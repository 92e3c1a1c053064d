// Command lines for Windows, as pure text functions so that they are tested everywhere.
#include <algorithm>
#include <cctype>
#include <iterator>
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

namespace {

// The lines every npm cmd-shim of releases 4.1 and later begins with: "dp0" becomes the
// script's own folder.
constexpr std::string_view shim_head[] = {"@ECHO off", "GOTO start", ":find_dp0", "SET dp0=%~dp0", "EXIT /b",
                                          ":start",    "SETLOCAL",   "CALL :find_dp0", ""};
// cmd-shim 3 and 4.0 (npm 6, early npm 7): the same folder, found by a block at the end.
constexpr std::string_view old_shim_head[] = {"@ECHO off", "SETLOCAL", "CALL :find_dp0", ""};
constexpr std::string_view old_shim_foot[] = {"ENDLOCAL", "EXIT /b %errorlevel%", ":find_dp0", "SET dp0=%~dp0",
                                              "EXIT /b"};
constexpr std::string_view drop_js = "SET PATHEXT=%PATHEXT:;.JS;=;%";
constexpr std::string_view last_line_start = "endLocal & goto #_undefined_# 2>NUL || title %COMSPEC% & ";

// A program named by a script's "#!" line, as the shim looks it up: a bare name.
bool is_bare_name(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) return false;
    return true;
}

// Text that the interpreter would read as it stands: no quote, variable, escape,
// operator, or line end.
bool is_literal(std::string_view text) { return text.find_first_of("\"%!^&|<>()\r\n\0") == std::string_view::npos; }

bool take_prefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// The lines of a script written with CR LF alone; nothing when a line feed or a carriage
// return stands elsewhere. `ends_with_line_end`: whether the last line has its CR LF too.
std::optional<std::vector<std::string_view>> crlf_lines(std::string_view text, bool ends_with_line_end) {
    if (text.empty() || text.ends_with("\r\n") != ends_with_line_end) return std::nullopt;
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    for (const auto& line : lines)
        if (line.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    return lines;
}

template <size_t N>
bool lines_are(const std::vector<std::string_view>& lines, size_t from, const std::string_view (&expected)[N]) {
    if (lines.size() < from + N) return false;
    for (size_t i = 0; i < N; ++i)
        if (lines[from + i] != expected[i]) return false;
    return true;
}

// The rest of a program's line after the program itself: `ARGS "FOLDER\SCRIPT" %*`, where
// FOLDER is how the shim names its own folder.
std::optional<NpmShim> program_line(std::string_view program, std::string_view run, std::string_view folder) {
    if (!run.ends_with("\" %*")) return std::nullopt;
    run.remove_suffix(4);
    std::string script_start = "\"";
    script_start.append(folder).append("\\");
    const size_t script_at = run.find(script_start);
    if (script_at == std::string_view::npos || script_at == 0 || run[script_at - 1] != ' ') return std::nullopt;
    const std::string_view args = run.substr(0, script_at - 1), script = run.substr(script_at + script_start.size());
    // A script of the package's own, beside the shim as the package manager lays it out.
    if (script.empty() || !is_literal(script) || script.find(':') != std::string_view::npos) return std::nullopt;
    if (!is_literal(args)) return std::nullopt;
    return NpmShim{std::string(program), split_whitespace(args), std::string(script)};
}

// The choice of program in npm's shims: node beside the shim, else the one on PATH, with
// ".JS" dropped from PATHEXT in the ELSE branch when `drop_in_else`. Gives the program's
// name and the number of lines read.
std::optional<std::pair<std::string_view, size_t>> npm_program_choice(const std::vector<std::string_view>& lines,
                                                                      size_t from, bool drop_in_else) {
    if (lines.size() < from + 6 + (drop_in_else ? 1 : 0)) return std::nullopt;
    std::string_view if_line = lines[from];
    if (!take_prefix(if_line, "IF EXIST \"%dp0%\\") || !if_line.ends_with(".exe\" (")) return std::nullopt;
    const std::string_view program = if_line.substr(0, if_line.size() - 7);
    if (!is_bare_name(program)) return std::nullopt;
    if (lines[from + 1] != "  SET \"_prog=%dp0%\\" + std::string(program) + ".exe\"" || lines[from + 2] != ") ELSE (" ||
        lines[from + 3] != "  SET \"_prog=" + std::string(program) + "\"")
        return std::nullopt;
    size_t next = from + 4;
    if (drop_in_else && lines[next++] != "  " + std::string(drop_js)) return std::nullopt;
    if (lines[next] != ")" || !lines[next + 1].empty()) return std::nullopt;
    return std::pair{program, next + 2 - from};
}

// npm's shims of releases 4.1 and later: the program's line leaves the local variables
// first and keeps the exit status.
std::optional<NpmShim> npm_shim(std::string_view text) {
    const auto lines = crlf_lines(text, true);
    if (!lines || !lines_are(*lines, 0, shim_head)) return std::nullopt;
    const size_t head = std::size(shim_head);
    // Releases up to 8 drop ".JS" from PATHEXT in the ELSE branch, later ones on the last line.
    const bool drop_in_else = lines->size() == head + 8;
    if (lines->size() != head + 7 && !drop_in_else) return std::nullopt;
    const auto choice = npm_program_choice(*lines, head, drop_in_else);
    if (!choice) return std::nullopt;
    std::string_view run = (*lines)[head + choice->second];
    if (!take_prefix(run, last_line_start)) return std::nullopt;
    if (!drop_in_else && !take_prefix(run, "set PATHEXT=%PATHEXT:;.JS;=;% & ")) return std::nullopt;
    if (!take_prefix(run, "\"%_prog%\" ")) return std::nullopt;
    return program_line(choice->first, run, "%dp0%");
}

// npm's shims of releases 3 and 4.0: the program's line, then ENDLOCAL, the exit with its
// status, and the block that finds the shim's folder.
std::optional<NpmShim> old_npm_shim(std::string_view text) {
    const auto lines = crlf_lines(text, true);
    const size_t head = std::size(old_shim_head), foot = std::size(old_shim_foot);
    if (!lines || lines->size() != head + 7 + 1 + foot || !lines_are(*lines, 0, old_shim_head)) return std::nullopt;
    const auto choice = npm_program_choice(*lines, head, true);
    if (!choice || !lines_are(*lines, head + choice->second + 1, old_shim_foot)) return std::nullopt;
    std::string_view run = (*lines)[head + choice->second];
    if (!take_prefix(run, "\"%_prog%\" ")) return std::nullopt;
    return program_line(choice->first, run, "%dp0%");
}

// yarn's shims (@zkochan/cmd-shim): node beside the shim runs the script, else node from
// PATH with ".JS" dropped from PATHEXT; both lines name the same script and arguments, and
// the last line has no line end.
std::optional<NpmShim> yarn_shim(std::string_view text) {
    const auto lines = crlf_lines(text, false);
    if (!lines || lines->size() != 7) return std::nullopt;
    std::string_view if_line = (*lines)[0];
    if (!take_prefix(if_line, "@IF EXIST \"%~dp0\\") || !if_line.ends_with(".exe\" (")) return std::nullopt;
    const std::string_view program = if_line.substr(0, if_line.size() - 7);
    if (!is_bare_name(program)) return std::nullopt;
    std::string_view beside = (*lines)[1], on_path = (*lines)[5];
    if (!take_prefix(beside, "  \"%~dp0\\" + std::string(program) + ".exe\" ") ||
        !take_prefix(on_path, "  " + std::string(program) + " ") || beside != on_path)
        return std::nullopt;
    if ((*lines)[2] != ") ELSE (" || (*lines)[3] != "  @SETLOCAL" || (*lines)[4] != "  @" + std::string(drop_js) ||
        (*lines)[6] != ")")
        return std::nullopt;
    return program_line(program, on_path, "%~dp0");
}

}  // namespace

std::optional<NpmShim> windows_npm_shim(std::string_view text) {
    if (auto shim = npm_shim(text)) return shim;
    if (auto shim = old_npm_shim(text)) return shim;
    return yarn_shim(text);
}

}  // namespace support

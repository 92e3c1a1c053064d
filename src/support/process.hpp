#pragma once
// Child processes: an argument vector, no shell; standard input inherited; output
// captured, passed through to the terminal, or discarded.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace support {

enum class Output { capture, inherit, discard };

struct RunOptions {
    Output out = Output::capture;
    Output err = Output::capture;
    std::optional<std::filesystem::path> cwd{};
    // Windows only: run the joined command line through the command interpreter (so
    // that command scripts start); the line is escaped for it first.
    bool through_shell = false;
    // Standard input from the null device instead of the program's own.
    bool null_stdin = false;
    // Keep only the last this many bytes of each captured stream (0: all of them); the
    // rest is read and dropped, so a child that floods its output costs no memory.
    size_t tail_limit = 0;
    // An interactive child that answers Ctrl-C itself: SIGINT is left to it, while
    // SIGTERM and SIGHUP still end it (see interrupt.hpp).
    bool child_owns_interrupt = false;
};

struct ProcessResult {
    int status = 0;    // the exit status, or minus the signal number that ended the child
    std::string out;   // raw bytes, when captured
    std::string err;
};

// Raised when the child cannot be started at all (program not found, not executable).
class ProcessError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Runs argv[0] (looked up on PATH when it holds no separator) with argv, waits for it,
// and drains both pipes together so that neither can fill up and block the child. An
// ending signal meanwhile (interrupt.hpp) is passed on to the child, which gets SIGKILL
// when it has not ended after a short grace; once it has been waited for, Interrupted
// is raised.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// The program's full path as the platform's command lookup finds it (PATH, and on
// Windows PATHEXT), or nothing.
std::optional<std::filesystem::path> find_executable(const std::string& name);

// Joins an argument vector into one Windows command line by the C runtime's quoting
// rules (CommandLineToArgvW reads it back element for element).
std::string windows_quote_arg(const std::string& arg);
std::string windows_command_line(const std::vector<std::string>& argv);
// Makes a command line safe to hand to cmd.exe: every interpreter metacharacter
// (& | < > ^ ( ) % ! and line ends) is escaped so that no text of it can start a command.
std::string windows_cmd_escape(const std::string& command_line);

// How a child that ended badly is described in messages, naming its argument vector:
// "Command '['git', 'commit']' returned non-zero exit status 1." (or "died with signal N").
std::string status_description(const std::vector<std::string>& argv, int status);

bool is_windows();

}  // namespace support

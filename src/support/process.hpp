#pragma once
// Child processes: an argument vector, no shell; standard input inherited; output
// captured, passed through to the terminal, or discarded.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace support {

enum class Output { capture, inherit, discard };

struct RunOptions {
    Output out = Output::capture;
    Output err = Output::capture;
    // Standard input from the null device instead of the program's own.
    bool null_stdin = false;
    // Keep only the last this many bytes of each captured stream (0: all of them); the
    // rest is read and dropped, so a child that floods its output costs no memory.
    size_t tail_limit = 0;
    // An interactive child that answers Ctrl-C itself: SIGINT is left to it, while
    // the other ending signals still end it (see interrupt.hpp).
    bool child_owns_interrupt = false;
    // The child's whole tree belongs to this run: whatever the child leaves running ends
    // when the child ends, and all of it ends when this program ends, however it ends
    // (SIGKILL included), before a lock this program held is free for another run. For a
    // program that works for this one, such as the agent; not for one whose leftovers are
    // the user's own (a git hook's daemon). On Linux a guardian process stands between
    // the two (process_posix.cpp); Windows holds every child's tree so (its job); other
    // systems end only the child, and only on an ending signal.
    bool contained = false;
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

// Runs argv[0] (looked up on PATH when it holds no separator) with argv, waits until it
// has ended, and drains both pipes together so that neither can fill up and block the
// child; once it has ended, what is in the pipes is read and no more is waited for (a
// job it left in the background may hold them open long after). An
// ending signal meanwhile (interrupt.hpp) is passed on to the child, which gets SIGKILL
// when it has not ended after a short grace; once it has been waited for and whatever it
// left running has been ended (end_descendants), Interrupted is raised. Windows starts
// the absolute path the lookup found, never a bare name (which would find a program in
// the current folder first); npm's command script for a program starts the program it
// names (windows_npm_shim) with no interpreter in between, another command script runs
// through the interpreter; the child and all it starts belong to a job that ends with it
// (Ctrl-C, our own end), and what it leaves running ends when it does.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// Runs a command text of the user's own (an editor setting such as "code --wait") through
// the platform's shell, with `args` appended as separate arguments that the shell never
// reads as syntax: `sh -c 'exec TEXT "$@"'` on POSIX, so that the program replaces the
// shell and is the child that signals reach; on Windows the command interpreter from
// the system folder, the arguments quoted for it (what the command leaves running, such
// as an editor's window, stays once it has returned).
ProcessResult run_user_command(const std::string& command_text, const std::vector<std::string>& args,
                               const RunOptions& options = {});

// The longest single argument, in bytes, that the system hands to a program it starts,
// where it has such a limit (Linux: 32 pages, less the closing NUL); nothing elsewhere.
std::optional<size_t> argument_size_limit();

// The program's full path as the platform's command lookup finds it (PATH, and on
// Windows PATHEXT), or nothing. Only the absolute folders of PATH are searched: an empty
// or relative entry, which the system's own lookup takes from the current folder, is
// passed over, so that a program that a working copy carries is never found.
std::optional<std::filesystem::path> find_executable(const std::string& name);

// ---- Windows command lines, as pure functions so that they are tested everywhere ----

// Joins an argument vector into one Windows command line by the C runtime's quoting
// rules (CommandLineToArgvW reads it back element for element).
std::string windows_quote_arg(const std::string& arg);
std::string windows_command_line(const std::vector<std::string>& argv);

// The file names the lookup tries for `name` in each folder, in order: the name with
// each extension of PATHEXT (";"-separated; the system's default when empty), preceded
// by the bare name only when that already ends with one of them.
std::vector<std::string> windows_program_names(const std::string& name, const std::string& pathext);
// Whether the file is a command script (.cmd or .bat, in any case), which only the
// command interpreter can start.
bool windows_is_command_script(const std::string& file_name);

// An argument of a command script is read twice: by the command interpreter's own
// line, and again where the script expands %* or %1. Every argument holding anything
// but letters, digits and a few harmless signs is double-quoted, with inner quotes
// doubled and "%" made unable to expand; a line end (or NUL) cannot be passed safely at
// all, and raises ProcessError.
std::string windows_batch_quote_arg(const std::string& arg);
// The interpreter's command line that runs `script` with `args` (delayed expansion off,
// AutoRun off): `"INTERPRETER" /d /e:on /v:off /s /c ""SCRIPT" ARGS"`.
std::string windows_batch_command_line(const std::string& interpreter, const std::string& script,
                                       const std::vector<std::string>& args);
// The same for a command text of the user's own, taken as it is, followed by `args`.
std::string windows_interpreter_command_line(const std::string& interpreter, const std::string& command_text,
                                             const std::vector<std::string>& args);

// An npm cmd-shim: the command script npm writes for a package's program ("agy.cmd"
// beside npm's global packages). It runs `program` ("node": the one beside the script
// when there is one, else the one found on PATH) with `arguments`, then `script` (relative
// to the script's folder), then the script's own arguments.
struct NpmShim {
    std::string program;
    std::vector<std::string> arguments;
    std::string script;
};
// Reads a command script's text as npm writes it (cmd-shim 3 and later, npm 6 on, which
// differ in how the script ends and where ".JS" is dropped from PATHEXT) or as yarn writes
// it (@zkochan/cmd-shim, without NODE_PATH); anything else, pnpm's shims, which set
// NODE_PATH to the machine's own folders, and a script written or changed by hand
// included, gives nothing.
std::optional<NpmShim> windows_npm_shim(std::string_view text);

// How a child that ended with a Windows exception status (0xC0000005 and the like) is
// described: the status in hexadecimal and the system's message for it, when it has one.
std::string windows_exception_description(const std::vector<std::string>& argv, unsigned long code,
                                          const std::string& system_message);

// How a child that ended badly is described in messages, naming its argument vector:
// "Command '['git', 'commit']' returned non-zero exit status 1." (or "died with signal N";
// on Windows a negative status is an exception status, described as such).
std::string status_description(const std::vector<std::string>& argv, int status);

bool is_windows();

}  // namespace support

#include "support/process.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "support/env.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/pipe.hpp"
#include "support/text.hpp"

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#include <string_view>
#include <thread>

#include "support/files.hpp"
#include "support/wide_text.hpp"
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace support {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {

// The system's own text for an error code (or, with ntdll as `module`, a status code).
std::string system_message(DWORD code, HMODULE module = nullptr) {
    wchar_t* buffer = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                        (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    const DWORD n = FormatMessageW(flags, module, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text = n ? narrow(std::wstring_view(buffer, n)) : std::string();
    if (buffer) LocalFree(buffer);
    text = std::string(strip(text));
    if (text.empty() && !module) text = "error " + std::to_string(code);
    return text;
}

}  // namespace
#endif

bool is_windows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

std::optional<size_t> argument_size_limit() {
#ifdef __linux__
    // The kernel's MAX_ARG_STRLEN, counted with the NUL that ends the argument.
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) return static_cast<size_t>(page) * 32 - 1;
#endif
    return std::nullopt;
}

namespace {

// The lookup, with the executable extensions to try on Windows (PATHEXT's form).
std::optional<fs::path> find_program(const std::string& name, [[maybe_unused]] const std::string& pathext) {
    if (name.empty()) return std::nullopt;
    auto usable = [](const fs::path& p) {
        std::error_code ec;
        if (!fs::is_regular_file(p, ec)) return false;
#ifdef _WIN32
        return true;
#else
        return ::access(p.c_str(), X_OK) == 0;
#endif
    };
#ifdef _WIN32
    // Windows: the system's executable extensions come first, so npm's extension-less
    // shell shim "agy" never wins over "agy.cmd"; the found path is made absolute so that
    // the start cannot look in the current folder again. "C:x" names a path too.
    const auto names = windows_program_names(name, pathext);
    const bool has_folder = name.find_first_of("/\\:") != std::string::npos;
    const std::string separator = ";";
    auto found = [](const fs::path& p) {
        std::error_code ec;
        fs::path absolute = fs::absolute(p, ec);
        return ec ? p : absolute;
    };
#else
    const std::vector<std::string> names = {name};
    const bool has_folder = name.find('/') != std::string::npos;
    const std::string separator = ":";
    auto found = [](const fs::path& p) { return p; };
#endif
    if (has_folder) {
        for (const auto& n : names)
            if (usable(path_from_utf8(n))) return found(path_from_utf8(n));
        return std::nullopt;
    }
    for (const auto& dir : split(get_env("PATH").value_or(""), separator)) {
#ifdef _WIN32
        // An empty entry would mean the current folder, which must not win here.
        const std::string folder(strip_chars(dir, "\""));
        if (folder.empty()) continue;
        const fs::path base = path_from_utf8(folder);
#else
        const fs::path base = path_from_utf8(dir.empty() ? "." : dir);
#endif
        for (const auto& n : names) {
            fs::path candidate = base / path_from_utf8(n);
            if (usable(candidate)) return found(candidate);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<fs::path> find_executable(const std::string& name) {
    return find_program(name, get_env("PATHEXT").value_or(""));
}

namespace {

// Appends, keeping no more than the last `limit` bytes (everything when 0). The front is
// cut only when twice the limit is reached, so the cost stays linear in what is read.
void append_tail(std::string& sink, const char* data, size_t n, size_t limit) {
    sink.append(data, n);
    if (limit && sink.size() >= 2 * limit) sink.erase(0, sink.size() - limit);
}

void cut_to_tail(std::string& sink, size_t limit) {
    if (limit && sink.size() > limit) sink.erase(0, sink.size() - limit);
}

}  // namespace

#ifndef _WIN32

namespace {

// How long a child may take to end after the signal was passed on before it is killed.
constexpr auto kill_grace = std::chrono::seconds(2);

// Passes the ending signal on, kills the child when it outlives the grace, waits for
// it, ends whatever else it started, and unwinds. The pipes are no longer read: a
// grandchild may hold them open.
[[noreturn]] void end_child(pid_t pid, int sig) {
    ::kill(pid, sig);
    const auto give_up = std::chrono::steady_clock::now() + kill_grace;
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= give_up) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        ::poll(nullptr, 0, 20);
    }
    // Before anything unwinds, so that no process of the child's can still change a file
    // once the clean-ups have run.
    end_descendants();
    throw Interrupted(sig);
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    if (argv.empty()) throw ProcessError("empty command");
    // posix_spawnp reports a missing program only through the child's exit status (127
    // from glibc's fallback); look it up first so the caller gets a real start failure.
    auto program = find_executable(argv[0]);
    if (!program) throw ProcessError(argv[0] + ": command not found");

    Fd out_r, out_w, err_r, err_w;
    auto make_pipe = [](Fd& r, Fd& w) {
        int p[2];
        if (!open_pipe(p)) throw std::system_error(errno, std::generic_category(), "pipe");
        r.fd = p[0];
        w.fd = p[1];
    };
    if (options.out == Output::capture) make_pipe(out_r, out_w);
    if (options.err == Output::capture) make_pipe(err_r, err_w);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    auto route = [&](Output mode, const Fd& w, int target) {
        if (mode == Output::capture) posix_spawn_file_actions_adddup2(&fa, w.fd, target);
        else if (mode == Output::discard) posix_spawn_file_actions_addopen(&fa, target, "/dev/null", O_WRONLY, 0);
    };
    route(options.out, out_w, 1);
    route(options.err, err_w, 2);
    if (options.null_stdin) posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (options.cwd) posix_spawn_file_actions_addchdir_np(&fa, options.cwd->c_str());

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = 0;
    {
        // Ending signals wait until the child is watched, so none falls between its start
        // and the watch; the child itself starts with the mask as it was.
        SignalsHeld hold;
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setsigmask(&attr, &hold.previous_mask());
        // The program ignores SIGPIPE (interrupt.hpp); the child gets the default back, so
        // a pipeline of its own ends as usual when its reader goes.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        rc = ::posix_spawn(&pid, program->c_str(), &fa, &attr, args.data(), environ);
        posix_spawnattr_destroy(&attr);
        if (rc == 0) interrupt_detail::watch_child(pid, options.child_owns_interrupt);
    }
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw ProcessError(argv[0] + ": " + std::strerror(rc));
    struct Watch {
        ~Watch() { interrupt_detail::unwatch_child(); }
    } watch;
    out_w.reset();
    err_w.reset();

    ProcessResult result;
    pollfd fds[3] = {{out_r.fd, POLLIN, 0}, {err_r.fd, POLLIN, 0}, {interrupt_detail::wake_fd(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    char buffer[65536];
    int status = 0;
    // The child is done when it has ended, not when its pipes close: a job it left in the
    // background (`cmd &` in a git hook, in the agent) may hold them open for ever.
    for (;;) {
        if (int sig = interrupt_detail::pending_signal()) end_child(pid, sig);
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
        // Nothing announces the child's end: look again after a moment.
        if (::poll(fds, 3, 50) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[2].fd >= 0 && (fds[2].revents & POLLIN)) interrupt_detail::drain_wake_fd();
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) append_tail(*sinks[i], buffer, static_cast<size_t>(n), options.tail_limit);
            else if (n == 0 || errno != EINTR) fds[i].fd = -1;
        }
    }
    // All the child wrote is in the pipes by now: read what is there, and no more, so that
    // neither a job that still holds them nor one that writes on keeps the run waiting.
    for (int i = 0; i < 2; ++i) {
        int left = 0;
        if (fds[i].fd < 0 || ::ioctl(fds[i].fd, FIONREAD, &left) != 0) continue;
        while (left > 0) {
            const ssize_t n = ::read(fds[i].fd, buffer, std::min(sizeof buffer, static_cast<size_t>(left)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            append_tail(*sinks[i], buffer, static_cast<size_t>(n), options.tail_limit);
            left -= static_cast<int>(n);
        }
    }
    // A signal that came after the last look but before the child was waited for.
    int late = 0;
    {
        SignalsHeld hold;
        late = interrupt_detail::unwatch_child();
    }
    if (late) throw Interrupted(late);
    cut_to_tail(result.out, options.tail_limit);
    cut_to_tail(result.err, options.tail_limit);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
    return result;
}

ProcessResult run_user_command(const std::string& command_text, const std::vector<std::string>& args,
                               const RunOptions& options) {
    // exec: the shell becomes the program, so that a signal passed on reaches the program
    // itself and the shell cannot end without it.
    std::vector<std::string> argv = {"sh", "-c", "exec " + command_text + " \"$@\"", "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, options);
}

#else

namespace {

// How long a child may take to end after Ctrl-C before it is killed.
constexpr DWORD kill_grace_ms = 2000;

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = nullptr;
    }
};

fs::path interpreter_path() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return fs::path(std::wstring(folder, n > 0 && n < MAX_PATH ? n : 0)) / L"cmd.exe";
}

// The environment of a child started through the command interpreter: ours, with
// NoDefaultCurrentDirectoryInExePath set, so that the interpreter looks for the programs
// it runs on PATH only and never first in the current folder (a working copy's own
// node.exe or git.cmd). The variable keeps its place in the block's order.
std::wstring interpreter_environment() {
    static const std::wstring name = L"NoDefaultCurrentDirectoryInExePath";
    const std::wstring ours = name + L"=1";
    std::wstring block;
    bool placed = false;
    if (LPWCH env = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = env; *entry; entry += wcslen(entry) + 1) {
            const std::wstring_view text(entry);
            const std::wstring entry_name(text.substr(0, text.find(L'=', 1)));
            const int order = _wcsicmp(entry_name.c_str(), name.c_str());
            if (order == 0) continue;
            if (!placed && entry_name.front() != L'=' && order > 0) {
                block.append(ours).push_back(L'\0');
                placed = true;
            }
            block.append(text).push_back(L'\0');
        }
        FreeEnvironmentStringsW(env);
    }
    if (!placed) block.append(ours).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// A child's process tree: the child and whatever it starts belong to a job that ends
// them all when it is closed, when our own process ends too (a crash included). Where no
// job can be made (an older Windows inside a job of its own), only the child is known.
class ProcessTree {
  public:
    ProcessTree() : job_(CreateJobObjectW(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_ && !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) close();
    }
    ~ProcessTree() { close(); }
    ProcessTree(const ProcessTree&) = delete;
    ProcessTree& operator=(const ProcessTree&) = delete;

    // Takes in the child, started suspended so that nothing it starts escapes.
    void adopt(HANDLE process) {
        if (job_ && !AssignProcessToJobObject(job_, process)) close();
    }
    void end(HANDLE process, UINT status) {
        if (job_) TerminateJobObject(job_, status);
        else TerminateProcess(process, status);
    }
    // What the child started stays when the tree is closed.
    void let_go() {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION none{};
        if (job_) SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &none, sizeof none);
    }
    void close() {
        if (job_) CloseHandle(job_);
        job_ = nullptr;
    }

  private:
    HANDLE job_;
};

// How a child is started: the command line's limit, and for the interpreter its
// environment; `descendants_stay` leaves what the child started running once it has
// ended by itself (a text editor's own window).
struct StartOptions {
    // The longest command line, in UTF-16 units, and the limit as messages name it.
    size_t longest_line = 32766;
    const char* limit = "32767 characters (its terminating null included) that a program's command line holds";
    const std::wstring* environment = nullptr;
    bool descendants_stay = false;
};

// Starts `application` (an absolute path) with the full command line and waits for it,
// both pipes read on threads of their own. Ctrl-C meanwhile (interrupt.hpp) reaches the
// child through the console it shares; the child is killed with everything it started
// when it has not ended after a short grace, and Interrupted is raised.
ProcessResult start_and_wait(const fs::path& application, const std::string& command_line,
                             const std::string& name, const RunOptions& options, const StartOptions& start = {}) {
    std::wstring wide_line = widen(command_line);
    if (wide_line.size() > start.longest_line)
        throw ProcessError(name + ": the command line is " + std::to_string(wide_line.size()) +
                           " characters long, more than the " + start.limit);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle out_r, out_w, err_r, err_w, null_in, null_out;
    auto make_pipe = [&](Handle& r, Handle& w) {
        if (!CreatePipe(&r.h, &w.h, &inheritable, 0))
            throw ProcessError(name + ": " + system_message(GetLastError()));
        // Only the child's end is inherited; our reading end stays ours.
        SetHandleInformation(r.h, HANDLE_FLAG_INHERIT, 0);
    };
    if (options.out == Output::capture) make_pipe(out_r, out_w);
    if (options.err == Output::capture) make_pipe(err_r, err_w);
    if (options.out == Output::discard || options.err == Output::discard)
        null_out.h = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr);
    if (options.null_stdin)
        null_in.h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                OPEN_EXISTING, 0, nullptr);
    auto target = [&](Output mode, const Handle& pipe, DWORD standard) {
        if (mode == Output::capture) return pipe.h;
        if (mode == Output::discard) return null_out.h;
        return GetStdHandle(standard);
    };
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = options.null_stdin ? null_in.h : GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = target(options.out, out_w, STD_OUTPUT_HANDLE);
    si.hStdError = target(options.err, err_w, STD_ERROR_HANDLE);

    const std::wstring wide_application = application.wstring();
    std::wstring wide_cwd;
    if (options.cwd) wide_cwd = options.cwd->wstring();
    const DWORD flags = CREATE_SUSPENDED | (start.environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    void* environment = start.environment ? const_cast<wchar_t*>(start.environment->data()) : nullptr;
    ProcessTree tree;
    PROCESS_INFORMATION pi{};
    {
        // Ctrl-C waits until the child is watched, so none falls between its start and the watch.
        SignalsHeld hold;
        if (!CreateProcessW(wide_application.c_str(), wide_line.data(), nullptr, nullptr, TRUE, flags, environment,
                            options.cwd ? wide_cwd.c_str() : nullptr, &si, &pi))
            throw ProcessError(name + ": " + system_message(GetLastError()));
        tree.adopt(pi.hProcess);
        ResumeThread(pi.hThread);
        interrupt_detail::watch_child(static_cast<long>(pi.dwProcessId), options.child_owns_interrupt);
    }
    struct Watch {
        ~Watch() { interrupt_detail::unwatch_child(); }
    } watch;
    Handle process, thread;
    process.h = pi.hProcess;
    thread.h = pi.hThread;
    // Our copies of the child's ends go, so that the pipes end when the child's tree does.
    out_w.reset();
    err_w.reset();
    null_in.reset();
    null_out.reset();

    ProcessResult result;
    auto drain = [limit = options.tail_limit](HANDLE pipe, std::string* sink) {
        char buffer[65536];
        DWORD n = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) append_tail(*sink, buffer, n, limit);
    };
    std::thread out_reader, err_reader;
    // The readers end once every holder of the pipes' writing ends has ended; whatever
    // way this ends, the tree goes first.
    auto finish = [&](bool ended_by_itself) {
        if (!ended_by_itself) {
            tree.end(process.h, control_c_exit_status);
            WaitForSingleObject(process.h, INFINITE);
        } else if (start.descendants_stay) {
            tree.let_go();
        } else {
            tree.end(process.h, 1);  // what the child left running
        }
        tree.close();
        if (out_reader.joinable()) out_reader.join();
        if (err_reader.joinable()) err_reader.join();
    };
    int sig = 0;
    try {
        if (out_r.h) out_reader = std::thread(drain, out_r.h, &result.out);
        if (err_r.h) err_reader = std::thread(drain, err_r.h, &result.err);
        HANDLE waits[2] = {process.h, static_cast<HANDLE>(interrupt_detail::wake_event())};
        while (!(sig = interrupt_detail::pending_signal())) {
            if (WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, INFINITE) == WAIT_OBJECT_0) break;
        }
        // The child got Ctrl-C from the console too: it may end by itself, or is ended.
        if (sig) WaitForSingleObject(process.h, kill_grace_ms);
    } catch (...) {
        finish(false);
        throw;
    }
    const bool ended = WaitForSingleObject(process.h, 0) == WAIT_OBJECT_0;
    finish(ended && !sig);
    // Ctrl-C that came after the last look but before the child was seen to end.
    if (!sig) sig = interrupt_detail::unwatch_child();
    if (sig) throw Interrupted(sig);
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    cut_to_tail(result.out, options.tail_limit);
    cut_to_tail(result.err, options.tail_limit);
    result.status = static_cast<int>(code);
    return result;
}

ProcessResult run_through_interpreter(const std::string& command_line, const std::string& name,
                                      const RunOptions& options, bool descendants_stay = false) {
    const std::wstring environment = interpreter_environment();
    return start_and_wait(interpreter_path(), command_line, name, options,
                          {.longest_line = 8191,
                           .limit = "8191 characters that the command interpreter (cmd.exe) reads",
                           .environment = &environment,
                           .descendants_stay = descendants_stay});
}

// npm's command script for a package's program, read as npm writes it (nothing when it
// is anything else: a script of the user's own, or one changed by hand).
std::optional<NpmShim> read_npm_shim(const fs::path& script) {
    // npm's shims are well under a kilobyte; anything large is not one.
    const auto read = read_regular_file(script, 64 * 1024);
    return read.outcome == BoundedRead::Outcome::read ? windows_npm_shim(read.bytes) : std::nullopt;
}

// The program an npm shim starts, as the shim finds it: the one beside the shim, else
// the one on PATH, with ".JS" left out of the extensions as the shim leaves it out; but
// never one in the current folder, which the interpreter would search first.
fs::path npm_shim_program(const fs::path& shim_path, const NpmShim& shim, const std::string& name) {
    const fs::path beside = shim_path.parent_path() / path_from_utf8(shim.program + ".exe");
    std::error_code ec;
    if (fs::is_regular_file(beside, ec)) return beside;
    std::string pathext;
    for (const auto& extension : split(get_env("PATHEXT").value_or(""), ";"))
        if (ascii_lower(strip(extension)) != ".js") pathext += extension + ";";
    auto found = find_program(shim.program, pathext.empty() ? ".COM;.EXE;.BAT;.CMD" : pathext);
    if (!found) throw ProcessError(name + ": " + shim.program + ": " + system_message(ERROR_FILE_NOT_FOUND));
    return *found;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    if (argv.empty()) throw ProcessError("empty command");
    auto program = find_executable(argv[0]);
    if (!program) throw ProcessError(argv[0] + ": " + system_message(ERROR_FILE_NOT_FOUND));
    std::string shown_name = argv[0];
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    if (windows_is_command_script(utf8_text(program->filename()))) {
        // npm's shim (agy.cmd) runs its node program directly, with no interpreter in
        // between to read the arguments again or to find a node.exe in the current folder.
        if (const auto shim = read_npm_shim(*program)) {
            fs::path node = npm_shim_program(*program, *shim, argv[0]);
            std::vector<std::string> node_args = shim->arguments;
            node_args.push_back(utf8_text(program->parent_path() / path_from_utf8(shim->script)));
            node_args.insert(node_args.end(), args.begin(), args.end());
            program = std::move(node);
            shown_name = utf8_text(*program);
            args = std::move(node_args);
        }
    }
    if (windows_is_command_script(utf8_text(program->filename())))
        return run_through_interpreter(
            windows_batch_command_line(utf8_text(interpreter_path()), utf8_text(*program), args), argv[0], options);
    std::vector<std::string> line = {shown_name};
    line.insert(line.end(), args.begin(), args.end());
    return start_and_wait(*program, windows_command_line(line), argv[0], options);
}

ProcessResult run_user_command(const std::string& command_text, const std::vector<std::string>& args,
                               const RunOptions& options) {
    return run_through_interpreter(
        windows_interpreter_command_line(utf8_text(interpreter_path()), command_text, args), "cmd.exe", options,
        true);
}

#endif

namespace {

// "Command '['git', 'commit']'", the start of every description of a child's end.
std::string command_named(const std::vector<std::string>& argv) {
    std::string list;
    for (const auto& a : argv) list += (list.empty() ? "'" : ", '") + a + "'";
    return "Command '[" + list + "]'";
}

}  // namespace

std::string windows_exception_description(const std::vector<std::string>& argv, unsigned long code,
                                          const std::string& system_message) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", code & 0xFFFFFFFFul);
    std::string text = command_named(argv) + " died with exception " + hex;
    const std::string message(strip(system_message));
    if (!message.empty()) text += " (" + message + ")";
    return text + ".";
}

std::string status_description(const std::vector<std::string>& argv, int status) {
#ifdef _WIN32
    // A status that reads as negative is an exception status (0xC0000005, an access
    // violation, and the like): Windows has no signals.
    if (status < 0) {
        const auto code = static_cast<DWORD>(status);
        return windows_exception_description(argv, code, system_message(code, GetModuleHandleW(L"ntdll.dll")));
    }
#endif
    if (status < 0) return command_named(argv) + " died with signal " + std::to_string(-status) + ".";
    return command_named(argv) + " returned non-zero exit status " + std::to_string(status) + ".";
}

}  // namespace support

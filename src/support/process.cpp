#include "support/process.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "support/env.hpp"
#include "support/interrupt.hpp"
#include "support/text.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace support {

namespace fs = std::filesystem;

bool is_windows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

std::optional<fs::path> find_executable(const std::string& name) {
    if (name.empty()) return std::nullopt;
#ifdef _WIN32
    const char sep = ';';
    std::vector<std::string> exts = {""};
    for (auto& e : split(get_env("PATHEXT").value_or(".COM;.EXE;.BAT;.CMD"), ";"))
        if (!e.empty()) exts.push_back(e);
#else
    const char sep = ':';
    const std::vector<std::string> exts = {""};
#endif
    auto usable = [](const fs::path& p) {
        std::error_code ec;
        if (!fs::is_regular_file(p, ec)) return false;
#ifdef _WIN32
        return true;
#else
        return ::access(p.c_str(), X_OK) == 0;
#endif
    };
    if (name.find('/') != std::string::npos || (is_windows() && name.find('\\') != std::string::npos)) {
        for (const auto& e : exts)
            if (usable(name + e)) return fs::path(name + e);
        return std::nullopt;
    }
    for (const auto& dir : split(get_env("PATH").value_or(""), std::string(1, sep))) {
        fs::path base = dir.empty() ? fs::path(".") : fs::path(dir);
        for (const auto& e : exts) {
            fs::path candidate = base / (name + e);
            if (usable(candidate)) return candidate;
        }
    }
    return std::nullopt;
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
// it, and unwinds. The pipes are no longer read: a grandchild may hold them open.
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
        if (::pipe2(p, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
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
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
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
    int open_count = (out_r.fd >= 0) + (err_r.fd >= 0);
    char buffer[65536];
    int status = 0;
    for (;;) {
        if (int sig = interrupt_detail::pending_signal()) end_child(pid, sig);
        if (open_count == 0) {
            pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) break;
            if (done < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
        }
        // With both pipes closed (or none made) only the child's end is awaited, and
        // nothing announces it: look again after a moment.
        if (::poll(fds, 3, open_count > 0 ? -1 : 50) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[2].fd >= 0 && (fds[2].revents & POLLIN)) interrupt_detail::drain_wake_fd();
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                append_tail(*sinks[i], buffer, static_cast<size_t>(n), options.tail_limit);
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
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

#else

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    if (argv.empty()) throw ProcessError("empty command");
    std::string command = windows_command_line(argv);
    // /v:off: delayed expansion, when the registry turns it on, would read "!" anew.
    if (options.through_shell) command = "cmd.exe /d /v:off /s /c \"" + windows_cmd_escape(command) + "\"";
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_r = nullptr, out_w = nullptr, err_r = nullptr, err_w = nullptr;
    if (options.out == Output::capture) CreatePipe(&out_r, &out_w, &sa, 0);
    if (options.err == Output::capture) CreatePipe(&err_r, &err_w, &sa, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    HANDLE null_in = nullptr;
    if (options.null_stdin)
        null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    si.hStdInput = null_in ? null_in : GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = options.out == Output::capture ? out_w : GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = options.err == Output::capture ? err_w : GetStdHandle(STD_ERROR_HANDLE);
    int wlen = MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0);
    std::wstring wcmd(static_cast<size_t>(wlen), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wcmd.data(), wlen);
    std::wstring wcwd;
    if (options.cwd) wcwd = options.cwd->wstring();
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessW(nullptr, wcmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  options.cwd ? wcwd.c_str() : nullptr, &si, &pi);
    if (null_in) CloseHandle(null_in);
    if (!started)
        throw ProcessError(argv[0] + ": cannot start (error " + std::to_string(GetLastError()) + ")");
    if (out_w) CloseHandle(out_w);
    if (err_w) CloseHandle(err_w);
    ProcessResult result;
    // Drain both pipes: one reader thread per pipe would be the general answer; two
    // sequential reads can block, so read them alternately with PeekNamedPipe.
    HANDLE handles[2] = {out_r, err_r};
    std::string* sinks[2] = {&result.out, &result.err};
    char buffer[65536];
    bool open[2] = {out_r != nullptr, err_r != nullptr};
    while (open[0] || open[1]) {
        bool progressed = false;
        for (int i = 0; i < 2; ++i) {
            if (!open[i]) continue;
            DWORD avail = 0;
            if (!PeekNamedPipe(handles[i], nullptr, 0, nullptr, &avail, nullptr)) {
                open[i] = false;
                continue;
            }
            if (avail == 0) continue;
            DWORD n = 0;
            if (ReadFile(handles[i], buffer, sizeof buffer, &n, nullptr) && n > 0) {
                append_tail(*sinks[i], buffer, n, options.tail_limit);
                progressed = true;
            }
        }
        if (!progressed) Sleep(5);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (out_r) CloseHandle(out_r);
    if (err_r) CloseHandle(err_r);
    cut_to_tail(result.out, options.tail_limit);
    cut_to_tail(result.err, options.tail_limit);
    result.status = static_cast<int>(code);
    return result;
}

#endif

std::string status_description(const std::vector<std::string>& argv, int status) {
    std::string list;
    for (const auto& a : argv) list += (list.empty() ? "'" : ", '") + a + "'";
    if (status < 0) return "Command '[" + list + "]' died with signal " + std::to_string(-status) + ".";
    return "Command '[" + list + "]' returned non-zero exit status " + std::to_string(status) + ".";
}

}  // namespace support

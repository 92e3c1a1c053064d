// The process runner on POSIX systems: posix_spawn, both pipes drained with poll; on
// Linux a contained child through a guardian of its tree.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "support/env.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/pipe.hpp"
#include "support/process.hpp"
#include "support/process_internal.hpp"
#include "support/text.hpp"

extern char** environ;

namespace support {

namespace fs = std::filesystem;
using process_detail::append_tail;
using process_detail::cut_to_tail;

bool is_windows() { return false; }

std::optional<size_t> argument_size_limit() {
#ifdef __linux__
    // The kernel's MAX_ARG_STRLEN, counted with the NUL that ends the argument.
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page > 0) return static_cast<size_t>(page) * 32 - 1;
#endif
    return std::nullopt;
}

std::optional<fs::path> find_executable(const std::string& name) {
    if (name.empty()) return std::nullopt;
    auto usable = [](const fs::path& p) {
        std::error_code ec;
        return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) {
        fs::path p = path_from_utf8(name);
        return usable(p) ? std::optional(p) : std::nullopt;
    }
    for (const auto& dir : split(get_env("PATH").value_or(""), ":")) {
        // An empty or relative entry would mean the current folder (or one below it), where
        // a cloned repository may carry a `git` or an `agy` of its own.
        const fs::path folder = path_from_utf8(dir);
        if (!folder.is_absolute()) continue;
        fs::path candidate = folder / path_from_utf8(name);
        if (usable(candidate)) return candidate;
    }
    return std::nullopt;
}

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

// One of the child's standard streams put somewhere else than this program's: a pipe's
// writing end, or the null device opened with `null_flags`.
struct Redirect {
    int target = -1;
    int from = -1;
    int null_flags = 0;
};
struct Redirects {
    Redirect list[3];
    int count = 0;
    void add(Redirect r) { list[count++] = r; }
};

// The spawn's file actions and attributes, made and destroyed together. Every set-up
// call is checked: a child started without a redirection it was asked for would write
// where it must not, or read the user's own input.
class SpawnSetUp {
  public:
    explicit SpawnSetUp(const std::string& name) : name_(name) {
        check(posix_spawn_file_actions_init(&actions_));
        actions_made_ = true;
        check(posix_spawnattr_init(&attributes_));
        attributes_made_ = true;
    }
    ~SpawnSetUp() {
        if (attributes_made_) posix_spawnattr_destroy(&attributes_);
        if (actions_made_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetUp(const SpawnSetUp&) = delete;
    SpawnSetUp& operator=(const SpawnSetUp&) = delete;

    // The result of a set-up call: a failure fails the run with the system's reason.
    void check(int rc) const {
        if (rc != 0) throw ProcessError(name_ + ": " + std::strerror(rc));
    }
    posix_spawn_file_actions_t* actions() { return &actions_; }
    posix_spawnattr_t* attributes() { return &attributes_; }

  private:
    std::string name_;
    posix_spawn_file_actions_t actions_{};
    posix_spawnattr_t attributes_{};
    bool actions_made_ = false;
    bool attributes_made_ = false;
};

// posix_spawn with the redirections, the signal mask `mask` and SIGPIPE's default back
// (the program ignores it, see interrupt.hpp; a pipeline of the child's own ends as usual
// when its reader goes). 0 or the system's error number.
int spawn(pid_t& pid, const char* program, char* const* args, const Redirects& redirects, const sigset_t& mask,
          const std::string& name) {
    SpawnSetUp set_up(name);
    posix_spawn_file_actions_t* fa = set_up.actions();
    for (int i = 0; i < redirects.count; ++i) {
        const Redirect& r = redirects.list[i];
        if (r.from >= 0) set_up.check(posix_spawn_file_actions_adddup2(fa, r.from, r.target));
        else set_up.check(posix_spawn_file_actions_addopen(fa, r.target, "/dev/null", r.null_flags, 0));
    }
    posix_spawnattr_t* attr = set_up.attributes();
    set_up.check(posix_spawnattr_setsigmask(attr, &mask));
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    set_up.check(posix_spawnattr_setsigdefault(attr, &defaults));
    set_up.check(posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    return ::posix_spawn(&pid, program, fa, attr, args, environ);
}

#ifdef __linux__

// A contained child is started by a guardian, a copy of this process that only waits: it
// is the parent of the child and of all the child leaves behind (their subreaper), passes
// on the signals this program sends it, ends them all once the child has ended, and then
// ends the way the child ended. The system tells it when this program has ended, however
// it ended (SIGKILL, the OOM killer), and it ends the whole tree then too; the child is
// told likewise when the guardian ends. It keeps this program's descriptors until it
// ends, the run's locks among them, so that a lock taken for the run is free for another
// run only once nothing of this one's runs. After the fork only async-signal-safe calls
// are made: another thread may have held a lock at that moment.
namespace guarded {

// Sent by the system to the guardian when this program has ended.
constexpr int parent_gone = SIGUSR1;
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

struct Start {
    const char* program;
    char* const* args;
    Redirects redirects;
    // This program's descriptors of the pipes, which the guardian does not keep.
    int pipe_ends[4];
};

void report(int fd, int error) {
    const ssize_t written = ::write(fd, &error, sizeof error);
    (void)written;
}

[[noreturn]] void fail(int report_fd) {
    report(report_fd, errno);
    ::_exit(127);
}

// In the child: the redirections, the signals as a spawned child gets them, then the
// program. A failure is reported through `report_fd` as its error number.
[[noreturn]] void exec_program(const Start& start, const sigset_t& mask, int report_fd) {
    for (int i = 0; i < start.redirects.count; ++i) {
        const Redirect& r = start.redirects.list[i];
        const int fd = r.from >= 0 ? r.from : ::open("/dev/null", r.null_flags | O_CLOEXEC);
        if (fd < 0) fail(report_fd);
        if (fd == r.target ? ::fcntl(fd, F_SETFD, 0) < 0 : ::dup2(fd, r.target) < 0) fail(report_fd);
        if (r.from < 0 && fd != r.target) ::close(fd);
    }
    // The program's handlers would run here until the exec; an ignored signal stays ignored.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : ending_signals) {
        struct sigaction now {};
        if (::sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) ::sigaction(sig, &action, nullptr);
    }
    ::sigaction(SIGPIPE, &action, nullptr);
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    ::execve(start.program, start.args, environ);
    fail(report_fd);
}

// Ends the guardian as the child ended: with its exit status, or by its signal.
[[noreturn]] void end_as(int status) {
    if (WIFEXITED(status)) ::_exit(WEXITSTATUS(status));
    interrupt_detail::end_by_signal(WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL);
}

[[noreturn]] void guard(pid_t parent, const Start& start, const sigset_t& mask, int report_fd) {
    sigset_t waited;
    sigemptyset(&waited);
    for (int sig : ending_signals) sigaddset(&waited, sig);
    sigaddset(&waited, SIGCHLD);
    sigaddset(&waited, parent_gone);
    ::sigprocmask(SIG_BLOCK, &waited, nullptr);
    ::prctl(PR_SET_PDEATHSIG, parent_gone, 0, 0, 0);
    if (::getppid() != parent) ::_exit(127);  // gone before the guardian could be told
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    const pid_t self = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // The child too ends when its guardian does, which only SIGKILL ends early.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (::getppid() != self) ::_exit(127);
        exec_program(start, mask, report_fd);
    }
    if (child < 0) {
        report(report_fd, errno);
        ::_exit(127);
    }
    ::close(report_fd);
    for (int fd : start.pipe_ends)
        if (fd >= 0) ::close(fd);
    int status = 0;
    for (;;) {
        siginfo_t info{};
        const int sig = ::sigwaitinfo(&waited, &info);
        if (sig == SIGCHLD) {
            bool ended = false;
            int reaped = 0;
            for (pid_t done; (done = ::waitpid(-1, &reaped, WNOHANG)) > 0;)
                if (done == child) {
                    status = reaped;
                    ended = true;
                }
            if (ended) break;
        } else if (sig == parent_gone) {
            if (::getppid() != parent) {
                end_descendants();
                ::_exit(1);
            }
        } else if (sig > 0 && info.si_code == SI_USER && info.si_pid == parent) {
            // What this program passes on; the terminal's own signals reach the child
            // directly, as they did before.
            ::kill(child, sig);
        }
    }
    end_descendants();
    end_as(status);
}

// Starts the guardian, which starts the program: 0 once the program runs, else the
// system's error number (the guardian has then been waited for).
int start(pid_t& pid, const Start& start, const sigset_t& mask) {
    int report[2];
    if (!open_pipe(report)) return errno;
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) guard(parent, start, mask, report[1]);
    const int fork_error = errno;
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return fork_error;
    }
    // The program's exec closes the last writing end; a failure comes as its number.
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got != static_cast<ssize_t>(sizeof error)) return 0;
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return error;
}

}  // namespace guarded

#endif

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    process_detail::refuse_unpassable(argv);
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

    Redirects redirects;
    auto route = [&](Output mode, const Fd& w, int target) {
        if (mode == Output::capture) redirects.add({.target = target, .from = w.fd});
        else if (mode == Output::discard) redirects.add({.target = target, .null_flags = O_WRONLY});
    };
    route(options.out, out_w, 1);
    route(options.err, err_w, 2);
    if (options.null_stdin) redirects.add({.target = 0, .null_flags = O_RDONLY});

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
#ifdef __linux__
        if (options.contained)
            rc = guarded::start(pid, {.program = program->c_str(), .args = args.data(), .redirects = redirects,
                                      .pipe_ends = {out_r.fd, out_w.fd, err_r.fd, err_w.fd}},
                                hold.previous_mask());
        else
#endif
            rc = spawn(pid, program->c_str(), args.data(), redirects, hold.previous_mask(), argv[0]);
        if (rc == 0) interrupt_detail::watch_child(pid, options.child_owns_interrupt);
    }
    if (rc != 0) throw ProcessError(argv[0] + ": " + std::strerror(rc));
    struct Watch {
        ~Watch() { interrupt_detail::unwatch_child(); }
    } watch;
    out_w.reset();
    err_w.reset();

    // Where the system gives one, a descriptor that becomes readable when the child ends
    // wakes the wait at once; elsewhere the wait looks again after a moment.
    Fd ended;
#if defined(__linux__) && defined(SYS_pidfd_open)
    ended.fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
    const int look_again_ms = ended.fd >= 0 ? -1 : 50;

    ProcessResult result;
    pollfd fds[4] = {{out_r.fd, POLLIN, 0},
                     {err_r.fd, POLLIN, 0},
                     {interrupt_detail::wake_fd(), POLLIN, 0},
                     {ended.fd, POLLIN, 0}};
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
        if (::poll(fds, 4, look_again_ms) < 0) {
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

std::string status_description(const std::vector<std::string>& argv, int status) {
    if (status < 0) return process_detail::command_named(argv) + " died with signal " + std::to_string(-status) + ".";
    return process_detail::exit_status_description(argv, status);
}

}  // namespace support

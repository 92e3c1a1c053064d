// The process runner on POSIX systems: posix_spawn, both pipes drained with poll.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
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

    SpawnSetUp spawn(argv[0]);
    posix_spawn_file_actions_t* fa = spawn.actions();
    auto route = [&](Output mode, const Fd& w, int target) {
        if (mode == Output::capture) spawn.check(posix_spawn_file_actions_adddup2(fa, w.fd, target));
        else if (mode == Output::discard) spawn.check(posix_spawn_file_actions_addopen(fa, target, "/dev/null", O_WRONLY, 0));
    };
    route(options.out, out_w, 1);
    route(options.err, err_w, 2);
    if (options.null_stdin) spawn.check(posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0));

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
        posix_spawnattr_t* attr = spawn.attributes();
        spawn.check(posix_spawnattr_setsigmask(attr, &hold.previous_mask()));
        // The program ignores SIGPIPE (interrupt.hpp); the child gets the default back, so
        // a pipeline of its own ends as usual when its reader goes.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        spawn.check(posix_spawnattr_setsigdefault(attr, &defaults));
        spawn.check(posix_spawnattr_setflags(attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
        rc = ::posix_spawn(&pid, program->c_str(), fa, attr, args.data(), environ);
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

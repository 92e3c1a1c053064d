// Ending signals on POSIX systems: the handlers, the mask that holds them, and on Linux
// the end of every descendant the program still has.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

#include "support/interrupt.hpp"
#include "support/interrupt_internal.hpp"
#include "support/pipe.hpp"

namespace support {

using interrupt_detail::remove_armed_files;

void interrupt_detail::remove_now(const std::filesystem::path::value_type* path) { ::unlink(path); }

void interrupt_detail::end_by(int sig) { std::raise(sig); }

#ifdef __linux__

namespace {

// The number in a /proc entry's name; 0 for any other name.
pid_t pid_of(const char* name) {
    pid_t pid = 0;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9' || pid > 100000000) return 0;
        pid = pid * 10 + (*name - '0');
    }
    return pid;
}

// The state letter and the parent of a process, from /proc/PID/stat: "PID (NAME) S PPID
// ...", where NAME may hold anything, ")" too, so the last ")" ends it.
bool read_stat(pid_t pid, char& state, pid_t& parent) {
    char path[32] = "/proc/";
    char digits[16];
    int n = 0;
    for (pid_t rest = pid; rest > 0 && n < 15; rest /= 10) digits[n++] = static_cast<char>('0' + rest % 10);
    size_t at = 6;
    while (n > 0) path[at++] = digits[--n];
    for (const char* tail = "/stat"; *tail;) path[at++] = *tail++;
    path[at] = '\0';
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[512];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) return false;
    const char* end = text + got;
    const char* close = nullptr;
    for (const char* c = text; c < end; ++c)
        if (*c == ')') close = c;
    if (!close || end - close < 5) return false;
    state = close[2];
    parent = 0;
    for (const char* c = close + 4; c < end && *c >= '0' && *c <= '9'; ++c) parent = parent * 10 + (*c - '0');
    return true;
}

// Calls visit(pid, state) for each child of this process, read from /proc with raw
// system calls (no allocation, no library state), so that a signal handler may use it.
template <class Visit>
void for_each_child(Visit&& visit) {
    const int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    const pid_t self = ::getpid();
    // The kernel's linux_dirent64 records: an 8-byte inode, an 8-byte offset, the 2-byte
    // record length, a 1-byte type, then the name and its NUL.
    constexpr size_t length_at = 16, name_at = 19;
    alignas(8) char records[8192];
    for (long got; (got = ::syscall(SYS_getdents64, dir, records, sizeof records)) > 0;) {
        for (long at = 0; at + static_cast<long>(name_at) < got;) {
            unsigned short length = 0;
            std::memcpy(&length, records + at + length_at, sizeof length);
            if (length == 0) break;
            const pid_t pid = pid_of(records + at + name_at);
            at += length;
            char state = 0;
            pid_t parent = 0;
            if (pid > 0 && read_stat(pid, state, parent) && parent == self) visit(pid, state);
        }
    }
    ::close(dir);
}

}  // namespace

void end_descendants() {
    // Killing a child hands its own children to this process, the subreaper, so the tree
    // is ended from the top, a level a round, until no child is left; the dead are reaped
    // on the way. A process that cannot die (stuck in the kernel) is given up after a while.
    constexpr int rounds = 2500;
    const timespec pause{0, 2'000'000};
    for (int round = 0; round < rounds; ++round) {
        bool any = false;
        for_each_child([&](pid_t pid, char state) {
            any = true;
            if (state == 'Z') ::waitpid(pid, nullptr, WNOHANG);
            else ::kill(pid, SIGKILL);
        });
        if (!any) return;
        ::nanosleep(&pause, nullptr);
    }
}

#else

void end_descendants() {}

#endif

namespace {

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t child_pid = 0;
volatile sig_atomic_t waiting_input = 0;
volatile sig_atomic_t child_owns_interrupt = 0;
volatile sig_atomic_t pending = 0;
int wake_pipe[2] = {-1, -1};

void ending_set(sigset_t& set) {
    sigemptyset(&set);
    for (int sig : ending_signals) sigaddset(&set, sig);
}

// Only async-signal-safe calls here.
void on_ending_signal(int sig) {
    const int saved_errno = errno;
    if (child_pid > 0 || waiting_input) {
        if (pending == 0 && !(sig == SIGINT && child_owns_interrupt)) pending = sig;
        if (wake_pipe[1] >= 0) {
            const ssize_t written = ::write(wake_pipe[1], "", 1);
            (void)written;
        }
        errno = saved_errno;
        return;
    }
    remove_armed_files();
    end_descendants();
    // SIGQUIT ends the program as SIGTERM does, without leaving a core dump behind.
    interrupt_detail::end_by_signal(sig);
}

}  // namespace

void install_interrupt_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    if (!open_pipe(wake_pipe, true)) wake_pipe[0] = wake_pipe[1] = -1;
#ifdef __linux__
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
#endif
    for (int sig : ending_signals) {
        struct sigaction previous {};
        ::sigaction(sig, nullptr, &previous);
        if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = on_ending_signal;
        ending_set(action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: a wait for the child returns early
        ::sigaction(sig, &action, nullptr);
    }
    // A write to a pipe whose reader has gone fails with EPIPE instead of ending the
    // program wherever it stands: what cannot be shown is dropped and the work goes on.
    // The programs it starts get the default back (run_process).
    ::signal(SIGPIPE, SIG_IGN);
}

SignalsHeld::SignalsHeld() {
    sigset_t set;
    ending_set(set);
    ::pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

SignalsHeld::~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

const sigset_t& SignalsHeld::previous_mask() const { return saved_; }

namespace interrupt_detail {

void watch_child(long pid, bool owns_interrupt) {
    pending = 0;
    child_owns_interrupt = owns_interrupt ? 1 : 0;
    child_pid = static_cast<sig_atomic_t>(pid);
}

int unwatch_child() {
    child_pid = 0;
    child_owns_interrupt = 0;
    const int sig = pending;
    pending = 0;
    return sig;
}

void watch_input() {
    pending = 0;
    waiting_input = 1;
}

int unwatch_input() {
    waiting_input = 0;
    const int sig = pending;
    pending = 0;
    return sig;
}

int pending_signal() { return pending; }

void end_by_signal(int sig) {
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

int wake_fd() { return wake_pipe[0]; }

void drain_wake_fd() {
    char buffer[64];
    while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace interrupt_detail

}  // namespace support

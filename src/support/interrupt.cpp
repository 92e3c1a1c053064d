#include "support/interrupt.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "support/console.hpp"
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "support/pipe.hpp"
#endif

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

namespace support {

namespace fs = std::filesystem;

namespace {

// Fixed slots, so that a signal handler reads them without a lock or an allocation. A
// save holds one slot for the moment of its write; a path that finds no free slot, or
// is too long for one, is simply not removed.
constexpr int slot_count = 32;
constexpr size_t slot_length = 4096;
enum : int { free_slot = 0, filling = 1, armed = 2 };
struct Slot {
    std::atomic<int> state{free_slot};
    fs::path::value_type path[slot_length];
};
static_assert(std::atomic<int>::is_always_lock_free);
Slot slots[slot_count];

void remove_armed_files() {
    for (auto& slot : slots) {
        if (slot.state.load() != armed) continue;
#ifdef _WIN32
        DeleteFileW(slot.path);
#else
        ::unlink(slot.path);
#endif
    }
}

#ifdef _WIN32
// Ends the program as Ctrl-C ends it (below).
[[noreturn]] void end_now();
#endif

}  // namespace

RemoveOnSignal::RemoveOnSignal(const fs::path& path) : slot_(-1) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (ec) return;
    const auto& text = absolute.native();
    if (text.size() >= slot_length) return;
    for (int i = 0; i < slot_count; ++i) {
        int expected = free_slot;
        if (!slots[i].state.compare_exchange_strong(expected, filling)) continue;
        std::memcpy(slots[i].path, text.c_str(), (text.size() + 1) * sizeof(fs::path::value_type));
        slots[i].state.store(armed);
        slot_ = i;
        return;
    }
}

RemoveOnSignal::~RemoveOnSignal() {
    if (slot_ >= 0) slots[slot_].state.store(free_slot);
}

InterruptWatch::InterruptWatch() { interrupt_detail::watch_input(); }

InterruptWatch::~InterruptWatch() {
    const int sig = interrupt_detail::unwatch_input();
#ifdef _WIN32
    if (sig && !taken_) end_now();
#else
    if (sig && !taken_) std::raise(sig);
#endif
}

int InterruptWatch::signal() const { return interrupt_detail::pending_signal(); }

void InterruptWatch::check() {
    if (const int sig = signal()) {
        taken_ = true;
        throw Interrupted(sig);
    }
}

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

#ifndef _WIN32

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
    // End the way the signal ends a program, so that the parent sees what ended it: the
    // signal is blocked while this handler runs and arrives when it returns. SIGQUIT ends
    // the program as SIGTERM does, without leaving a core dump behind.
    if (sig == SIGQUIT) {
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);
    errno = saved_errno;
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

int wake_fd() { return wake_pipe[0]; }

void drain_wake_fd() {
    char buffer[64];
    while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace interrupt_detail

#else

namespace {

// Console events stand for the signals: Ctrl-C for SIGINT, Ctrl-Break for SIGBREAK, a
// closed console, a log-off or a shutdown for SIGTERM. The handler runs on a thread of its
// own, so the state it shares with the program's thread is guarded by a lock.
enum Watching { nothing, child, question };
struct ConsoleState {
    std::mutex lock;
    Watching watching = nothing;
    bool child_owns_interrupt = false;
    int held = 0;
    int pending = 0;
    HANDLE wake = nullptr;          // set when an event comes while something is watched
    HANDLE reading_thread = nullptr;  // the thread waiting for an answer, whose read is cut short
};
ConsoleState& console_state() {
    static ConsoleState state;
    return state;
}

// Ends the program the way Ctrl-C ends a Windows program, after removing the temporary
// files registered here and giving the console back its code pages and modes.
[[noreturn]] void end_now() {
    remove_armed_files();
    restore_console();
    TerminateProcess(GetCurrentProcess(), control_c_exit_status);
    std::abort();  // not reached
}

BOOL WINAPI on_console_event(DWORD type) {
    const bool closing = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
    const int sig = type == CTRL_C_EVENT ? SIGINT : type == CTRL_BREAK_EVENT ? SIGBREAK : SIGTERM;
    auto& state = console_state();
    {
        std::unique_lock guard(state.lock);
        // An interactive child answers Ctrl-C itself.
        if (state.watching == child && state.child_owns_interrupt && !closing) return TRUE;
        if (state.watching == nothing && state.held == 0) {
            guard.unlock();
            end_now();
        }
        if (state.pending == 0) state.pending = sig;
        if (state.wake) SetEvent(state.wake);
        if (state.watching == question && state.reading_thread) CancelSynchronousIo(state.reading_thread);
    }
    // A closing console ends the process as soon as the handler returns: wait here while
    // the program unwinds and exits by itself.
    if (closing) Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void install_interrupt_handlers() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    if (state.wake) return;
    state.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // A process started with Ctrl-C ignored is not called for it: it stays ignored.
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

SignalsHeld::SignalsHeld() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    ++state.held;
}

SignalsHeld::~SignalsHeld() {
    auto& state = console_state();
    std::unique_lock guard(state.lock);
    if (--state.held == 0 && state.pending && state.watching == nothing) {
        guard.unlock();
        end_now();
    }
}

namespace interrupt_detail {

void watch_child(long, bool owns_interrupt) {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    state.watching = child;
    state.child_owns_interrupt = owns_interrupt;
    // Ctrl-C that came while the start was held belongs to the child now.
    if (owns_interrupt && (state.pending == SIGINT || state.pending == SIGBREAK)) state.pending = 0;
}

namespace {

int unwatch() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    state.watching = nothing;
    state.child_owns_interrupt = false;
    return std::exchange(state.pending, 0);
}

}  // namespace

int unwatch_child() { return unwatch(); }

void watch_input() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    if (!state.reading_thread)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &state.reading_thread, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    state.watching = question;
}

int unwatch_input() { return unwatch(); }

int pending_signal() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    return state.pending;
}

int wake_fd() { return -1; }
void drain_wake_fd() {}
void* wake_event() { return console_state().wake; }

bool watching_input() {
    auto& state = console_state();
    std::lock_guard guard(state.lock);
    return state.watching == question;
}

}  // namespace interrupt_detail

#endif

}  // namespace support

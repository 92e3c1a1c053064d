// Ending signals on Windows: the console's control events stand for them.
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "support/console.hpp"
#include "support/interrupt.hpp"
#include "support/interrupt_internal.hpp"

namespace support {

using interrupt_detail::remove_armed_files;

void interrupt_detail::remove_now(const std::filesystem::path::value_type* path) { DeleteFileW(path); }

void end_descendants() {}

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

void interrupt_detail::end_by(int) { end_now(); }

}  // namespace support

#pragma once
// Ending signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT). While a child process runs, such a
// signal ends the child and unwinds the program as the Interrupted exception, so every
// clean-up on the way runs; at any other moment it ends the program at once, after
// removing the temporary files registered here. A question that waits for an answer
// takes SIGINT as "Aborted!" (console.hpp) and unwinds on the others too. On
// Windows the console's events stand for them: Ctrl-C for SIGINT, Ctrl-Break for
// SIGBREAK, a closed console (a log-off, a shutdown) for SIGTERM.
#include <csignal>
#include <filesystem>

namespace support {

// The status of a Windows program that Ctrl-C ended (STATUS_CONTROL_C_EXIT).
inline constexpr unsigned long control_c_exit_status = 0xC000013Aul;

// Raised by run_process once the child that was running when an ending signal came
// has ended and been waited for, and by a question that waited for its answer (any
// ending signal but SIGINT). Deliberately no std::exception: the guards that turn
// ordinary failures into failure results must let it pass up to the program's top.
class Interrupted {
  public:
    explicit Interrupted(int signal) : signal_(signal) {}
    int signal() const { return signal_; }
    // The exit status of a program ended by the signal: 128 + the signal's number; on
    // Windows, where console events stand for the signals, the status of a program that
    // Ctrl-C ended.
    int exit_status() const {
#ifdef _WIN32
        return static_cast<int>(control_c_exit_status);
#else
        return 128 + signal_;
#endif
    }

  private:
    int signal_;
};

// Installs the handlers; called once at start-up. A signal that the program was
// started with ignored stays ignored (and so does it for the children). SIGPIPE is
// ignored, so that a write to a closed pipe fails (EPIPE); children get its default
// back. On Linux the
// program also becomes its descendants' subreaper: a process whose parent ends before it
// is handed to the program, not to the system, so end_descendants() can still reach it
// (the terminal, process groups and sessions are left as they are).
void install_interrupt_handlers();

// Kills every process descended from this one that still runs and reaps it, so that none
// runs on once the program has ended by an ending signal. Only async-signal-safe calls.
// On Linux that is the whole tree (a daemon in a session of its own included); elsewhere
// only the children the program waits for are ended (by the process runner).
void end_descendants();

// While alive, the file is removed when an ending signal ends the program, so that a
// temporary file written for a later rename is never left behind. A relative path is
// taken from the current folder now.
class RemoveOnSignal {
  public:
    explicit RemoveOnSignal(const std::filesystem::path& path);
    ~RemoveOnSignal();
    RemoveOnSignal(const RemoveOnSignal&) = delete;
    RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

  private:
    int slot_;
};

// While alive, ending signals wait and arrive when it goes: for a short step whose
// temporary files cannot be named ahead (a library's own), so it ends whole.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
#ifndef _WIN32
    // The mask before: what a child started meanwhile must get.
    const sigset_t& previous_mask() const;
#endif

  private:
#ifndef _WIN32
    sigset_t saved_;
#endif
};

// While alive, an ending signal does not end the program at once: it is recorded, and a
// long step that a library runs (an archive's compression) asks `signal()` at its own
// safe points whether to stop; `check()` then unwinds with Interrupted. A signal that the
// step never took arrives when the watch goes, as if it had come just after the step.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
    // The ending signal that came meanwhile; 0 when none.
    int signal() const;
    // Raises Interrupted for the signal that came, if one did.
    void check();

  private:
    bool taken_ = false;
};

namespace interrupt_detail {
// For the process runner. The child being waited for: an ending signal now marks
// itself as pending and wakes `wake_fd()` instead of ending the program. With
// `owns_interrupt` the child alone answers SIGINT (it shares the terminal and reads
// Ctrl-C itself); the other ending signals still end it.
void watch_child(long pid, bool owns_interrupt);
// Ends the watch; gives the ending signal that came meanwhile (0 when none).
int unwatch_child();
// The same for a question waiting for its answer (SIGINT is the question's own).
void watch_input();
int unwatch_input();
// The ending signal that came while the child ran (0 when none), and the read end of
// the pipe that is written to when one comes (-1 before the handlers are installed).
int pending_signal();
int wake_fd();
void drain_wake_fd();
#ifndef _WIN32
// Ends this process by the signal as the signal's default action ends a program, but
// without a core dump, so that its parent sees what ended it. Only async-signal-safe calls.
[[noreturn]] void end_by_signal(int sig);
#endif
#ifdef _WIN32
// Windows: the event (a HANDLE) that is set when a console event comes while a child or
// a question is watched; and whether a question is watched now.
void* wake_event();
bool watching_input();
#endif
}  // namespace interrupt_detail

}  // namespace support

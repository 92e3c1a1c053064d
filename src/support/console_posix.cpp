// The terminal on POSIX systems: its streams are bytes already; a question waits on
// standard input and on the ending signals' wake-up pipe.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "support/console.hpp"
#include "support/console_internal.hpp"
#include "support/interrupt.hpp"

namespace support {

namespace {

volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }

}  // namespace

void open_missing_standard_streams() {
    // An open takes the lowest free number, so opening in order fills each gap with the
    // device itself. Without a null device (a bare chroot) there is nothing better to do.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", O_RDWR) < 0) return;
    }
}

bool is_terminal(Stream stream) { return ::isatty(::fileno(console_detail::file_of(stream))) != 0; }

bool shows_colours(Stream stream) { return is_terminal(stream); }

std::optional<int> terminal_columns() {
    struct winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return std::nullopt;
}

void restore_console() {}

void use_utf8_output() {
    std::fflush(stdout);
    std::fflush(stderr);
}

void use_utf8_console() { use_utf8_output(); }

void enable_console_colours() {}

std::vector<std::string> program_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

namespace console_detail {

bool input_is_terminal() { return ::isatty(0) != 0; }

bool read_more(std::string& pending, ConsoleInput&) {
    // An interrupt while waiting for an answer ends the question (not the process
    // by signal), so the command can say "Aborted!" and exit 1.
    struct sigaction action {}, previous {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: read() returns EINTR
    interrupted = 0;
    sigaction(SIGINT, &action, &previous);
    // SIGTERM, SIGHUP (a closed terminal) and SIGQUIT while waiting unwind as Interrupted, so
    // the clean-ups on the way up run. The wait watches the signals' wake-up pipe
    // too, so one that comes just before it is not missed.
    interrupt_detail::watch_input();
    char buffer[4096];
    ssize_t n = -1;
    int saved = 0;
    pollfd fds[2] = {{0, POLLIN, 0}, {interrupt_detail::wake_fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
        saved = errno;
    } else if (!interrupt_detail::pending_signal()) {
        n = ::read(0, buffer, sizeof buffer);
        saved = errno;
    }
    const int ending = interrupt_detail::unwatch_input();
    sigaction(SIGINT, &previous, nullptr);
    if (ending) {
        interrupt_detail::drain_wake_fd();
        echo("", Stream::out);
        throw Interrupted(ending);
    }
    if (n < 0 && (saved == EINTR || interrupted)) {
        if (interrupted) {
            echo("", Stream::out);
            throw Aborted();
        }
        return true;  // nothing read: the wait is taken up again
    }
    if (n <= 0) return false;
    pending.append(buffer, static_cast<size_t>(n));
    return true;
}

}  // namespace console_detail

}  // namespace support

#include "support/console.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "support/interrupt.hpp"
#include "support/text.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h
#include <io.h>
#include <shellapi.h>

#include "support/wide_text.hpp"
#define isatty _isatty
#define fileno _fileno
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace support {

namespace {

FILE* file_of(Stream s) { return s == Stream::out ? stdout : stderr; }

const char* ansi(Color c) {
    switch (c) {
        case Color::red: return "\x1b[31m";
        case Color::green: return "\x1b[32m";
        case Color::yellow: return "\x1b[33m";
        case Color::blue: return "\x1b[34m";
        case Color::magenta: return "\x1b[35m";
        case Color::cyan: return "\x1b[36m";
        case Color::none: break;
    }
    return "";
}

// Standard input is read through one buffer of our own so that every question sees
// the answers in order, whatever reads them.
struct InputBuffer {
    std::string pending;
    bool eof = false;
    ConsoleInput console;  // Windows: what a console gives
};
InputBuffer& input() {
    static InputBuffer b;
    return b;
}

#ifndef _WIN32
volatile std::sig_atomic_t interrupted = 0;
void on_interrupt(int) { interrupted = 1; }
#endif

}  // namespace

void open_missing_standard_streams() {
#ifndef _WIN32
    // An open takes the lowest free number, so opening in order fills each gap with the
    // device itself. Without a null device (a bare chroot) there is nothing better to do.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", O_RDWR) < 0) return;
    }
#endif
}

namespace {

void write_out(std::string_view text, Stream stream, bool newline) {
    FILE* f = file_of(stream);
    if (stream == Stream::err) std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), f);
    if (newline) std::fputc('\n', f);
    std::fflush(f);
}

}  // namespace

void echo(std::string_view text, Stream stream, bool newline) { write_out(visible(text), stream, newline); }

bool is_terminal(Stream stream) { return ::isatty(::fileno(file_of(stream))) != 0; }

bool shows_colours(Stream stream) {
#ifdef _WIN32
    // _isatty also says yes for the NUL device; only a console that handles the sequences
    // shows them as colours.
    DWORD mode = 0;
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(::fileno(file_of(stream))));
    return GetConsoleMode(console, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
    return is_terminal(stream);
#endif
}

std::optional<int> terminal_columns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return std::nullopt;
}

#ifdef _WIN32
namespace {

// The console as the program found it, put back at exit: its code pages, and the modes of
// the consoles that standard output and standard error show on.
struct SavedConsole {
    bool code_pages_saved = false;
    UINT input = 0;
    UINT output = 0;
    std::vector<std::pair<HANDLE, DWORD>> modes;
};
SavedConsole& saved_console() {
    static SavedConsole saved;
    return saved;
}

void restore_at_exit() {
    static const bool registered = std::atexit(restore_console) == 0;
    (void)registered;
}

}  // namespace
#endif

void restore_console() {
#ifdef _WIN32
    std::fflush(stdout);
    std::fflush(stderr);
    auto& saved = saved_console();
    // A zero code page means there was no console to ask.
    if (saved.code_pages_saved && saved.input) SetConsoleCP(saved.input);
    if (saved.code_pages_saved && saved.output) SetConsoleOutputCP(saved.output);
    // Newest first: standard error's console may be standard output's, changed twice.
    for (auto it = saved.modes.rbegin(); it != saved.modes.rend(); ++it) SetConsoleMode(it->first, it->second);
#endif
}

void use_utf8_output() {
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    auto& saved = saved_console();
    if (!saved.code_pages_saved) {
        saved.code_pages_saved = true;
        saved.input = GetConsoleCP();
        saved.output = GetConsoleOutputCP();
        restore_at_exit();
    }
    SetConsoleOutputCP(CP_UTF8);
#endif
}

void use_utf8_console() {
    use_utf8_output();
#ifdef _WIN32
    SetConsoleCP(CP_UTF8);
#endif
}

void enable_console_colours() {
#ifdef _WIN32
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE console = GetStdHandle(which);
        DWORD mode = 0;
        if (!GetConsoleMode(console, &mode) || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) continue;
        saved_console().modes.emplace_back(console, mode);
        restore_at_exit();
        // An older console refuses it: shows_colours then says no.
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
#endif
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#ifdef _WIN32
    int wargc = 0;
    if (LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc)) {
        args.clear();
        for (int i = 1; i < wargc; ++i) args.push_back(narrow(wargv[i]));
        LocalFree(wargv);
    }
#endif
    return args;
}

std::string style(std::string_view text, Color fg, bool bold) {
    std::string out;
    if (bold) out += "\x1b[1m";
    out += ansi(fg);
    out += text;
    out += "\x1b[0m";
    return out;
}

std::optional<std::string> ConsoleInput::decode(std::u16string_view read) {
    if (line_start_ && !high_surrogate_ && !read.empty() && read.front() == u'\x1A') return std::nullopt;
    constexpr char32_t replacement = 0xFFFD;
    std::string text;
    for (const char16_t unit : read) {
        const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high_surrogate_ && low) {
            append_utf8(text, 0x10000 + ((char32_t(high_surrogate_) - 0xD800) << 10) + (unit - 0xDC00));
            high_surrogate_ = 0;
            continue;
        }
        if (high_surrogate_) append_utf8(text, replacement);
        high_surrogate_ = high ? unit : 0;
        if (!high) append_utf8(text, low ? replacement : char32_t(unit));
    }
    if (!read.empty()) line_start_ = read.back() == u'\n';
    return text;
}

void secho(std::string_view text, Color fg, Stream stream, bool bold) {
    if (shows_colours(stream) && (fg != Color::none || bold)) write_out(style(visible(text), fg, bold), stream, true);
    else echo(text, stream);
}

std::string read_line() {
    auto& in = input();
    std::fflush(stdout);
    while (true) {
        auto nl = in.pending.find('\n');
        if (nl != std::string::npos) {
            std::string line = in.pending.substr(0, nl);
            in.pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (in.eof) {
            if (in.pending.empty()) throw Aborted();
            std::string line = std::move(in.pending);
            in.pending.clear();
            return line;
        }
#ifdef _WIN32
        // Ctrl-C while waiting for an answer ends the question (the read is cut short),
        // as does a closing console, which unwinds as Interrupted.
        interrupt_detail::watch_input();
        const HANDLE console = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        std::optional<std::string> text;
        bool cut_short = false;
        if (interrupt_detail::pending_signal()) {
            cut_short = true;
        } else if (GetConsoleMode(console, &mode)) {
            // A console gives UTF-16, whatever its code page (read as bytes, characters
            // outside the code page come as NULs on some consoles). Waiting for the first
            // key first lets Ctrl-C that comes before the read begins (and so cannot cut
            // it short) end the question too.
            HANDLE waits[2] = {console, static_cast<HANDLE>(interrupt_detail::wake_event())};
            WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, INFINITE);
            wchar_t wide[1024];
            DWORD n = 0;
            const BOOL ok = !interrupt_detail::pending_signal() && ReadConsoleW(console, wide, 1024, &n, nullptr);
            if (ok && n > 0) {
                text = in.console.decode(std::u16string_view(reinterpret_cast<const char16_t*>(wide), n));
            } else if (ok && GetLastError() == ERROR_OPERATION_ABORTED) {
                // Ctrl-C ends the read before its handler has run: give that a moment.
                cut_short = true;
                WaitForSingleObject(static_cast<HANDLE>(interrupt_detail::wake_event()), 100);
            }
        } else {
            char buffer[4096];
            if (std::fgets(buffer, sizeof buffer, stdin)) text = std::string(buffer);
            std::clearerr(stdin);
        }
        const int ending = interrupt_detail::unwatch_input();
        if (ending) {
            echo("", Stream::out);
            if (ending == SIGINT || ending == SIGBREAK) throw Aborted();
            throw Interrupted(ending);
        }
        if (cut_short) continue;
        if (!text) {
            in.eof = true;
            continue;
        }
        in.pending += *text;
#else
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
            continue;
        }
        if (n <= 0) {
            in.eof = true;
            continue;
        }
        in.pending.append(buffer, static_cast<size_t>(n));
#endif
    }
}

std::string read_answer() {
    std::string answer = read_line();
    if (::isatty(0) == 0) echo("", Stream::out);
    return answer;
}

void discard_buffered_input() { input() = InputBuffer(); }

namespace {

std::string ask(std::string_view text) {
    echo(text, Stream::out, false);
    try {
        return read_answer();
    } catch (const Aborted&) {
        echo("", Stream::out);  // finish the question's line before the report
        throw;
    }
}

}  // namespace

std::string prompt(std::string_view text, const std::optional<std::string>& default_value) {
    std::string shown(text);
    if (default_value) shown += " [" + *default_value + "]";
    shown += ": ";
    while (true) {
        std::string value = ask(shown);
        if (!value.empty()) return value;
        if (default_value) return *default_value;
    }
}

std::string prompt_stripped(std::string_view text, const std::optional<std::string>& default_value) {
    return std::string(strip(prompt(text, default_value)));
}

bool confirm(std::string_view text, bool default_value) {
    std::string shown = std::string(text) + (default_value ? " [Y/n]: " : " [y/N]: ");
    while (true) {
        std::string value = ascii_lower(std::string(strip(ask(shown))));
        if (value == "y" || value == "yes") return true;
        if (value == "n" || value == "no") return false;
        if (value.empty()) return default_value;
        echo("Error: invalid input", Stream::err);
    }
}

std::string prompt_choice(std::string_view text, const std::vector<std::string>& choices,
                          const std::optional<std::string>& default_value, bool case_sensitive) {
    std::string shown = std::string(text) + " (" + join(choices, ", ") + ")";
    if (default_value) shown += " [" + *default_value + "]";
    shown += ": ";
    while (true) {
        std::string value = ask(shown);
        if (value.empty() && default_value) value = *default_value;
        if (value.empty()) continue;
        for (const auto& c : choices)
            if (c == value || (!case_sensitive && ascii_lower(c) == ascii_lower(value))) return c;
        std::string quoted;
        for (size_t i = 0; i < choices.size(); ++i) quoted += (i ? ", '" : "'") + choices[i] + "'";
        echo("Error: '" + value + "' is not one of " + quoted + ".", Stream::err);
    }
}

}  // namespace support

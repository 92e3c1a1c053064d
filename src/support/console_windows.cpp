// The console on Windows: its code pages and modes (put back at exit), the wide command
// line, and typed text read as UTF-16 with ReadConsoleW.
#include <windows.h>
// after windows.h
#include <io.h>
#include <shellapi.h>

#include <csignal>
#include <cstdlib>

#include "support/console.hpp"
#include "support/console_internal.hpp"
#include "support/interrupt.hpp"
#include "support/wide_text.hpp"

namespace support {

using console_detail::file_of;

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

// Windows has no such reuse (a missing standard handle stays missing, and files are
// opened as handles).
void open_missing_standard_streams() {}

bool is_terminal(Stream stream) { return ::_isatty(::_fileno(file_of(stream))) != 0; }

bool shows_colours(Stream stream) {
    // _isatty also says yes for the NUL device; only a console that handles the sequences
    // shows them as colours.
    DWORD mode = 0;
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(::_fileno(file_of(stream))));
    return GetConsoleMode(console, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

std::optional<int> terminal_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return std::nullopt;
}

void restore_console() {
    std::fflush(stdout);
    std::fflush(stderr);
    auto& saved = saved_console();
    // A zero code page means there was no console to ask.
    if (saved.code_pages_saved && saved.input) SetConsoleCP(saved.input);
    if (saved.code_pages_saved && saved.output) SetConsoleOutputCP(saved.output);
    // Newest first: standard error's console may be standard output's, changed twice.
    for (auto it = saved.modes.rbegin(); it != saved.modes.rend(); ++it) SetConsoleMode(it->first, it->second);
}

void use_utf8_output() {
    std::fflush(stdout);
    std::fflush(stderr);
    auto& saved = saved_console();
    if (!saved.code_pages_saved) {
        saved.code_pages_saved = true;
        saved.input = GetConsoleCP();
        saved.output = GetConsoleOutputCP();
        restore_at_exit();
    }
    SetConsoleOutputCP(CP_UTF8);
}

void use_utf8_console() {
    use_utf8_output();
    SetConsoleCP(CP_UTF8);
}

void enable_console_colours() {
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE console = GetStdHandle(which);
        DWORD mode = 0;
        if (!GetConsoleMode(console, &mode) || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) continue;
        saved_console().modes.emplace_back(console, mode);
        restore_at_exit();
        // An older console refuses it: shows_colours then says no.
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    int wargc = 0;
    if (LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc)) {
        args.clear();
        for (int i = 1; i < wargc; ++i) args.push_back(narrow(wargv[i]));
        LocalFree(wargv);
    }
    return args;
}

namespace console_detail {

bool input_is_terminal() { return ::_isatty(0) != 0; }

bool read_more(std::string& pending, ConsoleInput& decoder) {
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
            text = decoder.decode(std::u16string_view(reinterpret_cast<const char16_t*>(wide), n));
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
    if (cut_short) return true;  // nothing read: the wait is taken up again
    if (!text) return false;
    pending += *text;
    return true;
}

}  // namespace console_detail

}  // namespace support

// The `vemtora` program: runs one command and exits with its status. Whatever happens,
// the process ends with an exit status, never with an abort or a core dump.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "host/registry.hpp"
#include "support/interrupt.hpp"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

namespace {

[[noreturn]] void on_terminate() {
    std::fputs("Error: an unexpected failure ended the program.\n", stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    std::set_terminate(on_terminate);
    support::install_interrupt_handlers();
#ifdef _WIN32
    // Every text the program writes is UTF-8.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
#ifdef _WIN32
    // The arguments as UTF-8, whatever the console's code page.
    int wargc = 0;
    if (LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc)) {
        args.clear();
        for (int i = 1; i < wargc; ++i) {
            int size = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
            std::string arg(size > 0 ? size - 1 : 0, '\0');
            if (size > 1) WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), size, nullptr, nullptr);
            args.push_back(arg);
        }
        LocalFree(wargv);
    }
#endif
    int status = 0;
    try {
        status = host::run_host(args);
    } catch (const support::Interrupted& interrupt) {
        // The child is gone and every clean-up on the way up has run.
        status = interrupt.exit_status();
    }
    std::fflush(stdout);
    return status;
}

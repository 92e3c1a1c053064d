// The `vemtora` program: runs one command and exits with its status. Whatever happens,
// the process ends with an exit status, never with an abort or a core dump.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "host/help.hpp"
#include "host/registry.hpp"
#include "support/console.hpp"
#include "support/interrupt.hpp"
#include "support/memory.hpp"

namespace {

[[noreturn]] void on_terminate() {
    // Memory that ran out where nothing could catch it (a destructor) is still said as such,
    // in the system's words and without taking more of it.
    const char* reason = "an unexpected failure ended the program.";
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::bad_alloc&) {
            reason = std::strerror(ENOMEM);
        } catch (...) {
        }
    }
    std::fputs("Error: ", stderr);
    std::fputs(reason, stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    support::restore_console();  // _Exit runs no exit handler
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a descriptor of its own.
    support::open_missing_standard_streams();
    support::tune_allocator();
    std::set_terminate(on_terminate);
    support::install_interrupt_handlers();
    // Every text the program writes is UTF-8; the arguments are taken as UTF-8 too. The
    // diff display's colours need a console that handles colour sequences.
    support::use_utf8_console();
    support::enable_console_colours();
    const std::vector<std::string> args = support::program_arguments(argc, argv);
    int status = 0;
    try {
        status = host::run_host(args, host::help::compiled_pages);
    } catch (const support::Interrupted& interrupt) {
        // The child is gone and every clean-up on the way up has run; nothing that a
        // child started may run on after the program.
        support::end_descendants();
        status = interrupt.exit_status();
        std::fflush(stdout);
        return status;
    }
    // Output that could not be written was not shown: the run did not do what it said.
    if (auto failure = support::output_failure()) {
        support::echo("Error: write error: " + *failure, support::Stream::err);
        if (status == 0) status = 1;
    }
    return status;
}

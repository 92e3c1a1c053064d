#include "host/registry.hpp"

#include <algorithm>
#include <deque>
#include <exception>
#include <functional>
#include <new>

#include "host/help.hpp"
#include "host/parse.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/interrupt.hpp"

namespace host {

namespace {

void show(std::string_view page) { support::echo(page, support::Stream::out, false); }

// The commands, built only where a run needs them: a page compiled into the program needs none.
using Commands = std::function<const std::vector<CommandDecl>&()>;

// The program's page, or a command's: the one compiled into the program where it was made
// at this width, else made now.
void show_page(help::CompiledPages compiled, const Commands& commands, const CommandDecl* command) {
    const size_t width = help::page_width();
    if (auto page = help::compiled_page(compiled, command ? std::string_view(command->name) : "", width)) {
        show(*page);
        return;
    }
    show(command ? help::command_page(*command, width) : help::group_page(commands(), width));
}

void report_usage_error(const UsageError& e) {
    std::string usage = e.command() ? help::command_usage(*e.command()) : help::group_usage();
    std::string path = std::string(help::program) + (e.command() ? " " + e.command()->name : "");
    support::echo(usage + "\nTry '" + path + " --help' for help.\n", support::Stream::err);
    support::echo("Error: " + std::string(e.what()), support::Stream::err);
}

// The program's own options come before the command name; only --help is known.
int dispatch(const Commands& commands, help::CompiledPages compiled, const std::vector<std::string>& args) {
    if (args.empty()) {
        show_page(compiled, commands, nullptr);
        return 0;
    }
    std::deque<std::string> rest(args.begin(), args.end());
    bool want_help = false;
    while (!rest.empty() && rest.front().size() > 1 && rest.front()[0] == '-') {
        std::string arg = rest.front();
        rest.pop_front();
        if (arg == "--") break;
        std::string name = arg.substr(0, arg.find('='));
        if (name == "--help") {
            if (name.size() != arg.size()) throw UsageError(nullptr, no_value_taken(name));
            want_help = true;
            continue;
        }
        if (arg.rfind("--", 0) == 0) throw UsageError(nullptr, no_such_option(name, {"--help"}));
        throw UsageError(nullptr, no_such_option(arg.substr(0, 2)));
    }
    if (want_help) {
        show_page(compiled, commands, nullptr);
        return 0;
    }
    if (rest.empty()) throw UsageError(nullptr, "Missing command.");
    std::string name = rest.front();
    rest.pop_front();
    const std::vector<CommandDecl>& decls = commands();
    auto decl = std::find_if(decls.begin(), decls.end(), [&](const CommandDecl& d) { return d.name == name; });
    if (decl == decls.end()) throw UsageError(nullptr, "No such command " + help::quoted(name) + ".");

    std::vector<std::string> command_args(rest.begin(), rest.end());
    if (decl->on_load) decl->on_load(command_args);
    ParsedCommand parsed = parse_command_args(*decl, command_args);
    if (parsed.help) {
        show_page(compiled, commands, &*decl);
        return 0;
    }
    return decl->entry ? decl->entry(parsed.values) : 0;
}

// Whatever escapes a run ends it with a line and a status; the command table itself is made
// inside, so that memory running out while it is built is told the same way.
int guarded(const std::function<int()>& run) {
    try {
        return run();
    } catch (const UsageError& e) {
        report_usage_error(e);
        return 2;
    } catch (const support::Aborted&) {
        support::echo("Aborted!", support::Stream::err);
        return 1;
    } catch (const support::Interrupted&) {
        throw;  // ends the program with the signal's status
    } catch (const std::bad_alloc& e) {
        support::echo("Error: " + support::failure_reason(e), support::Stream::err);
        return 1;
    } catch (const std::exception& e) {
        support::echo("Error: " + std::string(e.what()), support::Stream::err);
        return 1;
    } catch (...) {
        support::echo("Error: an unknown failure ended the command.", support::Stream::err);
        return 1;
    }
}

}  // namespace

int run_commands(const std::vector<CommandDecl>& decls, const std::vector<std::string>& args) {
    return guarded([&] { return dispatch([&decls]() -> const std::vector<CommandDecl>& { return decls; }, {}, args); });
}

int run_host(const std::vector<std::string>& args, help::CompiledPages compiled) {
    return guarded([&] { return dispatch(commands, compiled, args); });
}

}  // namespace host

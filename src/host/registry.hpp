#pragma once
#include <string>
#include <vector>

#include "host/declarations.hpp"
#include "host/help.hpp"

namespace host {

// Every command the program offers (`vemtora --help` lists them by name).
const std::vector<CommandDecl>& commands();

// Parses the program's arguments (without the program name), runs the command and
// returns the exit status: 0, the command's own, 2 for a usage error, 1 for a failure.
// A help page is taken from `compiled` where it holds one at the page's width.
int run_host(const std::vector<std::string>& args, help::CompiledPages compiled = {});
// The same for any set of commands (tests run their own).
int run_commands(const std::vector<CommandDecl>& decls, const std::vector<std::string>& args);

}  // namespace host

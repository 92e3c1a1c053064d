#pragma once
// Command-line parsing with click's rules. The arguments are first brought into one
// canonical form (every option under its long name, a value joined with "=" or, when
// empty, in the next argument), which is where click's rules live: a value option takes
// the next argument even when it begins with "-", an optional value is left out before
// another option or at the end, short flags may be grouped, "-cVALUE" and "--opt=value"
// forms. CLI11 then binds the canonical arguments to the declared options.
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/declarations.hpp"

namespace host {

// A command line the host refuses; `command` is the command whose usage is shown, or
// null for the program's own usage.
class UsageError : public std::runtime_error {
  public:
    UsageError(const CommandDecl* command, const std::string& message)
        : std::runtime_error(message), command_(command) {}
    const CommandDecl* command() const { return command_; }

  private:
    const CommandDecl* command_;
};

// click's message for an unknown long option: "No such option: --debg", followed by
// "Did you mean --debug?" or "(Possible options: --debug, --model)" when some of
// `long_names` are close to what was typed. A short option ("-x") has none to offer.
std::string no_such_option(const std::string& name, const std::vector<std::string>& long_names = {});
// The message for a value given to an option that takes none ("--debug=1"):
// "Option '--debug' does not take a value."
std::string no_value_taken(const std::string& name);

struct ParsedCommand {
    bool help = false;  // --help was given: show the page, run nothing
    OptionValues values;
};

// The arguments that follow the command name; raises UsageError.
ParsedCommand parse_command_args(const CommandDecl& decl, const std::vector<std::string>& args);

// The canonical form of the arguments (exposed for tests).
struct Canonical {
    std::vector<std::string> tokens;
    std::vector<std::string> extras;  // arguments that are no option
    bool help = false;
    std::vector<std::pair<const OptionDecl*, std::string>> values;  // each value given, in order
};
Canonical canonical_args(const CommandDecl& decl, const std::vector<std::string>& args);

}  // namespace host

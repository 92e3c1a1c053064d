#pragma once
// What a command module declares to the program: its name, help text, epilog, options in
// declaration order and its entry function. The host reads these; it is never included back.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vemtora {

enum class OptionKind {
    flag,            // --debug
    value,           // -c PATH: takes the next argument, even one that begins with "-"
    optional_value,  // -c [PATH]: a bare -c gives the empty text
    flag_pair,       // --skip-permissions/--no-skip-permissions
};

struct OptionDecl {
    std::string long_name{};      // "--config"
    std::string short_name{};     // "-c", or empty
    OptionKind kind = OptionKind::flag;
    std::string help{};
    bool default_on = false;      // flags and flag pairs
    std::string negative_name{};  // flag pairs: "--no-skip-permissions"
    std::string metavar = "TEXT"; // shown after value options in the help page
    // Value options: checks a given value before the command runs and returns why it is
    // not acceptable ("File 'a.md' does not exist."), or "" when it is; a refusal is a
    // usage error.
    std::function<std::string(const std::string& value)> check{};

    // "--generate-config" -> "generate_config"
    std::string parameter() const;
};

// The parsed values, by parameter name.
class OptionValues {
  public:
    std::optional<std::string> text(const std::string& parameter) const;
    bool flag(const std::string& parameter) const;

    void set_text(const std::string& parameter, std::string value) { texts_[parameter] = std::move(value); }
    void set_flag(const std::string& parameter, bool value) { flags_[parameter] = value; }

  private:
    std::map<std::string, std::string> texts_;
    std::map<std::string, bool> flags_;
};

struct CommandDecl {
    std::string name{};
    std::string help{};
    std::string epilog{};
    std::vector<OptionDecl> options{};
    // Returns the process's exit status.
    std::function<int(const OptionValues&)> entry{};
    // Start-up work of the module, run before the arguments are parsed (it may rewrite
    // the arguments that follow the command name).
    std::function<void(std::vector<std::string>& args)> on_load{};

    // What the command is, for whoever looks at the table as a whole.
    std::string_view default_yaml{};  // its configuration template; empty: it reads no configuration
    bool runs_agent = false;          // it starts agy

    // Whether it declares the option of that long name ("--model").
    bool takes(std::string_view long_name) const;
};

}  // namespace vemtora

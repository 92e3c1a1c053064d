#pragma once
// What the three project tools share: the names derived from a kebab-case sub-command
// name, and the second agent pass that has the agent rewrite the package's `cli.py` so
// that it registers the module just written.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"

namespace vemtora::registration {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

// The agent output file of the registration pass, relative to the current folder.
inline constexpr const char* reg_output_file = "_agy/generated-dovud-reg.txt";

// "my-feature" -> "MyFeature": each "-"-separated part with its first character in
// title case and the rest in lower case; empty parts add nothing.
std::string class_name_of(std::string_view sub_cli_name);
// "my-feature" -> "my_feature.py" (case kept).
std::string file_name_of(std::string_view sub_cli_name);
// "my-feature" -> "my_feature" (case kept).
std::string cmd_name_of(std::string_view sub_cli_name);
// The other way, from a module's file: "data_loader.py" -> "data-loader" (case kept).
std::string sub_cli_name_of_module(const fs::path& module_path);

enum class Tool { sproutel, graftwell, torvane };

struct Pass {
    Tool tool = Tool::graftwell;
    fs::path module_path{};  // the module just written
    fs::path cli_folder{};   // the folder whose cli.py is rewritten
    fs::path goal_path{};
    fs::path skill_path{};
    std::string default_model{};
    std::string sub_cli_name{};  // sproutel, graftwell (torvane derives it from the module)
    std::string file_name{};     // sproutel, graftwell (torvane uses the module's file name)
    std::string prj_name{};      // sproutel
    std::string cli_name{};      // sproutel
    const Logger* log = nullptr;
};

// The prompt of the pass for the given `cmd_` function name ("" when none was found).
std::string prompt(const Pass& pass, const std::string& func_name);

// Runs the pass after the module was saved. Nothing when it was skipped or done; the
// failure pair that ends the caller's run otherwise. An agent that leaves no text never
// empties cli.py: that counts as a failure too.
std::optional<support::Result> run(const Pass& pass);

}  // namespace vemtora::registration

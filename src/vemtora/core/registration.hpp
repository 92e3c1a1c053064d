#pragma once
// What the three project tools share: the names derived from a kebab-case sub-command
// name, and the second agent pass that has the agent rewrite the package's `cli.py` so
// that it registers the module just written, worded by its caller.
#include <filesystem>
#include <functional>
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

// One caller's registration pass: the files, and the caller's own prompt and texts.
struct Pass {
    fs::path module_path{};  // the module just written
    fs::path cli_folder{};   // the folder whose cli.py is rewritten
    fs::path goal_path{};
    fs::path skill_path{};
    std::string default_model{};
    // The prompt, given the pass and the module's `cmd_` function name ("" when none
    // was found).
    std::function<std::string(const Pass& pass, const std::string& func_name)> prompt{};
    // Without a `cmd_` function in the module the pass is skipped, unless the prompt
    // does without one.
    bool needs_function = true;
    // The cli.py folder is given to the agent as its project folder.
    bool cli_folder_to_agent = true;
    // Log lines, each left out when empty: cli.py not found (a warning), the pass
    // starting, cli.py saved.
    std::string no_cli_line{};
    std::string start_line{};
    std::string done_line{};
    // When the agent fails: the error line, logged with ": " and the agent's reason
    // (none when empty), and the failure text, followed by ": " and the reason when
    // `failure_names_reason`.
    std::string agent_failed_line{};
    std::string agent_failed{};
    bool failure_names_reason = true;
    const Logger* log = nullptr;
};

// The failure of the agent pass that rewrites the module `module_name` (before the
// registration pass), with the agent's reason.
support::Result rewrite_failed(const std::string& module_name, const std::string& reason);
// The same pass when the agent wrote no code: logs that `module_name` keeps its
// `kept` content ("範本") and gives the start of the failure text, which the caller
// may go on.
std::string no_code_written(const std::string& module_name, const std::string& kept, const Logger& logger);

// The pass's cli.py as prompts name it.
std::string cli_reference(const Pass& pass);
// The closing of a prompt that ends on "cli_code: @[<cli.py>": the bracket and the
// request to write the code to reg_output_file.
std::string code_request();

// Runs the pass after the module was saved. Nothing when it was skipped or done; the
// failure pair that ends the caller's run otherwise. An agent that leaves no text never
// empties cli.py: that counts as a failure too.
std::optional<support::Result> run(const Pass& pass);

}  // namespace vemtora::registration

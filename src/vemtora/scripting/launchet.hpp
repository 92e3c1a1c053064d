#pragma once
// The launcher of the agent's interactive terminal UI, command "start".
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"

namespace vemtora::launchet {

const brenkit::app_logging::Logger& log();

// The agent's quick-command set, relative to the current folder.
inline constexpr const char* commands_file = "_agy/skill/agy-commands.yaml";

// The opening prompt that tells the agent to load the command set.
std::string init_prompt(const std::filesystem::path& command_set);

struct LaunchArgs {
    std::string agy_path;
    std::optional<std::string> mapped_model{};  // a display name, when one was asked for
    bool skip_permissions = true;
    std::optional<std::string> init_prompt{};   // when the command set is there
};
// The agent's argument vector, the program first.
std::vector<std::string> base_cmd(const LaunchArgs& args);

// Returns the process's exit status.
int run_command(bool debug, const std::optional<std::string>& model, bool skip_permissions);

// The command "start" as the host registers it.
vemtora::CommandDecl cmd_launchet();

}  // namespace vemtora::launchet

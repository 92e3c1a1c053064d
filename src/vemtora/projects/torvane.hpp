#pragma once
// The refactoring command "torvane": one script of the project refactored by the agent
// with the support library's API manuals as context, written back over the script and
// then registered in the cli.py beside it.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "vemtora/core/command.hpp"
#include "vemtora/core/registration.hpp"
#include "support/result.hpp"

namespace vemtora::torvane {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./_ref\"\n"
    "  goal_path: \"_agy/goal/torvane.yaml\"\n"
    "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

inline constexpr const char* refactor_output_file = "_agy/generated-torvane.txt";

// The support library's API manuals offered for download, in menu order.
std::vector<brenkit::fileIO::RegistryEntry> default_manual_registry();

struct PromptInputs {
    fs::path goal_path{};
    fs::path skill_path{};
    fs::path target_path{};
    std::vector<fs::path> manuals{};      // API manuals
    std::vector<fs::path> references{};   // reference sources
    std::optional<fs::path> architecture{};
    std::string cli_name{};
    std::string refactor_desc{};
};
std::string refactor_prompt(const PromptInputs& inputs);
// The prompt of the pass that checks the refactored script's registration in cli.py;
// without a `cmd_` function name the agent is asked to find the entry point itself.
std::string registration_prompt(const registration::Pass& pass, const std::string& func_name);

class TorvaneApp {
  public:
    explicit TorvaneApp(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;
    std::string output_dir;
    fs::path goal_path;
    fs::path skill_path;
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no pass uses it
    std::vector<brenkit::fileIO::RegistryEntry> manual_registry;

  private:
    // The steps of run(), in order; a result ends the run with it.
    std::optional<support::Result> gather_references();
    std::optional<support::Result> choose_target();
    void choose_architecture();
    std::optional<support::Result> ask_requirement();
    std::optional<support::Result> refactor_target();
    std::optional<support::Result> register_target();

    fs::path out_folder_;
    PromptInputs inputs_;  // filled step by step; the prompt is made of it
};

// The command "torvane" as the host registers it.
vemtora::CommandDecl cmd_torvane();

}  // namespace vemtora::torvane

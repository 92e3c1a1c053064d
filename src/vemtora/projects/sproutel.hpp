#pragma once
// The new-project command "sproutel": the sample project cloned with git, cleaned and
// given the user's names, then its main module rewritten by the agent and registered in
// the package's cli.py.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "vemtora/core/registration.hpp"
#include "support/result.hpp"

namespace vemtora::sproutel {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  template_repo: \"https://github.com/vemtora/Faldrun.git\"\n"
    "  goal_path: \"_agy/goal/sproutel.yaml\"\n"
    "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n"
    "  project_desc: \"\"\n"
    "  debug: false\n";

// Where the sample project lives when the configuration names no address.
inline constexpr const char* default_template_repo = "git@github.com:vemtora/Faldrun.git";
// git names the clone after the repository, so the sample must be called this.
inline constexpr const char* clone_folder = "Faldrun";
inline constexpr const char* new_module_output_file = "_agy/generated-dovud-new.txt";

// "start_task.py" -> "start_task": every ".py" is removed, not only a trailing one.
std::string base_name_of(std::string_view file_name);
// The sample's setup.py with the new package name, description and console command.
std::string patch_setup_py(std::string_view text, const std::string& prj_name, const std::string& cli_name,
                           const std::string& pkg_name);

struct NewModuleNames {
    std::string prj_name{};
    std::string cli_name{};
    std::string sub_cli_name{};
    std::string class_name{};
    std::string project_desc{};
};
// The prompt of the pass that turns the renamed sample module into the core module.
std::string new_module_prompt(const fs::path& goal_path, const fs::path& main_logic_file, const NewModuleNames& names);
// The prompt of the pass that registers the core module, saved as `file_name`, in cli.py.
std::string registration_prompt(const registration::Pass& pass, const NewModuleNames& names,
                                const std::string& file_name, const std::string& func_name);

class SproutelApp {
  public:
    explicit SproutelApp(const YAML::Node& config_dict);
    support::Result run();
    support::Result generate_project(const std::string& prj_name, const std::string& cli_name,
                                     const std::string& file_name);

    YAML::Node config;
    std::string template_repo;
    fs::path goal_path;
    fs::path skill_path;
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no pass uses it
    std::string project_desc;
    bool debug = false;       // kept; debug mode comes from --debug or DOVUD_DEBUG

  private:
    // The failure of the goal and skill fetch made at construction, if it failed.
    std::optional<support::Result> missing_instructions_;
};

// The command "sproutel" as the host registers it.
vemtora::CommandDecl cmd_sproutel();

}  // namespace vemtora::sproutel

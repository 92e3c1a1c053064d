#pragma once
// The add-feature command "graftwell": a new sub-command module from a placeholder
// template, filled by the agent and registered in the package's cli.py.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "vemtora/core/registration.hpp"
#include "support/result.hpp"

namespace vemtora::graftwell {

namespace fs = std::filesystem;

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  sub_cli_name: \"\"\n"
    "  feature_desc: \"功能維持不變\"\n"
    "  goal_path: \"_agy/goal/dovud-feature.yaml\"\n"
    "  skill_path: \"_agy/skill/dovud-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n"
    "  debug: false\n";

inline constexpr const char* feature_output_file = "_agy/generated-dovud-feature.txt";
inline constexpr const char* template_file = "template/python_agy_cli_template.py";

// The prompt of the pass that registers the new module, saved as `file_name`, in cli.py.
std::string registration_prompt(const registration::Pass& pass, const std::string& sub_cli_name,
                                const std::string& file_name, const std::string& func_name);

class GraftwellApp {
  public:
    explicit GraftwellApp(const YAML::Node& config_dict);
    support::Result run();
    void _update_naming_vars();
    // The prompt of the pass that fills the template copy at `module_path`.
    std::string feature_prompt(const fs::path& module_path, const std::string& cli_name) const;

    YAML::Node config;
    std::optional<fs::path> prj_folder;
    std::string sub_cli_name;
    std::string class_name;
    std::string file_name;
    std::string cmd_name;
    std::string feature_desc;
    fs::path goal_path;
    fs::path skill_path;
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no pass uses it
    bool debug = false;       // kept; debug mode comes from --debug or DOVUD_DEBUG

  private:
    // The steps of run(), in order; a result ends the run with it.
    std::optional<support::Result> ask_feature();
    std::optional<support::Result> choose_project();
    std::optional<support::Result> fetch_instructions();
    std::optional<support::Result> copy_template();
    std::optional<support::Result> fill_template();
    std::optional<support::Result> register_module();

    std::string template_code_;
    fs::path module_path_;  // the template copy the agent fills: the new module
};

// The command "graftwell" as the host registers it.
vemtora::CommandDecl cmd_graftwell();

}  // namespace vemtora::graftwell

#pragma once
// Bash scripts written from a template or refactored by the agent, command "krestel".
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "vemtora/core/answers.hpp"
#include "support/result.hpp"

namespace vemtora::krestel {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./gen-bash\"\n"
    "  goal_path: \"_agy/goal/krestel-automation.yaml\"\n"
    "  skill_path: \"_agy/skill/krestel-expert.yaml\"\n"
    "  template_path: \"template/krestel_template.sh\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// Where the agent is told to write its script.
inline constexpr const char* agent_output_file = "_agy/generated-bash.sh";

// The name a script asks for with its "Script Name:" tag: the whole tag and the stem
// (the tag less its last suffix). Nothing when the script has no tag, or when the tag
// cannot name a file in the output folder ("." or "..").
struct ScriptTag {
    std::string tag;
    std::string stem;
};
std::optional<ScriptTag> script_tag(const std::string& script_content);

// The script picked for refactoring: its name without ".sh" and its path.
struct Target {
    std::string name;
    std::filesystem::path path;
};
struct PromptArgs {
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::filesystem::path template_path;
    std::string user_req;
    std::optional<Target> target{};  // set in refactor mode
};
std::string build_prompt(const PromptArgs& args);

class KrestelApp {
  public:
    explicit KrestelApp(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;       // the `config` mapping
    std::string output_dir;  // as configured
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::filesystem::path template_path;
    std::string default_model;  // a display name
    YAML::Node backup_model;    // display names; kept for the configuration's sake

  private:
    // The steps of run(), in order; a result ends the run with it.
    std::optional<support::Result> fetch_instructions();
    void choose_target();
    std::optional<support::Result> ask_requirement();
    std::optional<support::Result> generate_script(exchange::AgentAnswer& script);
    support::Result save_script(exchange::AgentAnswer& script);
    std::string mode() const { return target_ ? "重構" : "生成"; }

    std::filesystem::path out_folder_;
    std::optional<Target> target_;  // the script to refactor, if one was picked
    std::string current_content_;   // its text
    std::string user_req_;
};

// The command "krestel" as the host registers it.
vemtora::CommandDecl cmd_krestel();

}  // namespace vemtora::krestel

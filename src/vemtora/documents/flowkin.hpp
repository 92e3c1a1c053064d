#pragma once
// The diagram writer, command "flowkin": the agent draws a Mermaid diagram of one of
// four kinds from chosen sources or from a typed description.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "vemtora/core/answers.hpp"
#include "support/result.hpp"

namespace vemtora::flowkin {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./flowkin\"\n"
    "  goal_path: \"_agy/goal/mermaid-chart.yaml\"\n"
    "  skill_path: \"_agy/skill/mermaid-chart-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// The agent's output file, relative to the working copy.
inline constexpr const char* agent_output = "_agy/generated-mmd.md";

// One diagram kind: menu text, template file name and output name pattern.
struct DiagramKind {
    std::string name;
    std::string templ;
    std::string save_fmt;
};
const std::vector<DiagramKind>& mmd_configs();
// The kind whose menu text is `choice`; the first kind for any other text.
const DiagramKind& kind_for(const std::string& choice);

// The diagram in exactly one block of the fixed style, however many the agent wrote.
std::string wrap_diagram(std::string text);

struct PromptInputs {
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::string module_name;
    std::optional<std::filesystem::path> template_path;
    std::vector<std::filesystem::path> sources;
    std::string requirement;
};
std::string build_prompt(const PromptInputs& in);

class FlowkinApp {
  public:
    explicit FlowkinApp(const YAML::Node& config_dict, bool skip_editor = false);
    support::Result run();

    YAML::Node config;  // the `config` mapping
    bool skip_editor = false;
    std::string output_dir;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no step uses it
    std::optional<std::filesystem::path> template_path;

  private:
    // The steps of run(), in order; a result ends the run with it.
    std::optional<support::Result> choose_kind();
    std::optional<support::Result> choose_sources();
    std::optional<support::Result> ask_requirement();
    std::optional<support::Result> draw_diagram(exchange::AgentAnswer& diagram);

    std::filesystem::path out_folder_;
    std::string choice_;                 // the kind's menu text
    const DiagramKind* kind_ = nullptr;  // the kind it names
    std::vector<std::filesystem::path> sources_;
    std::string module_name_ = "Custom";  // of the first source, when there is one
    std::filesystem::path out_path_;
    std::string requirement_;
};

// The command "flowkin" as the host registers it.
vemtora::CommandDecl cmd_flowkin();

}  // namespace vemtora::flowkin

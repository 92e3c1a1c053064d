#pragma once
// The document pipeline, command "polywend": the agent translates a technical document
// or a report mail between Chinese and English, or formats a Markdown document.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"

namespace vemtora::polywend {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./polywend-gen\"\n"
    "  goal_path: \"_agy/goal/translate-i18n.yaml\"\n"
    "  skill_path: \"_agy/skill/polywend-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// The agent's output file, relative to the working copy.
inline constexpr const char* agent_output = "_agy/pipeline-result.md";

// What a function's prompt is made of; the files as exchange::prompt_path names them
// (absolute, with "/").
struct PromptParts {
    std::string goal_file;
    std::string goal_name;  // the goal's instruction set ("translate-en-to-zh-gen")
    std::string source_file;
    std::string custom;  // the user's requirements, "" for none
    std::string answer_file;  // where the agent writes its answer (agent_output)
};
using PromptBuilder = std::function<std::string(const PromptParts&)>;

// One row of the translation sub-menu.
struct Translation {
    std::string label;
    std::string goal_name;
    std::string translate_mode;
    std::string direction;  // the output suffix
};
const std::vector<Translation>& translation_configs();
// The row whose label is `choice`; the first row for any other text.
const Translation& translation_for(const std::string& choice);

std::string translation_prompt(const PromptParts& parts, const std::string& translate_mode);
struct FormattingMeta {
    std::string author_name;
    std::string version;
    std::string current_date;
};
std::string formatting_prompt(const PromptParts& parts, const FormattingMeta& meta);

// The banner the editor opens on.
std::string editor_banner(const std::string& editor_label);
// The typed requirements without lines that are comments once indented blanks are
// ignored, stripped.
std::string clean_requirement(const std::string& typed);
// The source document's stem + "_" + suffix + ".md".
std::string output_name(const std::filesystem::path& source, const std::string& suffix);

class PolywendApp {
  public:
    explicit PolywendApp(const YAML::Node& config_dict, bool skip_editor = false);
    support::Result run();

    YAML::Node config;  // the `config` mapping
    bool skip_editor = false;
    std::string output_dir;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;  // kept for the configuration's sake; no agent gets it
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no step uses it

  private:
    using Handler = support::Result (PolywendApp::*)();
    static const std::vector<std::pair<std::string, Handler>>& function_registry();

    support::Result execute_document_pipeline(const std::string& goal_file, const std::string& goal_name,
                                              const std::string& editor_label, const PromptBuilder& prompt_builder,
                                              const std::string& suffix);
    support::Result run_translation();
    support::Result run_md_formatting();
};

// The command "polywend" as the host registers it.
vemtora::CommandDecl cmd_polywend();

}  // namespace vemtora::polywend

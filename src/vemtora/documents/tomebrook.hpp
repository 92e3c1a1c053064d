#pragma once
// The manual writer, command "tomebrook": the agent writes or refactors a manual of
// source files in one of five manual kinds.
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

namespace vemtora::tomebrook {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./gen-docs\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// The agent's output file, relative to the working copy.
inline constexpr const char* agent_output = "_agy/generated-zuvidadi.md";

// One manual kind: its menu text, instruction files and output name pattern, in which
// "{module_name}" stands for the module name of the first chosen source.
struct ManualKind {
    std::string name;
    std::string goal;
    std::string skill;
    std::string templ;
    std::string save_fmt;
};
// The five kinds in menu order.
std::vector<ManualKind> manual_configs();
// The menu texts of the two flow-manual kinds, whose project facts are asked differently.
inline constexpr const char* python_flow_kind = "Python 程式流程說明手冊 (Python Flow Manual)";
inline constexpr const char* c_flow_kind = "C程式流程說明手冊 (C Flow Manual)";
// The kind whose menu text is `choice`; the Python API kind for any other text.
const ManualKind& kind_for(const std::vector<ManualKind>& kinds, const std::string& choice);
// The file-name beginnings by which existing manuals are offered for refactoring.
const std::vector<std::string>& manual_prefixes();

// The author and the version recorded in an existing manual. The version is looked
// for only while `version` is "unknown". The manual's author replaces the given one.
void read_manual_facts(std::string_view manual, std::optional<std::string>& author, std::string& version);

// The refactoring requirement from the chosen diff references and the typed text; the
// default requirement when both are empty.
std::string refactor_requirement(const std::string& diff_ref, const std::string& additional_req);

// A version without one leading "v" or "V".
std::string without_v(const std::string& version);

enum class Family { python_flow, c_flow, user_manual, api };
// The prompt family, from the goal file's name and the template file's name.
Family prompt_family(const std::filesystem::path& goal_path, const std::optional<std::filesystem::path>& template_path);

struct PromptInputs {
    Family family = Family::api;
    bool is_refactor = false;
    std::string choice;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::string goal_name;
    std::vector<std::filesystem::path> sources;
    std::filesystem::path out_path;  // the manual (named in refactoring prompts)
    std::string project_name;
    std::string module_name;
    std::string version;  // without its leading "v"
    std::string current_date;
    std::string author;
    std::string template_ref;
    std::string user_req;
};
std::string build_prompt(const PromptInputs& in);

// The manual writer: one object per invocation, built from the loaded configuration.
class TomebrookApp {
  public:
    explicit TomebrookApp(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;  // the `config` mapping
    std::string output_dir;
    std::string default_model;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::optional<std::filesystem::path> template_path;

  private:
    // The steps of run(), in order; a step that can end the run returns its result.
    std::optional<support::Result> choose_kind();
    std::optional<support::Result> choose_sources();
    std::optional<support::Result> choose_manual();
    void settle_identity();
    std::optional<support::Result> ask_requirements();
    std::optional<support::Result> generate_manual();
    support::Result save_manual();

    // What the steps hand on to each other.
    std::string choice_;
    std::string save_fmt_;
    std::string template_ref_;
    std::vector<std::filesystem::path> sources_;
    std::string module_name_;
    bool is_refactor_mode_ = false;
    std::filesystem::path out_path_;
    std::string project_name_;
    std::string version_;
    std::string author_;
    std::string current_date_;
    std::string current_content_;
    std::string user_req_;
    std::string goal_name_;
    std::string doc_content_;
    exchange::AnswerFile answer_file_;  // holds doc_content_ until it is saved
};

// The command "tomebrook" as the host registers it.
vemtora::CommandDecl cmd_tomebrook();

}  // namespace vemtora::tomebrook

#pragma once
// Code and document templates written by the agent from reference files, command
// "moldery".
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"

namespace vemtora::moldery {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./gen-template\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// Where the agent is told to write its template.
inline constexpr const char* agent_output_file = "_agy/generated-template.txt";

// The entries of the type menu, in menu order.
const std::vector<std::string>& type_menu();

// What a menu entry stands for: the extension of the files offered ("" for every file)
// and the label used in messages and the prompt.
struct FileType {
    std::string ext;
    std::string label;
    bool all_files = false;
};
FileType file_type_of(const std::string& entry);

// The folder names the all-files scan leaves out: the fixed ones, and the output
// folder's own name when it has one.
std::vector<std::string> excluded_names(const std::string& output_dir);

// The name a template asks for with a "filename:" tag in its first 10 lines.
std::optional<std::string> tag_file_name(const std::string& doc_content);

// The file the template is saved as: (base name, extension). `ext` is the type's
// extension, or for every file the suffix of `first_pick` (the first picked file).
std::pair<std::string, std::string> output_name(const std::optional<std::string>& tag, const FileType& type,
                                                const std::filesystem::path& first_pick);

struct PromptArgs {
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::string goal_name;
    std::string file_type_label;
    std::string user_desc;
    std::vector<std::filesystem::path> references;
};
std::string build_prompt(const PromptArgs& args);

class MolderyApp {
  public:
    explicit MolderyApp(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;          // the `config` mapping
    std::string output_dir;     // as configured
    std::string default_model;  // a display name
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
};

// The command "moldery" as the host registers it.
vemtora::CommandDecl cmd_moldery();

}  // namespace vemtora::moldery

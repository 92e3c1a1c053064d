#pragma once
// The README and release assistant, command "quillary".
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"
#include "vemtora/core/frame.hpp"

namespace vemtora::quillary {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  output_dir: \"./\"\n"
    "  goal_path: \"_agy/goal/dovud-readme-goal.yaml\"\n"
    "  skill_path: \"_agy/skill/dovud-readme-expert.yaml\"\n"
    "  template_path: \"template/dovud_readme_template.md\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// A tag split into its base version (as written, leading zeros kept) and its
// release-candidate number (decimal digits without leading zeros), each unset when the
// text is not a version.
struct ParsedVersion {
    std::optional<std::string> base;
    std::optional<std::string> rc;
};

// Accepts "1.2.3", "1.2.3rc4", with one optional prefix "CICD-v" or "v".
ParsedVersion parse_version(const std::optional<std::string>& version_str);

// (next release, next release candidate) for the latest tag; ("0.0.1", "0.0.1rc0") when
// the text is not a version. Numbers of any size are handled as decimal text.
std::pair<std::string, std::string> get_next_versions(const std::optional<std::string>& current_version);

// Removes the run's scratch files (and an unused placeholder README) when it ends.
class ScratchFiles;

// The README assistant: one object per invocation, built from the loaded configuration.
class Quillary {
  public:
    explicit Quillary(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;  // the `config` mapping
    std::string output_dir;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::optional<std::filesystem::path> template_path;
    std::string default_model;
    YAML::Node backup_model;  // kept for the configuration's sake; no step uses it

  private:
    // The steps of run(), in order; a step that can end the run returns its result.
    std::optional<support::Result> check_clean_tree();
    void choose_readme_kind();
    std::optional<support::Result> fetch_instructions();
    void choose_version();
    std::optional<support::Result> read_names();
    std::optional<support::Result> choose_source_folder();
    std::optional<support::Result> ask_request();
    void collect_diff();
    std::optional<support::Result> write_scratch_files();
    std::optional<support::Result> generate_readme(ScratchFiles& scratch);
    support::Result finish();

    support::Result release_menu(const std::string& next_version);
    support::Result bump_setup_version(const std::string& version);

    // What the steps hand on to each other.
    bool is_c_mcu_project_ = false;
    bool is_python_wheel_project_ = false;
    bool is_refactor_ = false;
    std::string template_ref_;
    std::string next_version_;
    std::string current_content_;
    std::optional<std::string> project_name_;
    std::optional<std::string> author_;
    std::string current_date_;
    std::optional<std::filesystem::path> source_dir_;
    std::string user_req_;
    std::string diff_content_;
    std::optional<std::string> compare_target_;
    std::string processed_content_;
};

// The command "quillary" as the host registers it.
vemtora::CommandDecl cmd_quillary();

}  // namespace vemtora::quillary

#pragma once
// The pure pieces of the README assistant: version arithmetic, the git diff since the
// last release, folder matching, the agent prompts and the setup.py version rewrite.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/result.hpp"

namespace vemtora::quillary {

// The files exchanged with the agent in one pass, relative to the working copy.
inline constexpr const char* scratch_readme = "_agy/current-readme.md";
inline constexpr const char* scratch_diff = "_agy/current-diff.txt";
inline constexpr const char* scratch_log = "_agy/current-log.txt";
inline constexpr const char* agent_output = "_agy/generated-readme.md";

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

// True for a version string without prefix: "1.2.3" or "1.2.3rc0".
bool is_version_string(std::string_view text);

// A git command that ended with a non-zero exit status.
class CommandFailed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
std::string command_failure(const std::vector<std::string>& argv, int status);
// Runs git with the arguments, its output captured (decoded, undecodable bytes dropped,
// line ends normalised) or shown on the terminal; raises CommandFailed on a non-zero
// status and support::ProcessError when git cannot be started.
std::string git_checked(const std::vector<std::string>& args, bool capture = true);

// The diff of `source_dir` since the latest tag (else the first root commit, else
// HEAD~1) and the revision it was taken against; ("", nothing) when nothing compares.
std::pair<std::string, std::optional<std::string>> get_git_diff_since_last_tag(
    const std::filesystem::path& source_dir);

// The letters and digits of a name, lower-cased: the key folders are matched by.
std::string name_key(std::string_view name);

// The values the agent prompts are made of.
struct PromptInputs {
    bool is_refactor = false;
    bool is_c_mcu_project = false;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::filesystem::path source_dir;
    std::string project_name;
    std::string next_version;
    std::string current_date;
    std::string author;
    std::string user_req;
    std::string template_ref;
};
std::string build_prompt(const PromptInputs& in);

// The version assignment of a setup.py text: the quoted value after a `version`
// keyword that stands as a word, or nothing.
std::optional<std::string> find_setup_version(std::string_view text);
// Every such assignment rewritten to version="<version>".
std::string replace_setup_version(std::string_view text, std::string_view version);

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
    support::Result release_menu(const std::string& next_version);
    support::Result bump_setup_version(const std::string& version);
};

}  // namespace vemtora::quillary

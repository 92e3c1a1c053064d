#pragma once
// Inner pieces of the README assistant: the typed-version check, folder matching, the
// agent prompts and the setup.py version rewrite.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vemtora/release/quillary.hpp"

namespace vemtora::quillary {

// The files exchanged with the agent in one pass, relative to the working copy.
inline constexpr const char* scratch_readme = "_agy/current-readme.md";
inline constexpr const char* scratch_diff = "_agy/current-diff.txt";
inline constexpr const char* scratch_log = "_agy/current-log.txt";
inline constexpr const char* agent_output = "_agy/generated-readme.md";

// True for a version string without prefix: "1.2.3" or "1.2.3rc0".
bool is_version_string(std::string_view text);

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

// A `version` keyword argument of a setup(...) call in a setup.py text, given as a
// quoted text: where it stands (from "version" through the closing quote) and its value.
struct SetupVersion {
    size_t begin = 0;
    size_t end = 0;
    std::string value;
};
// Every such argument, in text order; one inside a string, a comment or a nested call
// (setup(extra=dict(version=...))) is none.
std::vector<SetupVersion> setup_version_arguments(std::string_view text);
// The value of the one such argument, or nothing when there is none or more than one.
std::optional<std::string> find_setup_version(std::string_view text);
// The text with the one such argument rewritten to version="<version>"; unchanged when
// there is none or more than one.
std::string replace_setup_version(std::string_view text, std::string_view version);

}  // namespace vemtora::quillary

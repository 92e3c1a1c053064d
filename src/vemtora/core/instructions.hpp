#pragma once
// The goal, skill and template files an agent pass is pointed at: fetched from the maker's
// repository when they are missing, and the prompt line that names a template.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "support/result.hpp"

namespace vemtora::exchange {

namespace fs = std::filesystem;
using Logger = brenkit::app_logging::Logger;

inline constexpr const char* goal_folder = "_agy/goal/";
inline constexpr const char* skill_folder = "_agy/skill/";
inline constexpr const char* template_folder = "template/";

// The download address of a local file: the repository folder followed by the file's
// own name, wherever the local file lives.
std::string download_url(const std::string& repo_folder, const fs::path& local_path);

// Makes sure the file is present: downloads it from the repository folder under its own
// file name when it is missing. True when the file exists afterwards. The fetches below
// make a missing file's folders only once its download has succeeded, so a failed one
// leaves no empty folder in the working copy.
bool fetch(const fs::path& path, const std::string& repo_folder, const std::string& label, const Logger& logger);

// Fetches the goal file and then the skill file. Nothing when both exist afterwards;
// otherwise the error is logged and the failure result is returned.
std::optional<support::Result> fetch_goal_and_skill(const fs::path& goal_path, const fs::path& skill_path,
                                                    const Logger& logger);

// A local file and the repository file that fills it when it is missing, whatever
// the local file is called.
struct FixedSource {
    fs::path path;
    std::string repo_path;  // "_agy/goal/torvane.yaml"
    std::string label;
};
// Downloads each missing file from its own repository file. Nothing when all of them exist
// afterwards; otherwise the failure of fetch_goal_and_skill, its error logged.
std::optional<support::Result> fetch_fixed(const std::vector<FixedSource>& sources, const Logger& logger);

// Fetches an output template; a template that cannot be had is warned about and
// dropped (nothing returned), which is no failure. A present template is announced.
std::optional<fs::path> fetch_template(const fs::path& template_path, const Logger& logger);
std::optional<fs::path> fetch_template(const fs::path& template_path, const std::string& label, const Logger& logger);
// The same fetch from any repository folder, without the announcement.
std::optional<fs::path> fetch_optional_template(const fs::path& template_path, const std::string& repo_folder,
                                                const std::string& label, const Logger& logger);

// The prompt line that points the agent at a template, or "" without one.
std::string template_ref(const std::optional<fs::path>& template_path);

}  // namespace vemtora::exchange

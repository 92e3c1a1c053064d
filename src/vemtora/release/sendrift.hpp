#pragma once
// The commit assistant, command "sendrift".
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
#include "vemtora/core/frame.hpp"

namespace vemtora::sendrift {

const brenkit::app_logging::Logger& log();

// The built-in configuration and the text that --generate-config writes.
inline constexpr std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  goal_path: \"_agy/goal/sendrift-goal.yaml\"\n"
    "  skill_path: \"_agy/skill/sendrift-expert.yaml\"\n"
    "  default_model: \"gemini-3.5-flash-m\"\n"
    "  backup_model:\n"
    "    - \"gemini-3.5-flash-l\"\n";

// The commit assistant: a commit message written by the agent from `git diff HEAD`
// (with a second attempt on a backup model), shown for confirmation, then add, commit,
// push (setting the upstream when a plain push fails) and the user's log alias.
class SendriftApp {
  public:
    explicit SendriftApp(const YAML::Node& config_dict);
    support::Result run();

    YAML::Node config;
    std::filesystem::path goal_path;
    std::filesystem::path skill_path;
    std::string default_model;  // display name
    YAML::Node backup_model;    // display names: a list, one text, or another value as configured

  private:
    std::optional<support::Result> read_changes(std::string& diff);
    std::string ask_agent(const std::string& prompt, const std::vector<std::string>& models,
                          exchange::AnswerFile& message_file);
    support::Result commit_and_push(const std::string& message, exchange::AnswerFile& message_file);
    bool untracked_declined_ = false;  // the user kept the untracked files out
};

// The two models the agent is tried with: the default one, then the backup candidate,
// which moves to the other Flash tier when it equals the default one.
std::vector<std::string> models_to_try(const std::string& default_model, const YAML::Node& backup_model);

// The agent's instructions: the goal, skill and diff files by reference, and the file to
// write the message to.
std::string build_prompt(const std::filesystem::path& goal_path, const std::filesystem::path& skill_path);

// The untracked entries of `git status --porcelain` output, in git's order.
std::vector<std::string> untracked_files(std::string_view porcelain);

// The command object: the declaration whose entry builds one SendriftApp from the
// loaded configuration and runs it.
vemtora::CommandDecl cmd_sendrift();

}  // namespace vemtora::sendrift

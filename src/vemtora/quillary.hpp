#pragma once
// The README and release assistant, command "quillary".
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "host/command.hpp"
#include "vemtora/frame.hpp"

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

// The command's declaration; its entry runs the command frame with `application` as
// the step that builds the application from the configuration and runs it.
host::CommandDecl declaration(decltype(frame::Binding::run) application);

}  // namespace vemtora::quillary

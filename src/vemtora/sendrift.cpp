#include "vemtora/sendrift.hpp"

namespace vemtora::sendrift {

namespace {

constexpr std::string_view epilog =
    "\b\n"
    "Examples:\n"
    "  1. Generate config template:\n"
    "     vemtora sendrift --generate-config\n"
    "\b\n"
    "  2. Run template generation with configuration:\n"
    "     vemtora sendrift -c config.yaml\n"
    "\b\n"
    "  3. Run with default settings (Default mode):\n"
    "     vemtora sendrift\n"
    "\b\n"
    "  4. Run with default settings and specify a model:\n"
    "     vemtora sendrift --model \"gemini-3.5-flash-m\"\n"
    "\b\n"
    "  5. Interactive config selection (when -c is provided without arguments):\n"
    "     vemtora sendrift -c\n"
    "\n"
    "\b\n"
    "Features: Automates Git commit message generation and repository push.\n"
    "  - Generates concise commit messages based on git diff.\n"
    "  - Interactively prompts for confirmation before execution.\n"
    "  - Displays the latest Git log after successful push.\n";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Sendrift"); }

host::CommandDecl declaration(decltype(frame::Binding::run) application) {
    return frame::declare("sendrift", "自動化 commit & push CLI 工具。", epilog,
                          frame::standard_options({.module_name = "sendrift"}),
                          {.module_name = "sendrift", .default_yaml = DEFAULT_YAML_CONTENT, .log = &log(),
                           .run = std::move(application)});
}

}  // namespace vemtora::sendrift

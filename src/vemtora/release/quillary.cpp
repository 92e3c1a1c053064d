#include "vemtora/release/quillary.hpp"

namespace vemtora::quillary {

namespace {

constexpr std::string_view epilog =
    "\b\n"
    "Examples:\n"
    "  1. Generate config template:\n"
    "     vemtora quillary --generate-config\n"
    "\b\n"
    "  2. Run with configuration:\n"
    "     vemtora quillary -c config.yaml\n"
    "\b\n"
    "  3. Run with default settings (Default mode):\n"
    "     vemtora quillary\n"
    "\b\n"
    "  4. Run with default settings and specify a model:\n"
    "     vemtora quillary --model \"Gemini 3.5 Flash (Medium)\"\n"
    "\b\n"
    "  5. Interactive config selection (when -c is provided without arguments):\n"
    "     vemtora quillary -c\n"
    "\n"
    "\b\n"
    "Features: README generation and updating assistant.\n"
    "  - Automatically scans setup.py to determine current version and calculate next release/RC version.\n"
    "  - Supports interactive selection of the source code directory.\n"
    "  - Retrieves git diff since the last tag within the selected source directory.\n"
    "  - Generates and updates README.md using AI, and displays diff.\n";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Quillary"); }

vemtora::CommandDecl cmd_quillary() {
    return frame::declare({.name = "quillary",
                           .help = "自動偵測版號、讀取 Git Diff 並透過 AI 生成與更新 README.md。",
                           .epilog = std::string(epilog),
                           .options = {.config_help = "Specify the YAML config file path"},
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .run = frame::runs_app<Quillary>()}});
}

}  // namespace vemtora::quillary

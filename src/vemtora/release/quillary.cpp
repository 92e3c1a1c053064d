#include "vemtora/release/quillary.hpp"

namespace vemtora::quillary {

namespace {

constexpr std::string_view features =
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
                           .epilog = frame::epilog(frame::usual_examples("quillary",
                                                                         {.run_title = "Run with configuration:",
                                                                          .model = "Gemini 3.5 Flash (Medium)"}),
                                                   features),
                           .options = {.config_help = "Specify the YAML config file path"},
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .run = frame::runs_app<Quillary>()}});
}

}  // namespace vemtora::quillary

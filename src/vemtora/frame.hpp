#pragma once
// The frame every configured command runs in: debug mode, the configuration template,
// the choice and load of the configuration, the model and output-folder overrides,
// the application's run and the final "Done: "/"Error: " line with the exit status.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "brenkit/app_logging.hpp"
#include "host/command.hpp"
#include "support/result.hpp"

namespace vemtora::frame {

// The option values the frame looks at (those a command does not declare stay empty).
struct Args {
    std::optional<std::string> config;
    bool generate_config = false;
    bool debug = false;
    std::optional<std::string> model;
    std::optional<std::string> output_dir;
};
Args args_from(const host::OptionValues& values);

// What the application step receives besides the configuration.
struct Context {
    std::optional<std::filesystem::path> config_path;  // the file chosen with -c, if any
};

// The per-command variations of the frame, as data.
struct Binding {
    std::string module_name;            // "quillary" -> "config_quillary_template.yaml"
    std::string_view default_yaml;      // DEFAULT_YAML_CONTENT
    const brenkit::app_logging::Logger* log = nullptr;
    bool template_line_mark = true;     // "✅ Success! Template file created at: " or without "✅ "
    bool marked_result = false;         // "✅ Done: "/"❌ Error: " instead of "Done: "/"Error: "
    bool auto_single_candidate = false; // a single configuration candidate is taken without asking
    std::string output_key = "output_dir";  // where a non-empty --output-dir value is stored
    bool empty_output_is_dot = false;   // an empty --output-dir value means "./" (and is stored)
    // Builds the application from the whole configuration and runs it.
    std::function<support::Result(YAML::Node& configuration, const Context& context)> run;
};

std::string template_file_name(const Binding& binding);

// Runs the frame and returns the exit status.
int run(const Binding& binding, const Args& args);

}  // namespace vemtora::frame

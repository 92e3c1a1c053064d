#pragma once
// The frame every configured command runs in: debug mode, the configuration template,
// the choice and load of the configuration, the model and output-folder overrides,
// the application's run and the final "Done: "/"Error: " line with the exit status.
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "vemtora/core/command.hpp"
#include "support/result.hpp"

namespace vemtora::frame {

// The option values the frame looks at (those a command does not declare stay empty).
struct Args {
    std::optional<std::string> config{};
    bool generate_config = false;
    bool debug = false;
    std::optional<std::string> model{};
    std::optional<std::string> output_dir{};
    bool skip_editor = false;
    std::optional<std::string> file{};
};
Args args_from(const vemtora::OptionValues& values);

// What the application step receives besides the configuration.
struct Context {
    std::optional<std::filesystem::path> config_path{};  // the file chosen with -c, if any
    bool skip_editor = false;                            // -s/--skip-editor
    std::optional<std::string> file{};                   // -f/--file
    bool debug = false;                                  // debug mode: --debug, or DOVUD_DEBUG is "1"
};

// A setting of a configuration that names a place in the file system: its key, as the
// configuration spells it, and its value.
struct PlaceSetting {
    std::string key;
    std::string value;
};

// The per-command variations of the frame, as data.
struct Binding {
    std::string module_name{};          // "quillary" -> "config_quillary_template.yaml"
    std::string_view default_yaml{};    // DEFAULT_YAML_CONTENT
    const brenkit::app_logging::Logger* log = nullptr;
    bool template_line_mark = true;     // write_template's success line starts with the ✅ mark
    bool marked_result = false;         // run_application's closing line starts with ✅ or ❌
    bool auto_single_candidate = false; // a single configuration candidate is taken without asking
    std::string output_key = "output_dir";  // where a non-empty --output-dir value is stored
    bool empty_output_is_dot = false;   // an empty --output-dir value means "./" (and is stored)
    bool log_debug_on = false;          // enter_debug_mode announces itself once debug logging is set up
    bool utf8_output = false;           // the streams are switched to UTF-8 before anything is written
    // One run at a time on a configuration file that the run writes back: its folder is
    // held (support::FolderLock) from before the file is read until the run has ended, and
    // a second run is refused. A run that read the file before another one wrote it back
    // would otherwise write its stale copy over what the other run added.
    bool one_run_per_configuration = false;
    // The settings of a configuration that name places. Those of a configuration that the
    // bare -c search found are the repository's choice: one that leads out of the working
    // copy (and out of the places the user named, such as the folder of -o) ends the run
    // before anything is read or written. Named with -c PATH, the file is the user's.
    std::function<std::vector<PlaceSetting>(const YAML::Node& configuration)> place_settings{};
    // The command runs the agent (set by declare() from Declaration::runs_agent): `agy` is
    // looked up before the configuration is chosen, so that a missing one ends the run
    // before any question, editor or change to the repository (mindrel::agy_missing), not
    // after the user's work.
    bool uses_agent = false;
    // Builds the application from the whole configuration and runs it.
    std::function<support::Result(YAML::Node& configuration, const Context& context)> run{};
};

// ---- epilogs ----
// One numbered example of an epilog.
struct Example {
    std::string title;    // "Generate config template:"
    std::string command;  // "vemtora quillary --generate-config"
};

// How a command words the examples that most configured commands show.
struct UsualExamples {
    std::string run_title = "Run template generation with configuration:";  // of the run with -c config.yaml
    // The model of the run with --model; without one (a command without -m) that example is left out.
    std::optional<std::string> model = "gemini-3.5-flash-m";
    std::vector<Example> more{};  // numbered on after the usual ones
};
// For `name`: the template, the run with a configuration, the default mode, the default
// mode with a model, the interactive choice of a configuration, then `more`.
std::vector<Example> usual_examples(const std::string& name, const UsualExamples& texts = {});

// What stands between the last example and the features block: an empty line and the
// block's backspace mark.
inline constexpr std::string_view features_gap = "\n\b\n";

// An epilog: the backspace-marked "Examples:" block, each example numbered from 1 as its
// own backspace-marked paragraph, then, when there are features, `gap` and the `features`
// block (its lines each ending with a line feed).
std::string epilog(const std::vector<Example>& examples, std::string_view features = {},
                   std::string_view gap = features_gap);

// The epilog of most configured commands: the usual examples for `name`, then `features`.
std::string standard_epilog(const std::string& name, std::string_view features);

// ---- settings every AI command reads ----
// The `config` mapping of the loaded configuration; an empty mapping when it is
// missing or holds no mapping.
YAML::Node settings_section(const YAML::Node& config_dict);
// `default_model` resolved to its display name; "gemini-3.5-flash-m" when the key is
// missing or left empty, so the agent is never given an empty model.
std::string default_model_of(const YAML::Node& settings);
// `backup_model` (else `fallback`: as a rule the list of "gemini-3.5-flash-l") resolved.
YAML::Node backup_model_of(const YAML::Node& settings, const YAML::Node& fallback = YAML::Load("[gemini-3.5-flash-l]"));

// The application step of a command whose application object is built from the whole
// configuration and run once.
template <class App>
decltype(Binding::run) runs_app() {
    return [](YAML::Node& configuration, const Context&) {
        App app(configuration);
        return app.run();
    };
}
// The same for an application object that is also told whether -s/--skip-editor was given.
template <class App>
decltype(Binding::run) runs_app_with_skip_editor() {
    return [](YAML::Node& configuration, const Context& context) {
        App app(configuration, context.skip_editor);
        return app.run();
    };
}

std::string template_file_name(const Binding& binding);

// Debug mode, from `flag` or DOVUD_DEBUG set to exactly "1": DOVUD_DEBUG is set (for the
// child processes), debug logging is switched on and `announce`, when given, logs "Debug
// mode is ON.". Returns whether debug mode is on; the frame hands that to the command in
// its Context, and nothing reads DOVUD_DEBUG back.
bool enter_debug_mode(bool flag, const brenkit::app_logging::Logger* announce);

// An argument rewrite: each of `options` that is last or followed by an argument
// beginning with "-" gets an empty value, so that a bare option means "ask".
std::vector<std::string> with_empty_values(const std::vector<std::string>& args,
                                           std::initializer_list<std::string_view> options);

// Runs the frame and returns the exit status.
int run(const Binding& binding, const Args& args);

// ---- the options every configured command declares ----
inline constexpr std::string_view interactive_config_help =
    "Specify the YAML config file path. If -c is provided without arguments, it will trigger interactive config "
    "selection.";

// The texts are views, read only while the options are made: nothing here needs
// destroying, which also keeps GCC's optimizer from seeing a text of a half-built
// declaration as uninitialized.
struct StandardOptions {
    std::string_view module_name{};  // help of --generate-config: "Generate config_<module>_template.yaml"
    std::string_view config_help = interactive_config_help;
    bool optional_config = false;                        // a bare -c gives the empty text
    bool model = true;                                   // -m/--model
    std::optional<std::string_view> output_dir_help{};   // declares -o/--output-dir
    bool optional_output_dir = false;                    // a bare -o gives the empty text
    std::optional<std::string_view> skip_editor_help{};  // declares -s/--skip-editor
};
// -c/--config, --generate-config, --debug, then -m/--model, -o/--output-dir and
// -s/--skip-editor as asked, in this order.
std::vector<vemtora::OptionDecl> standard_options(const StandardOptions& options);

// ---- declaring a configured command ----
// Everything a configured command declares, in one place.
struct Declaration {
    std::string name{};    // the command's name, also its module's name for the options and the binding
    std::string help{};
    std::string epilog{};
    StandardOptions options{};                          // module_name: `name` when left empty
    std::vector<vemtora::OptionDecl> more_options{};    // declared after the standard ones
    // Rewrites the arguments that follow the command name before they are parsed.
    std::function<void(std::vector<std::string>& args)> on_load{};
    Binding binding{};                                  // module_name: `name` when left empty
    bool runs_agent = true;                             // pressling and varnel do not
};
// The command declaration whose entry runs the frame with the declaration's binding.
vemtora::CommandDecl declare(Declaration declaration);

}  // namespace vemtora::frame

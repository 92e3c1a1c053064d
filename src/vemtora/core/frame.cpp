#include "vemtora/core/frame.hpp"

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <system_error>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/folder_lock.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::frame {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Stream;

namespace {

const brenkit::app_logging::Logger& logger(const Binding& binding) {
    return binding.log ? *binding.log : brenkit::app_logging::lazy_logger(binding.module_name);
}

void error_line(const std::string& text) { support::echo(text, Stream::err); }

std::string template_name(std::string_view module_name) {
    std::string name = "config_";
    name.append(module_name).append("_template.yaml");
    return name;
}

// The mapping under `config`, created when missing or empty; nothing when the
// configuration holds something else there.
std::optional<YAML::Node> settings_of(YAML::Node& configuration) {
    if (!configuration.IsMap()) return std::nullopt;
    YAML::Node settings = configuration["config"];
    if (!settings.IsDefined() || settings.IsNull()) {
        configuration["config"] = YAML::Node(YAML::NodeType::Map);
        settings = configuration["config"];
    }
    if (!settings.IsMap()) return std::nullopt;
    return settings;
}

// Whether a configuration template has a line besides blank lines and comments. One without
// would make every run of its command do nothing and end with success. Read as text, not
// parsed: every command is declared at each start of the program.
bool holds_configuration(std::string_view yaml) {
    for (const auto& line : support::splitlines(yaml)) {
        std::string_view content = support::strip(line);
        if (!content.empty() && content.front() != '#') return true;
    }
    return false;
}

// One run of the frame. Each step gives the exit status when the run ends there.
class FrameRun {
  public:
    FrameRun(const Binding& binding, const Args& args)
        : binding_(binding), args_(args), log_(logger(binding)),
          context_{.skip_editor = args.skip_editor, .file = args.file} {}

    int operator()() {
        if (binding_.utf8_output) support::use_utf8_output();
        context_.debug = enter_debug_mode(args_.debug, binding_.log_debug_on ? &log_ : nullptr);
        if (auto ended = write_template()) return *ended;
        if (auto ended = require_agent()) return *ended;
        if (auto ended = choose_configuration()) return *ended;
        if (auto ended = load_configuration()) return *ended;
        if (auto ended = apply_overrides()) return *ended;
        if (auto ended = refuse_places_out_of_reach()) return *ended;
        return run_application();
    }

  private:
    // --generate-config writes the template and ends the run, whatever else was given.
    std::optional<int> write_template() {
        if (!args_.generate_config) return std::nullopt;
        fs::path written = fileIO::save_yaml_template(std::string(binding_.default_yaml), template_file_name(binding_));
        std::string lead = binding_.template_line_mark ? "✅ " : "";
        support::echo(lead + "Success! Template file created at: " + support::utf8_text(written));
        return 0;
    }

    // A command that runs the agent ends here when there is none to run.
    std::optional<int> require_agent() {
        if (!binding_.uses_agent) return std::nullopt;
        if (auto missing = mindrel::agy_missing(log_)) return failed(missing->text);
        return std::nullopt;
    }

    // The run's failure line ("Error: " or "❌ Error: " and the reason) and its status.
    int failed(const std::string& reason) {
        error_line((binding_.marked_result ? "❌ Error: " : "Error: ") + reason);
        return 1;
    }

    // The file named with -c; an empty name offers this folder's configuration files.
    // Without -c there is no file: the template is the configuration.
    std::optional<int> choose_configuration() {
        if (!args_.config) return std::nullopt;
        std::string path = *args_.config;
        named_config_ = !path.empty();
        if (named_config_) named_.add(support::path_from_utf8(path));
        if (path.empty()) {
            // Files found here are the repository's: one that a link takes out of the
            // working copy is not offered (the search says so).
            auto found = fileIO::find_files_with_extensions(
                "./", {.extensions = {".yaml", ".yml"}, .recursive = false, .prefix = {"config"}, .logger = &log_});
            if (binding_.auto_single_candidate && found.paths.size() == 1) {
                path = support::utf8_text(found.paths.front());
                log_.info("💬 偵測到僅有單一設定檔，已自動選用：" + path);
            } else if (!found.paths.empty()) {
                support::echo("\n--- 💬 偵測到現有設定檔，請選擇一個使用 (直接按 Enter 取消) ---");
                auto chosen = fileIO::interactive_select_files(found.paths, found.names, "", fileIO::Picks::one);
                if (!chosen.empty()) path = support::utf8_text(chosen.front().first);
            }
            if (path.empty()) {
                error_line("❌ Error: No configuration file selected or found.");
                return 1;
            }
        }
        path_ = path;
        return std::nullopt;
    }

    // A configuration of nothing ends the run quietly.
    std::optional<int> load_configuration() {
        std::optional<YAML::Node> loaded;
        if (!path_) {
            loaded = fileIO::load_yaml_string(std::string(binding_.default_yaml), "預設設定");
        } else {
            const fs::path file = support::path_from_utf8(*path_);
            std::error_code ec;
            if (!fs::exists(file, ec)) {
                error_line("❌ Error: Config file '" + *path_ + "' does not exist.");
                return 1;
            }
            if (auto ended = hold_configuration(file)) return *ended;
            // Read once. An empty document is a configuration of nothing; anything else
            // the loader refuses is an error the user must hear about.
            loaded = fileIO::load_yaml_config(file, true);
            if (!loaded) {
                error_line("❌ Error: Config file '" + *path_ + "' could not be loaded.");
                return 1;
            }
            context_.config_path = support::path_from_utf8(*path_);
            if (named_config_) name_settings(*loaded);
        }
        if (!loaded || loaded->IsNull()) return 0;
        configuration_ = std::move(loaded);
        return std::nullopt;
    }

    // The configuration's folder, for a binding that runs once at a time on its file.
    std::optional<int> hold_configuration(const fs::path& file) {
        if (!binding_.one_run_per_configuration) return std::nullopt;
        try {
            config_lock_.emplace(file.has_parent_path() ? file.parent_path() : fs::path("."));
        } catch (const fs::filesystem_error&) {
            return std::nullopt;  // a folder that cannot be locked is not held; the run goes on
        }
        if (!config_lock_->busy()) return std::nullopt;
        const std::string reason = "另一個執行中的指令正在使用設定檔 " + *path_;
        log_.error("❌ " + reason + "，請等它結束後再試一次。");
        return failed(reason);
    }

    // A non-empty --model, and --output-dir as the binding takes it, replace the settings.
    std::optional<int> apply_overrides() {
        bool model_override = args_.model && !args_.model->empty();
        bool output_override = args_.output_dir && (binding_.empty_output_is_dot || !args_.output_dir->empty());
        if (!model_override && !output_override) return std::nullopt;
        auto settings = settings_of(*configuration_);
        if (!settings) {
            error_line("❌ Error: The 'config' entry of the configuration is not a mapping.");
            return 1;
        }
        if (model_override) {
            (*settings)["default_model"] = mindrel::model_from_option(*args_.model, log_);
        }
        if (output_override) {
            std::string folder = args_.output_dir->empty() ? "./" : *args_.output_dir;
            named_.add(support::path_from_utf8(folder));
            (*settings)[binding_.output_key] = folder;
            log_.info("✅ 已手動指定輸出目錄：" + folder);
        }
        return std::nullopt;
    }

    // A configuration that the search found was not named by the user: it came with the
    // working copy, so a place it sets outside is refused, with the way to allow it.
    std::optional<int> refuse_places_out_of_reach() {
        if (!path_ || named_config_ || !binding_.place_settings) return std::nullopt;
        for (const auto& [key, value] : binding_.place_settings(*configuration_)) {
            if (value.empty() || !fileIO::out_of_reach(support::path_from_utf8(value), fileIO::Deed::read)) continue;
            error_line("❌ Error: The setting '" + key + "' of the configuration file '" + *path_ +
                       "', which -c found without a path, leads outside the working copy: '" + value +
                       "'. Name the file with -c " + *path_ + " to allow it.");
            return 1;
        }
        return std::nullopt;
    }

    // The settings of a configuration the user named are the user's: every text among
    // them that names a place (an output folder, an instruction file) names it for them.
    void name_settings(const YAML::Node& configuration) {
        const YAML::Node settings = fileIO::child(configuration, "config");
        if (!settings.IsMap()) return;
        for (const auto& item : settings)
            if (item.second.IsScalar() && !item.second.Scalar().empty() && support::is_valid_utf8(item.second.Scalar()))
                named_.add(support::path_from_utf8(item.second.Scalar()));
    }

    int run_application() {
        if (context_.file && !context_.file->empty()) named_.add(support::path_from_utf8(*context_.file));
        support::Result result;
        {
            // What the user typed stays on disk when the command fails after it, an
            // interrupt or an error included, and goes when the command succeeds.
            struct TypedInput {
                bool ok = false;
                ~TypedInput() { fileIO::settle_typed_input(!ok); }
            } typed;
            result = binding_.run(*configuration_, context_);
            typed.ok = result.ok;
        }
        if (result.ok) {
            support::echo((binding_.marked_result ? "✅ Done: " : "Done: ") + result.text);
            return 0;
        }
        return failed(result.text);
    }

    const Binding& binding_;
    const Args& args_;
    const brenkit::app_logging::Logger& log_;
    Context context_;
    std::optional<std::string> path_{};          // the configuration file, when -c was given
    bool named_config_ = false;                  // -c PATH named it (no search found it)
    std::optional<YAML::Node> configuration_{};  // once loaded
    fileIO::NamedPlaces named_;                  // for as long as the run lasts
    std::optional<support::FolderLock> config_lock_;  // one_run_per_configuration
};

}  // namespace

Args args_from(const vemtora::OptionValues& values) {
    return {
        .config = values.text("config"),
        .generate_config = values.flag("generate_config"),
        .debug = values.flag("debug"),
        .model = values.text("model"),
        .output_dir = values.text("output_dir"),
        .skip_editor = values.flag("skip_editor"),
        .file = values.text("file"),
    };
}

bool enter_debug_mode(bool flag, const brenkit::app_logging::Logger* announce) {
    if (!flag && support::get_env("DOVUD_DEBUG") != std::optional<std::string>("1")) return false;
    support::set_env("DOVUD_DEBUG", "1");
    brenkit::app_logging::setup_logging("Vemtora", true);
    if (announce) announce->debug("Debug mode is ON.");
    return true;
}

std::vector<std::string> with_empty_values(const std::vector<std::string>& args,
                                           std::initializer_list<std::string_view> options) {
    std::vector<std::string> out;
    out.reserve(args.size() + options.size());
    for (size_t i = 0; i < args.size(); ++i) {
        out.push_back(args[i]);
        bool takes_value = std::find(options.begin(), options.end(), args[i]) != options.end();
        if (takes_value && (i + 1 == args.size() || args[i + 1].starts_with("-"))) out.emplace_back();
    }
    return out;
}

std::string template_file_name(const Binding& binding) { return template_name(binding.module_name); }

int run(const Binding& binding, const Args& args) { return FrameRun(binding, args)(); }

std::vector<Example> usual_examples(const std::string& name, const UsualExamples& texts) {
    const std::string command = "vemtora " + name;
    std::vector<Example> examples = {
        {"Generate config template:", command + " --generate-config"},
        {texts.run_title, command + " -c config.yaml"},
        {"Run with default settings (Default mode):", command},
    };
    if (texts.model)
        examples.push_back(
            {"Run with default settings and specify a model:", command + " --model \"" + *texts.model + "\""});
    examples.push_back({"Interactive config selection (when -c is provided without arguments):", command + " -c"});
    examples.insert(examples.end(), texts.more.begin(), texts.more.end());
    return examples;
}

std::string epilog(const std::vector<Example>& examples, std::string_view features, std::string_view gap) {
    std::string text = "\b\nExamples:\n";
    for (size_t i = 0; i < examples.size(); ++i) {
        if (i > 0) text += "\b\n";
        text += "  " + std::to_string(i + 1) + ". " + examples[i].title + "\n     " + examples[i].command + "\n";
    }
    if (!features.empty()) text += std::string(gap) + std::string(features);
    return text;
}

std::string standard_epilog(const std::string& name, std::string_view features) {
    return epilog(usual_examples(name), features);
}

YAML::Node settings_section(const YAML::Node& config_dict) {
    YAML::Node section = fileIO::child(config_dict, "config");
    if (section.IsMap()) return section;
    if (section.IsDefined())
        fileIO::warn_wrong_kind("config", section, "a mapping", "every setting takes its default");
    return YAML::Node(YAML::NodeType::Map);
}

std::string default_model_of(const YAML::Node& settings) {
    std::string model = fileIO::text_setting(settings, "default_model", std::string(mindrel::default_agy_model));
    if (support::strip(model).empty()) model = mindrel::default_agy_model;
    return mindrel::resolve_model_name(model);
}

YAML::Node backup_model_of(const YAML::Node& settings, const YAML::Node& fallback) {
    YAML::Node backup = fileIO::child(settings, "backup_model");
    if (!backup.IsDefined()) return mindrel::resolve_model_name(fallback);
    if (backup.IsMap() || backup.IsNull()) {
        const YAML::Node& named = fallback.IsSequence() && fallback.size() > 0 ? fallback[0] : fallback;
        fileIO::warn_wrong_kind("backup_model", backup, "a model name or a list of them",
                                fileIO::default_used(named.IsScalar() ? named.Scalar() : ""));
        return mindrel::resolve_model_name(fallback);
    }
    return mindrel::resolve_model_name(backup);
}

vemtora::CommandDecl declare(Declaration declaration) {
    if (!holds_configuration(declaration.binding.default_yaml))
        throw std::logic_error("the configuration template of the command '" + declaration.name +
                               "' holds no configuration");
    if (declaration.options.module_name.empty()) declaration.options.module_name = declaration.name;
    if (declaration.binding.module_name.empty()) declaration.binding.module_name = declaration.name;
    declaration.binding.uses_agent = declaration.runs_agent;
    auto options = standard_options(declaration.options);
    options.insert(options.end(), std::make_move_iterator(declaration.more_options.begin()),
                   std::make_move_iterator(declaration.more_options.end()));
    const std::string_view default_yaml = declaration.binding.default_yaml;
    return {
        .name = std::move(declaration.name),
        .help = std::move(declaration.help),
        .epilog = std::move(declaration.epilog),
        .options = std::move(options),
        .entry = [binding = std::move(declaration.binding)](const vemtora::OptionValues& values) {
            return run(binding, args_from(values));
        },
        .on_load = std::move(declaration.on_load),
        .default_yaml = default_yaml,
        .runs_agent = declaration.runs_agent,
    };
}

std::vector<vemtora::OptionDecl> standard_options(const StandardOptions& options) {
    using vemtora::OptionKind;
    auto value_kind = [](bool optional) { return optional ? OptionKind::optional_value : OptionKind::value; };
    std::vector<vemtora::OptionDecl> list = {
        {.long_name = "--config", .short_name = "-c", .kind = value_kind(options.optional_config),
         .help = std::string(options.config_help), .metavar = "PATH"},
        {.long_name = "--generate-config", .kind = OptionKind::flag,
         .help = "Generate " + template_name(options.module_name)},
        {.long_name = "--debug", .kind = OptionKind::flag, .help = "Enable debug mode"},
    };
    if (options.model)
        list.push_back({.long_name = "--model", .short_name = "-m", .kind = OptionKind::value,
                        .help = "Specify the Gemini model to use"});
    if (options.output_dir_help)
        list.push_back({.long_name = "--output-dir", .short_name = "-o", .kind = value_kind(options.optional_output_dir),
                        .help = std::string(*options.output_dir_help), .metavar = "PATH"});
    if (options.skip_editor_help)
        list.push_back({.long_name = "--skip-editor", .short_name = "-s", .kind = OptionKind::flag,
                        .help = std::string(*options.skip_editor_help)});
    return list;
}

}  // namespace vemtora::frame

// The command "varnel": its declaration and entry function.
#include "vemtora/varnel.hpp"

namespace vemtora::varnel {

namespace {

constexpr std::string_view epilog =
    "\b\n"
    "Examples:\n"
    "  1. Generate config template:\n"
    "     vemtora varnel --generate-config\n"
    "\b\n"
    "  2. Run with configuration:\n"
    "     vemtora varnel -c config.yaml\n"
    "\b\n"
    "  3. Run with default settings (Default mode):\n"
    "     vemtora varnel\n"
    "\b\n"
    "  4. Interactive config selection (when -c is provided without arguments):\n"
    "     vemtora varnel -c\n";

}  // namespace

int cmd_varnel(const frame::Args& args) {
    frame::Binding binding;
    binding.module_name = "varnel";
    binding.default_yaml = DEFAULT_YAML_CONTENT;
    binding.log = &log();
    binding.auto_single_candidate = true;  // a lone configuration file is taken without asking
    binding.run = [](YAML::Node& configuration, const frame::Context& context) {
        VarnelApp app(configuration, context.config_path);
        return app.run();
    };
    return frame::run(binding, args);
}

host::CommandDecl command() {
    host::OptionDecl config;
    config.long_name = "--config";
    config.short_name = "-c";
    config.kind = host::OptionKind::optional_value;
    config.help = "Specify the YAML config file path. If -c is provided without arguments, it will trigger "
                  "interactive config selection.";
    config.metavar = "PATH";
    host::OptionDecl generate_config;
    generate_config.long_name = "--generate-config";
    generate_config.help = "Generate config_varnel_template.yaml";
    host::OptionDecl debug;
    debug.long_name = "--debug";
    debug.help = "Enable debug mode";

    host::CommandDecl decl;
    decl.name = "varnel";
    decl.help = "Generate an Varnel page from a YAML configuration file.";
    decl.epilog = std::string(epilog);
    decl.options = {config, generate_config, debug};
    decl.entry = [](const host::OptionValues& values) { return cmd_varnel(frame::args_from(values)); };
    decl.on_load = rewrite_arguments;
    return decl;
}

}  // namespace vemtora::varnel

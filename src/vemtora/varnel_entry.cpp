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

frame::Binding binding() {
    frame::Binding binding;
    binding.module_name = "varnel";
    binding.default_yaml = DEFAULT_YAML_CONTENT;
    binding.log = &log();
    binding.auto_single_candidate = true;  // a lone configuration file is taken without asking
    binding.run = [](YAML::Node& configuration, const frame::Context& context) {
        VarnelApp app(configuration, context.config_path);
        return app.run();
    };
    return binding;
}

}  // namespace

int run_command(const frame::Args& args) { return frame::run(binding(), args); }

host::CommandDecl cmd_varnel() {
    frame::StandardOptions options;
    options.module_name = "varnel";
    options.optional_config = true;
    options.model = false;
    auto decl = frame::declare("varnel", "Generate an Varnel page from a YAML configuration file.", epilog,
                               frame::standard_options(options), binding());
    decl.on_load = rewrite_arguments;
    return decl;
}

}  // namespace vemtora::varnel

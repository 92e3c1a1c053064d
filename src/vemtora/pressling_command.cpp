// The command "pressling": declaration, argument rewrite and entry function.
#include <filesystem>

#include "vemtora/frame.hpp"
#include "vemtora/pressling.hpp"

namespace vemtora::pressling {

namespace {

const char* const kEpilog =
    "\b\n"
    "Examples:\n"
    "  1. Generate config template:\n"
    "     vemtora pressling --generate-config\n"
    "\b\n"
    "  2. Run with configuration:\n"
    "     vemtora pressling -c config.yaml\n"
    "\b\n"
    "  3. Run with default settings (Default mode):\n"
    "     vemtora pressling\n"
    "\b\n"
    "  4. Interactive config selection (when -c is provided without arguments):\n"
    "     vemtora pressling -c\n"
    "\b\n"
    "  5. Specify the output directory (when -o is provided without arguments, it defaults to current directory):\n"
    "     vemtora pressling -o\n"
    "\b\n"
    "  6. Specify a custom output directory:\n"
    "     vemtora pressling -o ./my-outputs\n"
    "\b\n"
    "  7. Process a specific Markdown file (skips interactive selection):\n"
    "     vemtora pressling -f my_document.md\n";

// The --file value must name an existing file that is not a folder.
std::string check_existing_file(const std::string& value) {
    std::error_code ec;
    auto status = std::filesystem::status(value, ec);
    if (!std::filesystem::exists(status)) return "File '" + value + "' does not exist.";
    if (std::filesystem::is_directory(status)) return "File '" + value + "' is a directory.";
    return "";
}

host::OptionDecl option(std::string long_name, std::string short_name, host::OptionKind kind, std::string help,
                        std::string metavar = "TEXT") {
    host::OptionDecl decl;
    decl.long_name = std::move(long_name);
    decl.short_name = std::move(short_name);
    decl.kind = kind;
    decl.help = std::move(help);
    decl.metavar = std::move(metavar);
    return decl;
}

}  // namespace

std::vector<std::string> rewrite_arguments(const std::vector<std::string>& args) {
    std::vector<std::string> out;
    out.reserve(args.size() + 2);
    for (size_t i = 0; i < args.size(); ++i) {
        out.push_back(args[i]);
        const std::string& a = args[i];
        bool takes_value = a == "-c" || a == "--config" || a == "-o" || a == "--output-dir";
        if (takes_value && (i + 1 == args.size() || args[i + 1].starts_with("-"))) out.emplace_back();
    }
    return out;
}

int cmd_pressling(const host::OptionValues& values) {
    std::optional<std::string> file = values.text("file");
    frame::Binding binding;
    binding.module_name = "pressling";
    binding.default_yaml = DEFAULT_YAML_CONTENT;
    binding.log = &log();
    binding.output_key = "output_path";
    binding.empty_output_is_dot = true;
    binding.run = [file](YAML::Node& configuration, const frame::Context&) {
        PresslingConverter converter(configuration);
        return converter.run(file);
    };
    return frame::run(binding, frame::args_from(values));
}

host::CommandDecl command() {
    using host::OptionKind;
    host::CommandDecl decl;
    decl.name = "pressling";
    decl.help = "Convert Notion exported .md files to HTML pages.";
    decl.epilog = kEpilog;
    decl.options = {
        option("--config", "-c", OptionKind::optional_value,
               "Specify the YAML config file path. If -c is provided without arguments, it will trigger interactive "
               "config selection.",
               "PATH"),
        option("--generate-config", "", OptionKind::flag, "Generate config_pressling_template.yaml"),
        option("--debug", "", OptionKind::flag, "Enable debug mode"),
        option("--output-dir", "-o", OptionKind::optional_value, "Specify the output directory for generated files.",
               "PATH"),
        option("--file", "-f", OptionKind::value,
               "Specify the Markdown file to process. If provided, skips interactive selection.", "FILE"),
    };
    decl.options.back().check = check_existing_file;
    decl.entry = cmd_pressling;
    decl.on_load = [](std::vector<std::string>& args) { args = rewrite_arguments(args); };
    return decl;
}

}  // namespace vemtora::pressling

// The command "pressling": configuration template, declaration, argument rewrite and
// entry function.
#include <filesystem>

#include "brenkit/fileIO.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/publishing/pressling.hpp"
#include "support/paths.hpp"

namespace vemtora::pressling {

const std::string_view DEFAULT_YAML_CONTENT =
    "config:\n"
    "  input_path: \"./\"\n"
    "  output_path: \"./\"\n"
    "  embed_images: true\n"
    "  watermark_enable: false\n"
    "  watermark_text: \"CONFIDENTIAL\"\n";

namespace {

// The --file value must name an existing file that is not a folder.
std::string check_existing_file(const std::string& value) {
    std::error_code ec;
    auto status = std::filesystem::status(support::path_from_utf8(value), ec);
    if (!std::filesystem::exists(status)) return "File '" + value + "' does not exist.";
    if (std::filesystem::is_directory(status)) return "File '" + value + "' is a directory.";
    return "";
}

// The folder the sources are searched in and the folder the pages go to.
std::vector<frame::PlaceSetting> place_settings(const YAML::Node& configuration) {
    namespace fileIO = brenkit::fileIO;
    std::vector<frame::PlaceSetting> places;
    const YAML::Node settings = fileIO::child(configuration, "config");
    for (const char* key : {"input_path", "output_path"})
        if (const YAML::Node value = fileIO::child(settings, key); value.IsScalar()) places.push_back({key, value.Scalar()});
    return places;
}

}  // namespace

std::vector<std::string> rewrite_arguments(const std::vector<std::string>& args) {
    return frame::with_empty_values(args, {"-c", "--config", "-o", "--output-dir"});
}

vemtora::CommandDecl cmd_pressling() {
    return frame::declare(
        {.name = "pressling",
         .help = "Convert Notion exported .md files to HTML pages.",
         .epilog = frame::epilog(frame::usual_examples(
             "pressling",
             {.run_title = "Run with configuration:",
              .model = std::nullopt,
              .more = {{"Specify the output directory (when -o is provided without arguments, it defaults to current "
                        "directory):",
                        "vemtora pressling -o"},
                       {"Specify a custom output directory:", "vemtora pressling -o ./my-outputs"},
                       {"Process a specific Markdown file (skips interactive selection):",
                        "vemtora pressling -f my_document.md"}}})),
         .options = {.optional_config = true,
                     .model = false,
                     .output_dir_help = "Specify the output directory for generated files.",
                     .optional_output_dir = true},
         .more_options = {{.long_name = "--file",
                           .short_name = "-f",
                           .kind = vemtora::OptionKind::value,
                           .help = "Specify the Markdown file to process. If provided, skips interactive selection.",
                           .metavar = "FILE",
                           .check = check_existing_file}},
         .on_load = [](std::vector<std::string>& args) { args = rewrite_arguments(args); },
         .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                     .log = &log(),
                     .output_key = "output_path",
                     .empty_output_is_dot = true,
                     .place_settings = place_settings,
                     .run = [](YAML::Node& configuration, const frame::Context& context) {
                         PresslingConverter converter(configuration, context.debug);
                         return converter.run(context.file);
                     }},
         .runs_agent = false});
}

}  // namespace vemtora::pressling

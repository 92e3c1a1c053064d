// The command "varnel": its configuration template, the rewrite of a bare -c, its
// declaration and entry function.
#include "vemtora/publishing/varnel.hpp"

namespace vemtora::varnel {

const std::string_view DEFAULT_YAML_CONTENT = R"(document_title: "[Project Name] Documentation"
document_description: "Welcome to the [Project Name] documentation. Please select a document below to explore the details."
download_link: "package.zip"

document1_title: "[template_doc]"
document1_file: "template_doc.html"
document1_description: "[Brief description of the document's purpose and contents.]"

document2_title: "[template_flow_chart]"
document2_file: "template_flow_chart.html"
document2_description: "[Brief description of the document's purpose and contents.]"

document3_title: "[log text file]"
document3_file: "log.txt"
document3_description: "Brief description of the log text purpose and contents."

document4_title: "log zip file"
document4_file: "log.zip"
document4_description: "Brief description of the log zip file purpose and contents."

document5_title: "download from R2"
document5_file: "download/hello.txt"
document5_description: "Brief description of the document3 purpose and contents."
)";

namespace {

// The package's place and every document's file.
std::vector<frame::PlaceSetting> place_settings(const YAML::Node& configuration) {
    std::vector<frame::PlaceSetting> places;
    if (!configuration.IsMap()) return places;
    for (const auto& item : configuration) {
        if (!item.first.IsScalar() || !item.second.IsScalar()) continue;
        const std::string& key = item.first.Scalar();
        const auto entry = parse_document_key(key);
        if ((key == download_key || (entry && entry->field == "file")) && names_local_file(item.second.Scalar()))
            places.push_back({key, item.second.Scalar()});
    }
    return places;
}

}  // namespace

void rewrite_arguments(std::vector<std::string>& args) { args = frame::with_empty_values(args, {"-c", "--config"}); }

vemtora::CommandDecl cmd_varnel() {
    return frame::declare({.name = "varnel",
                           .help = "Generate an Varnel page from a YAML configuration file.",
                           .epilog = frame::epilog(frame::usual_examples(
                               "varnel", {.run_title = "Run with configuration:", .model = std::nullopt})),
                           .options = {.optional_config = true, .model = false},
                           .on_load = rewrite_arguments,
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       // a lone configuration file is taken without asking
                                       .auto_single_candidate = true,
                                       // entries typed at its questions are written back
                                       .one_run_per_configuration = true,
                                       .place_settings = place_settings,
                                       .run = [](YAML::Node& configuration, const frame::Context& context) {
                                           VarnelApp app(configuration, context.config_path);
                                           return app.run();
                                       }},
                           .runs_agent = false});
}

}  // namespace vemtora::varnel

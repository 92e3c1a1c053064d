// The diagram writer: kind, instruction files and template, sources or a typed
// description, one agent pass, the diagram wrapped in its block and saved.
#include "vemtora/documents/flowkin.hpp"

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/exchange.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::flowkin {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: CLI application generated from template.\n"
    "  - Automatically loads and downloads goals and skills from remote repository.\n"
    "  - Supports custom model selection.\n"
    "  - Supports Agy goals and skill configurations.\n";

constexpr std::string_view opening_tag = "<div style=\"margin: 0px 60px; width: 40%;\" markdown=\"1\">";
constexpr std::string_view closing_tag = "</div>";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Flowkin"); }

const std::vector<DiagramKind>& mmd_configs() {
    static const std::vector<DiagramKind> kinds{
        {"單一模塊流程圖 (Flowchart One Block)", "flowchart_one_block_template.md", "Flowchart_OneBlock_{module_name}.md"},
        {"PPT 風格雙欄流程圖 (Flowchart PPT Style)", "flowchart_ppt_style_template.md",
         "Flowchart_PPTStyle_{module_name}.md"},
        {"軟體分層架構圖 (Software Layer Flowchart)", "flowchart_sw_layer_template.md", "Software_Layer_{module_name}.md"},
        {"狀態機/狀態轉移圖 (State Logic Diagram)", "state_logic_template.mmd", "State_Logic_{module_name}.md"},
    };
    return kinds;
}

const DiagramKind& kind_for(const std::string& choice) {
    for (const auto& kind : mmd_configs())
        if (kind.name == choice) return kind;
    return mmd_configs().front();
}

std::string wrap_diagram(std::string text) {
    // Each pass removes one outer pair, so the loop ends.
    while (text.size() >= opening_tag.size() + closing_tag.size() && text.starts_with(opening_tag) &&
           text.ends_with(closing_tag)) {
        text = std::string(support::strip(std::string_view(text).substr(
            opening_tag.size(), text.size() - opening_tag.size() - closing_tag.size())));
    }
    return std::string(opening_tag) + "\n\n" + text + "\n\n" + std::string(closing_tag);
}

std::string build_prompt(const PromptInputs& in) {
    std::string prompt = "根據 " + exchange::reference(in.goal_path) + " 裡的 `mermaid-chart-gen` 指示與 " +
                         exchange::reference(in.skill_path) +
                         " 技能：\n請仔細解析並繪製對應的 Mermaid 圖表：\n\n【特定任務設定】:\n- 目標模組 (module_name)：" +
                         in.module_name + "\n- 參考 Mermaid 範本路徑 (template_path，請自行使用工具讀取內容)：@[" +
                         (in.template_path ? exchange::prompt_path(*in.template_path) : "無") + "]\n\n";
    if (!in.sources.empty()) {
        std::vector<std::string> refs;
        for (const auto& source : in.sources) refs.push_back("- " + exchange::reference(source));
        prompt += "- 參考原始碼清單 (file_refs，請自行使用工具讀取其內容並進行分析)：\n" + support::join(refs, "\n") + "\n\n";
    }
    if (!in.requirement.empty()) prompt += "- 額外繪圖需求 (custom_requirements)：\n" + in.requirement + "\n\n";
    return prompt + exchange::output_request("：", "生成的 Mermaid 圖表內容", fs::path(agent_output));
}

FlowkinApp::FlowkinApp(const YAML::Node& config_dict, bool skip_editor_flag) : skip_editor(skip_editor_flag) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./flowkin");
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", "_agy/goal/mermaid-chart.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/mermaid-chart-expert.yaml"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config, YAML::Node("gemini-3.5-flash-l"));
}

Result FlowkinApp::run() {

    // ---- kind and instruction files ----
    log().info("✅ 🚀 開始 Flowkin 生成程序。輸出目錄：" + output_dir);
    const fs::path out_folder = support::path_from_utf8(output_dir);
    if (auto failed = exchange::prepare_output_dir(out_folder, log())) return *failed;
    std::vector<std::string> names;
    for (const auto& kind : mmd_configs()) names.push_back(kind.name);
    const std::string choice = fileIO::select_option(fileIO::number_prompt, names, "1", "💬 請選擇輸出 Mermaid 圖表類型");
    const DiagramKind& kind = kind_for(choice);
    template_path = fs::path("template/mmd") / support::path_from_utf8(kind.templ);
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    template_path = exchange::fetch_optional_template(*template_path, "template/mmd/", "手冊範本", log());
    if (template_path) log().info("✅ 輸出範本已就緒：" + support::utf8_text(template_path->filename()));

    // ---- sources and output name ----
    auto sources = fileIO::scan_and_select_files(
        "./", {.extensions = {".c", ".h", ".cpp", ".py", ".md"},
               .exclude_names = {"__init__"},
               .exclude_paths = {".venv", "build", "dist", "__pycache__", ".agents", ".git"},
               .label = "目標原始碼檔案",
               .logger = &log()});
    std::string module_name = "Custom";
    if (!sources.empty()) {
        module_name = support::utf8_text(sources.front().first.stem());
        exchange::log_module_name(module_name, log());
    } else {
        log().warning("⚠️ 未選取任何檔案，將改為僅依據生成需求生成圖表。");
    }
    fs::path out_path = fileIO::setup_output_file(
        out_folder, support::replace_all(kind.save_fmt, "{module_name}", module_name), &log());
    exchange::log_generate_mode(out_path, log());
    if (auto refused = exchange::refuse_link_out(out_path, fileIO::Deed::write, log())) return *refused;

    // ---- requirement: mandatory without sources ----
    std::string requirement;
    if (!skip_editor) {
        const std::string initial =
            sources.empty() ? "# 由於您未選取任何原始碼檔案，您必須在此輸入 " + choice +
                                  " 生成需求。\n# 若未輸入任何需求（即留空），程式將直接結束。\n# 存檔並關閉編輯器以繼續。\n"
                            : exchange::generate_requirement_marker(choice);
        auto typed = fileIO::get_user_input_via_editor(initial, choice + " 生成需求", &log());
        if (!typed) return exchange::editor_failed();
        requirement = std::string(support::strip(*typed));
        if (!requirement.empty()) {
            exchange::log_requirement(requirement, log());
        } else if (!sources.empty()) {
            log().info("✅ 未輸入額外需求，將使用預設規則生成。");
        } else {
            log().error("❌ 未選取檔案且未輸入任何生成需求，程式已結束。");
            return Result::failure("❌ 未選取檔案且未填寫生成需求，已跳出程式。");
        }
    } else if (!sources.empty()) {
        log().info("✅ 跳過編輯器，將使用預設規則生成。");
    } else {
        log().error("❌ 未選取檔案且設定了跳過編輯器，程式已結束。");
        return Result::failure("❌ 未選取檔案且跳過編輯器（無法填寫需求），已跳出程式。");
    }

    // ---- agent pass ----
    std::vector<fs::path> source_paths;
    for (const auto& [path, name] : sources) source_paths.push_back(path);
    const std::string prompt = build_prompt({.goal_path = goal_path,
                                             .skill_path = skill_path,
                                             .module_name = module_name,
                                             .template_path = template_path,
                                             .sources = source_paths,
                                             .requirement = requirement});
    std::optional<fs::path> target;
    if (!source_paths.empty()) target = source_paths.front();
    auto answer = exchange::agent_pass(agent_output,
                                       {.file_path = target,
                                        .prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = skill_path,
                                        .output_dir = out_folder,
                                        .add_dot_dir = true},
                                       "AI 產出的圖表內容", log());
    if (!answer.ok) return answer;
    const std::string& content = answer.text;
    if (content.empty()) return Result::failure("❌ AI 生成 Mermaid 圖表失敗，請檢查設定。");

    // ---- save ----
    const auto saved_path = exchange::overwrite_target(out_path, out_folder, log());
    if (!saved_path) return Result::failure(fileIO::no_unique_path);
    return exchange::save_document(*saved_path, wrap_diagram(content), answer.file, "Mermaid 圖表",
                                   "🎉 成功完成處理！檔案已儲存：", log());
}

vemtora::CommandDecl cmd_flowkin() {
    return frame::declare(
        {.name = "flowkin",
         .help = "CLI application generated from template.",
         .epilog = frame::epilog(
             frame::usual_examples(
                 "flowkin",
                 {.run_title = "Run with configuration:",
                  .model = "Gemini 3.5 Flash (Medium)",
                  .more = {{"Specify the output directory:", "vemtora flowkin -o ./my-outputs"},
                           {"Skip editor prompts for custom requirements (Run automatically):",
                            "vemtora flowkin -s"}}}),
             features, "\b\n"),  // the features follow a backspace mark alone
         .options = {.output_dir_help = "Specify the output directory for generated files.",
                     .skip_editor_help = "Skip the editor prompt for custom requirements."},
         .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                     .log = &log(),
                     .run = frame::runs_app_with_skip_editor<FlowkinApp>()}});
}

}  // namespace vemtora::flowkin

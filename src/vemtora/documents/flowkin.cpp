// The diagram writer: kind, instruction files and template, sources or a typed
// description, one agent pass, the diagram wrapped in its block and saved.
#include "vemtora/documents/flowkin.hpp"

#include "brenkit/fileIO.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
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
    if (auto failed = choose_kind()) return *failed;
    if (auto failed = choose_sources()) return *failed;
    if (auto failed = ask_requirement()) return *failed;
    exchange::AgentAnswer diagram;
    if (auto failed = draw_diagram(diagram)) return *failed;
    const auto saved_path = exchange::overwrite_target(out_path_, out_folder_, log());
    if (!saved_path) return Result::failure(fileIO::no_unique_path);
    return exchange::save_document(*saved_path, wrap_diagram(diagram.text), diagram.file, "Mermaid 圖表",
                                   "🎉 成功完成處理！檔案已儲存：", log());
}

// The output folder, the diagram kind, and its instruction and template files.
std::optional<Result> FlowkinApp::choose_kind() {
    log().info("✅ 🚀 開始 Flowkin 生成程序。輸出目錄：" + output_dir);
    out_folder_ = support::path_from_utf8(output_dir);
    if (auto failed = exchange::prepare_output_dir(out_folder_, log())) return *failed;
    std::vector<std::string> names;
    for (const auto& kind : mmd_configs()) names.push_back(kind.name);
    choice_ = fileIO::select_option(fileIO::number_prompt, names, "1", "💬 請選擇輸出 Mermaid 圖表類型");
    kind_ = &kind_for(choice_);
    template_path = fs::path("template/mmd") / support::path_from_utf8(kind_->templ);
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    template_path = exchange::fetch_optional_template(*template_path, "template/mmd/", "手冊範本", log());
    if (template_path) log().info("✅ 輸出範本已就緒：" + support::utf8_text(template_path->filename()));
    return std::nullopt;
}

// The sources, the module name the first one gives, and the output file named after it.
std::optional<Result> FlowkinApp::choose_sources() {
    auto sources = fileIO::scan_and_select_files(
        "./", {.extensions = {".c", ".h", ".cpp", ".py", ".md"},
               .exclude_names = {"__init__"},
               .exclude_paths = {".venv", "build", "dist", "__pycache__", ".agents", ".git"},
               .label = "目標原始碼檔案",
               .logger = &log()});
    for (const auto& [path, name] : sources) sources_.push_back(path);
    if (!sources_.empty()) {
        module_name_ = support::utf8_text(sources_.front().stem());
        exchange::log_module_name(module_name_, log());
    } else {
        log().warning("⚠️ 未選取任何檔案，將改為僅依據生成需求生成圖表。");
    }
    out_path_ = fileIO::setup_output_file(
        out_folder_, support::replace_all(kind_->save_fmt, "{module_name}", module_name_), &log());
    exchange::log_generate_mode(out_path_, log());
    return exchange::refuse_link_out(out_path_, fileIO::Deed::write, log());
}

// The requirement: mandatory without sources.
std::optional<Result> FlowkinApp::ask_requirement() {
    if (!skip_editor) {
        const std::string initial =
            sources_.empty() ? "# 由於您未選取任何原始碼檔案，您必須在此輸入 " + choice_ +
                                   " 生成需求。\n# 若未輸入任何需求（即留空），程式將直接結束。\n# 存檔並關閉編輯器以繼續。\n"
                             : exchange::generate_requirement_marker(choice_);
        auto typed = fileIO::get_user_input_via_editor(initial, choice_ + " 生成需求", &log());
        if (!typed) return exchange::editor_failed();
        requirement_ = std::string(support::strip(*typed));
        if (!requirement_.empty()) {
            exchange::log_requirement(requirement_, log());
        } else if (!sources_.empty()) {
            log().info("✅ 未輸入額外需求，將使用預設規則生成。");
        } else {
            log().error("❌ 未選取檔案且未輸入任何生成需求，程式已結束。");
            return Result::failure("❌ 未選取檔案且未填寫生成需求，已跳出程式。");
        }
    } else if (!sources_.empty()) {
        log().info("✅ 跳過編輯器，將使用預設規則生成。");
    } else {
        log().error("❌ 未選取檔案且設定了跳過編輯器，程式已結束。");
        return Result::failure("❌ 未選取檔案且跳過編輯器（無法填寫需求），已跳出程式。");
    }
    return std::nullopt;
}

// The agent's pass; its answer is the diagram.
std::optional<Result> FlowkinApp::draw_diagram(exchange::AgentAnswer& diagram) {
    const std::string prompt = build_prompt({.goal_path = goal_path,
                                             .skill_path = skill_path,
                                             .module_name = module_name_,
                                             .template_path = template_path,
                                             .sources = sources_,
                                             .requirement = requirement_});
    std::optional<fs::path> target;
    if (!sources_.empty()) target = sources_.front();
    diagram = exchange::agent_pass(agent_output,
                                   {.file_path = target,
                                    .prompt = prompt,
                                    .default_model = default_model,
                                    .goal_path = goal_path,
                                    .skill_path = skill_path,
                                    .output_dir = out_folder_,
                                    .add_dot_dir = true},
                                   "AI 產出的圖表內容", log());
    if (!diagram.ok) return diagram;
    if (diagram.text.empty()) return Result::failure("❌ AI 生成 Mermaid 圖表失敗，請檢查設定。");
    return std::nullopt;
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

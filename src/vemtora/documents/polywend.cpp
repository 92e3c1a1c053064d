// The document pipeline: goal file, one Markdown source, optional requirements, one
// agent pass, and the result saved as the source's stem plus the function's suffix.
#include "vemtora/documents/polywend.hpp"

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/authorship.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::polywend {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: 技術文件處理工具 (中英對照翻譯與 Markdown 格式排版美化)。\n"
    "  - 支援多種中英雙向翻譯文體與排版優化功能。\n"
    "  - 自動下載並載入遠端儲存庫的 Goal 與格式規範設定檔。\n"
    "  - 支援自訂 AI 模型選擇。\n";

const std::string kRule = "# =========================================================\n";

// The requirement block (when there are requirements) and the output section.
std::string closing(const std::string& heading, const std::string& custom, const std::string& what,
                    const std::string& answer_file) {
    std::string text;
    if (!custom.empty()) text += heading + "\n" + custom + "\n\n";
    return text + exchange::output_request_named(":", what, answer_file);
}

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Polywend"); }

const std::vector<Translation>& translation_configs() {
    static const std::vector<Translation> rows{
        {"1. 技術文件中翻英", "translate-zh-to-en-gen", "technical", "ZH_to_EN"},
        {"2. 技術文件英翻中", "translate-en-to-zh-gen", "technical", "EN_to_ZH"},
        {"3. Report Mail 中翻英", "translate-zh-to-en-gen", "report_email", "ZH_to_EN"},
        {"4. Report Mail 英翻中", "translate-en-to-zh-gen", "report_email", "EN_to_ZH"},
    };
    return rows;
}

const Translation& translation_for(const std::string& choice) {
    for (const auto& row : translation_configs())
        if (row.label == choice) return row;
    return translation_configs().front();
}

std::string translation_prompt(const PromptParts& p, const std::string& translate_mode) {
    return "根據 @[" + p.goal_file + "] 裡的 `" + p.goal_name +
           "` 指示：\n請將以下原始內容進行翻譯：\n\n【翻譯模式設定】:\n- 模式：" + translate_mode +
           "\n\n【原始內容 (請自行讀取檔案內容)】:\n- @[" + p.source_file + "]\n\n" +
           closing("【使用者自訂要求】:", p.custom, "翻譯產出的內容", p.answer_file);
}

std::string formatting_prompt(const PromptParts& p, const FormattingMeta& meta) {
    return "根據 @[" + p.goal_file +
           "] 裡的 `md-formatting-gen` 指示：\n請對以下 Markdown 檔案進行排版優化：\n\n【元數據設定 (Metadata)】:\n- "
           "author_name：" +
           meta.author_name + "\n- date：" + meta.current_date + "\n- version：v" + meta.version +
           "\n\n【原始內容 (請自行讀取檔案內容)】:\n- @[" + p.source_file + "]\n\n" +
           closing("【使用者自訂排版要求】:", p.custom, "排版產出的內容", p.answer_file);
}

std::string editor_banner(const std::string& editor_label) {
    return kRule + "# [" + editor_label + " (選填)]\n" +
           "# 如果有額外的自訂要求或特定格式規範，請在下方輸入 (存檔並關閉編輯器以繼續)：\n" + kRule;
}

std::string clean_requirement(const std::string& typed) {
    if (typed.empty()) return "";
    std::vector<std::string> kept;
    for (auto& line : support::splitlines(typed))
        if (!support::strip(line).starts_with("#")) kept.push_back(std::move(line));
    return std::string(support::strip(support::join(kept, "\n")));
}

std::string output_name(const fs::path& source, const std::string& suffix) {
    return support::utf8_text(source.stem()) + "_" + suffix + ".md";
}

PolywendApp::PolywendApp(const YAML::Node& config_dict, bool skip_editor_flag) : skip_editor(skip_editor_flag) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./polywend-gen");
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", "_agy/goal/polywend-goal.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/polywend-expert.yaml"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config, YAML::Node("gemini-3.5-flash-l"));
}

const std::vector<std::pair<std::string, PolywendApp::Handler>>& PolywendApp::function_registry() {
    static const std::vector<std::pair<std::string, Handler>> registry{
        {"1. 翻譯功能 (中英對照翻譯)", &PolywendApp::run_translation},
        {"2. Markdown 技術文件排版 (格式美化)", &PolywendApp::run_md_formatting},
    };
    return registry;
}

Result PolywendApp::run() {
    std::vector<std::string> labels;
    for (const auto& [label, handler] : function_registry()) labels.push_back(label);
    if (auto failed = exchange::prepare_output_dir(support::path_from_utf8(output_dir), log())) return *failed;
    const std::string choice = fileIO::select_option("💬 請選擇功能編號", labels, "1", "💬 請選擇要執行的功能分類");
    for (const auto& [label, handler] : function_registry())
        if (label == choice) return (this->*handler)();
    log().error("❌ 錯誤：未知的執行功能：" + choice);
    return Result::failure("未知的執行功能: " + choice);
}

Result PolywendApp::run_translation() {
    log().info("🚀 開始執行翻譯功能...");
    std::vector<std::string> labels;
    for (const auto& row : translation_configs()) labels.push_back(row.label);
    const Translation& row =
        translation_for(fileIO::select_option("💬 請選擇編號", labels, "1", "💬 請選擇翻譯子功能"));
    return execute_document_pipeline(
        "translate-i18n.yaml", row.goal_name, "翻譯自訂要求",
        [&row](const PromptParts& parts) { return translation_prompt(parts, row.translate_mode); }, row.direction);
}

Result PolywendApp::run_md_formatting() {
    log().info("🚀 開始執行 Markdown 技術文件排版優化功能...");
    const FormattingMeta meta{.author_name = exchange::default_author, .version = "0.0.1", .current_date = exchange::today()};
    return execute_document_pipeline(
        "md-formatting.yaml", "md-formatting-gen", "排版自訂規則",
        [&meta](const PromptParts& parts) { return formatting_prompt(parts, meta); }, "formatted");
}

Result PolywendApp::execute_document_pipeline(const std::string& goal_file, const std::string& goal_name,
                                              const std::string& editor_label, const PromptBuilder& prompt_builder,
                                              const std::string& suffix) {

    goal_path = fs::path(exchange::goal_folder) / support::path_from_utf8(goal_file);
    if (!exchange::fetch(goal_path, exchange::goal_folder, "Goal 設定檔", log())) {
        log().error("❌ 錯誤：找不到必要的 " + goal_file + " 設定檔，停止執行。");
        return Result::failure("❌ 缺少 Goal 設定檔: " + goal_file);
    }

    auto chosen = fileIO::scan_and_select_files("./", {.extensions = {".md"}, .label = "來源 Markdown 檔案", .logger = &log(),
                                                        .picks = fileIO::Picks::one});
    if (chosen.empty()) {
        log().warning("⚠️ 未選取任何 Markdown 檔案作為來源。");
        return Result::failure("未選取來源檔案。");
    }
    const fs::path source = chosen.front().first;
    const fs::path out_path = fileIO::setup_output_file(support::path_from_utf8(output_dir), output_name(source, suffix), &log());
    if (auto refused = exchange::refuse_link_out(out_path, fileIO::Deed::write, log())) return *refused;

    std::string custom;
    if (!skip_editor) {
        auto typed = fileIO::get_user_input_via_editor(editor_banner(editor_label), editor_label, &log());
        if (!typed) return exchange::editor_failed();
        custom = clean_requirement(*typed);
    }

    const std::string prompt = prompt_builder({.goal_file = exchange::prompt_path(goal_path),
                                               .goal_name = goal_name,
                                               .source_file = exchange::prompt_path(source),
                                               .custom = custom,
                                               .answer_file = exchange::prompt_path(agent_output)});
    log().info("⏳ 正在請求 AI 執行處理中...");
    auto answer = exchange::agent_pass(agent_output,
                                       {.file_path = goal_path,
                                        .prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = std::nullopt,
                                        .output_dir = support::path_from_utf8(output_dir),
                                        .add_dot_dir = true},
                                       "產出結果", log());
    if (!answer.ok) return answer;
    const std::string& content = answer.text;
    if (content.empty()) return Result::failure("❌ AI 處理失敗，產出內容為空。");
    return exchange::save_document(out_path, content, answer.file, "產出檔案", "🎉 處理完成！檔案已儲存：", log());
}

vemtora::CommandDecl cmd_polywend() {
    return frame::declare(
        {.name = "polywend",
         .help = "技術文件處理工具 (翻譯與格式排版，基於 Agy Agent)",
         .epilog = frame::epilog(
             frame::usual_examples(
                 "polywend",
                 {.run_title = "Run with configuration:",
                  .model = "Gemini 3.5 Flash (Medium)",
                  .more = {{"Specify the output directory:", "vemtora polywend -o ./my-outputs"},
                           {"Skip editor prompts for custom requirements (Run automatically):",
                            "vemtora polywend -s"}}}),
             features, ""),  // the features follow the last example directly
         .options = {.output_dir_help = "Specify the output directory for generated files.",
                     .skip_editor_help = "Skip the editor prompt for custom requirements."},
         .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                     .log = &log(),
                     .run = frame::runs_app_with_skip_editor<PolywendApp>()}});
}

}  // namespace vemtora::polywend

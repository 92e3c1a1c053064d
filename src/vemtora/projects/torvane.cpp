#include "vemtora/projects/torvane.hpp"

#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/core/registration.hpp"

namespace vemtora::torvane {

namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: Generates system prompts and refactors code using Agy and API manuals.\n"
    "  - Resolves local/remote API manuals for AI context.\n"
    "  - Interactively triggers target script refactoring.\n"
    "  - Writes back the refactored code safely into target files.\n";

std::string refs(const std::vector<fs::path>& paths) {
    if (paths.empty()) return "無";
    std::vector<std::string> parts;
    for (const auto& p : paths) parts.push_back(exchange::reference(p));
    return support::join(parts, ", ");
}

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("TorvaneApp"); }

std::vector<fileIO::RegistryEntry> default_manual_registry() {
    // The support library publishes its manuals in its repository folder manual/.
    return {
        {.display = "fileIO (檔案操作工具)", .url = fileIO::repo_url("manual/Python_API_Manual_fileIO_ai.md")},
        {.display = "app_logging (日誌工具)", .url = fileIO::repo_url("manual/ApiManual_app_logging_ai.md")},
    };
}

std::string refactor_prompt(const PromptInputs& in) {
    const std::string target = exchange::reference(in.target_path);
    const std::string arch = in.architecture ? exchange::reference(*in.architecture) : "無";
    return "根據 @[" + exchange::prompt_path(in.goal_path) + "] 指示與 @[" + exchange::prompt_path(in.skill_path) +
           "] 技能，\n請根據指示與以下資源，將目標檔案 " + target + " 進行程式碼重構：\n\n【可用資源清單】\n- API 手冊列表: " +
           refs(in.manuals) + "\n- 參考原始碼列表: " + refs(in.references) +
           "\n\n【特定任務設定】\n- 目標重構檔案 (Target File): " + target +
           "\n- 主要架構參考 (Reference Architecture): " + arch + "\n- 主指令名稱 (CLI Name): " + in.cli_name +
           "\n- 具體重構需求: " + in.refactor_desc + "\n\n" +
           exchange::output_request("：", "生成的程式碼", refactor_output_file);
}

std::string registration_prompt(const registration::Pass& pass, const std::string& func_name) {
    const std::string cli = registration::cli_reference(pass);
    const std::string func_line =
        func_name.empty()
            ? "（請從 target_file 中自行解析被 @click.command 或 @click.group 裝飾的進入點函式名稱，例如 cmd_xxxx 或 main）"
            : func_name;
    return "根據 @[" + exchange::prompt_path(pass.goal_path) + "] 裡的 `torvane-cli` 指示與 @[" +
           exchange::prompt_path(pass.skill_path) + "] 技能，\n在主進入點檔案 @[" + cli +
           "] 中檢查並註冊子指令，變數如下：\n- sub_cli_name: " + registration::sub_cli_name_of_module(pass.module_path) +
           "\n- target_file: " + support::utf8_text(pass.module_path.filename()) + "\n- func_name: " + func_line +
           "\n- cli_code: @[" + cli + registration::code_request();
}

TorvaneApp::TorvaneApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./_ref");
    goal_path = support::path_from_utf8(fileIO::text_setting(
        config, "goal_path", fileIO::text_setting(config, "system_prompt_path", "_agy/goal/torvane.yaml")));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/dovud-expert.yaml"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config);
    manual_registry = default_manual_registry();
}

Result TorvaneApp::run() {
    if (auto failed = gather_references()) return *failed;
    if (auto failed = choose_target()) return *failed;
    choose_architecture();
    if (auto missing = exchange::fetch_fixed({{goal_path, "_agy/goal/torvane.yaml", "Refactor Prompt"},
                                              {skill_path, "_agy/skill/dovud-expert.yaml", "Skill Prompt"}},
                                             log()))
        return *missing;
    if (auto failed = ask_requirement()) return *failed;
    if (auto failed = refactor_target()) return *failed;
    if (auto failed = register_target()) return *failed;
    log().info("🎉 成功完成重構！檔案已更新：" + support::utf8_text(inputs_.target_path));
    return Result::success("重構完成並已更新檔案: " + support::utf8_text(inputs_.target_path));
}

// The output folder, the API manuals the user downloads into it, and the manuals and
// reference sources found there.
std::optional<Result> TorvaneApp::gather_references() {
    log().info("✅ 開始 Vemtora torvane 程序。目標資料夾：" + output_dir);
    out_folder_ = support::path_from_utf8(output_dir);
    if (auto failed = exchange::prepare_output_dir(out_folder_, log())) return *failed;
    fileIO::download_and_save_from_registry(manual_registry, out_folder_, "💬 請選擇需要下載的 API 參考手冊 (以供 AGY 參考)",
                                            "API手冊：", &log());
    inputs_.manuals =
        fileIO::find_files_with_extensions(out_folder_, {.extensions = {".md"}, .recursive = true, .logger = &log()}).paths;
    inputs_.references =
        fileIO::find_files_with_extensions(out_folder_, {.extensions = {".py"}, .recursive = true, .logger = &log()}).paths;
    return std::nullopt;
}

std::optional<Result> TorvaneApp::choose_target() {
    support::echo("");
    support::echo("--- 步驟 1: 💬 請選擇 [重構目標檔案 (Target File)] ---");
    auto target_selection = fileIO::scan_and_select_files("./", {.extensions = {".py"},
                                                                 .exclude_names = {"__init__"},
                                                                 .exclude_paths = {output_dir},
                                                                 .label = "重構目標檔案",
                                                                 .logger = &log(),
                                                                 .picks = fileIO::Picks::one});
    if (target_selection.empty()) return Result::failure("未選取目標檔案，程序結束。");
    const auto& [target_path, target_stem] = target_selection.front();
    inputs_.target_path = target_path;
    log().info("✅ 已選取重構目標：" + target_stem + ".py");
    // The refactored script replaces this one, in its folder.
    return exchange::refuse_unwritable(support::parent_or_dot(target_path), log());
}

// The reference architecture is optional: without one the refactoring is a general one.
void TorvaneApp::choose_architecture() {
    support::echo("");
    support::echo("--- 步驟 2: 💬 請選擇 [主架構參考範例 (Reference Architecture)] ---");
    auto arch_selection = fileIO::scan_and_select_files(
        out_folder_, {.extensions = {".py"}, .exclude_names = {"__init__"}, .label = "架構參考範例", .logger = &log(),
                      .picks = fileIO::Picks::one});
    if (!arch_selection.empty()) {
        inputs_.architecture = arch_selection.front().first;
        log().info("✅ 已選取架構參考: " + arch_selection.front().second + ".py");
    } else {
        log().warning("⚠️ 未選取架構參考，將採用一般重構模式。");
    }
}

std::optional<Result> TorvaneApp::ask_requirement() {
    auto typed = fileIO::get_user_input_via_editor(
        "# 請在此輸入具體的重構需求（例如：優化錯誤處理、重構輸入為 editor、加上型別提示等）。存檔並關閉以繼續。\n",
        "重構需求描述", &log());
    if (!typed) return exchange::editor_failed();
    inputs_.refactor_desc = std::move(*typed);
    if (inputs_.refactor_desc.empty()) {
        log().warning("⚠️ 未輸入具體重構需求，將採用預設重構規則。");
        inputs_.refactor_desc = "根據重構目標指示進行一般程式碼重構與優化。";
    }
    return std::nullopt;
}

// The prompt, the user's go-ahead, the agent's pass and the refactored file saved.
std::optional<Result> TorvaneApp::refactor_target() {
    inputs_.goal_path = goal_path;
    inputs_.skill_path = skill_path;
    inputs_.cli_name = fileIO::get_cli_name("setup.py", "vemtora");
    std::string prompt = refactor_prompt(inputs_);
    exchange::log_prompt_block(prompt, log());

    if (!support::confirm("\n❓ 是否確認開始進行程式碼重構？", true)) {
        log().warning("⚠️ 使用者已取消重構程序。");
        return Result::failure("使用者已取消重構");
    }

    auto answer = exchange::agent_pass(refactor_output_file,
                                       {.prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = skill_path,
                                        .output_dir = mindrel::AgentFolder(output_dir),
                                        .add_dot_dir = true},
                                       "AI 產出的重構碼", log());
    if (!answer.ok) return answer;

    const fs::path& target_path = inputs_.target_path;
    const std::string& refactored_code = answer.text;
    if (refactored_code.empty()) {
        log().error("❌ agy 未產出任何重構程式碼，目標檔案保持不變。");
        return Result::failure("AI 未產出重構程式碼，" + support::utf8_text(target_path.filename()) + " 未變更");
    }
    auto saved = exchange::save_answer(target_path, refactored_code, answer.file, support::utf8_text(target_path.filename()), log());
    if (!saved.ok) return Result::failure(saved.text);
    return std::nullopt;
}

std::optional<Result> TorvaneApp::register_target() {
    return registration::run({.module_path = inputs_.target_path,
                              .cli_folder = support::parent_or_dot(inputs_.target_path),
                              .goal_path = goal_path,
                              .skill_path = skill_path,
                              .default_model = default_model,
                              .prompt = registration_prompt,
                              .needs_function = false,
                              .no_cli_line = "⚠️ 未在同目錄下找到 cli.py，跳過自動註冊子指令的檢查。",
                              .start_line = "✅ ⏳ 正在向 cli.py 檢查與更新子指令註冊...",
                              .done_line = "🎉 已成功將功能註冊至 cli.py",
                              .agent_failed_line = "❌ agy 註冊/檢查失敗",
                              .agent_failed = "agy 註冊或檢查至 cli.py 失敗",
                              .log = &log()});
}

vemtora::CommandDecl cmd_torvane() {
    return frame::declare({.name = "torvane",
                           .help = "Generate DoVUD-specific system prompts for Python source files.",
                           .epilog = frame::standard_epilog("torvane", features),
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .template_line_mark = false,
                                       .run = frame::runs_app<TorvaneApp>()}});
}

}  // namespace vemtora::torvane

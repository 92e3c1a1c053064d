#include "vemtora/projects/graftwell.hpp"

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/project_folders.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/core/registration.hpp"

namespace vemtora::graftwell {

namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: Generates new sub-commands and features for DoVUD application.\n"
    "  - Updates file structures and creates Click command entry points.\n"
    "  - Standardizes naming variables and directories automatically.\n"
    "  - Prompts for user feature descriptions in default editor.\n";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Graftwell"); }

GraftwellApp::GraftwellApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    sub_cli_name = std::string(support::strip(fileIO::text_setting(config, "sub_cli_name", "")));
    _update_naming_vars();
    feature_desc = fileIO::text_setting(config, "feature_desc", "功能維持不變");
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", "_agy/goal/dovud-feature.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/dovud-expert.yaml"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config);
    debug = fileIO::bool_or(fileIO::child(config, "debug"), false);
}

void GraftwellApp::_update_naming_vars() {
    if (sub_cli_name.empty()) return;
    class_name = registration::class_name_of(sub_cli_name);
    file_name = registration::file_name_of(sub_cli_name);
    cmd_name = registration::cmd_name_of(sub_cli_name);
}

std::string GraftwellApp::feature_prompt(const fs::path& module_path, const std::string& cli_name) const {
    const std::string module = exchange::prompt_path(module_path);
    return "根據 @[" + exchange::prompt_path(goal_path) + "] 裡的 `dovud-feature` 指示與 @[" +
           exchange::prompt_path(skill_path) + "] 技能，\n利用以下參數將包含花括號佔位符的範本檔案 @[" + module +
           "] 重構為新的功能模組。\n請依據功能描述將代碼重構，並嚴格將範本中的所有佔位符變數替換為以下新參數值：\n"
           "【重構參數與佔位符對應關係】:\n- app_name (替換 {{app_name}}): " + class_name +
           "\n- app_class_name (替換 {{app_class_name}}): " + class_name +
           "App\n- app_logger_name (替換 {{app_logger_name}}): " + class_name +
           "\n- cli_name (替換 {{cli_name}}): " + cli_name + "\n- sub_cli_name (替換 {{sub_cli_name}}): " +
           sub_cli_name + "\n- cli_func_name (替換 {{cli_func_name}}): " + cmd_name +
           "\n- config_filename_prefix (替換 {{config_filename_prefix}}): " + cmd_name +
           "\n- default_output_dir (替換 {{default_output_dir}}): ./" + sub_cli_name +
           "-gen\n- default_goal_path (替換 {{default_goal_path}}): _agy/goal/" + sub_cli_name +
           "-goal.yaml\n- default_skill_path (替換 {{default_skill_path}}): _agy/skill/" + sub_cli_name +
           "-expert.yaml\n\n【其他變數與需求描述】:\n- feature_desc: " + feature_desc + "\n- template_code: @[" +
           module +
           "]\n\n請注意：\n1. 請根據 `feature_desc` 功能描述，推導決定該功能合適的目標副檔名 "
           "{{target_file_extension}}（如 Python 檔使用 .py，Markdown 使用 .md）與對應名稱 {{file_label}}（如 Python "
           "檔案 或 Markdown 檔案）並進行替換。\n" +
           exchange::output_request("：", "生成的程式碼", feature_output_file);
}

std::string registration_prompt(const registration::Pass& pass, const std::string& sub_cli_name,
                                const std::string& file_name, const std::string& func_name) {
    const std::string cli = registration::cli_reference(pass);
    return "根據 @[" + exchange::prompt_path(pass.goal_path) + "] 裡的 `dovud-register` 指示與 @[" +
           exchange::prompt_path(pass.skill_path) + "] 技能，\n在主進入點檔案 @[" + cli +
           "] 中註冊新子指令，變數如下：\n- sub_cli_name: " + sub_cli_name + "\n- file_name: " + file_name +
           "\n- func_name: " + func_name + "\n- cli_code: @[" + cli + registration::code_request();
}

Result GraftwellApp::run() {
    if (auto failed = ask_feature()) return *failed;
    if (auto failed = choose_project()) return *failed;
    if (auto failed = fetch_instructions()) return *failed;
    if (auto failed = copy_template()) return *failed;
    if (auto failed = fill_template()) return *failed;
    if (auto failed = register_module()) return *failed;
    return Result::success("🎉 Graftwell 功能開發完成！路徑: " + support::utf8_text(module_path_));
}

// Without a configured sub-command name, the name and the feature's description are asked.
std::optional<Result> GraftwellApp::ask_feature() {
    if (!sub_cli_name.empty()) return std::nullopt;
    sub_cli_name = support::prompt_stripped("💬 請輸入新的子指令名稱 (kebab-case, 例如: my-feature)");
    if (sub_cli_name.empty()) {
        log().warning("⚠️ 未輸入子指令名稱，程序結束。");
        return Result::failure("未輸入子指令名稱。");
    }
    _update_naming_vars();
    auto typed = fileIO::get_user_input_via_editor(
        "# 請在此輸入功能描述，未輸入就使用目前設定。存檔並關閉編輯器以繼續。\n# 目前設定: " + feature_desc + "\n",
        "功能描述", &log());
    if (!typed) return exchange::editor_failed();
    if (!typed->empty()) feature_desc = std::string(support::strip(*typed));
    return std::nullopt;
}

std::optional<Result> GraftwellApp::choose_project() {
    log().info("✅ 🔍 正在掃描目前目錄以選取專案...");
    fileIO::DirectoryList folders;
    if (auto failure = exchange::list_project_folders(folders, log())) return *failure;
    fs::path chosen;
    if (auto failure = exchange::choose_project_folder(folders, chosen, log())) return *failure;
    prj_folder = chosen;
    log().info("✅ 已選取目標專案：" + support::utf8_text(*prj_folder));
    log().info("✅ 🚀 開始 Graftwell 開發程序。子指令：" + sub_cli_name);
    return std::nullopt;
}

// The goal and skill files, and the module template's code.
std::optional<Result> GraftwellApp::fetch_instructions() {
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    template_code_ = fileIO::load_or_download_content(template_file, fileIO::repo_url(template_file),
                                                      "Python CLI 範本", &log());
    if (template_code_.empty()) {
        log().error("❌ 無法獲取範本程式碼。");
        return Result::failure("範本載入失敗。");
    }
    return std::nullopt;
}

std::optional<Result> GraftwellApp::copy_template() {
    // The module belongs in the chosen package folder: a name holding a path separator or
    // a drive ("C:x" is the current folder of drive C:) would put the template copy
    // somewhere else. The same rule as sproutel's.
    if (!exchange::plain_file_name(file_name)) {
        log().error("❌ 子指令名稱不可包含路徑分隔符號：" + sub_cli_name);
        return Result::failure("子指令名稱不可包含路徑分隔符號: " + sub_cli_name);
    }
    module_path_ = *prj_folder / support::path_from_utf8(file_name);
    // The template copy would replace an existing module (the name "cli" even gives
    // cli.py, the project's registration file), so an existing file is never touched.
    if (fs::exists(fs::symlink_status(module_path_))) {
        log().error("❌ 目標檔案已存在，為避免覆蓋既有程式碼，程序中斷：" + support::utf8_text(module_path_));
        return Result::failure("目標檔案已存在: " + support::utf8_text(module_path_));
    }
    // The agent fills the template copy in place: without it there is nothing to run on.
    if (auto copied = fileIO::save_local_file_content(module_path_, template_code_, "範本檔案", &log()); !copied.ok)
        return Result::failure(copied.text);
    return std::nullopt;
}

// The agent's pass over the template copy, and its answer saved there.
std::optional<Result> GraftwellApp::fill_template() {
    std::string cli_name = fileIO::get_cli_name(support::parent_or_dot(*prj_folder) / "setup.py", "vemtora");
    std::string prompt = feature_prompt(module_path_, cli_name);
    exchange::log_prompt(prompt, log());

    // The template copy was made for this pass only: when the pass fails or is
    // interrupted it goes, so the same name can be tried again.
    exchange::AgentAnswer answer;
    try {
        answer = exchange::agent_pass(feature_output_file,
                                      {.prompt = prompt,
                                       .default_model = default_model,
                                       .goal_path = goal_path,
                                       .skill_path = skill_path,
                                       .prj_folder = mindrel::AgentFolder(*prj_folder),
                                       .add_dot_dir = true},
                                      "AI 產出的特徵碼", log());
    } catch (const support::Interrupted&) {
        fileIO::remove_file(module_path_);
        throw;
    }
    if (!answer.ok) {
        fileIO::remove_file(module_path_);
        return registration::rewrite_failed(file_name, answer.text);
    }

    const std::string& code = answer.text;
    if (code.empty()) return Result::failure(registration::no_code_written(file_name, "範本", log()));
    auto saved = exchange::save_answer(module_path_, code, answer.file, file_name, log());
    if (!saved.ok) return Result::failure(saved.text);
    log().info("✅ agy 程式碼重構完成！");
    return std::nullopt;
}

std::optional<Result> GraftwellApp::register_module() {
    return registration::run(
        {.module_path = module_path_,
         .cli_folder = *prj_folder,
         .goal_path = goal_path,
         .skill_path = skill_path,
         .default_model = default_model,
         .prompt = [this](const registration::Pass& pass,
                          const std::string& func_name) { return registration_prompt(pass, sub_cli_name, file_name, func_name); },
         .start_line = "✅ ⏳ 正在透過 agy 向 cli.py 註冊新子指令...",
         .done_line = "🎉 已成功將功能註冊到 cli.py",
         .agent_failed_line = "❌ agy 註冊失敗",
         .agent_failed = "agy 註冊至 cli.py 失敗",
         .failure_names_reason = false,
         .log = &log()});
}

vemtora::CommandDecl cmd_graftwell() {
    return frame::declare({.name = "graftwell",
                           .help = "Specialized CLI feature generator for DoVUD.",
                           .epilog = frame::standard_epilog("graftwell", features),
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .template_line_mark = true,
                                       .marked_result = true,
                                       .run = frame::runs_app<GraftwellApp>()}});
}

}  // namespace vemtora::graftwell

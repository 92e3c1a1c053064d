#include "vemtora/scripting/krestel.hpp"

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::krestel {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: Manages and executes automated bash scripts using Gemini AI.\n"
    "  - Generates customized bash scripts based on user goals.\n"
    "  - Automatically grants executable permissions (chmod +x).\n"
    "  - Supports Agy goals and skill configurations.\n";

constexpr const char* editor_text = "# 請在此輸入您需要的 Bash 腳本功能或修改需求 (存檔並關閉編輯器以繼續)\n";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Krestel"); }

std::optional<ScriptTag> script_tag(const std::string& script_content) {
    // The name stands on the tag's own line: an empty tag never takes a word of the
    // next line (the first command of the script) for the file name.
    static const support::Regex pattern(R"(Script Name:\h*([\w\-\.]+))");
    auto match = pattern.search(script_content);
    if (!match) return std::nullopt;
    std::string tag(match->group(1));
    std::string stem = tag.substr(0, tag.size() - support::name_suffix(tag).size());
    if (!exchange::plain_file_name(stem)) return std::nullopt;
    return ScriptTag{tag, stem};
}

std::string build_prompt(const PromptArgs& args) {
    std::string prompt = "根據 " + exchange::reference(args.goal_path) + " 裡的 `krestel-automation` 指示與 " +
                         exchange::reference(args.skill_path) + " 技能，\n";
    prompt += args.target ? "請根據指示，對現有的腳本進行重構：\n" : "請根據指示，根據模板與需求生成新的 Bash 腳本：\n";
    prompt += "\n【特定任務設定】:\n";
    prompt += args.target ? "- script_name: " + args.target->name + ".sh\n"
                          : "- script_name: [請根據 requirements 需求，為此腳本決定一個合適的英文腳本名稱，例如: "
                            "sync_backup.sh]\n";
    prompt += "- requirements: " + args.user_req + "\n";
    prompt += "- template_code: " + exchange::reference(args.template_path) + "\n";
    if (args.target) prompt += "- target_code: " + exchange::reference(args.target->path) + "\n";
    prompt += "\n";
    prompt += exchange::output_request("：", "生成的腳本內容", agent_output_file);
    return prompt;
}

KrestelApp::KrestelApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    auto text = [&](const char* key, const char* fallback) { return fileIO::text_setting(config, key, fallback); };
    output_dir = text("output_dir", "./gen-bash");
    goal_path = support::path_from_utf8(text("goal_path", "_agy/goal/krestel-automation.yaml"));
    skill_path = support::path_from_utf8(text("skill_path", "_agy/skill/krestel-expert.yaml"));
    template_path = support::path_from_utf8(text("template_path", "template/krestel_template.sh"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config);
}

Result KrestelApp::run() {
    if (auto failed = fetch_instructions()) return *failed;
    choose_target();
    if (auto failed = ask_requirement()) return *failed;
    exchange::AgentAnswer script;
    if (auto failed = generate_script(script)) return *failed;
    return save_script(script);
}

// The output folder, the goal and skill files and the script template.
std::optional<Result> KrestelApp::fetch_instructions() {
    log().info("✅ 🚀 開始 Krestel 生成程序。輸出目錄：" + output_dir);
    out_folder_ = support::lexical_path(support::path_from_utf8(output_dir));
    if (auto failed = exchange::prepare_output_dir(out_folder_, log())) return *failed;

    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    if (fileIO::load_or_download_content(template_path,
                                         exchange::download_url(exchange::template_folder, template_path),
                                         "Bash 腳本模板", &log())
            .empty()) {
        log().error("❌ 無法取得必要的模板檔案。");
        return Result::failure("無法取得必要的模板檔案。");
    }
    return std::nullopt;
}

// A script picked from those present is refactored; without one a new script is generated.
void KrestelApp::choose_target() {
    auto scripts = fileIO::find_files_with_extensions("./", {.extensions = {".sh"}, .recursive = true, .logger = &log()});
    if (scripts.paths.empty()) return;
    support::echo("\n--- 📝 偵測到現有腳本，您可以選擇一個進行重構 (直接按 Enter 跳過並生成新腳本) ---");
    auto chosen = fileIO::interactive_select_files(scripts.paths, scripts.names, ".sh", fileIO::Picks::one);
    if (chosen.empty()) return;
    target_ = Target{chosen.front().second, chosen.front().first};
    exchange::log_refactor_mode(target_->name + ".sh", log());
    current_content_ = fileIO::load_local_file_content(target_->path, "現有腳本內容", &log());
}

std::optional<Result> KrestelApp::ask_requirement() {
    support::echo("\n--- 🐚 AI Krestel 助手 ---");
    auto typed = fileIO::get_user_input_via_editor(editor_text, "Bash 腳本需求", &log());
    if (!typed) return exchange::editor_failed();
    user_req_ = std::move(*typed);
    if (user_req_.empty()) {
        log().warning("⚠️ 未獲取到有效需求，程序結束。");
        return Result::failure("未獲取到有效需求，程序結束。");
    }
    return std::nullopt;
}

// The agent's pass; its answer is the script, shown against the refactored one.
std::optional<Result> KrestelApp::generate_script(exchange::AgentAnswer& script) {
    log().info("✅ 🤖 正在請求 AI " + std::string(target_ ? "重構" : "根據模板生成") + "腳本 ⏳...");
    std::string prompt = build_prompt({.goal_path = goal_path, .skill_path = skill_path,
                                       .template_path = template_path, .user_req = user_req_, .target = target_});
    exchange::log_prompt_block(prompt, log());

    script = exchange::agent_pass(agent_output_file,
                                  {.prompt = prompt, .default_model = default_model, .goal_path = goal_path,
                                   .skill_path = skill_path, .output_dir = out_folder_, .add_dot_dir = true},
                                  "AI 產出的 Bash 腳本", log());
    if (!script.ok) {
        log().error("❌ AI " + mode() + "腳本失敗: " + script.text);
        return Result::failure("AI 執行失敗: " + script.text);
    }
    if (script.text.empty()) {
        log().error("❌ 無法讀取 AI 產出的腳本內容。");
        return Result::failure("無法讀取 AI 產出的腳本內容。");
    }
    if (target_)
        mindrel::display_content_diff({.old_content = current_content_, .new_content = script.text,
                                       .from_file = target_->name + ".sh (Original)",
                                       .to_file = target_->name + ".sh (Refactored)"});
    return std::nullopt;
}

// Saved under the name its tag gives (else the refactored script's, else a fixed one),
// free in the output folder, and made executable.
Result KrestelApp::save_script(exchange::AgentAnswer& script) {
    const std::string& script_content = script.text;
    std::string file_stem = target_ ? target_->name : "generated_script";
    if (auto tag = script_tag(script_content)) {
        log().info("✅ 📝 偵測到腳本名稱標籤：" + tag->tag);
        file_stem = tag->stem;
    }

    auto unique = fileIO::get_unique_path(out_folder_, file_stem, ".sh", &log());
    if (!unique) return Result::failure(fileIO::no_unique_path);
    fs::path out_path = fileIO::setup_output_file(out_folder_, support::utf8_text(unique->filename()), &log());
    auto saved = exchange::save_answer(out_path, script_content, script.file, "Bash 腳本", log(), exchange::LineEnds::lf);
    if (!saved.ok) {
        log().error("❌ 儲存腳本失敗: " + saved.text);
        return Result::failure(saved.text);
    }

    std::string name = support::utf8_text(out_path.filename());
    std::string why;
    switch (support::make_executable(out_path, &why)) {
        case support::Executable::made: log().info("✅ 已自動為腳本加上執行權限 (chmod +x)：" + name); break;
        case support::Executable::failed: log().warning("⚠️ 無法設定執行權限：" + why); break;
        case support::Executable::not_needed: break;  // Windows: bash runs the script without such bits
    }

    log().info("🎉 成功完成" + mode() + "！檔案已更新：" + support::utf8_text(out_path));
    return exchange::produced(name);
}

vemtora::CommandDecl cmd_krestel() {
    return frame::declare({.name = "krestel",
                           .help = "CLI application for managing and executing bash scripts.",
                           .epilog = frame::epilog(
                               frame::usual_examples("krestel", {.more = {{"Specify the output directory:",
                                                                           "vemtora krestel -o ./my-scripts"}}}),
                               features),
                           .options = {.output_dir_help = "Specify the output directory for generated script."},
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .marked_result = true,
                                       .run = frame::runs_app<KrestelApp>()}});
}

}  // namespace vemtora::krestel

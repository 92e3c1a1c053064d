#include "vemtora/scripting/moldery.hpp"

#include <set>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"

namespace vemtora::moldery {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

constexpr std::string_view features =
    "Features: Generates customized templates from reference files using Gemini AI.\n"
    "  - Supports Markdown, C, and Python formats.\n"
    "  - Scans and selects reference files interactively.\n"
    "  - Automatically downloads required configurations.\n";

constexpr const char* editor_text =
    "# 請在此輸入您的 template 生成需求 (例如：定義一個通用的 C 語言測試框架)\n"
    "# 存檔並關閉編輯器以繼續。\n";

constexpr const char* fallback_base_name = "custom_template";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Moldery"); }

const std::vector<std::string>& type_menu() {
    static const std::vector<std::string> entries = {"Markdown 檔案 (.md)", "C 語言檔案 (.c)", "Python 檔案 (.py)",
                                                     "其他類型 (所有檔案)"};
    return entries;
}

FileType file_type_of(const std::string& entry) {
    auto has = [&](const char* part) { return entry.find(part) != std::string::npos; };
    if (has("Markdown")) return {".md", "Markdown"};
    if (has("C 語言")) return {".c", "C"};
    if (has("Python")) return {".py", "Python"};
    return {"", "所有", true};
}

std::vector<std::string> excluded_names(const std::string& output_dir) {
    std::set<std::string> names = {".git", ".venv", ".agents", "__pycache__", "build", "dist", "vemtora.egg-info",
                                   "_agy"};
    fs::path folder = support::lexical_path(support::path_from_utf8(output_dir));
    std::string own = folder == "." ? "" : support::utf8_text(folder.filename());
    if (!own.empty()) names.insert(own);
    return {names.begin(), names.end()};
}

std::optional<std::string> tag_file_name(const std::string& doc_content) {
    static const support::Regex pattern(R"(filename:\s*([\w_.-]+))", support::Regex::ignore_case);
    auto lines = support::splitlines(doc_content);
    if (lines.size() > 10) lines.resize(10);
    for (const auto& line : lines)
        if (auto match = pattern.search(line)) return std::string(support::strip(match->group(1)));
    return std::nullopt;
}

std::pair<std::string, std::string> output_name(const std::optional<std::string>& tag, const FileType& type,
                                                const fs::path& first_pick) {
    std::string ext = type.all_files ? support::name_suffix(support::utf8_text(first_pick.filename())) : type.ext;
    std::string filename = tag ? *tag : fallback_base_name + ext;
    std::string base_name = filename;
    if (!ext.empty() && filename.size() >= ext.size() && filename.ends_with(ext))
        base_name.resize(filename.size() - ext.size());
    // A tag such as ".." would otherwise name the output folder's parent.
    if (!exchange::plain_file_name(base_name + ext)) base_name = fallback_base_name;
    return {base_name, ext};
}

std::string build_prompt(const PromptArgs& args) {
    std::vector<std::string> refs;
    for (const auto& path : args.references) refs.push_back(exchange::reference(path));
    return "根據 " + exchange::reference(args.goal_path) + " 裡的 `" + args.goal_name + "` 指示與 " +
           exchange::reference(args.skill_path) + " 技能：\n" +
           "請根據指示，針對以下參考檔案與自訂描述生成樣板內容：\n"
           "\n"
           "【特定任務設定】:\n"
           "- file_type: " + args.file_type_label + "\n" +
           "- user_description: " + args.user_desc + "\n" +
           "- 參考檔案清單 (請自行讀取檔案內容)：\n" + support::join(refs, "\n") + "\n\n" +
           exchange::output_request("：", "生成的樣板內容", agent_output_file);
}

MolderyApp::MolderyApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./gen-template");
    default_model = frame::default_model_of(config);
}

Result MolderyApp::run() {
    log().info("🚀 開始 Moldery 範本生成程序。目標資料夾：./");
    goal_path = "_agy/goal/template-generator.yaml";
    skill_path = "_agy/skill/template-expert.yaml";
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    fs::path out_folder = support::lexical_path(support::path_from_utf8(output_dir));
    if (auto failed = exchange::prepare_output_dir(out_folder, log())) return *failed;

    FileType type = file_type_of(
        fileIO::select_option(fileIO::number_prompt, type_menu(), "3", "💬 請選擇目標檔案與輸出樣板的類型"));

    support::echo("\n--- 💬 請選擇範本資料來源 ---");
    std::vector<fileIO::Choice> selected;
    if (fileIO::get_path_type("./", &log()) != 0) {
        log().error("❌ 來源資料夾不存在或無效：./");
    } else {
        fileIO::FindOptions scan{.recursive = true, .logger = &log()};
        if (type.all_files)
            scan.exclude_paths = excluded_names(output_dir);
        else
            scan.extensions = {type.ext};
        auto found = fileIO::find_files_with_extensions("./", scan);
        if (found.paths.empty()) {
            log().error("❌ 在 ./ 中找不到任何 " + type.label + " 檔案。");
        } else {
            selected = fileIO::interactive_select_files(found.paths, found.names, type.ext);
            if (selected.empty()) log().warning("⚠️ 未選取任何有效 " + type.label + " 檔案，程序結束。");
        }
    }
    if (selected.empty()) return exchange::no_file_chosen();

    auto typed = fileIO::get_user_input_via_editor(editor_text, "範本生成需求", &log());
    if (!typed) return exchange::editor_failed();
    const std::string user_desc = std::move(*typed);
    if (user_desc.empty()) return Result::failure("❌ 未輸入任何需求，停止生成。");

    std::vector<fs::path> references;
    for (const auto& pick : selected) references.push_back(pick.first);
    log().info("⏳ 正在透過 agy 請求 AI 生成範本檔案 (共 " + std::to_string(selected.size()) + " 個來源檔案) ...");
    std::string prompt = build_prompt({.goal_path = goal_path, .skill_path = skill_path,
                                       .goal_name = type.ext == ".md" ? "moldery-doc" : "moldery-code",
                                       .file_type_label = type.label, .user_desc = user_desc,
                                       .references = references});
    log().debug("🔍 顯示 prompt 內容：\n" + prompt);

    auto agent = exchange::agent_pass(agent_output_file,
                                      {.prompt = prompt, .default_model = default_model, .goal_path = goal_path,
                                       .skill_path = skill_path, .output_dir = out_folder, .add_dot_dir = true},
                                      "AI 產出的樣板內容", log());
    if (!agent.ok) return Result::failure(agent.text);

    const std::string& doc_content = agent.text;
    auto [base_name, ext] = output_name(tag_file_name(doc_content), type, selected.front().first);

    auto unique = fileIO::get_unique_path(out_folder, base_name, ext, &log());
    if (!unique) return Result::failure(fileIO::no_unique_path);
    fs::path out_path = fileIO::setup_output_file(out_folder, support::utf8_text(unique->filename()), &log());
    log().info("🆕 產出範本檔案路徑已確定：" + support::utf8_text(out_path));
    if (doc_content.empty()) return Result::failure("❌ AI 生成範本失敗，請檢查 API 設定。");

    auto saved = exchange::save_answer(out_path, doc_content, agent.file, "範本檔案", log());
    if (!saved.ok) return Result::failure(saved.text);
    log().info("🎉 範本檔案成功產出並儲存至：" + support::utf8_text(out_path));
    return Result::success("範本檔案成功產出：" + support::utf8_text(out_path.filename()));
}

vemtora::CommandDecl cmd_moldery() {
    return frame::declare({.name = "moldery",
                           .help = "Generate code or document templates based on reference files and descriptions.",
                           .epilog = frame::standard_epilog("moldery", features),
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .marked_result = true,
                                       .run = frame::runs_app<MolderyApp>()}});
}

}  // namespace vemtora::moldery

// The manual writer's run: kind, instruction files, sources, the manual to refactor or
// the new one's name, project facts and requirements, then one agent pass and the save.
#include <filesystem>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/regex.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/authorship.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/documents/tomebrook.hpp"

namespace vemtora::tomebrook {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

using support::prompt_stripped;

struct Identity {
    std::string project_name;
    std::string version;
    std::optional<std::string> author;
};

// The project name, version and author, asked as far as the manual kind wants them.
void ask_identity(const std::string& choice, Identity& id) {
    const bool name_known = id.project_name != "unknown";
    const bool version_known = id.version != "unknown";
    const bool author_known = id.author && !id.author->empty();
    const std::string name_q = "💬 未偵測到專案名稱，請手動輸入專案/系統名稱 (Project/Package Name)";
    const std::string version_q = "💬 未偵測到版本號，請手動輸入 Version (例如 0.1.0)";
    const std::string author_q = "💬 未偵測到作者，請手動輸入作者 (Author)";
    if (choice == c_flow_kind) {
        id.project_name = prompt_stripped("💬 請手動輸入專案/系統名稱 (Project/Package Name)");
        id.version = prompt_stripped("💬 請手動輸入 Version (例如 0.1.0)");
        id.author = prompt_stripped(exchange::author_question);
    } else if (choice == python_flow_kind) {
        id.project_name = name_known ? prompt_stripped("💬 請確認專案/系統名稱 (Project/Package Name)", id.project_name)
                                     : prompt_stripped(name_q);
        id.version = version_known ? prompt_stripped("💬 請確認 Version (例如 0.1.0)", id.version) : prompt_stripped(version_q);
        id.author = author_known ? prompt_stripped("💬 請確認作者 (Author)", *id.author)
                                 : prompt_stripped(author_q, exchange::default_author);
    } else {
        if (!name_known) id.project_name = prompt_stripped(name_q);
        if (!version_known) id.version = prompt_stripped(version_q);
        if (!author_known) id.author = prompt_stripped(author_q, exchange::default_author);
    }
}

std::string references(const std::vector<fileIO::Choice>& chosen, const std::string& before, const std::string& after,
                       const std::string& separator) {
    std::vector<std::string> parts;
    for (const auto& [path, name] : chosen) parts.push_back(before + exchange::prompt_path(path) + after);
    return support::join(parts, separator);
}

// Takes the author and version from the manual at `path`; why they could not be read
// when the file is unreadable or not UTF-8, and the identity stays as it is.
std::optional<std::string> read_manual_facts_of(const fs::path& path, Identity& id) {
    auto file = fileIO::read_local_file(path);
    if (file.outcome != fileIO::LocalFile::Outcome::read)
        return "cannot read " + support::utf8_text(path) + ": " + file.reason;
    if (!support::is_valid_utf8(file.bytes)) return "'utf-8' codec can't decode the file";
    read_manual_facts(file.bytes, id.author, id.version);
    return std::nullopt;
}

}  // namespace

TomebrookApp::TomebrookApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./gen-docs");
    default_model = frame::default_model_of(config);
}

Result TomebrookApp::run() {
    if (auto failed = choose_kind()) return *failed;
    if (auto failed = choose_sources()) return *failed;
    if (auto failed = choose_manual()) return *failed;
    settle_identity();
    if (auto failed = ask_requirements()) return *failed;
    if (auto failed = generate_manual()) return *failed;
    return save_manual();
}

std::optional<Result> TomebrookApp::choose_kind() {
    log().info("🚀 開始 ZuVidadi API Manual 程序。目標資料夾：./");
    if (auto failed = exchange::prepare_output_dir(support::path_from_utf8(output_dir), log())) return *failed;
    const auto kinds = manual_configs();
    std::vector<std::string> names;
    for (const auto& kind : kinds) names.push_back(kind.name);
    choice_ = fileIO::select_option(fileIO::number_prompt, names, "2", "💬 請選擇輸出 API 手冊類型");
    const ManualKind& selected_cfg = kind_for(kinds, choice_);
    goal_path = support::path_from_utf8(selected_cfg.goal);
    skill_path = support::path_from_utf8(selected_cfg.skill);
    template_path = support::path_from_utf8(selected_cfg.templ);
    save_fmt_ = selected_cfg.save_fmt;

    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    template_path = exchange::fetch_template(*template_path, "手冊範本", log());
    template_ref_ = exchange::template_ref(template_path);
    return std::nullopt;
}

std::optional<Result> TomebrookApp::choose_sources() {
    auto selected_info = fileIO::scan_and_select_files("./", {.extensions = {".py", ".c"},
                                                              .exclude_names = {"__init__"},
                                                              .exclude_paths = {".venv", "build", "dist", "__pycache__"},
                                                              .label = "目標原始碼檔案",
                                                              .logger = &log()});
    if (selected_info.empty()) return exchange::no_file_chosen();
    module_name_ = selected_info.front().second;
    exchange::log_module_name(module_name_, log());
    for (const auto& [path, name] : selected_info) sources_.push_back(path);
    return std::nullopt;
}

// Refactor an existing manual or generate a new one; a manual that a link takes out of the
// working copy ends the run before the agent does any work.
std::optional<Result> TomebrookApp::choose_manual() {
    auto existing = fileIO::find_files_with_extensions(
        support::path_from_utf8(output_dir), {.extensions = {".md"}, .recursive = true, .prefix = manual_prefixes(), .logger = &log()});
    if (!existing.paths.empty()) {
        support::echo("\n--- 📝 偵測到現有手冊，您可以選擇一個進行重構 (直接按 Enter 跳過並生成新手冊) ---");
        auto chosen = fileIO::interactive_select_files(existing.paths, existing.names, ".md", fileIO::Picks::one);
        if (!chosen.empty()) {
            is_refactor_mode_ = true;
            out_path_ = chosen.front().first;
            exchange::log_refactor_mode(support::utf8_text(out_path_), log());
        }
    }
    if (!is_refactor_mode_) {
        const std::string file_name = support::replace_all(save_fmt_, "{module_name}", module_name_);
        out_path_ = fileIO::setup_output_file(support::path_from_utf8(output_dir), file_name, &log());
        exchange::log_generate_mode(out_path_, log());
    }
    if (auto refused = exchange::refuse_link_out(out_path_, fileIO::Deed::write, log())) return refused;
    // A manual chosen for refactoring may stand in a folder of its own.
    return exchange::refuse_unwritable(support::parent_or_dot(out_path_), log());
}

// The project name, version, author and date.
void TomebrookApp::settle_identity() {
    auto package = fileIO::get_package_name_version();
    Identity id{package.name, package.version, package.author};
    if (id.author == "unknown") id.author.reset();
    if (is_refactor_mode_ && fs::exists(out_path_)) {
        if (auto unread = read_manual_facts_of(out_path_, id))
            log().debug("無法從現有手冊讀取資訊: " + *unread);
    }
    ask_identity(choice_, id);
    project_name_ = id.project_name;
    version_ = without_v(id.version);
    author_ = id.author.value_or("");
    current_date_ = exchange::today();
    log().info("✅ 使用專案/系統名稱 (Project/Package Name): " + project_name_ + ", version: " + version_ +
             ", author: " + author_);
}

std::optional<Result> TomebrookApp::ask_requirements() {
    goal_name_ = support::utf8_text(goal_path.stem());
    if (is_refactor_mode_) {
        current_content_ = fileIO::load_local_file_content(out_path_, "現有 " + choice_ + " 內容", &log());
        std::string diff_ref, marker = "# 請在此輸入 " + choice_ + " 修改需求 (例如: 補充特定邏輯或參數說明)。存檔並關閉編輯器以繼續。\n";
        auto diffs = fileIO::find_files_with_extensions("./_ref", {.extensions = {".diff"}, .logger = &log()});
        if (!diffs.paths.empty()) {
            support::echo("\n--- 🔍 偵測到現有 Diff 變更檔案，請選擇是否作為重構參考 ---");
            auto chosen = fileIO::interactive_select_files(diffs.paths, diffs.names, ".diff");
            if (!chosen.empty()) {
                diff_ref = references(chosen, "請參考 @[", "] 更新現有文件。", "\n");
                log().info("✅ 已選取 " + std::to_string(chosen.size()) + " 個 Diff 參考");
                marker += "# 目前已包含參考diff_file:" + references(chosen, "@[", "]", ", ") +
                          " ，您可以在下方繼續輸入追加需求。\n";
            }
        }
        auto additional_req = fileIO::get_user_input_via_editor(marker, choice_ + " 修改需求", &log());
        if (!additional_req) return exchange::editor_failed();
        user_req_ = refactor_requirement(diff_ref, *additional_req);
        log().info("⏳ 正在根據需求重構 " + choice_ + " 內容...");
        goal_name_ += "-refactor";
    } else {
        auto typed =
            fileIO::get_user_input_via_editor(exchange::generate_requirement_marker(choice_), choice_ + " 生成需求", &log());
        if (!typed) return exchange::editor_failed();
        user_req_ = std::string(support::strip(*typed));
        if (user_req_.empty()) log().info("💬 未輸入額外需求，將使用預設規則生成。");
        else exchange::log_requirement(user_req_, log());
        goal_name_ += "-gen";
    }
    return std::nullopt;
}

std::optional<Result> TomebrookApp::generate_manual() {
    const std::string prompt = build_prompt({.family = prompt_family(goal_path, template_path),
                                             .is_refactor = is_refactor_mode_,
                                             .choice = choice_,
                                             .goal_path = goal_path,
                                             .skill_path = skill_path,
                                             .goal_name = goal_name_,
                                             .sources = sources_,
                                             .out_path = out_path_,
                                             .project_name = project_name_,
                                             .module_name = module_name_,
                                             .version = version_,
                                             .current_date = current_date_,
                                             .author = author_,
                                             .template_ref = template_ref_,
                                             .user_req = user_req_});
    auto answer = exchange::agent_pass(agent_output,
                                       {.file_path = sources_.front(),
                                        .prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = skill_path,
                                        .output_dir = support::path_from_utf8(output_dir),
                                        .add_dot_dir = true},
                                       "AI 產出的手冊內容", log());
    if (!answer.ok) return answer;
    doc_content_ = answer.text;
    answer_file_ = std::move(answer.file);
    if (doc_content_.empty()) return Result::failure("❌ AI 生成或重構 API 文件失敗，請檢查 API 設定。");
    return std::nullopt;
}

// Shows the changes of a refactored manual, then saves it.
Result TomebrookApp::save_manual() {
    if (is_refactor_mode_) {
        const std::string name = support::utf8_text(out_path_.filename());
        // Compared in the line ends that the manual keeps.
        mindrel::display_content_diff({.old_content = current_content_,
                                       .new_content = exchange::saved_form(out_path_, doc_content_),
                                       .from_file = name + " (Old)",
                                       .to_file = name + " (New)"});
    }
    const auto final_out_path = exchange::overwrite_target(out_path_, support::path_from_utf8(output_dir), log());
    if (!final_out_path) return support::Result::failure(fileIO::no_unique_path);
    return exchange::save_answer(*final_out_path, doc_content_, answer_file_, "API 手冊", log());
}

}  // namespace vemtora::tomebrook

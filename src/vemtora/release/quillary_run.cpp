// The README assistant: inputs from git, the README, setup.py and the user; one agent
// pass that writes README.md; then, for Python wheel projects, the release menu.
#include <filesystem>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/authorship.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/project_folders.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/run_lines.hpp"
#include "vemtora/core/staging.hpp"
#include "vemtora/core/frame.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/release/quillary_detail.hpp"
#include "vemtora/core/runwick.hpp"

namespace vemtora::quillary {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Result;

namespace {

const std::string kPythonWheel = "Python Wheel Project";
const std::string kCMcu = "C MCU Project";
const std::string kDone = "成功更新 README.md";
const fs::path kReadmePath = "./README.md";
const std::string kNotClean = "Git 工作區非 Clean 狀態";
// git commands whose output the user sees as it comes.
const runwick::GitCheck kShared{.output = support::Output::inherit};

// Asks until the answer, stripped, is a version string: a typo never reaches a prompt,
// a commit message or setup.py.
std::string ask_version(const std::string& question, const std::string& proposal) {
    while (true) {
        std::string answer = support::prompt_stripped(question, proposal);
        if (is_version_string(answer)) return answer;
        log().warning("⚠️ 版本號格式不正確：「" + answer + "」，請輸入如 1.2.3 或 1.2.3rc0 的版本號。");
    }
}

}  // namespace

// The scratch input files (and, in new mode, the empty README written before the agent
// ran) must not outlive the run, whichever way it ends: left behind they would make the
// next clean-tree check fail.
class ScratchFiles {
  public:
    ScratchFiles() = default;
    ScratchFiles(const ScratchFiles&) = delete;
    ScratchFiles& operator=(const ScratchFiles&) = delete;
    ~ScratchFiles() {
        try {
            remove_all();
            if (placeholder_) fileIO::remove_file(kReadmePath);
        } catch (...) {
        }
    }
    void remove_all() {
        exchange::remove_files({scratch_readme, scratch_diff, scratch_log});
    }
    void placeholder_written() { placeholder_ = true; }
    void readme_written() { placeholder_ = false; }

  private:
    bool placeholder_ = false;
};

Quillary::Quillary(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    output_dir = fileIO::text_setting(config, "output_dir", "./");
    goal_path = support::path_from_utf8(fileIO::text_or(fileIO::child(config, "goal_path"), "_agy/goal/dovud-readme-goal.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_or(fileIO::child(config, "skill_path"), "_agy/skill/dovud-readme-expert.yaml"));
    template_path = support::path_from_utf8(fileIO::text_or(fileIO::child(config, "template_path"), "template/dovud_readme_template.md"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config, YAML::Node("Gemini 3.5 Flash (Low)"));
}

Result Quillary::run() {
    if (auto failed = check_clean_tree()) return *failed;
    // The README is saved in the working copy's top folder once the agent has written it.
    if (auto failed = exchange::refuse_unwritable(support::parent_or_dot(kReadmePath), log())) return *failed;
    choose_readme_kind();
    if (auto failed = fetch_instructions()) return *failed;
    choose_version();
    if (auto failed = read_names()) return *failed;
    if (auto failed = choose_source_folder()) return *failed;
    if (auto failed = ask_request()) return *failed;
    collect_diff();
    // Held from the scratch files on, which another run in this working copy would
    // otherwise overwrite or remove under the agent.
    exchange::AnswerLock answer_lock(agent_output, quillary::log());
    if (answer_lock.refused()) return *answer_lock.refused();
    ScratchFiles scratch;
    if (auto failed = write_scratch_files()) return *failed;
    if (!support::confirm("💬 是否要立刻生成？", true)) return Result::failure("使用者取消生成");
    if (auto failed = generate_readme(scratch)) return *failed;
    return finish();
}

std::optional<Result> Quillary::check_clean_tree() {
    auto no_repository = [](const std::string& why) {
        log().error("❌ 偵測 Git 狀態失敗，請確認是否已安裝 Git 且目前目錄為 Git 專案根目錄: " + why);
        return Result::failure("非有效的 Git 儲存庫或未安裝 Git");
    };
    // The tool's own scratch and answer files (what a killed run leaves) are not the
    // user's changes.
    try {
        auto status = runwick::git_checked(exchange::over_users_work({"status", "--porcelain"}));
        if (!support::strip(support::decode_ignore(status.out)).empty()) {
            log().error("❌ Git 工作區非 Clean 狀態，無法執行 README 處理！請先提交或暫存 (stash) 變更。");
            // What is dirty, as git names it: non-ASCII names as they are.
            auto listed = runwick::git_checked(
                exchange::over_users_work({"-c", "core.quotePath=false", "-c", "color.status=false", "status", "--short"}));
            const auto lines = support::splitlines(listed.out);
            constexpr size_t shown = 10;
            for (size_t i = 0; i < lines.size() && i < shown; ++i) support::echo("  " + lines[i], support::Stream::err);
            if (lines.size() > shown)
                support::echo("  ... 另有 " + std::to_string(lines.size() - shown) + " 項變更未列出", support::Stream::err);
            return Result::failure(kNotClean);
        }
    } catch (const runwick::GitFailed& e) {
        return no_repository(e.what());
    } catch (const support::ProcessError& e) {
        return no_repository(e.what());
    }
    return std::nullopt;
}

void Quillary::choose_readme_kind() {
    // The defaults of each kind; the configured paths are read once the kind is chosen.
    struct KindPaths {
        std::string goal, skill, templ;
        bool template_configurable;
    };
    const std::vector<std::pair<std::string, KindPaths>> readme_configs{
        {kPythonWheel,
         {"_agy/goal/dovud-readme-goal.yaml", "_agy/skill/dovud-readme-expert.yaml", "template/dovud_readme_template.md",
          true}},
        {kCMcu,
         {"_agy/goal/c-mcu-readme-goal.yaml", "_agy/skill/c-mcu-readme-expert.yaml",
          "template/c_mcu_project_readme_template.md", false}},
    };
    std::vector<std::string> kinds;
    for (const auto& [name, _] : readme_configs) kinds.push_back(name);
    const std::string choice = fileIO::select_option(fileIO::number_prompt, kinds, "1", "💬 請選擇要處理的 README 型態");
    const KindPaths* selected = &readme_configs[0].second;
    for (const auto& [name, paths] : readme_configs)
        if (name == choice) selected = &paths;
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", selected->goal));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", selected->skill));
    template_path = support::path_from_utf8(selected->template_configurable
                                                ? fileIO::text_setting(config, "template_path", selected->templ)
                                                : selected->templ);
    is_c_mcu_project_ = choice == kCMcu;
    is_python_wheel_project_ = choice == kPythonWheel;
    log().info("✅ 已選取 " + choice + " 模式");
    log().info("✅ 🚀 開始 Quillary 生成程序。輸出目錄：" + output_dir);
}

std::optional<Result> Quillary::fetch_instructions() {
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;
    if (template_path) template_path = exchange::fetch_template(*template_path, log());
    template_ref_ = exchange::template_ref(template_path);
    return std::nullopt;
}

void Quillary::choose_version() {
    std::string next_release = "0.0.1", next_rc = "0.0.1rc0";
    auto current_version = runwick::get_latest_git_tag(&log());
    if (current_version && !current_version->empty()) {
        log().info("✅ 目前最新版本號為: " + *current_version);
        std::tie(next_release, next_rc) = get_next_versions(current_version);
    } else {
        log().info("⌛ 未偵測到 Git Tag 或 README 版本，使用 default: 0.0.1");
    }
    const std::string choice = fileIO::select_option(
        "💬 請選擇要發佈的版本類型", {"正式版: " + next_release, "RC 版本: " + next_rc}, "1", "計算出下一版預設選項");
    next_version_ = choice.find("正式版") != std::string::npos ? ask_version("💬 請確認或輸入正式版號", next_release)
                                                                : ask_version("💬 請確認或輸入RC版號", next_rc);
    log().info("✅ 已確定下一版版本號: " + next_version_);
}

std::optional<Result> Quillary::read_names() {
    // The README is read, handed to the agent and written back: one that a link takes out
    // of the working copy ends the run before the agent does any work.
    if (auto refused = exchange::refuse_link_out(kReadmePath, fileIO::Deed::read, log())) return refused;
    is_refactor_ = fs::exists(kReadmePath);
    if (is_refactor_) {
        log().info("✅ 偵測到現有 README.md，進入重構更新模式");
        current_content_ = fileIO::load_local_file_content(kReadmePath, "現有Markdown 檔案內容", &log());
        auto info = runwick::parse_readme_info(kReadmePath, &log());
        if (info.author && !info.author->empty()) {
            author_ = info.author;
            log().info("✅ 從現有 README.md 解析出作者: " + *author_);
        }
        if (info.project_name && !info.project_name->empty()) {
            project_name_ = info.project_name;
            log().info("✅ 從現有 README.md 解析出專案名稱: " + *project_name_);
        }
    } else {
        log().info("✅ 找不到現有 README.md，進入全新生成模式");
    }
    if (is_python_wheel_project_) {
        try {
            auto pkg_info = fileIO::get_package_name_version();
            if (!project_name_ && !pkg_info.name.empty() && pkg_info.name != "unknown") {
                project_name_ = pkg_info.name;
                log().info("✅ 從 setup.py 偵測出專案名稱: " + *project_name_);
            }
            if (!author_ && pkg_info.author && !pkg_info.author->empty() && *pkg_info.author != "unknown") {
                author_ = pkg_info.author;
                log().info("✅ 從 setup.py 偵測出作者: " + *author_);
            }
        } catch (const std::exception& e) {
            log().warning(std::string("⚠️ 偵測套件資訊時發生錯誤: ") + e.what());
        }
    }
    if (!project_name_) project_name_ = support::prompt_stripped("💬 請手動輸入專案名稱 (Project Name)");
    if (!author_) author_ = support::prompt_stripped(exchange::author_question, exchange::default_author);
    current_date_ = exchange::today();
    log().info("✅ 專案名稱: " + *project_name_ + ", 作者: " + *author_);
    log().info("✅ 版本號: " + next_version_ + ", 生成日期: " + current_date_);
    return std::nullopt;
}

std::optional<Result> Quillary::choose_source_folder() {
    fileIO::DirectoryList folders;
    if (auto failure = exchange::list_project_folders(folders, log())) return *failure;
    if (!project_name_->empty()) {
        const std::string norm_proj = name_key(*project_name_);
        for (size_t i = 0; i < folders.paths.size() && i < folders.names.size(); ++i) {
            const std::string norm_folder = name_key(folders.names[i]);
            if (support::code_point_count(norm_folder) > 2 &&
                (norm_folder.find(norm_proj) != std::string::npos || norm_proj.find(norm_folder) != std::string::npos)) {
                source_dir_ = folders.paths[i];
                break;
            }
        }
    }
    if (source_dir_) {
        log().info("✅ 根據專案名稱自動匹配到 Source 目錄: " + support::utf8_text(*source_dir_));
        log().debug("path: " + support::reference_form(*source_dir_));
    } else {
        fs::path chosen;
        if (auto failure = exchange::choose_project_folder(folders, chosen, log())) return *failure;
        source_dir_ = chosen;
        log().info("✅ 已選擇 Source 目錄: " + support::utf8_text(*source_dir_));
    }
    return std::nullopt;
}

std::optional<Result> Quillary::ask_request() {
    const std::string marker =
        "# 請在此輸入您對 README.md 的更新需求 (例如新增的功能描述、特別要說明的變更等，無特別需求可以不輸入)\n"
        "# 存檔並關閉編輯器以繼續。\n";
    auto typed = fileIO::get_user_input_via_editor(marker, "README 更新需求", &quillary::log());
    if (!typed) return exchange::editor_failed();
    user_req_ = std::move(*typed);
    return std::nullopt;
}

void Quillary::collect_diff() {
    if (!is_refactor_) return;
    log().info("⌛ 正在獲取自最後一個 Git Tag 以來的程式碼變更 (Diff)...");
    std::tie(diff_content_, compare_target_) = runwick::get_git_diff_since_last_tag(*source_dir_);
    if (!diff_content_.empty())
        log().info("✅ 成功獲取自 " + compare_target_.value_or("None") + " 以來的 Git Diff (共 " +
                 std::to_string(support::code_point_count(diff_content_)) + " 字元)");
    else
        log().warning("⚠️ 未獲取到任何 Git Diff 變更");
}

std::optional<Result> Quillary::write_scratch_files() {
    std::error_code ec;
    fs::create_directories("_agy", ec);
    if (is_refactor_) {
        log().info("⌛ 正在將現有 README.md 與 Git Diff 內容寫入暫存檔以避免跳脫字元限制...");
        if (auto r = fileIO::save_local_file_content(scratch_readme, current_content_, "現有 README 暫存"); !r.ok)
            return Result::failure("儲存現有 README 暫存失敗: " + r.text);
        if (auto r = fileIO::save_local_file_content(scratch_diff, diff_content_, "Git Diff 暫存"); !r.ok)
            return Result::failure("儲存 Git Diff 暫存失敗: " + r.text);
    }
    log().info("⌛ 正在獲取 Git Commit 歷史紀錄並寫入暫存檔...");
    const std::string log_content = runwick::get_git_commit_log(is_refactor_ ? compare_target_ : std::nullopt);
    if (auto r = fileIO::save_local_file_content(scratch_log, log_content, "Git Commit Log 暫存"); !r.ok)
        return Result::failure("儲存 Git Commit Log 暫存失敗: " + r.text);
    return std::nullopt;
}

std::optional<Result> Quillary::generate_readme(ScratchFiles& scratch) {
    log().info("✅ 🤖 正在請求 AI 生成與更新 README.md 中 ⏳...");
    const std::string prompt = build_prompt({.is_refactor = is_refactor_,
                                             .is_c_mcu_project = is_c_mcu_project_,
                                             .goal_path = goal_path,
                                             .skill_path = skill_path,
                                             .source_dir = *source_dir_,
                                             .project_name = *project_name_,
                                             .next_version = next_version_,
                                             .current_date = current_date_,
                                             .author = *author_,
                                             .user_req = user_req_,
                                             .template_ref = template_ref_});
    std::string log_prompt = prompt;
    if (!diff_content_.empty()) log_prompt = support::replace_all(log_prompt, diff_content_, "<diff_content_hidden>");
    if (!current_content_.empty())
        log_prompt = support::replace_all(log_prompt, current_content_, "<current_content_hidden>");
    exchange::log_prompt(log_prompt, log());

    if (!fs::exists(kReadmePath)) {
        fileIO::save_local_file_content(kReadmePath, "", "建立初始 README.md", &log());
        scratch.placeholder_written();
    }
    auto answer = exchange::agent_pass(agent_output,
                                       {.prompt = prompt,
                                        .default_model = default_model,
                                        .goal_path = goal_path,
                                        .skill_path = skill_path,
                                        .output_dir = support::path_from_utf8(output_dir),
                                        .add_dot_dir = true},
                                       "AI 產出的 README", log());
    scratch.remove_all();
    if (!answer.ok) {
        // What a failed run left is no answer, and it would fail the next clean-tree check.
        answer.file.discard();
        log().error("❌ AI 執行失敗: " + answer.text);
        return Result::failure("❌ AI 執行失敗: " + answer.text);
    }
    // An empty answer would wipe the README: keep the old one and report it.
    if (answer.text.empty()) {
        log().error("❌ AI 未產出任何 README 內容，README.md 未被修改。");
        return Result::failure("AI 未產出任何 README 內容");
    }
    // The diff compares the README with what is saved, in the same line ends.
    processed_content_ = exchange::saved_form(kReadmePath, answer.text);
    if (auto r = exchange::save_answer(kReadmePath, processed_content_, answer.file, "更新後的 README.md", log()); !r.ok) {
        log().error("❌ 儲存 README.md 失敗: " + r.text);
        return Result::failure(r.text);
    }
    scratch.readme_written();
    return std::nullopt;
}

Result Quillary::finish() {
    if (is_refactor_)
        mindrel::display_content_diff({.old_content = current_content_,
                                       .new_content = processed_content_,
                                       .from_file = "README.md (Original)",
                                       .to_file = "README.md (Updated)"});
    log().info("🎉 成功更新當前目錄下的 README.md！");
    if (is_c_mcu_project_) {
        log().info("✅ MCU C Project 不需要執行 vezev-odir 發布流程。");
        return Result::success(kDone);
    }
    return release_menu(next_version_);
}

Result Quillary::release_menu(const std::string& next_version) {
    // An interactive bash reads the user's start-up files, where the alias lives.
    bool has_alias = false;
    try {
        auto bash = support::find_executable("bash");
        support::RunOptions quiet{.out = support::Output::discard, .err = support::Output::discard};
        quiet.null_stdin = true;
        has_alias = support::run_process({bash ? support::utf8_text(*bash) : "bash", "-i", "-c", "type vezev-odir"}, quiet).status == 0;
    } catch (const std::exception&) {
    }
    if (!has_alias) log().warning("⚠️ 系統中尚未偵測到 vezev-odir 的別名 (alias) 設定！");

    const std::string choice = fileIO::select_option("💬 請選擇後續發布動作",
                                                     {"1. 發布至github", "2. 發布至github 並安裝editable mode",
                                                      "3. 發布至github 並執行CICD", "4. 發布至github 並執行Local Build",
                                                      "5. 發布至github 並執行CICD + Local Build",
                                                      "6. 僅修改 setup.py version 資訊", "7. 跳過發布流程"},
                                                     "7", "發布與建置選項");
    auto has = [&choice](const char* s) { return choice.find(s) != std::string::npos; };
    if (!(has("1.") || has("2.") || has("3.") || has("4.") || has("5."))) {
        if (has("6.")) return bump_setup_version(next_version);
        log().info("✅ 已選擇跳過發布流程，結束程式。");
        return Result::success(kDone);
    }

    if (!has_alias) {
        log().error("❌ 系統中未偵測到 vezev-odir 別名設定，拒絕執行發布！請先在您的 Shell 設定檔（例如 ~/.bashrc 或 "
                  "~/.bash_profile）中加入 `alias vezev-odir=...`。");
        return Result::failure("未設定 vezev-odir 別名");
    }
    try {
        // The tool's own files are not the user's changes, and stay out of the commit.
        auto changes = runwick::git_checked(exchange::over_users_work({"status", "--porcelain"}));
        if (!support::strip(runwick::git_text(changes)).empty()) {
            log().warning("⚠️ 偵測到 Git 工作區有未提交的變更，vezev-odir 必須在 Clean 狀態下執行！");
            if (!support::confirm("💬 是否要立刻將所有變更進行 Git Commit？", true)) {
                log().error("❌ Git 工作區非 Clean 狀態，拒絕執行發布！請先 commit 您的變更。");
                return Result::failure(kNotClean);
            }
            const std::string message =
                support::prompt("💬 請輸入 Commit 訊息", "chore: bump version and update README for v" + next_version);
            exchange::stage_users_work({"-A"}, kShared);
            runwick::git_checked({"commit", "-m", message}, kShared);
            log().info("🎉 成功將變更提交至 Git！");
        }
    } catch (const std::exception& e) {
        log().error(std::string("❌ 檢查或提交 Git 變更時發生錯誤: ") + e.what());
        return Result::failure(std::string("Git 處理失敗: ") + e.what());
    }

    std::vector<std::string> cmd_args{"vezev-odir", "-v", next_version};
    if (has("2.")) cmd_args.push_back("-e");
    else if (has("3.")) cmd_args.push_back("-cicd");
    else if (has("4.")) cmd_args.push_back("-lb");
    else if (has("5.")) cmd_args.insert(cmd_args.end(), {"-cicd", "-lb"});
    auto built = runwick::run_alias_cmd_via_bash_interactive(cmd_args, "vezev-odir", &log());
    if (built.ok) return Result::success(kDone);
    return Result::failure(built.text);
}

Result Quillary::bump_setup_version(const std::string& version) {
    const fs::path setup_py = "./setup.py";
    if (!fs::exists(setup_py)) {
        log().error("❌ 找不到 setup.py 檔案，無法修改版本資訊。");
        return Result::failure("找不到 setup.py 檔案");
    }
    const std::string content = fileIO::load_local_file_content(setup_py, "setup.py 檔案", &log());
    // Only one version argument can be the package's: with several, rewriting any of
    // them would be a guess.
    const auto arguments = setup_version_arguments(content);
    if (arguments.size() > 1) {
        log().error("❌ setup.py 中有 " + std::to_string(arguments.size()) + " 個 setup() 的 version 設定，無法判斷要修改哪一個。");
        return Result::failure("setup.py 中有多個 version 設定");
    }
    const auto current = find_setup_version(content);
    if (current == version) {
        log().info("✅ setup.py 版本已是 " + version + "，無需修改。");
        return Result::success(kDone);
    }
    // Nothing to rewrite: saving the same text and committing it could only fail, or
    // commit something else that happened to be staged.
    if (!current) {
        log().error("❌ setup.py 中找不到 version 設定，無法修改版本資訊。");
        return Result::failure("setup.py 中找不到 version 設定");
    }
    log().info("✅ 正在將 setup.py 中的版本從 " + *current + " 修改為 " + version + "...");
    auto saved =
        fileIO::save_local_file_content(setup_py, replace_setup_version(content, version), "更新 setup.py version", &log());
    if (!saved.ok) return Result::failure("儲存 setup.py 失敗: " + saved.text);
    try {
        runwick::git_checked({"add", "--", "setup.py"}, kShared);
        runwick::git_checked({"commit", "-m", "chore: bump version to " + version}, kShared);
        log().info("🎉 成功更新 setup.py 版本至 " + version + "，並完成 Git Commit。");
    } catch (const std::exception& e) {
        log().warning(std::string("⚠️ git commit 失敗或沒有需要提交的變更: ") + e.what());
        return Result::failure(std::string("Git 提交 setup.py 失敗: ") + e.what());
    }
    return Result::success(kDone);
}

}  // namespace vemtora::quillary

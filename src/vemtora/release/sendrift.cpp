#include "vemtora/release/sendrift.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"
#include "vemtora/core/answers.hpp"
#include "vemtora/core/instructions.hpp"
#include "vemtora/core/output_places.hpp"
#include "vemtora/core/prompt_text.hpp"
#include "vemtora/core/staging.hpp"
#include "vemtora/core/mindrel.hpp"
#include "vemtora/core/runwick.hpp"

namespace vemtora::sendrift {

namespace {

constexpr std::string_view features =
    "Features: Automates Git commit message generation and repository push.\n"
    "  - Generates concise commit messages based on git diff.\n"
    "  - Interactively prompts for confirmation before execution.\n"
    "  - Displays the latest Git log after successful push.\n";

}  // namespace

const brenkit::app_logging::Logger& log() { return brenkit::app_logging::lazy_logger("Sendrift"); }

namespace {

namespace fs = std::filesystem;
namespace fileIO = brenkit::fileIO;
using support::Output;
using support::Result;

const fs::path diff_file = "_agy/current-diff.txt";
const fs::path commit_file = "_agy/generated-commit.txt";

// Queries whose output the user reads name files as they are (git still quotes control
// characters, and what is printed shows them visibly).
std::vector<std::string> readable(std::vector<std::string> words) {
    words.insert(words.begin(), {"-c", "core.quotePath=false"});
    return words;
}

const std::string flash_medium = "Gemini 3.5 Flash (Medium)";
const std::string flash_low = "Gemini 3.5 Flash (Low)";

// git commands of this tool name the failed command by its command line; those that
// read the tree add git's own complaint.
const runwick::GitCheck kShared{.output = Output::inherit, .naming = runwick::GitNaming::command_line};
const runwick::GitCheck kExplained{.naming = runwick::GitNaming::command_line, .explain = true};

// Stages the user's work (see exchange::stage_users_work).
void stage(const std::vector<std::string>& add) { exchange::stage_users_work(add, kShared); }

// What `git diff` compares the working tree with: HEAD, or the empty tree before the
// first commit, so that the first commit is described and made like any other.
std::string diff_base() {
    if (runwick::commit_id("HEAD")) return "HEAD";
    auto format = runwick::git({"rev-parse", "--show-object-format"});
    if (support::strip(runwick::git_text(format)) == "sha256")
        return "6ef19b41225c5369f1c104d45d8d85efa9b057b53b14b4b9b939dd74decc5321";
    return "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
}

// The commit, judged by git's exit status alone: hook or locale output that is not UTF-8
// does not turn a commit that was made into a failure. A refused commit shows git's own
// words (a hook's reasons) once; the failure then names the command, not the message.
void commit(const std::string& message) {
    auto run = runwick::git({"commit", "-m", message});
    if (run.status == 0) return;
    for (const std::string* said : {&run.out, &run.err}) {
        const std::string_view text = support::strip(*said);
        if (!text.empty()) support::echo(text, support::Stream::err);
    }
    throw runwick::GitFailed(runwick::command_failed("git commit", run.status));
}

// The commit just made, as the user finds it again: "commit " with its short id and
// subject (the id alone, or only "commit", when git cannot show it).
std::string commit_named() {
    const auto shown = runwick::git({"show", "-s", "--format=%h%x00%s", "HEAD"});
    const std::string text(support::strip(runwick::git_text(shown)));
    const auto nul = text.find('\0');
    if (shown.status != 0 || nul == std::string::npos) return "commit";
    return "commit " + text.substr(0, nul) + "「" + text.substr(nul + 1) + "」";
}

// A failure once the commit is made: the commit stands, and the message says so.
Result kept_commit_failure(const std::string& why) {
    return Result::failure(why + "（" + commit_named() + "已建立並保留，可稍後再以 git push 推送）");
}

}  // namespace

SendriftApp::SendriftApp(const YAML::Node& config_dict) {
    config = frame::settings_section(config_dict);
    goal_path = support::path_from_utf8(fileIO::text_setting(config, "goal_path", "_agy/goal/sendrift-goal.yaml"));
    skill_path = support::path_from_utf8(fileIO::text_setting(config, "skill_path", "_agy/skill/sendrift-expert.yaml"));
    default_model = frame::default_model_of(config);
    backup_model = frame::backup_model_of(config);
}

std::vector<std::string> models_to_try(const std::string& default_model, const YAML::Node& backup_model) {
    std::string candidate = flash_low;
    if (backup_model.IsSequence() && backup_model.size() > 0 && backup_model[0].IsScalar())
        candidate = backup_model[0].as<std::string>();
    else if (backup_model.IsScalar() && fileIO::scalar_kind(backup_model) == fileIO::ScalarKind::text)
        candidate = backup_model.as<std::string>();
    if (candidate == default_model) {
        if (candidate.find("Low") != std::string::npos) candidate = flash_medium;
        else if (candidate.find("Medium") != std::string::npos) candidate = flash_low;
    }
    return {default_model, candidate};
}

std::string build_prompt(const fs::path& goal_path, const fs::path& skill_path) {
    return "根據 " + exchange::reference(goal_path) + " 與 " + exchange::reference(skill_path) + "：\n" +
           "分析 " + exchange::reference(diff_file) + " 並生成 5 行內 commit 訊息。\n" +
           exchange::brief_output_request(commit_file);
}

std::vector<std::string> untracked_files(std::string_view porcelain) {
    std::vector<std::string> names;
    for (const auto& line : support::splitlines(porcelain))
        if (line.starts_with("?? ")) names.emplace_back(support::strip(std::string_view(line).substr(3)));
    return names;
}

Result SendriftApp::run() {
    log().info("✅ 🚀 開始 Sendrift 產出程序。");
    if (auto missing = exchange::fetch_goal_and_skill(goal_path, skill_path, log())) return *missing;

    std::string diff;
    try {
        if (auto early = read_changes(diff)) return *early;
    } catch (const support::Aborted&) {
        throw;  // the user's own end, at the untracked-files question: "Aborted!" as at any question
    } catch (const std::exception& e) {
        log().error(std::string("❌ 執行 git diff 時發生錯誤: ") + e.what());
        return Result::failure(std::string("執行 git diff 失敗: ") + e.what());
    }

    log().info("✅ 🤖 正在請求 AI 生成 commit 訊息 ⏳...");
    // Held from the diff file on, which another run in this working copy would
    // otherwise overwrite or remove under the agent.
    exchange::AnswerLock answer_lock(commit_file, log());
    if (answer_lock.refused()) return *answer_lock.refused();
    // The scratch diff goes however the agent passes end, an interrupt included.
    struct ScratchDiff {
        ~ScratchDiff() { fileIO::remove_file(diff_file); }
    } scratch_diff;
    auto saved = fileIO::save_local_file_content(diff_file, diff, "current-diff", &log());
    if (!saved.ok) return Result::failure("寫入暫存檔案失敗: " + saved.text);
    std::string prompt = build_prompt(goal_path, skill_path);
    log().debug("🔍 Agy Prompt (已將 diff 寫入 " + support::generic_utf8_text(diff_file) + ")");
    exchange::AnswerFile answer;
    std::string message = ask_agent(prompt, models_to_try(default_model, backup_model), answer);
    exchange::remove_files({diff_file});
    if (message.empty()) {
        log().error("❌ 所有嘗試皆無法取得 commit 訊息，取消操作。");
        return Result::failure("無法取得 commit 訊息，已取消操作");
    }
    return commit_and_push(message, answer);
}

// The work-tree check, the untracked files and the diff. An early result ends `run`.
std::optional<Result> SendriftApp::read_changes(std::string& diff) {
    auto inside = runwick::git({"rev-parse", "--is-inside-work-tree"});
    if (inside.status != 0 || support::strip(inside.out) != "true") {
        log().error("❌ 錯誤：當前目錄不是有效的 Git 工作區。");
        return Result::failure("當前目錄不是有效的 Git 工作區");
    }

    // A git command that fails here is reported, not mistaken for a tree without changes.
    // The tool's own files are not listed: they are never added. Names are shown as git
    // gives them, bytes that are not UTF-8 included (shown as \xNN), never dropped.
    auto status = runwick::git_checked(readable(exchange::over_users_work({"status", "--porcelain"})), kExplained);
    auto untracked = untracked_files(status.out);
    if (!untracked.empty()) {
        support::echo("\n⚠️ 偵測到有未追蹤的檔案 (untracked files):");
        for (const auto& name : untracked) support::echo("  - " + name);
        untracked_declined_ = !support::confirm("💬 是否要將這些檔案加入追蹤並進行處理 (git add .)?", true);
        if (!untracked_declined_) {
            log().info("✅ 正在將檔案加入追蹤 (git add .) ...");
            stage({"--", "."});
        }
    }

    log().info("✅ 正在獲取 git diff 變更...");
    auto changes = runwick::git_checked({"diff", diff_base()}, kExplained);
    // A large diff is decoded and stripped where git's output stands, not copied twice.
    diff = support::decode_ignore(std::move(changes.out));
    const std::string_view kept = support::strip(diff);
    diff.erase(static_cast<size_t>(kept.data() - diff.data()) + kept.size());
    diff.erase(0, static_cast<size_t>(kept.data() - diff.data()));
    if (diff.empty()) {
        log().warning("⚠️ 偵測到目前沒有任何 git 變更 (git diff HEAD 為空)。");
        return Result::success("沒有偵測到任何 git 變更");
    }
    return std::nullopt;
}

// Up to two attempts; the first non-empty message wins, and `answer` holds its file. ""
// when none was had.
std::string SendriftApp::ask_agent(const std::string& prompt, const std::vector<std::string>& models,
                                   exchange::AnswerFile& answer) {
    std::string message;
    const size_t attempts = std::min<size_t>(models.size(), 2);
    for (size_t n = 0; n < attempts; ++n) {
        const std::string& model = models[n];
        if (n > 0) log().info(fmt::format("🔄 進行第 {} 次 Retry，切換 Model 為: {}...", n, model));
        auto outcome = exchange::agent_pass(commit_file,
                                            {.prompt = prompt, .default_model = model, .goal_path = goal_path,
                                             .skill_path = skill_path, .add_dot_dir = true},
                                            "AI 產出的 commit 訊息", log());
        // A retry replaces what a failed attempt left; only the last one's file is kept.
        if (n + 1 < attempts && (!outcome.ok || outcome.text.empty())) outcome.file.replaced();
        if (!outcome.ok) {
            log().warning("⚠️ AI 執行失敗 (" + model + "): " + outcome.text);
            // A program that is missing is missing for every model.
            if (!mindrel::find_agy()) break;
            continue;
        }
        message = outcome.text;
        if (!message.empty()) {
            log().info("✅ 成功從 _agy/generated-commit.txt 讀取 Commit 訊息！(使用 Model: " + model + ")");
            answer = std::move(outcome.file);
            break;
        }
        log().warning("⚠️ 無法取得 commit 訊息 (" + model + ")，準備 Retry...");
    }
    return message;
}

// The message's file goes once the commit holds the message, or when the user declines it.
// Until then it stays out of the tree, so that the commit holds only the user's work; a
// commit that fails puts it back.
Result SendriftApp::commit_and_push(const std::string& message, exchange::AnswerFile& message_file) {
    support::echo("\n--- 📝 AI 生成的 Commit 訊息 ---");
    support::echo(message);
    support::echo(std::string(32, '-') + "\n");
    std::string answer =
        support::prompt_choice("💬 請輸入是否要進行 commit & push (y/n)", {"y", "n"}, std::string("n"), false);
    if (support::ascii_lower(answer) != "y") {
        log().info("⚠️ 已取消 commit & push 操作。");
        message_file.discard();
        return Result::success("使用者已取消操作");
    }

    message_file.set_aside(message);
    bool committed = false;
    try {
        // Files the user chose not to track stay out of the commit (an .env file, say).
        if (untracked_declined_) {
            log().info("✅ 正在將已追蹤檔案的變更加入暫存區 (git add -u)...");
            stage({"-u", "--", ":/"});
        } else {
            log().info("✅ 正在將所有變更加入暫存區 (git add -A)...");
            stage({"-A", "--", ":/"});
        }
        log().info("✅ 正在進行 git commit...");
        commit(message);
        committed = true;
        message_file.saved();
        log().info("🎉 git commit 成功！");

        log().info("✅ 正在進行 git push...");
        if (runwick::git({"push"}).status != 0) {
            log().warning("⚠️ git push 失敗，嘗試使用當前分支推送...");
            std::string branch(support::strip(runwick::git({"branch", "--show-current"}).out));
            if (branch.empty()) throw std::runtime_error("無法取得當前分支名稱");
            // The name is the repository's: pushed by an explicit refspec, and only once git
            // takes it for a branch name (never for an option of push).
            if (!runwick::is_branch_name(branch)) {
                const std::string why = "當前分支名稱「" + branch + "」不是 git 接受的分支名稱，未推送";
                log().error("❌ " + why + "。");
                return kept_commit_failure(why);
            }
            runwick::git_checked({"push", "--set-upstream", "origin", "HEAD:refs/heads/" + branch}, kShared);
        }
        log().info("🎉 git push 成功！");

        runwick::run_alias_cmd_via_bash_interactive({"git-log-status"}, "git-log-status", &log());
        return Result::success("Commit & Push 成功完成");
    } catch (const runwick::GitFailed& e) {
        log().error(std::string("❌ 執行 Git 指令失敗: ") + e.what());
        const std::string why = std::string("Git 指令執行失敗: ") + e.what();
        return committed ? kept_commit_failure(why) : Result::failure(why);
    } catch (const std::exception& e) {
        log().error(std::string("❌ 發生未知錯誤: ") + e.what());
        return committed ? kept_commit_failure(e.what()) : Result::failure(e.what());
    }
}

vemtora::CommandDecl cmd_sendrift() {
    return frame::declare({.name = "sendrift",
                           .help = "自動化 commit & push CLI 工具。",
                           .epilog = frame::standard_epilog("sendrift", features),
                           .binding = {.default_yaml = DEFAULT_YAML_CONTENT,
                                       .log = &log(),
                                       .run = frame::runs_app<SendriftApp>()}});
}

}  // namespace vemtora::sendrift

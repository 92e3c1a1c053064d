// The README assistant end to end: the built binary in a real git working copy, the
// fake agent, the test editor and an interactive bash that knows the build alias.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <cstring>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

std::string answers(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

using ::testing::HasSubstr;
using ::testing::Not;

class QuillaryCli : public ::testing::Test {
  protected:
    th::TempDir tmp;
    fs::path repo = tmp / "repo";
    fs::path home = tmp / "home";
    fs::path script = tmp / "agy";
    bool capped = false;  // runs under the harness's time and memory cap
    std::optional<th::User> user;  // runs as this user

    // A released Python project: README with header fields, setup.py, the source
    // folder, the instruction files committed, the tag v1.2.3 and one commit after it.
    void SetUp() override {
        th::init_repo(repo);
        th::write_file(repo / "README.md", "# Tool\n\n**Project Name:** Tool\n**Author:** Dev Team\n");
        th::write_file(repo / "setup.py",
                       "from setuptools import setup\n"
                       "setup(name='tool', min_version='0.1', version = '1.2.3', author='Someone')\n");
        th::write_file(repo / "tool/cli.py", "print('one')\n");
        th::write_file(repo / "_agy/goal/dovud-readme-goal.yaml", "goal: readme\n");
        th::write_file(repo / "_agy/skill/dovud-readme-expert.yaml", "skill: readme\n");
        th::write_file(repo / "template/dovud_readme_template.md", "# {name}\n");
        commit("release");
        th::git(repo, {"tag", "v1.2.3"});
        th::write_file(repo / "tool/cli.py", "print('two')\n");
        commit("feature");
        fs::create_directories(home);
        fs::create_directories(script);
    }

    void commit(const std::string& message) {
        th::git(repo, {"add", "-A"});
        th::git(repo, {"commit", "-q", "-m", message});
    }
    void define_alias() {
        th::write_file(home / ".bashrc", "alias vezev-odir='printf \"%s\\n\" >>\"$HOME/vezev.log\"'\n");
    }
    void agent_writes(const std::string& text, int call = 0) {
        th::write_file(script / (call ? std::to_string(call) + ".out" : "out"), text);
    }

    th::Outcome run(const std::vector<std::string>& lines, decltype(th::Run::while_running) while_running = nullptr,
                    const std::vector<std::string>& options = {}) {
        std::vector<std::string> args = {"quillary"};
        args.insert(args.end(), options.begin(), options.end());
        return th::run({.args = args,
                        .cwd = repo,
                        .input = answers(lines),
                        .env = {{"HOME", home.string()},
                                {"VISUAL", std::nullopt},
                                {"EDITOR", (th::fakes_dir() / "editor-append").string()},
                                {"EDITOR_TEXT", "請加上安裝說明\n"},
                                {"FAKE_AGY_ARGV", (tmp / "argv").string()},
                                {"FAKE_AGY_SCRIPT", script.string()}},
                        .fake_agy = true,
                        .user = user,
                        .while_running = while_running,
                        .capped = capped});
    }

    // Every recorded agent call's argument vector.
    std::vector<std::vector<std::string>> agent_calls() { return th::fake_agy_calls(tmp / "argv"); }

    std::string status() { return th::git(repo, {"status", "--porcelain"}); }
    std::string last_subject() { return th::git(repo, {"log", "-1", "--format=%s"}); }
    std::string ref(const std::string& rel) { return "@[" + (repo / rel).generic_string() + "]"; }
};

TEST_F(QuillaryCli, UpdatesReadmeAndBumpsSetupVersion) {
    agent_writes("\n# Tool\n\nNew README\n\n");
    // kind, release, a typo (asked again), a version with blanks, confirm, menu option 6
    auto o = run({"", "", "1.2", " 1.3.0 ", "", "6"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功更新 README.md"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ 版本號格式不正確：「1.2」"));
    EXPECT_THAT(o.err, HasSubstr("✅ 已確定下一版版本號: 1.3.0\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 根據專案名稱自動匹配到 Source 目錄: "));
    EXPECT_THAT(o.err, HasSubstr("⚠️ 系統中尚未偵測到 vezev-odir 的別名 (alias) 設定！"));
    EXPECT_THAT(o.out, HasSubstr("--- 🔍 變更差異比對 (Diff: README.md (Original) -> README.md (Updated)) ---"));
    EXPECT_THAT(o.out, HasSubstr("+New README"));
    EXPECT_THAT(o.out, HasSubstr("發布與建置選項\n  1. 發布至github\n  2. 發布至github 並安裝editable mode\n"));

    EXPECT_EQ(th::read_file(repo / "README.md"), "# Tool\n\nNew README");
    EXPECT_EQ(th::read_file(repo / "setup.py"),
              "from setuptools import setup\n"
              "setup(name='tool', min_version='0.1', version=\"1.3.0\", author='Someone')\n");
    EXPECT_EQ(last_subject(), "chore: bump version to 1.3.0\n");
    // Only setup.py was committed; no scratch file is left behind.
    EXPECT_EQ(status(), " M README.md\n");

    auto calls = agent_calls();
    ASSERT_EQ(calls.size(), 1u);
    const auto& argv = calls[0];
    ASSERT_EQ(argv.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.end() - 1),
              (std::vector<std::string>{"agy", "--add-dir", "_agy/goal", "--add-dir", "_agy/skill", "--add-dir", ".",
                                        "--model", "Gemini 3.5 Flash (Medium)", "--dangerously-skip-permissions",
                                        "--print"}));
    const std::string& prompt = argv.back();
    EXPECT_THAT(prompt, HasSubstr("`dovud-readme-refactor`"));
    EXPECT_THAT(prompt, HasSubstr("- 專案名稱 (project_name)：Tool\n- 專案版本：v1.3.0\n"));
    EXPECT_THAT(prompt, HasSubstr("- 作者：Dev Team\n- 原始碼目錄：有需要的時候可以參考原 " + ref("tool") + " 目錄下"));
    EXPECT_THAT(prompt, HasSubstr("- 使用者修改需求：請加上安裝說明\n- 自上次版本至今的程式碼變更已寫入至暫存檔：" +
                                      ref("_agy/current-diff.txt") + "\n"));
}

TEST_F(QuillaryCli, NewReadmeForMcuProjectAndEmptyAgentOutput) {
    th::git(repo, {"rm", "-q", "README.md"});
    commit("no readme");
    th::write_file(repo / "firmware/main.c", "int main(void) { return 0; }\n");
    commit("firmware");
    // kind 2, release, default version, a name (asked again after Enter), default
    // author, the first folder of the menu, confirm
    const std::vector<std::string> lines{"2", "", "", "", "x", "", "1", ""};

    // The agent succeeds but writes nothing: no README, not even an empty one.
    auto o = run(lines);
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("Error: AI 未產出任何 README 內容\n"));
    EXPECT_FALSE(fs::exists(repo / "README.md"));
    EXPECT_EQ(status(), "");

    agent_writes("# FW\n");
    o = run(lines);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功更新 README.md\n"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ 無法取得範本檔案 c_mcu_project_readme_template.md，將繼續執行但不套用範本。"));
    EXPECT_THAT(o.err, HasSubstr("✅ 專案名稱: x, 作者: Orlen Vask\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ MCU C Project 不需要執行 vezev-odir 發布流程。"));
    EXPECT_THAT(o.out, Not(HasSubstr("發布與建置選項")));
    EXPECT_EQ(th::read_file(repo / "README.md"), "# FW");
    EXPECT_EQ(status(), "?? README.md\n");

    auto calls = agent_calls();
    ASSERT_EQ(calls.size(), 2u);
    const std::string& prompt = calls[1].back();
    EXPECT_THAT(prompt, HasSubstr("`dovud-quillary`"));
    EXPECT_THAT(prompt, HasSubstr("【重要指示】：請閱讀原 " + ref("firmware") + " 目錄下的原始 C 語言與標頭檔案"));
    EXPECT_THAT(prompt, HasSubstr("- 作者：Orlen Vask\n\n\n【Git Commit 歷史紀錄 (Git Commit Log)】:\n"));
    EXPECT_THAT(prompt, Not(HasSubstr("使用者修改需求")));
}

// A signal while the agent writes a new README ends the agent and leaves the tree as it
// was: no placeholder README, no scratch or answer file.
// The instruction paths are read once the README kind is chosen: a value of the wrong
// kind is named with the chosen kind's own default, which is what is used.
TEST_F(QuillaryCli, SettingsOfTheWrongKindNameTheChosenKindsDefault) {
    th::write_file(tmp / "config.yaml", "config:\n  goal_path: [a]\n  skill_path: {b: c}\n");
    const std::vector<std::pair<std::string, std::string>> kinds = {{"1", "dovud-readme"}, {"2", "c-mcu-readme"}};
    for (const auto& [answer, stem] : kinds) {
        SCOPED_TRACE(stem);
        auto o = run({answer}, nullptr, {"-c", (tmp / "config.yaml").string()});
        EXPECT_THAT(o.err, HasSubstr("⚠️ Config key 'goal_path' should be a text but holds a list; the default '_agy/goal/" +
                                         stem + "-goal.yaml' is used.\n"));
        EXPECT_THAT(o.err, HasSubstr("⚠️ Config key 'skill_path' should be a text but holds a mapping; the default "
                                     "'_agy/skill/" + stem + "-expert.yaml' is used.\n"));
    }
}

TEST_F(QuillaryCli, SignalWhileAgentWorksKeepsOnlyTheAnswer) {
    th::git(repo, {"rm", "-q", "README.md"});
    commit("no readme");
    th::write_file(repo / "firmware/main.c", "int main(void) { return 0; }\n");
    commit("firmware");
    agent_writes("# half\n");
    th::write_file(script / "hang", "wait");
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        fs::remove(script / "pid");
        fs::remove(repo / "_agy/generated-readme.md");  // kept by the last round: a run wants a clean tree
        int agent = -1;
        auto o = run({"2", "", "", "", "x", "", "1", ""}, [&](int pid, const std::function<std::string()>&) {
            agent = th::wait_for_pid(script / "pid");
            ::kill(pid, sig);
        });
        EXPECT_EQ(o.status, 128 + sig) << o.out << o.err;
        EXPECT_FALSE(th::process_exists(agent));
        if (th::process_exists(agent)) ::kill(agent, SIGKILL);
        EXPECT_FALSE(fs::exists(repo / "README.md"));
        // Only the agent's answer stays, and one line says where; the scratch files go.
        EXPECT_EQ(status(), "?? _agy/generated-readme.md\n");
        EXPECT_EQ(th::read_file(repo / "_agy/generated-readme.md"), "# half\n");
        EXPECT_THAT(o.err, HasSubstr("⚠️ AI 產出的內容已保留於：" + (repo / "_agy/generated-readme.md").string() + "\n"));
        if (HasFailure()) break;
    }
}

// At the last question before the agent the scratch files are written: SIGINT there is
// the user's "Aborted!", SIGTERM and SIGHUP (a closed terminal) end the program with
// their own status; each way the scratch files go.
TEST_F(QuillaryCli, SignalAtQuestionLeavesNoScratchFiles) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        auto o = th::run({.args = {"quillary"},
                          .cwd = repo,
                          .input = answers({"", "", ""}),
                          .env = {{"HOME", home.string()},
                                  {"VISUAL", std::nullopt},
                                  {"EDITOR", (th::fakes_dir() / "editor-append").string()},
                                  {"FAKE_AGY_SCRIPT", script.string()}},
                          .fake_agy = true,
                          .while_running =
                              [sig](int pid, const std::function<std::string()>& out) {
                                  if (th::wait_for_text(out, "💬 是否要立刻生成？") && th::wait_for_sleep(pid))
                                      ::kill(pid, sig);
                              },
                          .open_stdin = true});
        EXPECT_EQ(o.status, sig == SIGINT ? 1 : 128 + sig) << o.out << o.err;
        if (sig == SIGINT)
            EXPECT_THAT(o.err, HasSubstr("Aborted!\n"));
        else
            EXPECT_THAT(o.err, Not(HasSubstr("Aborted!\n")));
        EXPECT_EQ(status(), "");
        if (HasFailure()) break;
    }
}

TEST_F(QuillaryCli, ReleaseCommitsPendingChangesThenRunsTheAlias) {
    define_alias();
    agent_writes("# Tool\n\nReleased\n");
    // kind, release, default version, confirm, option 5, commit yes, default message
    auto o = run({"", "", "", "", "5", "", ""});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功更新 README.md"));
    EXPECT_THAT(o.err, Not(HasSubstr("尚未偵測到 vezev-odir")));
    EXPECT_THAT(o.err, HasSubstr("🎉 成功將變更提交至 Git！"));
    EXPECT_EQ(th::read_file(home / "vezev.log"), "-v\n1.2.4\n-cicd\n-lb\n");
    EXPECT_EQ(last_subject(), "chore: bump version and update README for v1.2.4\n");
    EXPECT_EQ(status(), "");
}

// The commit before the release holds the user's work only: an answer another command
// left under _agy/ stays out of it, whether or not the user's ignore rules name _agy/.
TEST_F(QuillaryCli, ReleaseCommitLeavesTheToolsOwnFilesOut) {
    define_alias();
    agent_writes("# Tool\n\nReleased\n");
    for (bool ignored : {false, true}) {
        SCOPED_TRACE(ignored ? "_agy/ ignored" : "_agy/ not ignored");
        if (ignored) {
            th::write_file(repo / ".gitignore", "_agy/\n");
            commit("ignore the tool's folder");
        }
        th::write_file(repo / "_agy/generated-commit.txt", "kept answer\n");
        std::string before = th::git(repo, {"rev-parse", "HEAD"});
        before.pop_back();  // the line feed
        // kind, release, default version, confirm, option 5, commit yes, default message
        auto o = run({"", "", "", "", "5", "", ""});
        ASSERT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr("🎉 成功將變更提交至 Git！"));
        EXPECT_EQ(th::git(repo, {"diff", "--name-only", before, "HEAD"}), "README.md\n");
        EXPECT_EQ(status(), ignored ? "" : "?? _agy/generated-commit.txt\n");
        th::git(repo, {"reset", "-q", "--hard", before});
    }
}

TEST_F(QuillaryCli, ReleaseRefusals) {
    agent_writes("# Tool\n\nReleased\n");
    const std::string before = th::git(repo, {"rev-parse", "HEAD"});

    // Without the alias the build is refused before any git command.
    auto o = run({"", "", "", "", "1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 未設定 vezev-odir 別名\n"));
    th::git(repo, {"checkout", "-q", "--", "README.md"});

    // With the alias, a refused commit stops the release.
    define_alias();
    o = run({"", "", "", "", "2", "n"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: Git 工作區非 Clean 狀態\n"));
    EXPECT_FALSE(fs::exists(home / "vezev.log"));
    EXPECT_EQ(th::git(repo, {"rev-parse", "HEAD"}), before);
    th::git(repo, {"checkout", "-q", "--", "README.md"});

    // A version bump whose commit fails is a failure, not a success.
    th::write_file(repo / ".git/hooks/pre-commit", "#!/bin/sh\nexit 1\n");
    fs::permissions(repo / ".git/hooks/pre-commit", fs::perms::owner_all);
    o = run({"", "", "", "", "6"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("⚠️ git commit 失敗或沒有需要提交的變更: "));
    EXPECT_THAT(o.err, HasSubstr("Error: Git 提交 setup.py 失敗: Command '['git', 'commit', '-m', 'chore: bump version to "
                                 "1.2.4']' returned non-zero exit status 1.\n"));
    EXPECT_EQ(th::git(repo, {"rev-parse", "HEAD"}), before);
}

TEST_F(QuillaryCli, RefusalAndAgentFailureLeaveReadmeAndNoScratchFiles) {
    const std::string readme = th::read_file(repo / "README.md");
    auto o = run({"", "", "", "n"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 使用者取消生成\n"));
    EXPECT_TRUE(agent_calls().empty());
    EXPECT_EQ(status(), "");

    th::write_file(script / "status", "3\n");
    th::write_file(script / "stderr", "  boom\n");
    agent_writes("ignored\n");
    o = run({"", "", "", ""});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: ❌ AI 執行失敗: boom\n"));
    EXPECT_EQ(th::read_file(repo / "README.md"), readme);
    EXPECT_EQ(status(), "");
}

// Tags arrive with every clone and fetch: a tag named like one of git's options is still
// only a revision, and nothing is written outside the working copy.
TEST_F(QuillaryCli, TagNamedLikeAGitOptionIsOnlyARevision) {
    const fs::path notes = tmp / "notes.txt";
    th::write_file(notes, "mine\n");
    th::git(repo, {"tag", "-d", "v1.2.3"});
    for (const std::string& tag : {"--output=" + notes.string(), std::string("-h")}) {
        SCOPED_TRACE(tag);
        th::git(repo, {"update-ref", "refs/tags/" + tag, "HEAD~1"});
        agent_writes("# Tool\n\nNew\n");
        // kind, release, a version, confirm, skip the release
        auto o = run({"", "", "1.3.0", "", "7"});
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr("✅ 成功獲取自 " + tag + " 以來的 Git Diff (共 "));
        EXPECT_EQ(th::read_file(notes), "mine\n");
        EXPECT_FALSE(fs::exists(tmp / "notes.txt.."));
        th::git(repo, {"checkout", "-q", "--", "README.md"});
        th::git(repo, {"update-ref", "-d", "refs/tags/" + tag});
    }
}

// The repository decides which links it holds. A README or setup.py that leads out of the
// working copy is not read (a device such as /dev/zero not either), a README that cannot
// be written back stops the run before the agent does any work, and the clean-up of the
// scratch files does not delete through a linked _agy folder.
TEST_F(QuillaryCli, RepositoryLinksLeadNowhere) {
    const fs::path outside = tmp / "outside";
    const std::string base = th::git(repo, {"rev-parse", "HEAD"}).substr(0, 40);
    // The links are committed; the arguments are options.
    const std::vector<th::LinkCase> cases = {
        {"README to a secret", {{"README.md", "../outside/secret"}}, {}, 1,
         "符號連結 README.md 指向工作目錄之外的 {outside}/secret，未讀取", 0},
        {"README to an endless device", {{"README.md", "/dev/zero"}}, {}, 1,
         "符號連結 README.md 指向工作目錄之外的 /dev/zero，未讀取", 0},
        // Not read; and as a link that the repository brought into the folder the agent is
        // handed, it keeps the agent from starting.
        {"setup.py to an endless device", {{"setup.py", "/dev/zero"}}, {}, 1,
         "符號連結 setup.py 指向工作目錄之外的 /dev/zero，未讀取", 0},
        {"linked answer folder", {{"_agy", "../outside"}}, {"-c", "own.yaml"}, 1,
         "符號連結 _agy 指向工作目錄之外的 {outside}，未寫入", 0},
    };
    const std::vector<std::string> own = {"current-readme.md", "current-diff.txt", "current-log.txt",
                                          "generated-readme.md", "secret"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::git(repo, {"reset", "-q", "--hard", base});
        th::git(repo, {"clean", "-q", "-fdx"});
        fs::remove_all(outside);
        fs::remove(tmp / "argv");
        for (const auto& name : own) th::write_file(outside / name, "mine: " + name + "\n");
        // Instruction files of its own, so that only the answer folder is linked.
        th::write_file(repo / "own.yaml", "config:\n  goal_path: goal.yaml\n  skill_path: skill.yaml\n");
        th::write_file(repo / "goal.yaml", "goal: readme\n");
        th::write_file(repo / "skill.yaml", "skill: readme\n");
        th::plant_links(repo, c.links);
        commit("links");
        agent_writes("# Tool\n\nNew\n");
        capped = true;
        // kind, release, a version, confirm, skip the release
        auto o = run({"", "", "1.3.0", "", "7"}, nullptr, c.args);
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr(th::with_outside(c.line, outside)));
        EXPECT_EQ(agent_calls().size(), c.agent_calls);
        for (const auto& name : own) EXPECT_EQ(th::read_file(outside / name), "mine: " + name + "\n") << name;
        for (const auto& [name, target] : c.links) EXPECT_TRUE(fs::is_symlink(repo / name)) << name;
    }
}

// A working copy whose top folder cannot be written (a read-only checkout) is found
// before anything is asked: the README could not be saved after the agent's work.
TEST_F(QuillaryCli, AWorkingCopyThatCannotBeWrittenStopsBeforeAnyQuestion) {
    TH_UNPRIVILEGED_USER(as);
    agent_writes("# Tool\n\nnew\n");
    th::give_to(tmp.path(), as);
    user = as;
    fs::permissions(repo, static_cast<fs::perms>(0555), fs::perm_options::replace);
    auto o = run({"1", "", "", ""});
    fs::permissions(repo, static_cast<fs::perms>(0755), fs::perm_options::replace);
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("❌ 無法寫入輸出資料夾 .: Permission denied\n"));
    EXPECT_TRUE(o.err.ends_with("Error: 無法寫入輸出資料夾: .\n")) << o.err;
    EXPECT_THAT(o.out, Not(HasSubstr("請")));
    EXPECT_TRUE(th::fake_agy_calls(tmp / "argv").empty());
    EXPECT_EQ(th::read_file(repo / "README.md"), "# Tool\n\n**Project Name:** Tool\n**Author:** Dev Team\n");
}

TEST_F(QuillaryCli, StopsOnDirtyTreeOrOutsideGit) {
    th::write_file(repo / "notes.txt", "x\n");
    auto o = run({});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Git 工作區非 Clean 狀態，無法執行 README 處理！請先提交或暫存 (stash) 變更。"));
    EXPECT_THAT(o.err, HasSubstr("Error: Git 工作區非 Clean 狀態\n"));

    o = th::run({.args = {"quillary"}, .cwd = home, .env = {{"HOME", home.string()}}, .fake_agy = true});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 非有效的 Git 儲存庫或未安裝 Git\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("README 型態")));
}

// The refusal says what is dirty: up to ten lines of `git status --short`, then how
// many more there are.
TEST_F(QuillaryCli, DirtyTreeRefusalListsTheChanges) {
    const std::string refusal = "❌ Git 工作區非 Clean 狀態，無法執行 README 處理！請先提交或暫存 (stash) 變更。\n";
    struct Case {
        int untracked;
        std::string listed;
    };
    auto note = [](int n) { return "note-" + std::string(1, char('a' + n)) + ".txt"; };
    std::string ten;
    for (int n = 0; n < 9; ++n) ten += "  ?? " + note(n) + "\n";
    const std::vector<Case> cases = {
        {0, "   M tool/cli.py\nError: "},
        {1, "   M tool/cli.py\n  ?? 筆記.txt\nError: "},
        {9, "   M tool/cli.py\n" + ten + "Error: "},
        {12, "   M tool/cli.py\n" + ten + "  ... 另有 3 項變更未列出\nError: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.untracked);
        th::git(repo, {"clean", "-q", "-fd"});
        th::write_file(repo / "tool/cli.py", "print('dirty')\n");
        if (c.untracked == 1) th::write_file(repo / "筆記.txt", "x\n");
        for (int n = 0; n < c.untracked && c.untracked > 1; ++n)
            th::write_file(repo / note(n), "x\n");
        auto o = run({});
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.err, testing::HasSubstr(refusal + c.listed));
    }
}

// The saved README keeps the line ends of the one it replaces, whatever the agent wrote
// (so the diff shows only what changed); a new README gets LF; a byte-order mark that the
// agent wrote goes.
TEST_F(QuillaryCli, SavedReadmeKeepsTheLineEndsOfTheOneItReplaces) {
    const std::string lf = "# Tool\n\n**Project Name:** Tool\n**Author:** Dev Team\n";
    const std::string crlf = "# Tool\r\n\r\n**Project Name:** Tool\r\n**Author:** Dev Team\r\n";
    const std::string bom = "\xEF\xBB\xBF";
    struct Case {
        std::string name;
        std::optional<std::string> old_readme;
        std::string answer;
        std::string saved;
    };
    const std::vector<Case> cases = {
        {"LF README, CRLF answer", lf, "# Tool\r\n\r\nNew README\r\n", "# Tool\n\nNew README"},
        {"LF README, answer with a mark", lf, bom + "# Tool\n\nNew README\n", "# Tool\n\nNew README"},
        {"CRLF README, LF answer", crlf, "# Tool\n\nNew README\n", "# Tool\r\n\r\nNew README"},
        {"CRLF README, CRLF answer with a mark", crlf, bom + "# Tool\r\n\r\nNew README\r\n",
         "# Tool\r\n\r\nNew README"},
        {"new README, CRLF answer", std::nullopt, bom + "# Tool\r\n\r\nNew README\r\n", "# Tool\n\nNew README"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.old_readme) th::write_file(repo / "README.md", *c.old_readme);
        else fs::remove(repo / "README.md");
        th::git(repo, {"add", "-A"});
        th::git(repo, {"commit", "-q", "--allow-empty", "-m", "readme"});
        agent_writes(c.answer);
        auto o = run({"", "", "", "", "7"});
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        EXPECT_EQ(th::read_file(repo / "README.md"), c.saved);
        if (c.old_readme) {
            EXPECT_THAT(o.out, testing::HasSubstr("\n+New README\n"));
            EXPECT_THAT(o.out, testing::Not(testing::HasSubstr("-# Tool")));
        }
        th::git(repo, {"checkout", "-q", "--", "."});
        th::git(repo, {"clean", "-q", "-fd"});
    }
}

// What a killed run left behind (its scratch inputs and answer under _agy/) is the
// tool's, not the user's: the next run is not refused for it.
TEST_F(QuillaryCli, LeftoversOfAKilledRunDoNotBlockTheNext) {
    for (const char* left : {"_agy/current-diff.txt", "_agy/current-log.txt", "_agy/current-readme.md",
                             "_agy/generated-readme.md"})
        th::write_file(repo / left, "left behind\n");
    agent_writes("# Tool\n\nAgain\n");
    auto o = run({"", "", "", "", "7"});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, testing::HasSubstr("Done: 成功更新 README.md\n"));
    EXPECT_EQ(status(), " M README.md\n");
}

}  // namespace

// Option 6 rewrites the setup call's own version argument and nothing that merely
// looks like one; with more than one such argument nothing is written or committed.
TEST_F(QuillaryCli, OnlyTheSetupCallsVersionIsRewritten) {
    agent_writes("# Tool\n\nNew\n");
    th::write_file(repo / "setup.py",
                   "from setuptools import setup\n"
                   "setup(name='tool', description=\"pin version='0.9' of x\", version='1.2.3')\n");
    commit("description");
    auto o = run({"", "", "", "", "6"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(th::read_file(repo / "setup.py"),
              "from setuptools import setup\n"
              "setup(name='tool', description=\"pin version='0.9' of x\", version=\"1.2.4\")\n");
    EXPECT_EQ(last_subject(), "chore: bump version to 1.2.4\n");
    th::git(repo, {"checkout", "-q", "--", "README.md"});

    const std::string two = "import sys\nfrom setuptools import setup\nif sys.argv:\n    setup(version='1.2.4')\n"
                            "else:\n    setup(version='0.1')\n";
    th::write_file(repo / "setup.py", two);
    commit("two setups");
    const std::string before = th::git(repo, {"rev-parse", "HEAD"});
    o = run({"", "", "", "", "6"});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("Error: setup.py 中有多個 version 設定\n"));
    EXPECT_EQ(th::read_file(repo / "setup.py"), two);
    EXPECT_EQ(th::git(repo, {"rev-parse", "HEAD"}), before);
}

// The new-project command end to end: a local bare repository holding a small sample
// project, the built binary cloning it, the fake agent completing the project.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const fs::path sample = th::fakes_dir() / "projtools-sample";
const std::string new_cli = "import click\nfrom .start_task import cmd_start_task\n";

class SproutelCli : public ::testing::Test, public th::AgentWorkspace {
  protected:
    void SetUp() override {
        fs::copy(sample, tmp / "src", fs::copy_options::recursive);
        th::git(tmp / "src", {"init", "-q"});
        th::git(tmp / "src", {"add", "-A"});
        th::git(tmp / "src", {"commit", "-q", "-m", "sample"});
        th::git(tmp.path(), {"clone", "-q", "--bare", "src", "Faldrun.git"});
        configure((tmp / "Faldrun.git").string());
    }

    void configure(const std::string& repo) {
        th::write_file(work / "config.yaml", "config:\n  template_repo: \"" + repo +
                                                 "\"\n  project_desc: \"週報工具\"\n  default_model: gemini-3.1-pro-h\n");
    }

    th::Outcome run(const std::string& input) {
        return run_input({"sproutel", "-c", "config.yaml"}, input, "",
                         {{"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()}});
    }
};

TEST_F(SproutelCli, ClonesRenamesAndCompletesTheProject) {
    agent("out", "\nimport click\n\ndef cmd_start_task():\n    pass\n", 1);
    agent("out", new_cli, 2);
    auto o = run(" MyProject \nmy-cli\nstart-task\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.out.substr(o.out.rfind("Done: ")),
              "Done: 專案「MyProject」初始化已順利完成！路徑: " + (work / "MyProject").string() + "\n");
    EXPECT_THAT(o.out, HasSubstr("\n--- 手動輸入模式 ---\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 已確認命名設定：專案=MyProject / 指令=my-cli / 子指令=start-task\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 正在從 " + (tmp / "Faldrun.git").string() + " 下載專案範本...\n"));

    const fs::path p = work / "MyProject";
    EXPECT_EQ(th::read_file(p / "myproject/start_task.py"), "import click\n\ndef cmd_start_task():\n    pass");
    EXPECT_EQ(th::read_file(p / "myproject/cli.py"), new_cli.substr(0, new_cli.size() - 1));
    EXPECT_EQ(th::read_file(p / "data_start_task/sample.txt"), "sample data\n");
    EXPECT_TRUE(fs::exists(p / "myproject/web_ui/ui_start_task.py"));
    for (const char* gone : {".git", "Faldrun.code-workspace", "docs/docs.code-workspace", "config_faldrun_template.yaml",
                             "faldrun", "myproject/faldrun.py"})
        EXPECT_FALSE(fs::exists(p / gone)) << gone;
    EXPECT_TRUE(fs::exists(p / "docs"));
    EXPECT_FALSE(fs::exists(work / "Faldrun"));
    EXPECT_EQ(th::read_file(p / "setup.py"),
              "from setuptools import setup, find_packages\n\nsetup(\n    name=\"myproject\",\n    version=\"0.1.0\",\n"
              "    description=\"MyProject CLI Application\",\n    packages=find_packages(),\n"
              "    entry_points={\"console_scripts\": ['my-cli=myproject.cli:main']},\n)\n");
    EXPECT_FALSE(fs::exists(work / "_agy/generated-dovud-new.txt"));
    EXPECT_FALSE(fs::exists(work / "_agy/generated-dovud-reg.txt"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 2u);
    const std::vector<std::string> head = {"agy",      "--add-dir", "_agy/goal", "--add-dir", "_agy/skill",
                                           "--add-dir", ".",         "--model",   "Gemini 3.1 Pro (High)",
                                           "--dangerously-skip-permissions", "--print"};
    for (const auto& call : argv) EXPECT_EQ(std::vector<std::string>(call.begin(), call.end() - 1), head);
    EXPECT_EQ(argv[0].back(), "根據 @[" + abs("_agy/goal/sproutel.yaml") + "]：\n將 @[" +
                                  abs("MyProject/myproject/start_task.py") +
                                  "] 重構為核心模組。\n【參數設定】\n- 專案名稱: MyProject\n- 指令名稱: my-cli\n"
                                  "- 子指令名稱: start-task\n- 類別名稱: StartTask\n- 功能描述: 週報工具\n"
                                  "使用 `write_to_file` 寫入：`" +
                                  abs("_agy/generated-dovud-new.txt") + "`。\n禁止解釋或 markdown，僅執行工具。");
    EXPECT_THAT(argv[1].back(), HasSubstr("重構 @[" + abs("MyProject/myproject/cli.py") + "] 註冊子指令。\n"));
    EXPECT_THAT(argv[1].back(), HasSubstr("- 檔案名稱: start_task.py\n- 函式名稱: cmd_start_task\n"));
}

TEST_F(SproutelCli, RefusalsNeverTouchTheUsersFiles) {
    // Instruction files that cannot be had: the shared refusal, before any question.
    auto o = run_input({"sproutel", "-c", "config.yaml"}, "Tool\nmy-cli\nstart-task\n", "",
                       {{"VEMTORA_REPO_BASE_URL", "file:///nonexistent-vemtora-repo"}});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。\nError: ❌ 缺少必要的 Goal 或 Skill 設定檔\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("手動輸入模式")));

    // An answer of blanks only: nothing cloned, no agent.
    o = run("   \nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 專案名稱、指令名稱與子指令名稱皆不能為空。\n"));
    EXPECT_FALSE(fs::exists(work / "Faldrun"));

    // A name holding a path would put the package and the project in different folders.
    for (const char* answers : {"../Escaped\nmy-cli\nstart-task\n", "Tool\nmy-cli\n../../start-task\n"}) {
        o = run(answers);
        EXPECT_EQ(o.status, 1) << answers;
        EXPECT_THAT(o.err, HasSubstr("Error: 專案名稱與子指令名稱不可包含路徑分隔符號，未進行任何變更。\n"));
        EXPECT_FALSE(fs::exists(work / "Faldrun"));
        EXPECT_FALSE(fs::exists(tmp / "Escaped"));
        EXPECT_FALSE(fs::exists(work / "escaped"));
    }

    // A project folder of that name is already there: it stays as it is.
    th::write_file(work / "Mine/keep.txt", "mine\n");
    o = run("Mine\nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 專案資料夾「Mine」已存在，未進行任何變更。\n"));
    EXPECT_EQ(th::read_file(work / "Mine/keep.txt"), "mine\n");
    EXPECT_FALSE(fs::exists(work / "Faldrun"));

    // A sub-command whose module would take the place of the sample's cli.py: the
    // half-made clone goes, so the same run fails the same way again rather than at
    // the clone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        o = run("Clash\nmy-cli\ncli\n");
        EXPECT_EQ(o.status, 1);
        EXPECT_THAT(o.err, HasSubstr("目標已存在。\n"));
        EXPECT_FALSE(fs::exists(work / "Faldrun"));
        EXPECT_FALSE(fs::exists(work / "Clash"));
    }
    EXPECT_TRUE(calls().empty());

    // A sub-command holding ".py" would name a module other than the one the sample's
    // module is renamed to: refused before anything is cloned.
    for (const char* sub : {"x.py", "my.pyx-tool", "a.py.py"}) {
        o = run(std::string("Tool\nmy-cli\n") + sub + "\n");
        EXPECT_EQ(o.status, 1) << sub;
        EXPECT_THAT(o.err, HasSubstr("Error: 子指令名稱不可包含「.py」，未進行任何變更。\n"));
        EXPECT_THAT(o.out, Not(HasSubstr("Done")));
        EXPECT_FALSE(fs::exists(work / "Faldrun"));
        EXPECT_FALSE(fs::exists(work / "Tool"));
    }
    EXPECT_TRUE(calls().empty());

    // git cannot clone the address.
    configure((tmp / "nowhere/Faldrun.git").string());
    o = run("Other\nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: ❌ Git clone 失敗，請確認網路連線或 Git 設定。\n"));
    EXPECT_FALSE(fs::exists(work / "Other"));
}

// The clone goes into the one folder the run names, Faldrun, and only that folder goes
// when the run fails or is interrupted after it: a folder made meanwhile (here by a clone
// hook, as another terminal or an IDE would) stays.
TEST_F(SproutelCli, AFailedOrInterruptedRunRemovesOnlyItsClone) {
    const fs::path hooks = tmp / "git-template/hooks", notes = work / "my-notes/notes.txt";
    th::write_file(hooks / "post-checkout",
                   "#!/bin/sh\nmkdir -p ../my-notes && echo note > ../my-notes/notes.txt\n"
                   "[ -n \"$HOOK_WAITS\" ] || exit 0\necho $$ > \"$HOOK_WAITS/pid\"\n"
                   "while [ ! -e \"$HOOK_WAITS/release\" ]; do sleep 0.05; done\n");
    fs::permissions(hooks / "post-checkout", fs::perms::owner_all);
    struct Case {
        std::string name;
        std::string answers;
        bool interrupted;
        int status;
    };
    const std::vector<Case> cases = {
        {"failed after the clone", "Clash\nmy-cli\ncli\n", false, 1},
        {"interrupted during the clone", "Other\nmy-cli\nstart-task\n", true, 130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work / "my-notes");
        fs::remove_all(tmp / "hook");
        fs::create_directories(tmp / "hook");
        while_running = nullptr;
        if (c.interrupted)
            while_running = [&](int pid, const std::function<std::string()>&) {
                th::wait_for_pid(tmp / "hook/pid");
                ::kill(pid, SIGINT);
                th::write_file(tmp / "hook/release", "");
            };
        auto o = run_input({"sproutel", "-c", "config.yaml"}, c.answers, "",
                           {{"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()},
                            {"GIT_TEMPLATE_DIR", (tmp / "git-template").string()},
                            {"HOOK_WAITS", c.interrupted ? std::optional((tmp / "hook").string()) : std::nullopt}});
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        EXPECT_EQ(th::read_file(notes), "note\n");
        EXPECT_FALSE(fs::exists(work / "Faldrun"));
        EXPECT_FALSE(fs::exists(work / "Clash"));
        EXPECT_FALSE(fs::exists(work / "Other"));
    }
    EXPECT_TRUE(calls().empty());
}

// A template repository of another name is cloned into Faldrun as well, so a folder of
// the repository's own name is never touched.
TEST_F(SproutelCli, ARepositoryOfAnotherNameIsClonedIntoFaldrun) {
    th::git(tmp.path(), {"clone", "-q", "--bare", "src", "Sample.git"});
    configure((tmp / "Sample.git").string());
    th::write_file(work / "Sample/mine.txt", "mine\n");
    agent("out", "def cmd_start_task():\n    pass\n", 1);
    agent("out", new_cli, 2);
    auto o = run("Named\nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(th::read_file(work / "Named/named/start_task.py"), "def cmd_start_task():\n    pass");
    EXPECT_EQ(th::read_file(work / "Sample/mine.txt"), "mine\n");
    EXPECT_FALSE(fs::exists(work / "Faldrun"));
}

// A folder in the way is named before the questions that it would make useless: the
// user's Faldrun before any name is asked, a project folder as soon as its name is typed.
// Either stays as it was, and git's own reason follows a clone that fails.
TEST_F(SproutelCli, FolderInTheWayIsNamedBeforeTheNextQuestion) {
    th::write_file(work / "Faldrun/mine.txt", "mine\n");
    auto o = run("");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, testing::HasSubstr("❌ 目前目錄下已存在「Faldrun」，範本會複製到這個資料夾，請先移走或改名該資料夾。\n"));
    EXPECT_THAT(o.err, testing::HasSubstr("Error: 範本資料夾「Faldrun」已存在，未進行任何變更。\n"));
    EXPECT_THAT(o.out, testing::Not(testing::HasSubstr("請輸入專案名稱")));
    EXPECT_EQ(th::read_file(work / "Faldrun/mine.txt"), "mine\n");
    fs::remove_all(work / "Faldrun");

    th::write_file(work / "Mine/keep.txt", "mine\n");
    o = run("Mine\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, testing::HasSubstr("Error: 專案資料夾「Mine」已存在，未進行任何變更。\n"));
    EXPECT_THAT(o.out, testing::Not(testing::HasSubstr("主進入點指令")));
    EXPECT_EQ(th::read_file(work / "Mine/keep.txt"), "mine\n");

    const fs::path nowhere = tmp / "nowhere/Faldrun.git";
    configure(nowhere.string());
    o = run("Other\nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, testing::HasSubstr("Error: ❌ Git clone 失敗，請確認網路連線或 Git 設定。\nfatal: repository '" +
                                          nowhere.string() + "' does not exist\n"));
    EXPECT_FALSE(fs::exists(work / "Faldrun"));
    EXPECT_TRUE(calls().empty());
}

TEST_F(SproutelCli, AgentFailuresKeepTheGeneratedProject) {
    const std::string sample_module = th::read_file(sample / "faldrun/faldrun.py");

    // A stale answer of an earlier run is removed first; an agent that writes nothing
    // leaves the sample module in place.
    th::write_file(work / "_agy/generated-dovud-new.txt", "STALE\n");
    auto o = run("Quiet\nq-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ agy 未產出任何程式碼，start_task.py 保留範例內容。\n"));
    EXPECT_THAT(o.err, HasSubstr("Error: AI 未產出 start_task.py 的程式碼，專案已建立但主模組未重構: "));
    EXPECT_EQ(th::read_file(work / "Quiet/quiet/start_task.py"), sample_module);

    agent_fails(1, "boom\n");
    o = run("Loud\nl-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: AI 重構 start_task.py 失敗: boom\n"));
    EXPECT_EQ(th::read_file(work / "Loud/loud/start_task.py"), sample_module);

    // A rewritten module without a cmd_ function: no registration, the generation's success.
    fs::remove_all(script);
    agent("out", "print('core')\n");
    o = run("Plain\np-cli\nstart-task\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 專案「Plain」初始化已順利完成！路徑: "));
    EXPECT_EQ(calls().size(), 3u);
    EXPECT_EQ(th::read_file(work / "Plain/plain/cli.py"), th::read_file(sample / "faldrun/cli.py"));
}

}  // namespace

// The sample repository decides which links it holds: a linked package folder that leads
// out of the working copy is neither renamed in nor deleted through, and a linked
// setup.py is not read.
TEST_F(SproutelCli, TemplateLinksLeadNowhere) {
    const fs::path outside = tmp / "outside";
    th::write_file(outside / "faldrun.py", "mine\n");
    th::write_file(outside / "secret.py", "KEY = 'PRIVATE KEY'\n");
    fs::remove_all(tmp / "src/faldrun");
    fs::create_symlink("../../outside", tmp / "src/faldrun");
    fs::remove(tmp / "src/setup.py");
    fs::create_symlink("../../outside/secret.py", tmp / "src/setup.py");
    th::git(tmp / "src", {"add", "-A"});
    th::git(tmp / "src", {"commit", "-q", "-m", "links"});
    fs::remove_all(tmp / "Faldrun.git");
    th::git(tmp.path(), {"clone", "-q", "--bare", "src", "Faldrun.git"});
    auto o = run(" MyProject \nmy-cli\nstart-task\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("符號連結 Faldrun/faldrun 指向工作目錄之外的 " + fs::canonical(outside).string() + "，未寫入"));
    EXPECT_EQ(th::read_file(outside / "faldrun.py"), "mine\n");
    EXPECT_EQ(th::read_file(outside / "secret.py"), "KEY = 'PRIVATE KEY'\n");
    EXPECT_FALSE(fs::exists(outside / "start_task.py"));
    EXPECT_THAT(o.out + o.err, Not(HasSubstr("PRIVATE KEY")));
    EXPECT_TRUE(calls().empty());
}

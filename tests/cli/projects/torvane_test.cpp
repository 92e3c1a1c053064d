// The refactoring command end to end: manuals downloaded from a file:// folder, the
// target and reference picked from menus, the request typed into the test editor, the
// fake agent refactoring the script and registering it in the cli.py beside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::Not;
using ::testing::HasSubstr;

const std::string loader_py = "def load():\n    return 1\n";

class TorvaneCli : public ::testing::Test, public th::AgentWorkspace {
  protected:
    const fs::path& proj = work;

    void SetUp() override {
        th::write_click_project(proj);
        th::write_file(proj / "pkg/data_loader.py", loader_py);
        th::write_file(proj / "_ref/arch/base_app.py", "class BaseApp: pass\n");
        th::write_file(proj / "_ref/old.md", "# notes\n");
    }

    th::Outcome run(const std::string& input, const std::string& typed = "") {
        return run_input({"torvane"}, input, typed,
                         {{"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()}});
    }
};

TEST_F(TorvaneCli, RefactorsTheScriptWithManualsThenRegistersIt) {
    agent("out", "\ndef cmd_load():\n    return 2\n\n", 1);
    agent("out", th::click_cli_py + "main.add_command(cmd_load)\n", 2);
    // every manual, the second script (pkg/data_loader.py), the one reference, Enter at the question
    auto o = run("a\n2\n1\n\n", "加上型別提示\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 重構完成並已更新檔案: ./pkg/data_loader.py\n"));
    EXPECT_THAT(o.out, HasSubstr("\n--- 步驟 1: 💬 請選擇 [重構目標檔案 (Target File)] ---\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("__init__"))) << "package markers are never offered";
    EXPECT_THAT(o.err, HasSubstr("✅ 已選取重構目標：data_loader.py\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 已選取架構參考: base_app.py\n"));
    EXPECT_THAT(o.err, HasSubstr("🎉 已成功將功能註冊至 cli.py\n"));
    EXPECT_THAT(o.out, HasSubstr("❓ 是否確認開始進行程式碼重構？ [Y/n]: "));

    EXPECT_EQ(th::read_file(proj / "_ref/Python_API_Manual_fileIO_ai.md"), "# fileIO manual\n");
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), "def cmd_load():\n    return 2");
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py + "main.add_command(cmd_load)");
    EXPECT_FALSE(fs::exists(proj / "_agy/generated-torvane.txt"));
    EXPECT_FALSE(fs::exists(proj / "_agy/generated-dovud-reg.txt"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 2u);
    auto head = [](const std::string& folder) {
        return std::vector<std::string>{"agy",      "--add-dir", "_agy/goal", "--add-dir", "_agy/skill",
                                        "--add-dir", folder,      "--add-dir", ".",         "--model",
                                        "Gemini 3.5 Flash (Medium)", "--dangerously-skip-permissions", "--print"};
    };
    EXPECT_EQ(std::vector<std::string>(argv[0].begin(), argv[0].end() - 1), head("./_ref"));
    EXPECT_EQ(std::vector<std::string>(argv[1].begin(), argv[1].end() - 1), head("pkg"));

    const std::string goal = abs("_agy/goal/torvane.yaml"), skill = abs("_agy/skill/dovud-expert.yaml");
    EXPECT_EQ(argv[0].back(),
              "根據 @[" + goal + "] 指示與 @[" + skill + "] 技能，\n請根據指示與以下資源，將目標檔案 " +
                  ref("pkg/data_loader.py") + " 進行程式碼重構：\n\n【可用資源清單】\n- API 手冊列表: " +
                  ref("_ref/ApiManual_app_logging_ai.md") + ", " + ref("_ref/Python_API_Manual_fileIO_ai.md") + ", " +
                  ref("_ref/old.md") + "\n- 參考原始碼列表: " + ref("_ref/arch/base_app.py") +
                  "\n\n【特定任務設定】\n- 目標重構檔案 (Target File): " + ref("pkg/data_loader.py") +
                  "\n- 主要架構參考 (Reference Architecture): " + ref("_ref/arch/base_app.py") +
                  "\n- 主指令名稱 (CLI Name): mytool\n- 具體重構需求: 加上型別提示\n\n【輸出要求】：\n"
                  "請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                  abs("_agy/generated-torvane.txt") + "` 檔案中。\n");
    EXPECT_THAT(argv[1].back(), HasSubstr("- sub_cli_name: data-loader\n- target_file: data_loader.py\n- func_name: cmd_load\n"));
}

TEST_F(TorvaneCli, CancelEmptyOutputAndFailuresLeaveTheScript) {
    // Instruction files that cannot be had: the shared refusal, before the editor.
    auto o = run_input({"torvane"}, "\n2\n\n", "", {{"VEMTORA_REPO_BASE_URL", "file:///nonexistent-vemtora-repo"}});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。\nError: ❌ 缺少必要的 Goal 或 Skill 設定檔\n"));
    EXPECT_TRUE(calls().empty());

    // No at the question: nothing touched, no agent.
    o = run("\n2\n\nn\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 使用者已取消重構\n"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ 未選取架構參考，將採用一般重構模式。\n"));
    EXPECT_TRUE(calls().empty());

    // The agent succeeds without writing: the script keeps its text, no registration.
    o = run("\n2\n\n\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: AI 未產出重構程式碼，data_loader.py 未變更\n"));
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), loader_py);
    ASSERT_EQ(calls().size(), 1u);
    const std::string prompt = calls()[0].back();
    EXPECT_THAT(prompt, HasSubstr("- 參考原始碼列表: " + ref("_ref/arch/base_app.py") + "\n"));
    EXPECT_THAT(prompt, HasSubstr("- 主要架構參考 (Reference Architecture): 無\n"));
    EXPECT_THAT(prompt, HasSubstr("- 具體重構需求: 根據重構目標指示進行一般程式碼重構與優化。\n"));

    // The agent fails: its text is the message.
    agent_fails(2, "rate limited\n");
    o = run("\n2\n\n\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: rate limited\n"));
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), loader_py);

    // A script without a cli.py beside it: refactored, a warning, success.
    fs::remove_all(script);
    agent("out", "print('tool')\n");
    th::write_file(proj / "tool.py", "print(1)\n");
    o = run("\n4\n\n\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr("⚠️ 未在同目錄下找到 cli.py，跳過自動註冊子指令的檢查。\n"));
    EXPECT_EQ(th::read_file(proj / "tool.py"), "print('tool')");

    // No target picked.
    o = run("\n\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Error: 未選取目標檔案，程序結束。\n"));
}

TEST(ProjectToolTemplates, EachCommandWritesItsOwnTemplate) {
    th::TempDir tmp;
    struct Case {
        std::string command, line;
    };
    for (const auto& c : std::vector<Case>{{"sproutel", "Success! Template file created at: "},
                                          {"graftwell", "✅ Success! Template file created at: "},
                                          {"torvane", "Success! Template file created at: "}}) {
        // The configuration and model are not looked at.
        auto o = th::run({.args = {c.command, "--generate-config", "-c", "missing.yaml", "-m", "x"}, .cwd = tmp.path()});
        const fs::path file = tmp / ("config_" + c.command + "_template.yaml");
        EXPECT_EQ(o.status, 0) << c.command << o.err;
        EXPECT_EQ(o.out.rfind(c.line, 0), 0u) << o.out;
        EXPECT_THAT(o.out, HasSubstr("config_" + c.command + "_template.yaml\n"));
        EXPECT_TRUE(th::read_file(file).rfind("config:\n  ", 0) == 0) << c.command;
    }
    auto o = th::run({.args = {"sproutel", "--generate-config", "--debug"}, .cwd = tmp.path()});
    EXPECT_THAT(o.err, HasSubstr("Debug mode is ON.\n"));
}

}  // namespace

// A script in a folder the user may not write is found before anything more is asked or
// the agent runs. One whose folder becomes write-protected while the agent works is not
// replaced, and the refactored code stays in the agent's answer file.
TEST_F(TorvaneCli, AWriteProtectedFolderKeepsTheAnswer) {
    TH_UNPRIVILEGED_USER(user);
    agent("out", "def cmd_load():\n    return 2\n", 1);
    run_as(user);
    const auto read_only = static_cast<fs::perms>(0555);
    fs::permissions(proj / "pkg", read_only, fs::perm_options::replace);
    auto o = run("a\n2\n1\n\n", "加上型別提示\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("❌ 無法寫入輸出資料夾 ./pkg: Permission denied\n"));
    EXPECT_THAT(o.err, HasSubstr("Error: 無法寫入輸出資料夾: ./pkg\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("步驟 2")));
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), loader_py);

    fs::permissions(proj / "pkg", static_cast<fs::perms>(0755), fs::perm_options::replace);
    agent_hangs(false, 1);
    while_running = [&](int, const std::function<std::string()>&) {
        th::wait_for_pid(agent_pid_file());
        fs::permissions(proj / "pkg", read_only, fs::perm_options::replace);
        release_agent();
    };
    o = run("a\n2\n1\n\n", "加上型別提示\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("data_loader.py: Permission denied\n"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ AI 產出的內容已保留於：" + abs("_agy/generated-torvane.txt") + "\n"));
    EXPECT_EQ(th::read_file(proj / "_agy/generated-torvane.txt"), "def cmd_load():\n    return 2\n");
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), loader_py);
    EXPECT_EQ(calls().size(), 1u);
}

// A failing editor ends the run; the default request is not put in its place.
TEST_F(TorvaneCli, AFailingEditorEndsTheRun) {
    agent("out", "def cmd_load():\n    return 2\n", 1);
    auto o = run_input({"torvane"}, "a\n2\n1\n\n", "加上型別提示\n",
                       {{"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()},
                        {"EDITOR_STATUS", "1"}});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("Error: 編輯器未正常結束，程序中斷。\n"));
    EXPECT_THAT(o.err, Not(HasSubstr("將採用預設重構規則")));
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(th::read_file(proj / "pkg/data_loader.py"), loader_py);
}

// The repository decides which links it holds: a reference file linked out of the working
// copy is not handed to the agent, a setup.py that is an endless device is not read, and a
// linked output folder is refused before anything is downloaded or asked.
TEST_F(TorvaneCli, RepositoryLinksLeadNowhere) {
    const fs::path outside = tmp / "outside";
    const std::vector<th::LinkCase> cases = {
        {"reference linked to a secret", {{"_ref/leak.py", "../../outside/secret.py"}}, {}, 0,
         "⚠️ 符號連結 _ref/leak.py 指向工作目錄之外的 {outside}/secret.py，已略過", 2},
        {"setup.py to an endless device", {{"setup.py", "/dev/zero"}}, {}, 0,
         "符號連結 setup.py 指向工作目錄之外的 /dev/zero，未讀取", 2},
        {"linked output folder", {{"_ref", "../outside"}}, {}, 1, "符號連結 _ref 指向工作目錄之外的 {outside}，未寫入", 0},
    };
    capped = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(script);
        fs::remove(tmp / "argv");
        fs::remove_all(work / "_ref");
        fs::remove_all(outside);
        SetUp();
        th::write_file(outside / "secret.py", "KEY = 'PRIVATE KEY'\n");
        th::plant_links(work, c.links);
        agent("out", "def cmd_load():\n    return 2\n", 1);
        agent("out", th::click_cli_py + "main.add_command(cmd_load)\n", 2);
        // every manual, the second script (pkg/data_loader.py), the one reference, Enter at the question
        auto o = run("a\n2\n1\n\n", "加上型別提示\n");
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr(th::with_outside(c.line, outside)));
        auto argv = calls();
        EXPECT_EQ(argv.size(), c.agent_calls);
        for (const auto& call : argv) EXPECT_THAT(call.back(), Not(HasSubstr("leak.py")));
        EXPECT_FALSE(fs::exists(outside / "Python_API_Manual_fileIO_ai.md"));
    }
}

// The add-feature command end to end: the built binary in a small project, the fake
// agent, the test editor and the repository files served from a file:// folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::Not;
using ::testing::HasSubstr;

const std::string template_py = th::read_file(th::fakes_dir() / "projtools-repo/template/python_agy_cli_template.py");

class GraftwellCli : public ::testing::Test, public th::AgentWorkspace {
  protected:
    const fs::path& proj = work;

    void SetUp() override {
        th::write_click_project(proj);
        fs::create_directories(proj / "build");
        fs::create_directories(proj / ".venv");
    }

    th::Outcome run(const std::string& input, std::vector<std::string> args = {}) {
        args.insert(args.begin(), "graftwell");
        return run_input(args, input, "產生週報\n",
                         {{"VEMTORA_REPO_BASE_URL", th::projtools_repo_url()},
                          {"EDITOR_SEEN", (tmp / "seen").string()}});
    }
};

TEST_F(GraftwellCli, FillsTheTemplateThenRegistersTheModule) {
    agent("out", "\nimport click\n\ndef cmd_my_feature():\n    pass\n\n", 1);
    agent("out", th::click_cli_py + "main.add_command(cmd_my_feature)\n", 2);
    // the name with blanks around it, then the first folder of the menu
    auto o = run("  my-feature \n1\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("✅ Done: 🎉 Graftwell 功能開發完成！路徑: ./pkg/my_feature.py\n"));
    EXPECT_THAT(o.out, HasSubstr("1. pkg (資料夾)\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("build"))) << "excluded folders are not offered";
    EXPECT_THAT(o.err, HasSubstr("✅ ⏳ 正在透過 agy 向 cli.py 註冊新子指令...\n"));
    EXPECT_THAT(o.err, HasSubstr("🎉 已成功將功能註冊到 cli.py\n"));
    EXPECT_EQ(th::read_file(tmp / "seen"),
              "# 請在此輸入功能描述，未輸入就使用目前設定。存檔並關閉編輯器以繼續。\n# 目前設定: 功能維持不變\n");

    EXPECT_EQ(th::read_file(proj / "pkg/my_feature.py"), "import click\n\ndef cmd_my_feature():\n    pass");
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py + "main.add_command(cmd_my_feature)");
    EXPECT_FALSE(fs::exists(proj / "_agy/generated-dovud-feature.txt"));
    EXPECT_FALSE(fs::exists(proj / "_agy/generated-dovud-reg.txt"));
    EXPECT_TRUE(fs::exists(proj / "_agy/goal/dovud-feature.yaml"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 2u);
    const std::vector<std::string> head = {"agy",      "--add-dir", "_agy/goal", "--add-dir", "_agy/skill",
                                           "--add-dir", "pkg",       "--add-dir", ".",         "--model",
                                           "Gemini 3.5 Flash (Medium)", "--dangerously-skip-permissions", "--print"};
    for (const auto& call : argv) EXPECT_EQ(std::vector<std::string>(call.begin(), call.end() - 1), head);

    const std::string goal = abs("_agy/goal/dovud-feature.yaml"), skill = abs("_agy/skill/dovud-expert.yaml");
    const std::string module = abs("pkg/my_feature.py");
    EXPECT_EQ(argv[0].back(),
              "根據 @[" + goal + "] 裡的 `dovud-feature` 指示與 @[" + skill +
                  "] 技能，\n利用以下參數將包含花括號佔位符的範本檔案 @[" + module +
                  "] 重構為新的功能模組。\n請依據功能描述將代碼重構，並嚴格將範本中的所有佔位符變數替換為以下新參數值：\n"
                  "【重構參數與佔位符對應關係】:\n"
                  "- app_name (替換 {{app_name}}): MyFeature\n"
                  "- app_class_name (替換 {{app_class_name}}): MyFeatureApp\n"
                  "- app_logger_name (替換 {{app_logger_name}}): MyFeature\n"
                  "- cli_name (替換 {{cli_name}}): mytool\n"
                  "- sub_cli_name (替換 {{sub_cli_name}}): my-feature\n"
                  "- cli_func_name (替換 {{cli_func_name}}): my_feature\n"
                  "- config_filename_prefix (替換 {{config_filename_prefix}}): my_feature\n"
                  "- default_output_dir (替換 {{default_output_dir}}): ./my-feature-gen\n"
                  "- default_goal_path (替換 {{default_goal_path}}): _agy/goal/my-feature-goal.yaml\n"
                  "- default_skill_path (替換 {{default_skill_path}}): _agy/skill/my-feature-expert.yaml\n\n"
                  "【其他變數與需求描述】:\n- feature_desc: 產生週報\n- template_code: @[" +
                  module +
                  "]\n\n請注意：\n1. 請根據 `feature_desc` 功能描述，推導決定該功能合適的目標副檔名 {{target_file_extension}}"
                  "（如 Python 檔使用 .py，Markdown 使用 .md）與對應名稱 {{file_label}}（如 Python 檔案 或 Markdown "
                  "檔案）並進行替換。\n【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                  abs("_agy/generated-dovud-feature.txt") + "` 檔案中。\n");
    EXPECT_EQ(argv[1].back(),
              "根據 @[" + goal + "] 裡的 `dovud-register` 指示與 @[" + skill + "] 技能，\n在主進入點檔案 @[" +
                  abs("pkg/cli.py") +
                  "] 中註冊新子指令，變數如下：\n- sub_cli_name: my-feature\n- file_name: my_feature.py\n"
                  "- func_name: cmd_my_feature\n- cli_code: @[" +
                  abs("pkg/cli.py") +
                  "]\n\n【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的程式碼\n直接寫入到絕對路徑：`" +
                  abs("_agy/generated-dovud-reg.txt") + "` 檔案中。\n");
}

TEST_F(GraftwellCli, AgentFailuresKeepWhatWasThere) {
    // Pass 1 fails: the template copy made for it goes, so the same name can be tried
    // again; cli.py is untouched.
    agent_fails(1, "quota exceeded\n");
    auto o = run("my-feature\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: AI 重構 my_feature.py 失敗: quota exceeded\n"));
    EXPECT_FALSE(fs::exists(proj / "pkg/my_feature.py"));
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py);
    fs::remove_all(script);
    agent("out", "def cmd_my_feature():\n    pass\n", 1);
    agent("out", th::click_cli_py + "# registered\n", 2);
    o = run("my-feature\n1\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(th::read_file(proj / "pkg/my_feature.py"), "def cmd_my_feature():\n    pass");
    th::write_file(proj / "pkg/cli.py", th::click_cli_py);

    // A configured name needs no prompt or editor; pass 2 fails: the module stays written.
    fs::remove_all(script);
    agent("out", "def cmd_report_gen():\n    pass\n", 1);
    agent_fails(3, "boom\n", 2);
    th::write_file(proj / "config.yaml", "config:\n  sub_cli_name: \" report-gen \"\n");
    o = run("1\n", {"-c", "config.yaml"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ agy 註冊失敗: boom\n"));
    EXPECT_THAT(o.err, HasSubstr("❌ Error: agy 註冊至 cli.py 失敗\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("請輸入新的子指令名稱")));
    EXPECT_EQ(th::read_file(proj / "pkg/report_gen.py"), "def cmd_report_gen():\n    pass");
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py);

    // Pass 2 reports success but writes nothing: cli.py is never emptied.
    fs::remove_all(script);
    agent("out", "def cmd_weekly():\n    pass\n", 1);
    agent("out", "  \n", 2);
    o = run("weekly\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: agy 未產出 cli.py 內容，未完成子指令註冊\n"));
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py);

    // An empty pass-1 output does not replace the template copy.
    fs::remove_all(script);
    o = run("daily\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ agy 未產出任何程式碼，daily.py 保留範本內容。\n"));
    EXPECT_THAT(o.err, HasSubstr("❌ Error: AI 未產出 daily.py 的程式碼\n"));
    EXPECT_EQ(th::read_file(proj / "pkg/daily.py"), template_py);
}

// Ended while the agent fills it, the template copy goes as after a failure, so the same
// name can be tried again.
TEST_F(GraftwellCli, SignalDuringTheAgentPassRemovesTheTemplateCopy) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        fs::remove_all(script);
        agent_hangs(false, 1);
        while_running = [&](int pid, const std::function<std::string()>&) {
            th::wait_for_pid(agent_pid_file());
            ::kill(pid, sig);
        };
        auto o = run("my-feature\n1\n");
        EXPECT_EQ(o.status, 128 + sig) << o.out << o.err;
        EXPECT_FALSE(fs::exists(proj / "pkg/my_feature.py"));
    }
    while_running = nullptr;
    fs::remove_all(script);
    agent("out", "def cmd_my_feature():\n    pass\n", 1);
    agent("out", th::click_cli_py + "# registered\n", 2);
    auto o = run("my-feature\n1\n");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(th::read_file(proj / "pkg/my_feature.py"), "def cmd_my_feature():\n    pass");
}

TEST_F(GraftwellCli, RefusalsAndSkippedRegistration) {
    // An existing module (here the project's own cli.py) is never overwritten.
    auto o = run("cli\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 目標檔案已存在: ./pkg/cli.py\n"));
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py);

    // A name that would lead out of the package folder.
    o = run("../../evil\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 子指令名稱不可包含路徑分隔符號: ../../evil\n"));
    EXPECT_FALSE(fs::exists(tmp / "evil.py"));
    // A drive-relative name ("C:x" is the current folder of drive C:) is no plain file name either.
    o = run("C:evil\n1\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 子指令名稱不可包含路徑分隔符號: C:evil\n"));

    // A name of blanks only ends before anything is listed or written.
    o = run("   \n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("⚠️ 未輸入子指令名稱，程序結束。\n"));
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 未輸入子指令名稱。\n"));
    EXPECT_THAT(o.err, Not(HasSubstr("正在掃描")));

    // Nothing picked at the folder menu.
    o = run("x\n\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 未選取目標資料夾。\n"));
    EXPECT_TRUE(calls().empty());

    // A generated module without a cmd_ function: no registration, still a success.
    agent("out", "print('no command here')\n", 1);
    o = run("plain\n1\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(calls().size(), 1u);
    EXPECT_EQ(th::read_file(proj / "pkg/cli.py"), th::click_cli_py);

    // A skill file that is neither present nor downloadable stops before any agent run.
    th::write_file(proj / "config.yaml", "config:\n  sub_cli_name: x\n  skill_path: _agy/skill/missing.yaml\n");
    o = run("1\n", {"-c", "config.yaml"});
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。\n"));
    EXPECT_THAT(o.err, HasSubstr("❌ Error: ❌ 缺少必要的 Goal 或 Skill 設定檔\n"));
    EXPECT_FALSE(fs::exists(proj / "pkg/x.py"));
    EXPECT_EQ(calls().size(), 1u);
}

}  // namespace

// A template copy that cannot be written stops the run before the agent is called.
TEST_F(GraftwellCli, ATemplateCopyThatCannotBeWrittenStopsBeforeTheAgent) {
    TH_UNPRIVILEGED_USER(user);
    agent("out", "def cmd_weekly():\n    pass\n");
    run_as(user);
    fs::permissions(proj / "pkg", static_cast<fs::perms>(0555), fs::perm_options::replace);
    auto o = run("weekly\n1\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("❌ Error: 無法寫入範本檔案 ./pkg/weekly.py: Permission denied\n"));
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(fs::exists(proj / "pkg/weekly.py"));
}

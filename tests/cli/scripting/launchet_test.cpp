// The agent launcher end to end: the built binary starts the fake agent, which records
// the argument vector it was given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using Args = std::vector<std::string>;

class LaunchetCli : public ::testing::Test {
  protected:
    th::TempDir tmp;
    fs::path work = tmp / "work";
    fs::path script = tmp / "agy";

    void SetUp() override {
        fs::create_directories(work);
        fs::create_directories(script);
    }

    th::Outcome run(const Args& args, std::map<std::string, std::optional<std::string>> env = {}) {
        Args full{"start"};
        full.insert(full.end(), args.begin(), args.end());
        env["FAKE_AGY_ARGV"] = (tmp / "argv").string();
        env["FAKE_AGY_SCRIPT"] = script.string();
        return th::run({.args = full, .cwd = work, .env = env, .fake_agy = true});
    }
    std::vector<Args> calls() { return th::fake_agy_calls(tmp / "argv"); }
};

TEST_F(LaunchetCli, StartsAgentWithCommandSetAndWorkspace) {
    th::write_file(work / "_agy/skill/agy-commands.yaml",
                   "name: tools\nglobal_rules: Always answer in Chinese.\ncommands:\n"
                   "  - cmd: /review\n    name: review\n    description: Review code\n    prompt: Review it.\n");
    auto o = run({});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("✅ 正在為您配置 [Linux/macOS] 環境並啟動 Agy TUI...\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 權限設定 (skip_permissions): True\n"));
    EXPECT_TRUE(fs::exists(work / ".agents/AGENTS.md"));
    EXPECT_TRUE(fs::exists(work / ".agents/skills/agy-commands/SKILL.md"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_EQ(argv[0], (Args{"agy", "--add-dir", "./_agy/goal", "--add-dir", "./_agy/skill", "--add-dir", "./",
                             "--sandbox", "--dangerously-skip-permissions", "--prompt-interactive",
                             "/goal 載入 @[" + (work / "_agy/skill/agy-commands.yaml").generic_string() +
                                 "] 並強制中文回覆。確認已讀取該設定且更新 @.agents 設定。"}));
}

TEST_F(LaunchetCli, WithoutCommandSetModelAndNoSkip) {
    auto o = run({"--no-skip-permissions", "-m", " GEMINI 3.1 PRO (HIGH) "}, {{"DOVUD_DEBUG", "1"}});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("Debug mode is ON.\n"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ 警告：找不到 agy-commands.yaml 檔案，將不使用 init_prompt 啟動 Agy。\n"));
    EXPECT_THAT(o.err, HasSubstr("✅ 已手動指定 AI 模型：Gemini 3.1 Pro (High)\n"));
    EXPECT_THAT(o.err, HasSubstr("', '--add-dir', './_agy/goal', '--add-dir', './_agy/skill', '--add-dir', './', "
                                 "'--sandbox', '--model', 'Gemini 3.1 Pro (High)']\n"));
    EXPECT_THAT(o.err, HasSubstr("base_cmd: ['" + (th::fakes_dir() / "agy").string() + "', "));
    EXPECT_THAT(o.err, HasSubstr("✅ 權限設定 (skip_permissions): False\n"));
    EXPECT_FALSE(fs::exists(work / ".agents"));
    EXPECT_TRUE(fs::is_directory(work / "_agy/skill"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_EQ(argv[0], (Args{"agy", "--add-dir", "./_agy/goal", "--add-dir", "./_agy/skill", "--add-dir", "./",
                             "--sandbox", "--model", "Gemini 3.1 Pro (High)"}));
}

TEST_F(LaunchetCli, EmptyModelAddsNothing) {
    auto o = run({"-m", ""});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, Not(HasSubstr("已手動指定 AI 模型")));
    auto argv = calls();
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_EQ(argv[0].back(), "--dangerously-skip-permissions");
}

// An agent that fails or is killed makes the session a failure.
TEST_F(LaunchetCli, AgentEndingBadlyFailsTheCommand) {
    for (auto [status, reason] : {std::pair{"3", "returned non-zero exit status 3."}, {"-9", "died with signal 9."}}) {
        th::write_file(script / "status", status);
        auto o = run({});
        EXPECT_EQ(o.status, 1) << status << o.err;
        EXPECT_THAT(o.err, HasSubstr(std::string("❌ Agy TUI 異常結束: Command '['agy']' ") + reason + "\n"));
    }
}

// The session ends whole: what the agent left running, even in a session of its own,
// ends with it.
TEST_F(LaunchetCli, WhatTheAgentLeftRunningEndsWithTheSession) {
    th::write_file(script / "spawn", "detached");
    auto o = run({});
    const int left = th::wait_for_pid(script / "spawned");
    const bool running = th::process_exists(left);
    if (running) ::kill(left, SIGKILL);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_FALSE(running) << "what the agent left running outlived the session";
}

// Rules written by hand in .agents/AGENTS.md are kept; the file the command set
// produced is brought up to date.
TEST_F(LaunchetCli, HandWrittenAgentsRulesAreKept) {
    auto command_set = [&](const std::string& name) {
        th::write_file(work / "_agy/skill/agy-commands.yaml",
                       "name: " + name + "\ncommands:\n  - cmd: /review\n    name: review\n    prompt: Review it.\n");
    };
    command_set("first");
    th::write_file(work / ".agents/AGENTS.md", "# Our team's rules\nNever push on Fridays.\n");
    auto o = run({});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, HasSubstr("⚠️ .agents/AGENTS.md 不是由 agy-commands 產生的檔案，已保留原內容，未更新。\n"));
    EXPECT_EQ(th::read_file(work / ".agents/AGENTS.md"), "# Our team's rules\nNever push on Fridays.\n");
    EXPECT_TRUE(fs::exists(work / ".agents/skills/agy-commands/SKILL.md"));

    fs::remove(work / ".agents/AGENTS.md");
    o = run({});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(th::read_file(work / ".agents/AGENTS.md").starts_with("# Workspace Rules: first\n"));
    command_set("second");
    o = run({});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.err, Not(HasSubstr("已保留原內容")));
    EXPECT_TRUE(th::read_file(work / ".agents/AGENTS.md").starts_with("# Workspace Rules: second\n"));
}

// The agent is handed the working copy: a link in it that git tracks and that leads out
// keeps the agent from starting.
TEST_F(LaunchetCli, TrackedLinkOutOfTheWorkingCopyKeepsTheAgentFromStarting) {
    th::init_repo(work);
    th::write_file(tmp / "secret", "key\n");
    th::plant_links(work, {{"_agy/skill/notes", "../../../secret"}});
    th::git(work, {"add", "_agy"});
    auto o = run({});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("未執行 AI：_agy/skill/notes → " + fs::canonical(tmp / "secret").string() + "\n"));
    EXPECT_TRUE(calls().empty());
}

TEST_F(LaunchetCli, MissingAgentCreatesNothing) {
    auto o = th::run({.args = {"start"}, .cwd = work, .env = {{"PATH", "/usr/bin:/bin"}}});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "❌ 錯誤：找不到 agy CLI，請先執行 npm install -g @google/antigravity-cli\n");
    EXPECT_TRUE(fs::is_empty(work));
}

}  // namespace

// The agent workspace files written from a command set.
#include <gtest/gtest.h>

#include "common/harness.hpp"
#include "support/text.hpp"
#include "vemtora/core/mindrel.hpp"

namespace {

namespace fs = std::filesystem;
namespace app_logging = brenkit::app_logging;

const std::string header =
    "---\n"
    "name: agy-commands\n"
    "description: 處理程式碼審查、刪除、重構命名、API 抽離、API 替換、加上註解、新增功能與選項提示的自訂指令集。\n"
    "---\n"
    "\n"
    "# agy-commands 自訂指令集\n"
    "\n"
    "> 來源設定檔：`_agy/skill/agy-commands.yaml`  \n"
    "> 回覆語言：**繁體中文**（無特別指示時）\n"
    "\n"
    "## 指令語法與範圍指定規範（極重要）\n"
    "\n"
    "- **指令輸入格式**：`@檔案名稱 [行數範圍] /斜線指令 [需求描述]`\n"
    "  - 例：`@cli.py 117-140 /review 檢查可讀性`\n"
    "- **範圍限制原則**：指定行數範圍時，**僅限操作該範圍**，不隨意修改範圍外的程式碼。\n"
    "- **預設行為**：未指定行數或檔案時，對整個片段或當前開啟檔案執行。\n"
    "\n"
    "---\n"
    "\n"
    "## 指令定義\n";

class Workspace : public ::testing::Test {
  protected:
    th::TempDir tmp;
    th::CurrentDir cwd{tmp.path()};
    app_logging::Logger logger{"Test"};
    app_logging::Capture capture;

    void sync(const std::string& yaml, bool agents_md = true) {
        th::write_file("_agy/skill/agy-commands.yaml", yaml);
        vemtora::mindrel::sync_agy_commands_to_agents("_agy/skill/agy-commands.yaml", &logger, agents_md);
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (const auto& r : capture.records())
            if (r.level == app_logging::Level::error) out.push_back(r.message);
        return out;
    }
};

TEST_F(Workspace, WritesEverySkillAndTheRulesByteForByte) {
    sync(R"(name: team-set
global_rules: "Rule one.\nRule two."
commands:
  - cmd: /review
    name: code-review
    description: 審查程式碼
    prompt: |
      檢查可讀性
      1. 命名
  - name: second
    prompt: "  plain  "
)");
    EXPECT_EQ(th::read_file(".agents/skills/code-review/SKILL.md"),
              "---\nname: code-review\ndescription: 審查程式碼\n---\n\nRule one.\nRule two.\n\n"
              "### 指令執行規範 (/review)\n檢查可讀性\n1. 命名\n");
    EXPECT_EQ(th::read_file(".agents/skills/second/SKILL.md"),
              "---\nname: second\ndescription: \n---\n\nRule one.\nRule two.\n\n### 指令執行規範 ()\n  plain  ");
    EXPECT_EQ(th::read_file(".agents/skills/agy-commands/SKILL.md"),
              header + "\n### 1. `/review` — 審查程式碼\n- 檢查可讀性\n1. 命名\n\n### 2. `None` — None\n- plain\n");
    EXPECT_EQ(th::read_file(".agents/AGENTS.md"),
              "# Workspace Rules: team-set\n\nRule one.\nRule two.\n---\n## 指令集總覽\n\n| 指令 | 名稱 | 描述 |\n"
              "| :--- | :--- | :--- |\n| **/review** | code-review | 審查程式碼 |\n| **None** | second | None |\n\n"
              "## 詳細指令定義\n### /review (code-review)\n檢查可讀性\n1. 命名\n\n### None (second)\n  plain  ");
    EXPECT_TRUE(errors().empty());
}

TEST_F(Workspace, CombinedFileReformatsPromptLines) {
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"1. a", "1. a"},         {"10. b", "10. b"},         {"5.", "5."},
        {"**bold**", "**bold**"}, {"---", "---"},             {"100. c", "- 100. c"},
        {"1) d", "- 1) d"},       {"+ e", "- + e"},           {"# f", "- # f"},
        {"3", "- 3"},             {"   - sub item", "   - sub item"}, {"   text", "- text"},
        {"２. 全形", "２. 全形"}, {"²x.", "²x."},              {"", ""},
    };
    // One double-quoted YAML text, so that leading blanks survive.
    std::string yaml = "commands:\n  - cmd: /x\n    description: d\n    prompt: \"";
    for (const auto& [in, out] : lines) yaml += "\\n" + in;
    yaml += "\\nlast\"\n";
    sync(yaml);
    std::string expected;
    for (const auto& [in, out] : lines) expected += out + "\n";
    expected += "- last";
    EXPECT_EQ(th::read_file(".agents/skills/agy-commands/SKILL.md"), header + "\n### 1. `/x` — d\n" + expected + "\n");
}

TEST_F(Workspace, EmptyCommandList) {
    sync("name: s\ncommands: []\n");
    const std::string combined = th::read_file(".agents/skills/agy-commands/SKILL.md");
    EXPECT_EQ(combined, header + "\n");
    EXPECT_EQ(support::code_point_count(combined), 380u);
    const std::string agents = th::read_file(".agents/AGENTS.md");
    EXPECT_TRUE(agents.ends_with("| :--- | :--- | :--- |\n\n## 詳細指令定義")) << agents;
}

TEST_F(Workspace, DefaultsRepeatsAndTheCombinedName) {
    sync("commands:\n  - prompt: p\n  - name: dup\n    prompt: one\n  - name: dup\n    prompt: two\n"
         "  - name: agy-commands\n    prompt: mine\n");
    EXPECT_TRUE(fs::exists(".agents/skills/unnamed-skill/SKILL.md"));
    EXPECT_TRUE(th::read_file(".agents/skills/dup/SKILL.md").ends_with("two"));
    EXPECT_TRUE(th::read_file(".agents/skills/agy-commands/SKILL.md").starts_with(header));
    EXPECT_TRUE(th::read_file(".agents/AGENTS.md").starts_with("# Workspace Rules: agy-commands\n"));
}

TEST_F(Workspace, NullValuesStopTheRunWithOneMessage) {
    sync("commands:\n  - name: a\n    prompt: ~\n  - name: b\n    prompt: ok\n");
    EXPECT_TRUE(th::read_file(".agents/skills/a/SKILL.md").ends_with("### 指令執行規範 ()\nNone"));
    EXPECT_TRUE(fs::exists(".agents/skills/b/SKILL.md"));
    EXPECT_FALSE(fs::exists(".agents/skills/agy-commands"));
    EXPECT_FALSE(fs::exists(".agents/AGENTS.md"));
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_TRUE(errors()[0].starts_with("❌ 轉換 agy-commands.yaml 為 agy 格式時出錯: ")) << errors()[0];

    capture.clear();
    fs::remove_all(".agents");
    sync("global_rules: null\ncommands:\n  - name: a\n    prompt: p\n");
    EXPECT_TRUE(th::read_file(".agents/skills/a/SKILL.md").starts_with("---\nname: a\ndescription: \n---\n\nNone\n\n"));
    EXPECT_TRUE(fs::exists(".agents/skills/agy-commands/SKILL.md"));
    EXPECT_FALSE(fs::exists(".agents/AGENTS.md"));
    EXPECT_EQ(errors().size(), 1u);
}

TEST_F(Workspace, SilentWhenThereIsNothingToRead) {
    vemtora::mindrel::sync_agy_commands_to_agents("_agy/skill/missing.yaml", &logger);
    sync("{}\n");
    EXPECT_FALSE(fs::exists(".agents"));
    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(Workspace, RulesFileLeftAloneWhenNotSynced) {
    th::write_file(".agents/AGENTS.md", "mine");
    sync("commands:\n  - name: a\n    prompt: p\n", false);
    EXPECT_EQ(th::read_file(".agents/AGENTS.md"), "mine");
    EXPECT_TRUE(fs::exists(".agents/skills/a/SKILL.md"));
    EXPECT_TRUE(fs::exists(".agents/skills/agy-commands/SKILL.md"));
}

TEST_F(Workspace, NamesThatLeaveTheSkillsFolderAreRefused) {
    const fs::path outside = tmp / "outside";
    sync("commands:\n"
         "  - name: ../../escape\n    prompt: x\n"
         "  - name: '" + outside.string() + "'\n    prompt: x\n"
         "  - name: a/b\n    prompt: x\n"
         "  - name: 'a\\b'\n    prompt: x\n"
         "  - name: ..\n    prompt: x\n"
         "  - name: .\n    prompt: x\n"
         "  - name: good\n    prompt: x\n");
    EXPECT_EQ(errors().size(), 6u) << capture.text();
    for (const auto& e : errors()) EXPECT_TRUE(e.starts_with("❌ ")) << e;
    EXPECT_TRUE(fs::exists(".agents/skills/good/SKILL.md"));
    EXPECT_FALSE(fs::exists(".agents/SKILL.md"));
    EXPECT_FALSE(fs::exists(".agents/skills/SKILL.md"));
    EXPECT_FALSE(fs::exists(outside));
    for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) {
        const auto rel = fs::relative(entry.path(), tmp.path()).string();
        EXPECT_TRUE(rel.starts_with(".agents") || rel.starts_with("_agy")) << rel;
    }
    // The refused entries still appear in the overview files, which stay inside .agents.
    EXPECT_NE(th::read_file(".agents/AGENTS.md").find("| ../../escape |"), std::string::npos);
}

}  // namespace

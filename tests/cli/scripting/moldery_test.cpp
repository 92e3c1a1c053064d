// The template command end to end: the built binary in a temporary working copy, the
// fake agent and the test editor.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"
#include "vemtora/scripting/moldery.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class MolderyCli : public ::testing::Test, public th::AgentWorkspace {
  protected:
    void SetUp() override {
        th::write_file(work / "_agy/goal/template-generator.yaml", "goal: template\n");
        th::write_file(work / "_agy/skill/template-expert.yaml", "skill: template\n");
        th::write_file(work / "docs/a.md", "# A\n");
        th::write_file(work / "docs/b.md", "# B\n");
    }

    th::Outcome run(const std::string& input, const std::string& description = "做一份 API 文件範本\n") {
        return run_input({"moldery"}, input, description);
    }
};

TEST_F(MolderyCli, MarkdownTemplateNamedByItsTag) {
    agent_writes("\n<!-- filename: api_doc.md -->\n# API\n\n");
    // type 1 (Markdown), both files in reverse order
    auto o = run("1\n2 1\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("✅ Done: 範本檔案成功產出：api_doc.md\n"));
    EXPECT_THAT(o.out, HasSubstr("\n--- 💬 請選擇範本資料來源 ---\n"));
    EXPECT_THAT(o.err, HasSubstr("⏳ 正在透過 agy 請求 AI 生成範本檔案 (共 2 個來源檔案) ..."));
    EXPECT_EQ(th::read_file(work / "gen-template/api_doc.md"), "<!-- filename: api_doc.md -->\n# API");
    EXPECT_FALSE(fs::exists(work / "_agy/generated-template.txt"));

    auto argv = calls();
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_EQ(argv[0].back(),
              "根據 " + ref("_agy/goal/template-generator.yaml") + " 裡的 `moldery-doc` 指示與 " +
                  ref("_agy/skill/template-expert.yaml") + " 技能：\n" +
                  "請根據指示，針對以下參考檔案與自訂描述生成樣板內容：\n"
                  "\n"
                  "【特定任務設定】:\n"
                  "- file_type: Markdown\n"
                  "- user_description: 做一份 API 文件範本\n"
                  "- 參考檔案清單 (請自行讀取檔案內容)：\n" +
                  ref("docs/b.md") + "\n" + ref("docs/a.md") + "\n" +
                  "\n"
                  "【輸出要求】：\n"
                  "請務必使用 `write_to_file` 工具，將生成的樣板內容\n"
                  "直接寫入到絕對路徑：`" + abs("_agy/generated-template.txt") +
                  "` 檔案中。\n");
}

// Every file: the output folder and the tool folders are left out of the menu, the
// extension comes from the first pick, and an existing template is never overwritten.
TEST_F(MolderyCli, AnyFileTypeTakesFirstPicksSuffixAndFreeName) {
    fs::remove_all(work / "docs");
    th::write_file(work / "notes.txt", "note\n");
    th::write_file(work / "gen-template/custom_template.txt", "earlier\n");
    agent_writes("template body\n");
    auto o = run("4\n1\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("✅ Done: 範本檔案成功產出：custom_template_1.txt\n"));
    EXPECT_EQ(th::read_file(work / "gen-template/custom_template_1.txt"), "template body");
    EXPECT_EQ(th::read_file(work / "gen-template/custom_template.txt"), "earlier\n");
    auto argv = calls();
    ASSERT_EQ(argv.size(), 1u);
    EXPECT_THAT(argv[0].back(), HasSubstr(" 裡的 `moldery-code` 指示與 "));
    EXPECT_THAT(argv[0].back(), HasSubstr("- file_type: 所有\n"));
    EXPECT_THAT(argv[0].back(), HasSubstr("：\n" + ref("notes.txt") + "\n\n【輸出要求】"));
}

TEST_F(MolderyCli, FailuresSaveNothing) {
    struct Case {
        std::string name;
        std::string input;
        std::string description;
        std::string agent_out;
        std::string agent_status;
        std::string error;
        size_t agent_calls;
    };
    const std::vector<Case> cases = {
        {"agent fails", "1\n1\n", "x\n", "", "3", "❌ Error: agent broke\n", 1},
        {"blank output", "1\n1\n", "x\n", " \n\n", "0", "❌ Error: ❌ AI 生成範本失敗，請檢查 API 設定。\n", 1},
        {"no file of the type", "2\n", "x\n", "", "0", "❌ Error: ❌ 未選取任何檔案或掃描失敗。\n", 0},
        {"nothing picked", "1\n\n", "x\n", "", "0", "❌ Error: ❌ 未選取任何檔案或掃描失敗。\n", 0},
        {"no description", "1\n1\n", "", "", "0", "❌ Error: ❌ 未輸入任何需求，停止生成。\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(script);
        fs::create_directories(script);
        fs::remove(tmp / "argv");
        if (!c.agent_out.empty()) agent_writes(c.agent_out);
        th::write_file(script / "status", c.agent_status);
        th::write_file(script / "stderr", "agent broke\n");
        auto o = run(c.input, c.description);
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr(c.error));
        EXPECT_EQ(calls().size(), c.agent_calls);
        EXPECT_TRUE(!fs::exists(work / "gen-template") || fs::is_empty(work / "gen-template"));
    }
    EXPECT_THAT(th::read_file(work / "docs/a.md"), HasSubstr("# A"));
}

TEST_F(MolderyCli, MissingGoalStopsBeforeAnyQuestion) {
    fs::remove(work / "_agy/goal/template-generator.yaml");
    auto o = run("");
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("❌ 錯誤：找不到必要的 Goal 或 Skill 設定檔，停止生成。"));
    EXPECT_THAT(o.err, HasSubstr("❌ Error: ❌ 缺少必要的 Goal 或 Skill 設定檔\n"));
    EXPECT_THAT(o.out, Not(HasSubstr("請選擇目標檔案")));
}

TEST_F(MolderyCli, GenerateConfigWritesTemplateOnly) {
    auto o = th::run({.args = {"moldery", "--generate-config", "-c", "missing.yaml"}, .cwd = work});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_THAT(o.out, HasSubstr("✅ Success! Template file created at: "));
    EXPECT_EQ(th::read_file(work / "config_moldery_template.yaml"),
              std::string(vemtora::moldery::DEFAULT_YAML_CONTENT));  // its text is pinned in HostCli
}

}  // namespace

// The repository decides which links it holds: a reference file linked out of the working
// copy is not offered, and a linked output folder is refused before the agent runs.
TEST_F(MolderyCli, RepositoryLinksLeadNowhere) {
    const fs::path outside = tmp / "outside";
    const std::vector<th::LinkCase> cases = {
        {"reference linked to a secret", {{"docs/c.md", "../../outside/secret.md"}}, {}, 0,
         "⚠️ 符號連結 docs/c.md 指向工作目錄之外的 {outside}/secret.md，已略過", 1},
        {"linked output folder", {{"gen-template", "../outside"}}, {}, 1,
         "符號連結 gen-template 指向工作目錄之外的 {outside}，未寫入", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(script);
        fs::remove(tmp / "argv");
        fs::remove_all(work / "docs");
        fs::remove_all(work / "gen-template");
        fs::remove_all(outside);
        SetUp();
        th::write_file(outside / "secret.md", "# PRIVATE KEY\n");
        th::plant_links(work, c.links);
        agent_writes("# API\n");
        // type 1 (Markdown), every file offered
        auto o = run("1\na\n");
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr(th::with_outside(c.line, outside)));
        EXPECT_EQ(calls().size(), c.agent_calls);
        EXPECT_THAT(calls().empty() ? "" : calls().back().back(), Not(HasSubstr("c.md")));
        EXPECT_THAT(o.out, Not(HasSubstr("c.md")));
    }
}

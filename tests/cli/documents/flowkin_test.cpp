// The diagram writer end to end: the built binary, the fake agent, the test editor and
// a file:// stand-in for the maker's repository.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;

const std::string open_tag = "<div style=\"margin: 0px 60px; width: 40%;\" markdown=\"1\">";

class FlowkinCli : public ::testing::Test {
  protected:
    th::AgentWorkspace ws;

    void SetUp() override {
        th::write_file(ws.work / "src/parser.c", "int parse(void);\n");
        th::write_file(ws.work / "src/lexer.h", "int lex(void);\n");
        th::write_file(ws.repo / "_agy/goal/mermaid-chart.yaml", "goal\n");
        th::write_file(ws.repo / "_agy/skill/mermaid-chart-expert.yaml", "skill\n");
        th::write_file(ws.repo / "template/mmd/state_logic_template.mmd", "stateDiagram-v2\n");
    }
};

}  // namespace

TEST_F(FlowkinCli, DrawsAStateDiagramOfTheChosenSources) {
    ws.agent_writes("stateDiagram-v2\n  A --> B\n");
    // kind 4, parser.c first and lexer.h after it
    const fs::path seen = ws.tmp / "editor-seen";
    auto o = ws.run({"flowkin"}, {"4", "2 1"}, "只畫主要狀態\n", {{"EDITOR_SEEN", seen.string()}});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(th::read_file(seen), "# 請在此輸入 狀態機/狀態轉移圖 (State Logic Diagram) 生成需求 (例如: "
                                   "著重說明特定模組，直接按 Enter 留空即可)。存檔並關閉編輯器以繼續。\n");
    EXPECT_THAT(o.out, HasSubstr("Done: 成功產出: State_Logic_parser.md\n"));
    EXPECT_EQ(th::read_file(ws.work / "flowkin/State_Logic_parser.md"),
              open_tag + "\n\nstateDiagram-v2\n  A --> B\n\n</div>");
    EXPECT_EQ(th::read_file(ws.work / "template/mmd/state_logic_template.mmd"), "stateDiagram-v2\n");
    EXPECT_FALSE(fs::exists(ws.work / "_agy/generated-mmd.md"));

    auto calls = ws.calls();
    ASSERT_EQ(calls.size(), 1u);
    const auto& argv = calls[0];
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.end() - 1),
              (std::vector<std::string>{"agy", "--add-dir", "_agy/goal", "--add-dir", "_agy/skill", "--add-dir",
                                        "flowkin", "--add-dir", "src", "--add-dir", ".", "--model",
                                        "Gemini 3.5 Flash (Medium)", "--dangerously-skip-permissions", "--print"}));
    const std::string& p = argv.back();
    EXPECT_THAT(p, HasSubstr("- 目標模組 (module_name)：parser\n- 參考 Mermaid 範本路徑 (template_path，請自行使用工具讀取內容)：" +
                                 ws.ref("template/mmd/state_logic_template.mmd") + "\n\n"
                                 "- 參考原始碼清單 (file_refs，請自行使用工具讀取其內容並進行分析)：\n- " +
                                 ws.ref("src/parser.c") + "\n- " + ws.ref("src/lexer.h") +
                                 "\n\n- 額外繪圖需求 (custom_requirements)：\n只畫主要狀態\n\n【輸出要求】"));
}

TEST_F(FlowkinCli, ARequirementAloneDrawsACustomDiagramAndADeclinedOverwriteKeepsTheOld) {
    th::write_file(ws.work / "flowkin/Flowchart_OneBlock_Custom.md", "old\n");
    ws.agent_writes(open_tag + "\ngraph TD\n</div>\n");
    // Enter at the kind (row 1), Enter at the sources (none), "n" at the overwrite question
    auto o = ws.run({"flowkin"}, {"", "", "n"}, "登入流程\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功產出: Flowchart_OneBlock_Custom_1.md\n"));
    EXPECT_EQ(th::read_file(ws.work / "flowkin/Flowchart_OneBlock_Custom.md"), "old\n");
    EXPECT_EQ(th::read_file(ws.work / "flowkin/Flowchart_OneBlock_Custom_1.md"), open_tag + "\n\ngraph TD\n\n</div>");
    // No template for the kind in the repository, and no target file for the agent.
    const auto argv = ws.calls().at(0);
    EXPECT_THAT(argv.back(), HasSubstr("：@[無]\n\n- 額外繪圖需求 (custom_requirements)：\n登入流程\n\n"));
    EXPECT_EQ(std::count(argv.begin(), argv.end(), "src"), 0);
}

TEST_F(FlowkinCli, FailuresEndWithTheirMessage) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        std::vector<std::string> args;
        std::vector<std::string> answers;
        std::string error;
        bool agent_called;
    };
    const Case cases[] = {
        {"no source, editor skipped", [] {}, {"flowkin", "-s"}, {"", ""},
         "Error: ❌ 未選取檔案且跳過編輯器（無法填寫需求），已跳出程式。\n", false},
        {"no source, nothing typed", [] {}, {"flowkin"}, {"", ""}, "Error: ❌ 未選取檔案且未填寫生成需求，已跳出程式。\n",
         false},
        {"agent fails", [&] { ws.agent_fails(1, "no quota\n"); }, {"flowkin", "-s"}, {"", "1"}, "Error: no quota\n", true},
        {"agent writes blanks", [&] { ws.agent_writes("\n \n"); }, {"flowkin", "-s"}, {"", "1"},
         "Error: ❌ AI 生成 Mermaid 圖表失敗，請檢查設定。\n", true},
        {"skill missing",
         [&] {
             fs::remove(ws.repo / "_agy/skill/mermaid-chart-expert.yaml");
             fs::remove(ws.work / "_agy/skill/mermaid-chart-expert.yaml");
         },
         {"flowkin", "-s"},
         {""}, "Error: ❌ 缺少必要的 Goal 或 Skill 設定檔\n", false},
    };
    for (const auto& c : cases) {
        fs::remove_all(ws.script);
        fs::create_directories(ws.script);
        fs::remove(ws.tmp / "argv");
        c.setup();
        auto o = ws.run(c.args, c.answers);
        EXPECT_EQ(o.status, 1) << c.what << o.out << o.err;
        EXPECT_TRUE(o.err.ends_with(c.error)) << c.what << "\n" << o.err;
        EXPECT_EQ(ws.calls().size(), c.agent_called ? 1u : 0u) << c.what;
        EXPECT_FALSE(fs::exists(ws.work / "flowkin/Flowchart_OneBlock_lexer.md")) << c.what;
    }
}

// End of input at the overwrite question ends the run, and the diagram stays in the
// agent's answer file.
TEST_F(FlowkinCli, EndOfInputAtTheOverwriteQuestionKeepsTheAnswer) {
    th::write_file(ws.work / "flowkin/Flowchart_OneBlock_Custom.md", "old\n");
    ws.agent_writes("graph TD\n");
    auto o = ws.run({"flowkin"}, {"", ""}, "登入流程\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("⚠️ AI 產出的內容已保留於：" + (ws.work / "_agy/generated-mmd.md").generic_string() + "\n"));
    EXPECT_TRUE(o.err.ends_with("Aborted!\n")) << o.err;
    EXPECT_EQ(th::read_file(ws.work / "_agy/generated-mmd.md"), "graph TD\n");
    EXPECT_EQ(th::read_file(ws.work / "flowkin/Flowchart_OneBlock_Custom.md"), "old\n");
}

// An output folder that a committed link leads out of the working copy is refused before
// the agent runs; named with -o, the folder is the user's and the diagram is saved there.
TEST_F(FlowkinCli, LinkedOutputFolderIsCheckedBeforeTheAgentRuns) {
    th::write_file(ws.tmp / "outside/keep.txt", "mine\n");
    fs::create_symlink("../outside", ws.work / "flowkin");
    const std::string target = fs::canonical(ws.tmp / "outside").string();
    ws.agent_writes("stateDiagram-v2\n");
    auto o = ws.run({"flowkin"}, {"4", "2"}, "x\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("符號連結 flowkin 指向工作目錄之外的 " + target + "，未寫入"));
    EXPECT_TRUE(ws.calls().empty());

    o = ws.run({"flowkin", "-o", "flowkin"}, {"4", "2"}, "x\n");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(fs::exists(ws.tmp / "outside/State_Logic_parser.md"));
}

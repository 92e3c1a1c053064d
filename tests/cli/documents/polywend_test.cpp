// The document pipeline end to end: the built binary, the fake agent, the test editor
// and a file:// stand-in for the maker's repository.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;

class PolywendCli : public ::testing::Test {
  protected:
    th::AgentWorkspace ws;

    void SetUp() override {
        th::write_file(ws.work / "docs/guide.md", "# 指南\n");
        th::write_file(ws.repo / "_agy/goal/translate-i18n.yaml", "goal: translate\n");
        th::write_file(ws.repo / "_agy/goal/md-formatting.yaml", "goal: format\n");
    }
};

}  // namespace

TEST_F(PolywendCli, TranslatesTheChosenDocumentWithTypedRequirements) {
    ws.agent_writes("\n# Guide\n\n");
    // A configured goal or skill path changes nothing.
    th::write_file(ws.work / "config.yaml", "config:\n  goal_path: \"x/none.yaml\"\n  skill_path: \"x/none.yaml\"\n");
    // function 1, row 2 (technical, English to Chinese), the one document
    auto o = ws.run({"polywend", "-c", "config.yaml"}, {"1", "2", "1"}, "  # 縮排的註解\n保留術語\n");
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功產出: guide_EN_to_ZH.md\n"));
    // Options that carry their own number are not numbered again; one document is used.
    EXPECT_THAT(o.out, HasSubstr("💬 請選擇要執行的功能分類\n  1. 翻譯功能 (中英對照翻譯)\n  2. Markdown 技術文件排版 (格式美化)\n"));
    EXPECT_THAT(o.out, HasSubstr("  1. docs/guide.md\n請輸入編號（直接按 Enter 不選）: "));
    EXPECT_EQ(th::read_file(ws.work / "polywend-gen/guide_EN_to_ZH.md"), "# Guide");
    EXPECT_EQ(th::read_file(ws.work / "_agy/goal/translate-i18n.yaml"), "goal: translate\n");
    EXPECT_FALSE(fs::exists(ws.work / "_agy/pipeline-result.md"));

    auto calls = ws.calls();
    ASSERT_EQ(calls.size(), 1u);
    const auto& argv = calls[0];
    EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.end() - 1),
              (std::vector<std::string>{"agy", "--add-dir", "_agy/goal", "--add-dir", "polywend-gen", "--add-dir", ".",
                                        "--model", "Gemini 3.5 Flash (Medium)", "--dangerously-skip-permissions",
                                        "--print"}));
    EXPECT_EQ(argv.back(), "根據 " + ws.ref("_agy/goal/translate-i18n.yaml") +
                               " 裡的 `translate-en-to-zh-gen` 指示：\n請將以下原始內容進行翻譯：\n\n"
                               "【翻譯模式設定】:\n- 模式：technical\n\n"
                               "【原始內容 (請自行讀取檔案內容)】:\n- " +
                               ws.ref("docs/guide.md") +
                               "\n\n【使用者自訂要求】:\n保留術語\n\n"
                               "【輸出要求】:\n請務必使用 `write_to_file` 工具，將翻譯產出的內容\n"
                               "直接寫入到絕對路徑：`" +
                               (ws.work / "_agy/pipeline-result.md").generic_string() + "` 檔案中。\n");
}

TEST_F(PolywendCli, FormatsWithoutTheEditorAndReplacesAnEarlierResult) {
    th::write_file(ws.work / "out/guide_formatted.md", "old\n");
    ws.agent_writes("formatted\n");
    const fs::path seen = ws.tmp / "editor-seen";
    auto o = ws.run({"polywend", "-s", "-o", "out"}, {"2", "1"}, "never\n", {{"EDITOR_SEEN", seen.string()}});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("Done: 成功產出: guide_formatted.md\n"));
    EXPECT_EQ(th::read_file(ws.work / "out/guide_formatted.md"), "formatted");
    EXPECT_FALSE(fs::exists(seen));
    const std::string p = ws.calls().at(0).back();
    EXPECT_THAT(p, HasSubstr("`md-formatting-gen` 指示：\n"));
    EXPECT_THAT(p, HasSubstr("- author_name：Orlen Vask\n- date："));
    // No requirement block: the output section follows the source line directly.
    EXPECT_THAT(p, HasSubstr(ws.ref("docs/guide.md") + "\n\n【輸出要求】:\n"));
}

TEST_F(PolywendCli, FailuresEndWithTheirMessage) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        std::vector<std::string> answers;
        std::string error;
        bool scratch_left;
    };
    const Case cases[] = {
        {"agent fails",
         [&] {
             ws.agent_writes("partial");
             ws.agent_fails(3, "model overloaded\n");
         },
         {"1", "1", "1"}, "Error: model overloaded\n", true},
        {"agent writes blanks", [&] { ws.agent_writes("  \n"); }, {"1", "1", "1"},
         "Error: ❌ AI 處理失敗，產出內容為空。\n", false},
        {"no source chosen", [] {}, {"2", ""}, "Error: 未選取來源檔案。\n", false},
        {"goal missing", [&] { fs::remove_all(ws.repo / "_agy"); }, {"2"}, "Error: ❌ 缺少 Goal 設定檔: md-formatting.yaml\n",
         false},
    };
    for (const auto& c : cases) {
        fs::remove_all(ws.script);
        fs::create_directories(ws.script);
        fs::remove_all(ws.work / "_agy");
        c.setup();
        auto o = ws.run({"polywend", "-s"}, c.answers);
        EXPECT_EQ(o.status, 1) << c.what << o.out << o.err;
        EXPECT_TRUE(o.err.ends_with(c.error)) << c.what << "\n" << o.err;
        EXPECT_EQ(fs::exists(ws.work / "_agy/pipeline-result.md"), c.scratch_left) << c.what;
        EXPECT_FALSE(fs::exists(ws.work / "polywend-gen/guide_ZH_to_EN.md")) << c.what;
    }
}

// A result that cannot be saved (a folder holds its name) stays in the agent's answer file.
TEST_F(PolywendCli, AResultThatCannotBeSavedStaysInTheAnswerFile) {
    fs::create_directories(ws.work / "out/guide_formatted.md");
    ws.agent_writes("formatted\n");
    auto o = ws.run({"polywend", "-s", "-o", "out"}, {"2", "1"});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr(": Is a directory\n"));
    EXPECT_THAT(o.err, HasSubstr("⚠️ AI 產出的內容已保留於：" + (ws.work / "_agy/pipeline-result.md").generic_string() + "\n"));
    EXPECT_EQ(th::read_file(ws.work / "_agy/pipeline-result.md"), "formatted\n");
}

// An output folder that a committed link leads out of the working copy is refused before
// the agent runs; named with -o, the folder is the user's and the document is saved there.
TEST_F(PolywendCli, LinkedOutputFolderIsCheckedBeforeTheAgentRuns) {
    th::write_file(ws.tmp / "outside/keep.txt", "mine\n");
    fs::create_symlink("../outside", ws.work / "polywend-gen");
    const std::string target = fs::canonical(ws.tmp / "outside").string();
    ws.agent_writes("# Guide\n");
    auto o = ws.run({"polywend"}, {"1", "2", "1"}, "x\n");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("符號連結 polywend-gen 指向工作目錄之外的 " + target + "，未寫入"));
    EXPECT_TRUE(ws.calls().empty());

    o = ws.run({"polywend", "-o", "polywend-gen"}, {"1", "2", "1"}, "x\n");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(th::read_file(ws.tmp / "outside/guide_EN_to_ZH.md"), "# Guide");
}

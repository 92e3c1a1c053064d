#include <gtest/gtest.h>

#include <filesystem>

#include "brenkit/app_logging.hpp"
#include "harness.hpp"
#include "vemtora/documents/tomebrook.hpp"

namespace tb = vemtora::tomebrook;
namespace fs = std::filesystem;

namespace {

std::string expand(std::string text) {
    return th::with_paths(std::move(text), {{"{G}", "_agy/goal/flow-manual.yaml"}, {"{S}", "_agy/skill/s.yaml"},
                                            {"{A}", "src/a.py"}, {"{B}", "src/b.py"}, {"{M}", "gen-docs/pyFlow_Manual_a.md"},
                                            {"{T}", "template/t.md"}, {"{O}", "_agy/generated-zuvidadi.md"}});
}

tb::PromptInputs inputs(tb::Family family, bool refactor, std::string req) {
    return {.family = family,
            .is_refactor = refactor,
            .choice = "Kind",
            .goal_path = "_agy/goal/flow-manual.yaml",
            .skill_path = "_agy/skill/s.yaml",
            .goal_name = refactor ? "flow-manual-refactor" : "flow-manual-gen",
            .sources = {"./src/a.py", "src/b.py"},
            .out_path = "gen-docs/pyFlow_Manual_a.md",
            .project_name = "Proj",
            .module_name = "a",
            .version = "1.2.0",
            .current_date = "2026-01-02",
            .author = "Dev",
            .template_ref = expand("- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：@[{T}]\n"),
            .user_req = std::move(req)};
}

// The fields every flow manual's prompt lists, and the closing request every prompt makes.
const std::string kFlowFields =
    "【特定任務設定與範本欄位對照】:\n"
    "- 專案名稱 (project_name)：Proj (請替換範本中的 `{project_name}`)\n"
    "- 目標模組 (module_name)：a (請替換範本中的 `{target_module}`)\n"
    "- 專案版本 (version)：v1.2.0 (請替換範本中的 `{version}`)\n"
    "- 生成日期 (date)：2026-01-02 (請替換範本中的 `{date}`)\n"
    "- 作者 (author)：Dev (請替換範本中的 `{author}`)\n";
const std::string kOutput =
    "【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的手冊內容\n"
    "直接寫入到絕對路徑：`{O}` 檔案中。\n";

}  // namespace

TEST(TomebrookPrompt, PythonFlowRefactoring) {
    EXPECT_EQ(tb::build_prompt(inputs(tb::Family::python_flow, true, "補充流程")),
              expand("根據 @[{G}] 裡的 `flow-manual-refactor` 指示與 @[{S}] 技能：\n"
                     "請仔細研讀原始碼，並對現有的 Kind 進行邏輯重構與補充：\n\n" +
                     kFlowFields +
                     "- 原始碼路徑：(請使用所分析之檔案的絕對路徑，替換範本中的 `{python_source_filepath}`)\n"
                     "- 演算法/功能名稱：(請分析後自行決定，並替換範本中的 `{algorithm_or_feature_name}`)\n"
                     "- 現有手冊檔案 (請自行讀取內容)：@[{M}]\n\n"
                     "- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：@[{T}]\n"
                     "- 參考原始碼清單 (請自行讀取檔案內容)：\n- @[{A}]\n- @[{B}]\n\n"
                     "- 流程修改需求：\n補充流程\n\n"
                     "【Python 專屬開發與流程要求】:\n"
                     "- 關注 Python 特有的非同步處理 (async/await)、事件循環與執行緒生命週期。\n"
                     "- 解析類別設計 (Classes)、資料模型 (Dataclasses / Pydantic Models)、裝飾器 (@decorator) 的控制流。\n"
                     "- 針對 Python 專屬的 Exception Handling 進行流程與錯誤追蹤說明。\n\n" +
                     kOutput));
}

TEST(TomebrookPrompt, CFlowGeneratingWithoutTemplateOrRequirement) {
    auto in = inputs(tb::Family::c_flow, false, "");
    in.template_ref = "";
    EXPECT_EQ(tb::build_prompt(in),
              expand("根據 @[{G}] 裡的 `flow-manual-gen` 指示與 @[{S}] 技能：\n"
                     "請仔細解析以下提供的原始碼，並根據指示生成一份完整的 Kind：\n\n" +
                     kFlowFields +
                     "- 原始碼路徑：(請使用所分析之檔案相對於專案目錄的相對路徑，替換範本中的 `{c_source_filepath}`)\n"
                     "- 演算法/功能名稱：(請分析後自行決定，並替換範本中的 `{algorithm_or_feature_name}`)\n\n"
                     "- 參考原始碼清單 (請自行讀取檔案內容)：\n- @[{A}]\n- @[{B}]\n\n" +
                     kOutput));
}

TEST(TomebrookPrompt, UserManualRefactoringAndApiGenerating) {
    const std::string tail = "- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：@[{T}]\n"
                             "- 參考原始碼清單 (請自行讀取檔案內容)：\n- @[{A}]\n- @[{B}]\n\n";
    EXPECT_EQ(tb::build_prompt(inputs(tb::Family::user_manual, true, "改")),
              expand("根據 @[{G}] 裡的 `flow-manual-refactor` 指示與 @[{S}] 技能：\n"
                     "請根據使用者需求，對現有的 Kind 進行功能說明更新與重構：\n\n"
                     "【特定任務設定】:\n- 套件/專案名稱：Proj\n- 目標模組 (module_name)：a\n"
                     "- 專案版本 (version)：v1.2.0\n- 生成日期 (date)：2026-01-02\n- 作者 (author)：Dev\n"
                     "- 現有手冊檔案 (請自行讀取內容)：@[{M}]\n\n" +
                     tail + "- 手冊修改需求：\n改\n\n" + kOutput));
    EXPECT_EQ(tb::build_prompt(inputs(tb::Family::api, false, "著重 X")),
              expand("根據 @[{G}] 裡的 `flow-manual-gen` 指示與 @[{S}] 技能：\n"
                     "請仔細解析以下提供的原始碼，並根據指示生成一份專業的 Kind：\n\n"
                     "【特定任務設定】:\n- 專案名稱 (project_name)：Proj\n- 目標模組 (module_name)：a\n"
                     "- 專案版本 (version)：v1.2.0\n- 生成日期 (date)：2026-01-02\n- 作者 (author)：Dev\n" +
                     tail + "- API 生成需求：\n著重 X\n\n" + kOutput));
}

TEST(TomebrookPrompt, FamilyFollowsGoalAndTemplateNames) {
    const std::optional<fs::path> none;
    EXPECT_EQ(tb::prompt_family("_agy/goal/flow-manual.yaml", fs::path("template/python_code_flow_template.md")),
              tb::Family::python_flow);
    // The Python flow kind without its template gets the C variant.
    EXPECT_EQ(tb::prompt_family("_agy/goal/flow-manual.yaml", none), tb::Family::c_flow);
    EXPECT_EQ(tb::prompt_family("_agy/goal/flow-manual.yaml", fs::path("template/c_code_flow_template.md")),
              tb::Family::c_flow);
    EXPECT_EQ(tb::prompt_family("_agy/goal/pyuser-manual.yaml", none), tb::Family::user_manual);
    EXPECT_EQ(tb::prompt_family("_agy/goal/pyapi-ai-manual.yaml", none), tb::Family::api);
}

TEST(TomebrookManual, KindsAndTheirFallback) {
    auto kinds = tb::manual_configs();
    ASSERT_EQ(kinds.size(), 5u);
    EXPECT_EQ(&tb::kind_for(kinds, "C程式流程說明手冊 (C Flow Manual)"), &kinds[4]);
    EXPECT_EQ(&tb::kind_for(kinds, "no such kind"), &kinds[1]);
    EXPECT_EQ(kinds[1].save_fmt, "Python_API_Manual_{module_name}.md");
}

TEST(TomebrookManual, FactsReadFromAnExistingManual) {
    struct Case {
        const char* text;
        std::optional<std::string> author_in;
        std::string version_in;
        std::optional<std::string> author;
        std::string version;
    };
    const Case cases[] = {
        {"**Author:** `Ann Lee`\n**Version:** `v1.4.2`\n", "Pkg", "unknown", "Ann Lee", "v1.4.2"},
        // A known package version is kept; a manual without fields changes nothing.
        {"**Author:**  Bo & Co\n**Version:** 9.9\n", std::nullopt, "0.3.0", "Bo", "0.3.0"},
        {"# Manual\n", "Pkg", "unknown", "Pkg", "unknown"},
    };
    for (const auto& c : cases) {
        auto author = c.author_in;
        auto version = c.version_in;
        tb::read_manual_facts(c.text, author, version);
        EXPECT_EQ(author, c.author) << c.text;
        EXPECT_EQ(version, c.version) << c.text;
    }
}

TEST(TomebrookManual, RefactorRequirementAndVersionPrefix) {
    brenkit::app_logging::Capture capture;
    EXPECT_EQ(tb::refactor_requirement("請參考 @[/a.diff] 更新現有文件。", ""), "請參考 @[/a.diff] 更新現有文件。");
    EXPECT_EQ(tb::refactor_requirement("ref", "  typed \n"), "ref\n  typed");
    EXPECT_EQ(tb::refactor_requirement("", " typed "), " typed ");
    EXPECT_EQ(tb::refactor_requirement("", ""), "請依照更新的部分 更新文件");
    EXPECT_EQ(capture.messages().back(), "💬 未輸入需求，將使用預設需求：請依照更新的部分 更新文件");

    EXPECT_EQ(tb::without_v("v1.2"), "1.2");
    EXPECT_EQ(tb::without_v("Vv1"), "v1");
    EXPECT_EQ(tb::without_v("1.2"), "1.2");
}

#include <gtest/gtest.h>

#include <filesystem>

#include "harness.hpp"
#include "vemtora/documents/flowkin.hpp"

namespace fk = vemtora::flowkin;
namespace fs = std::filesystem;

namespace {

const std::string open_tag = "<div style=\"margin: 0px 60px; width: 40%;\" markdown=\"1\">";
const std::string close_tag = "</div>";

std::string wrapped(const std::string& inner) { return open_tag + "\n\n" + inner + "\n\n" + close_tag; }

std::string expand(std::string text) {
    return th::with_paths(std::move(text), {{"{G}", "_agy/goal/mermaid-chart.yaml"}, {"{S}", "_agy/skill/m.yaml"},
                                            {"{P}", "src/parser.c"}, {"{L}", "src/lexer.h"}, {"{T}", "template/mmd/t.mmd"},
                                            {"{O}", "_agy/generated-mmd.md"}});
}

}  // namespace

TEST(FlowkinDiagram, ExactlyOneWrapperSurroundsTheDiagram) {
    const std::string graph = "```mermaid\ngraph TD\nA-->B\n```";
    const std::pair<std::string, std::string> cases[] = {
        {graph, wrapped(graph)},
        {open_tag + "\n" + graph + "\n" + close_tag, wrapped(graph)},
        {open_tag + open_tag + " " + graph + "\n" + close_tag + close_tag, wrapped(graph)},
        // Only the exact opening tag counts.
        {"<div style=\"margin: 0px 60px;\">x</div>", wrapped("<div style=\"margin: 0px 60px;\">x</div>")},
        // Two blocks in a row lose only the outer pair.
        {open_tag + "a" + close_tag + "\n" + open_tag + "b" + close_tag, wrapped("a" + close_tag + "\n" + open_tag + "b")},
        {open_tag + close_tag, open_tag + "\n\n\n\n" + close_tag},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(fk::wrap_diagram(text), expected) << text;
}

TEST(FlowkinDiagram, PromptWithSourcesAndWithoutTemplate) {
    EXPECT_EQ(fk::build_prompt({.goal_path = "_agy/goal/mermaid-chart.yaml",
                                .skill_path = "_agy/skill/m.yaml",
                                .module_name = "parser",
                                .template_path = std::nullopt,
                                .sources = {"./src/parser.c", "src/lexer.h"},
                                .requirement = ""}),
              expand("根據 @[{G}] 裡的 `mermaid-chart-gen` 指示與 @[{S}] 技能：\n"
                     "請仔細解析並繪製對應的 Mermaid 圖表：\n\n"
                     "【特定任務設定】:\n- 目標模組 (module_name)：parser\n"
                     "- 參考 Mermaid 範本路徑 (template_path，請自行使用工具讀取內容)：@[無]\n\n"
                     "- 參考原始碼清單 (file_refs，請自行使用工具讀取其內容並進行分析)：\n- @[{P}]\n- @[{L}]\n\n"
                     "【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的 Mermaid 圖表內容\n"
                     "直接寫入到絕對路徑：`{O}` 檔案中。\n"));
}

TEST(FlowkinDiagram, PromptFromARequirementAlone) {
    EXPECT_EQ(fk::build_prompt({.goal_path = "_agy/goal/mermaid-chart.yaml",
                                .skill_path = "_agy/skill/m.yaml",
                                .module_name = "Custom",
                                .template_path = fs::path("template/mmd/t.mmd"),
                                .sources = {},
                                .requirement = "登入流程"}),
              expand("根據 @[{G}] 裡的 `mermaid-chart-gen` 指示與 @[{S}] 技能：\n"
                     "請仔細解析並繪製對應的 Mermaid 圖表：\n\n"
                     "【特定任務設定】:\n- 目標模組 (module_name)：Custom\n"
                     "- 參考 Mermaid 範本路徑 (template_path，請自行使用工具讀取內容)：@[{T}]\n\n"
                     "- 額外繪圖需求 (custom_requirements)：\n登入流程\n\n"
                     "【輸出要求】：\n請務必使用 `write_to_file` 工具，將生成的 Mermaid 圖表內容\n"
                     "直接寫入到絕對路徑：`{O}` 檔案中。\n"));
    EXPECT_EQ(fk::kind_for("nothing").save_fmt, "Flowchart_OneBlock_{module_name}.md");
}

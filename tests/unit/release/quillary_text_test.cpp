#include <gtest/gtest.h>

#include <filesystem>

#include "harness.hpp"
#include "support/text.hpp"
#include "vemtora/release/quillary_detail.hpp"

namespace q = vemtora::quillary;

TEST(QuillaryText, FolderKeysKeepLettersAndDigitsOfEveryScript) {
    EXPECT_EQ(q::name_key("Data Tool"), "datatool");
    EXPECT_EQ(q::name_key("data_tool-2"), "datatool2");
    EXPECT_EQ(q::name_key("---"), "");
    EXPECT_EQ(q::name_key("資料工具_v2"), "資料工具v2");
    EXPECT_EQ(q::name_key("ÄPFEL"), "äpfel");
}

TEST(QuillaryText, SetupVersionOnlyAsAWord) {
    const std::string setup =
        "from setuptools import setup\n"
        "MIN = dict(min_version='0.1')\n"
        "setup(name='tool', version = '1.2.3',\n"
        "      extra=dict(version=\"1.2.3\"))\n";
    EXPECT_EQ(q::find_setup_version(setup), "1.2.3");
    EXPECT_EQ(q::replace_setup_version(setup, "2.0.0"),
              "from setuptools import setup\n"
              "MIN = dict(min_version='0.1')\n"
              "setup(name='tool', version=\"2.0.0\",\n"
              "      extra=dict(version=\"1.2.3\"))\n");
    // Only min_version there: nothing is found and nothing rewritten.
    EXPECT_FALSE(q::find_setup_version("setup(min_version='0.1', version=get_version())"));
    EXPECT_EQ(q::replace_setup_version("setup(min_version='0.1')", "2.0.0"), "setup(min_version='0.1')");
    // The new version goes in literally.
    EXPECT_EQ(q::replace_setup_version("setup(version='1')", "\\1$0"), "setup(version=\"\\1$0\")");
}

// Only the version keyword argument of a setup(...) call is the package's version.
TEST(QuillaryText, SetupVersionIsTheSetupCallsKeywordArgument) {
    struct Case {
        std::string text;
        std::vector<std::string> values;
    };
    const std::vector<Case> cases = {
        {"setup(description=\"version='9'\", version='1.0')", {"1.0"}},
        {"setup(description='''x version=\"9\" ''', version=\"1.0\")", {"1.0"}},
        {"# setup(version='9')\nsetup(\n    version = '1.0',  # version='8'\n)", {"1.0"}},
        {"setuptools.setup(name='a', version='2')", {"2"}},
        {"setup(name='a', extra=dict(version='9'), opts={'version': '8'})", {}},
        {"version = '3'\nsetup(version=version)", {}},
        {"def setup(version='9'):\n    pass\n", {}},
        {"setup(version=='9')", {}},
        {"setup(version='''1''')", {}},
        {"if a:\n    setup(version='1')\nelse:\n    setup(version='2')\n", {"1", "2"}},
        {"x = 'setup(version=\"9\")'\nsetup(version='1', name=f\"{a['b']})\")", {"1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> values;
        for (const auto& found : q::setup_version_arguments(c.text)) {
            values.push_back(found.value);
            EXPECT_EQ(c.text.substr(found.begin, 7), "version");
            EXPECT_EQ(c.text[found.end - 1], c.text[found.end - 2 - found.value.size()]);
        }
        EXPECT_EQ(values, c.values);
        EXPECT_EQ(q::find_setup_version(c.text),
                  c.values.size() == 1 ? std::optional<std::string>(c.values[0]) : std::nullopt);
        if (c.values.size() != 1) {
            EXPECT_EQ(q::replace_setup_version(c.text, "5"), c.text);
        }
    }
    EXPECT_EQ(q::replace_setup_version("setup(description=\"version='9'\", version = '1.0')", "2.0"),
              "setup(description=\"version='9'\", version=\"2.0\")");
}

namespace {

q::PromptInputs inputs(bool refactor, bool mcu, std::string req = "", std::string tref = "") {
    return {.is_refactor = refactor,
            .is_c_mcu_project = mcu,
            .goal_path = "_agy/goal/g.yaml",
            .skill_path = "_agy/skill/s.yaml",
            .source_dir = "./tool",
            .project_name = "Tool",
            .next_version = "1.2.4",
            .current_date = "2026-01-02",
            .author = "Dev",
            .user_req = std::move(req),
            .template_ref = std::move(tref)};
}

std::string expand(std::string text) {
    return th::with_paths(std::move(text), {{"{G}", "_agy/goal/g.yaml"}, {"{S}", "_agy/skill/s.yaml"}, {"{SRC}", "tool"},
                                            {"{R}", "_agy/current-readme.md"}, {"{D}", "_agy/current-diff.txt"},
                                            {"{L}", "_agy/current-log.txt"}, {"{O}", "_agy/generated-readme.md"}});
}

const char* kSettings =
    "\n"
    "【特定任務設定】:\n"
    "- 專案名稱 (project_name)：Tool\n"
    "- 專案版本：v1.2.4\n"
    "- 生成日期：2026-01-02\n"
    "- 作者：Dev\n";

const char* kOutput =
    "\n"
    "【輸出要求】：\n"
    "請務必使用 `write_to_file` 工具，將生成的 Markdown 內容\n"
    "直接寫入到絕對路徑：`{O}` 檔案中。\n";

}  // namespace

TEST(QuillaryText, UpdatePrompts) {
    const std::string head = "根據 @[{G}] 裡的 `dovud-readme-refactor` 指示與 @[{S}] 技能，\n";
    const std::string settings = kSettings;
    const std::string tail =
        "\n"
        "【現有的 README.md 內容 (current_content)】:\n"
        "已寫入至暫存檔：@[{R}]\n"
        "\n"
        "【修改需求與程式碼變更 (user_req 與 Git Diff)】:\n"
        "- 使用者修改需求：{REQ}\n"
        "- 自上次版本至今的程式碼變更已寫入至暫存檔：@[{D}]\n"
        "\n"
        "【Git Commit 歷史紀錄 (Git Commit Log)】:\n"
        "- Commit Log 已寫入至暫存檔：@[{L}]\n" +
        std::string(kOutput);
    const std::string python = head + "請根據指示，對現有的 README.md 內容進行重構更新。\n" + settings +
                               "- 原始碼目錄：有需要的時候可以參考原 @[{SRC}] 目錄下的原始檔案以獲取完整上下文。\n" +
                               tail;
    const std::string mcu = head + "請根據指示，對現有的 MCU C Project README.md 內容進行重構更新。\n" + settings +
                            "- 原始碼目錄：請閱讀並參考原 @[{SRC}] 目錄下的原始 C 語言與標頭檔案（.c / "
                            ".h），以獲取硬體周邊配置、功能實作等完整上下文。\n" +
                            tail;
    EXPECT_EQ(q::build_prompt(inputs(true, false)), expand(support::replace_all(python, "{REQ}", "無特別指定")));
    EXPECT_EQ(q::build_prompt(inputs(true, true, "加入\n安裝說明")),
              expand(support::replace_all(mcu, "{REQ}", "加入\n安裝說明")));
}

TEST(QuillaryText, NewPrompts) {
    const std::string head = "根據 @[{G}] 裡的 `dovud-quillary` 指示與 @[{S}] 技能，\n";
    const std::string settings = std::string(kSettings) + "\n";
    const std::string tail =
        "\n"
        "【Git Commit 歷史紀錄 (Git Commit Log)】:\n"
        "- 所有的 Commit Log 已寫入至暫存檔：@[{L}]\n" +
        std::string(kOutput);
    const std::string tref = "- 參考輸出範本 (請務必嚴格依照此範本結構與風格輸出)：@[/t/x.md]\n";
    // The request is not part of a new README's prompt; without a template two empty
    // lines stand between the author and the log heading.
    EXPECT_EQ(q::build_prompt(inputs(false, false, "ignored")),
              expand(head + "請根據指示，針對專案原始碼內容生成 README.md 操作手冊。\n\n" +
                     "【重要指示】：請閱讀原 @[{SRC}] 目錄下的原始檔案，以了解專案的 CLI 實作與參數定義細節。\n" +
                     settings + tail));
    EXPECT_EQ(q::build_prompt(inputs(false, true, "", tref)),
              expand(head + "請根據指示，針對 MCU C Project 原始碼內容生成 README.md 說明文件。\n\n" +
                     "【重要指示】：請閱讀原 @[{SRC}] 目錄下的原始 C 語言與標頭檔案（.c / "
                     ".h），以了解專案的硬體架構、周邊配置（如 GPIO/SPI/I2C 等）、選單選項與功能實作細節。\n" +
                     settings + tref + tail));
}

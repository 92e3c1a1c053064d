#include <gtest/gtest.h>

#include "vemtora/documents/polywend.hpp"

namespace pw = vemtora::polywend;

namespace {

pw::PromptParts parts(std::string custom) {
    return {.goal_file = "/w/_agy/goal/translate-i18n.yaml",
            .goal_name = "translate-en-to-zh-gen",
            .source_file = "/w/docs/guide.md",
            .custom = std::move(custom),
            .answer_file = "/w/_agy/pipeline-result.md"};
}

}  // namespace

TEST(PolywendPrompt, TranslationWithRequirements) {
    EXPECT_EQ(pw::translation_prompt(parts("保留術語"), "report_email"),
              "根據 @[/w/_agy/goal/translate-i18n.yaml] 裡的 `translate-en-to-zh-gen` 指示：\n"
              "請將以下原始內容進行翻譯：\n\n"
              "【翻譯模式設定】:\n- 模式：report_email\n\n"
              "【原始內容 (請自行讀取檔案內容)】:\n- @[/w/docs/guide.md]\n\n"
              "【使用者自訂要求】:\n保留術語\n\n"
              "【輸出要求】:\n請務必使用 `write_to_file` 工具，將翻譯產出的內容\n"
              "直接寫入到絕對路徑：`/w/_agy/pipeline-result.md` 檔案中。\n");
}

TEST(PolywendPrompt, FormattingWithoutRequirements) {
    auto p = parts("");
    p.goal_file = "/w/_agy/goal/md-formatting.yaml";
    EXPECT_EQ(pw::formatting_prompt(p, {.author_name = "Orlen Vask", .version = "0.0.1", .current_date = "2026-03-04"}),
              "根據 @[/w/_agy/goal/md-formatting.yaml] 裡的 `md-formatting-gen` 指示：\n"
              "請對以下 Markdown 檔案進行排版優化：\n\n"
              "【元數據設定 (Metadata)】:\n- author_name：Orlen Vask\n- date：2026-03-04\n- version：v0.0.1\n\n"
              "【原始內容 (請自行讀取檔案內容)】:\n- @[/w/docs/guide.md]\n\n"
              "【輸出要求】:\n請務必使用 `write_to_file` 工具，將排版產出的內容\n"
              "直接寫入到絕對路徑：`/w/_agy/pipeline-result.md` 檔案中。\n");
}

TEST(PolywendPipeline, RequirementsLoseIndentedCommentsAndOuterBlankLines) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"  # banner\n\t# more\n", ""},
        {"\n\nfirst\n   # dropped\n\nsecond # kept\n\n", "first\n\nsecond # kept"},
        {"a\r\nb", "a\nb"},
    };
    for (const auto& [typed, expected] : cases) EXPECT_EQ(pw::clean_requirement(typed), expected) << typed;
}

TEST(PolywendPipeline, OutputNamesAndTranslationRows) {
    EXPECT_EQ(pw::output_name("./docs/guide.md", "formatted"), "guide_formatted.md");
    EXPECT_EQ(pw::output_name("notes.final.md", "ZH_to_EN"), "notes.final_ZH_to_EN.md");

    const auto& fallback = pw::translation_for("something else");
    EXPECT_EQ(fallback.goal_name, "translate-zh-to-en-gen");
    EXPECT_EQ(fallback.translate_mode, "technical");
    EXPECT_EQ(fallback.direction, "ZH_to_EN");
    EXPECT_EQ(pw::translation_for("4. Report Mail 英翻中").direction, "EN_to_ZH");

    EXPECT_EQ(pw::editor_banner("翻譯自訂要求"),
              "# =========================================================\n"
              "# [翻譯自訂要求 (選填)]\n"
              "# 如果有額外的自訂要求或特定格式規範，請在下方輸入 (存檔並關閉編輯器以繼續)：\n"
              "# =========================================================\n");
}

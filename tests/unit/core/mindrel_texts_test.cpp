// Command-function probe, diff display, file joiner and the direct client's set-up.
#include <gtest/gtest.h>

#include "common/harness.hpp"
#include "support/env.hpp"
#include "vemtora/core/mindrel.hpp"

namespace {

namespace fs = std::filesystem;
namespace app_logging = brenkit::app_logging;
namespace mindrel = vemtora::mindrel;

TEST(ExtractFunctionName, FirstCommandFunctionAnywhereInTheText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"def cmd_make_new_thing(ctx):\n", "cmd_make_new_thing"},
        {"def cmd_(x): pass\ndef cmd_real(y): pass\n", "cmd_real"},
        {"def   cmd_a():\n", "cmd_a"},
        {"def\tcmd_b():\n", "cmd_b"},
        {"def\n    cmd_c():\n", "cmd_c"},
        {"def _cmd_x(): pass\ndef cmdy(): pass\ndef cmd_z(): pass\n", "cmd_z"},
        {"async def cmd_async(): pass\n", "cmd_async"},
        {"# def cmd_comment()\n\"\"\"def cmd_doc\"\"\"\ndef cmd_real(): pass\n", "cmd_comment"},
        {"def cmd_中文名稱():\n", "cmd_中文名稱"},
        {"def main():\n    pass\n", ""},
    };
    th::TempDir tmp;
    for (const auto& [text, name] : cases) {
        th::write_file(tmp / "m.py", text);
        EXPECT_EQ(mindrel::extract_function_name(tmp / "m.py"), name) << text;
    }
    EXPECT_EQ(mindrel::extract_function_name(tmp / "missing.py"), "");
    th::write_file(tmp / "bad.py", "def cmd_x\xff():\n");
    EXPECT_ANY_THROW(mindrel::extract_function_name(tmp / "bad.py"));
}

std::string diff_output(const mindrel::DiffArgs& args) {
    ::testing::internal::CaptureStdout();
    mindrel::display_content_diff(args);
    return ::testing::internal::GetCapturedStdout();
}

TEST(DisplayContentDiff, PlainOutputOffTheTerminal) {
    const std::string head = "\n--- 🔍 變更差異比對 (Diff: Original -> Refactored) ---\n--- Original\n+++ Refactored\n";
    struct Case {
        const char* name;
        std::string old_text, new_text, shown;
    };
    const std::vector<Case> cases = {
        {"empty old text", "", "new\n", ""},
        {"no difference", "same\n", "same\n", "\n✅ 內容與原版本無異。\n"},
        {"last line without end", "a\nb", "a\nc", head + "@@ -1,2 +1,2 @@\n a\n-b\n+c\n"},
        {"all removed", "x\ny\n", "", head + "@@ -1,2 +0,0 @@\n-x\n-y\n"},
        {"marker-like lines", "--x\nkeep\n", "keep\n++y\n", head + "@@ -1,2 +1,2 @@\n---x\n keep\n+++y\n"},
        {"change at the top", "a\nb\nc\nd\ne\n", "A\nb\nc\nd\ne\n", head + "@@ -1,4 +1,4 @@\n-a\n+A\n b\n c\n d\n"},
        {"CRLF and other line ends", "a\r\nb\x0c" "c\n", "a\r\nB\x0c" "c\n", head + "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(diff_output({.old_content = c.old_text, .new_content = c.new_text}), c.shown) << c.name;

    EXPECT_EQ(diff_output({.old_content = "a\n", .new_content = "b\n", .from_file = "README.md", .to_file = "new"}),
              "\n--- 🔍 變更差異比對 (Diff: README.md -> new) ---\n--- README.md\n+++ new\n@@ -1 +1 @@\n-a\n+b\n");
}

TEST(DisplayContentDiff, SixEqualLinesJoinHunksSevenSplitThem) {
    auto text = [](int gap, char first, char last) {
        std::string s(1, first);
        s += "\n";
        for (int i = 0; i < gap; ++i) s.append("k").append(std::to_string(i)).append("\n");
        return s + std::string(1, last) + "\n";
    };
    auto hunks = [](const std::string& out) {
        size_t n = 0;
        for (size_t p = out.find("\n@@ "); p != std::string::npos; p = out.find("\n@@ ", p + 1)) ++n;
        return n;
    };
    EXPECT_EQ(hunks(diff_output({.old_content = text(6, 'a', 'z'), .new_content = text(6, 'A', 'Z')})), 1u);
    EXPECT_EQ(hunks(diff_output({.old_content = text(7, 'a', 'z'), .new_content = text(7, 'A', 'Z')})), 2u);
}

TEST(CombineFilesContent, BlocksPerReadableFile) {
    th::TempDir tmp;
    th::write_file(tmp / "notes/README.MD", "# Title\n");
    th::write_file(tmp / "tool.py", "print(1)");
    th::write_file(tmp / "Makefile", "all:");
    th::write_file(tmp / "empty.txt", "");
    EXPECT_EQ(mindrel::combine_files_content({}), "");
    EXPECT_EQ(mindrel::combine_files_content({{tmp / "missing.py", "missing"}, {tmp / "empty.txt", "empty"}}), "");
    EXPECT_EQ(mindrel::combine_files_content(
                  {{tmp / "notes/README.MD", "README"}, {tmp / "missing.md", "missing"}, {tmp / "tool.py", "tool"},
                   {tmp / "Makefile", "Makefile"}}),
              "--- 檔案名稱: README.md ---\n```markdown\n# Title\n\n```\n\n"
              "--- 檔案名稱: tool.py ---\n```python\nprint(1)\n```\n\n"
              "--- 檔案名稱: Makefile ---\n```\nall:\n```\n\n");
}

TEST(InitAiService, MissingLibraryIsReportedAfterTheNotice) {
    app_logging::Capture capture;
    const auto result = mindrel::init_ai_service(mindrel::GenAiClient{"k"});
    EXPECT_FALSE(mindrel::HAS_GENAI);
    EXPECT_FALSE(result.client);
    EXPECT_EQ(result.error, "❌ 找不到 `google-genai` 套件，無法使用 AI 相關功能。請執行 `pip install google-genai` 進行安裝。");
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"🤖 正在初始化 Gemini API ..."});
}

TEST(InitAiService, KeyFromEnvironmentOrDotEnv) {
    th::TempDir tmp;
    th::write_file(tmp / ".env", "# comment\nGEMINI_API_KEY=from-file\nexport OTHER_VEMTORA_VAR='quoted value'\n");
    fs::create_directories(tmp / "sub/deeper");
    th::CurrentDir cwd(tmp / "sub/deeper");
    th::ScopedEnv other({{"OTHER_VEMTORA_VAR", std::nullopt}});
    {
        th::ScopedEnv key({{"GEMINI_API_KEY", std::string("already-set")}});
        const auto r = mindrel::detail::init_ai_service(true, std::nullopt);
        ASSERT_TRUE(r.client);
        EXPECT_EQ(r.client->api_key, "already-set");
        EXPECT_EQ(support::get_env("OTHER_VEMTORA_VAR"), "quoted value");
    }
    {
        th::ScopedEnv key({{"GEMINI_API_KEY", std::nullopt}});
        const auto r = mindrel::detail::init_ai_service(true, std::nullopt);
        ASSERT_TRUE(r.client);
        EXPECT_EQ(r.client->api_key, "from-file");
    }
    {
        th::write_file(tmp / ".env", "GEMINI_API_KEY=\n");
        th::ScopedEnv key({{"GEMINI_API_KEY", std::nullopt}});
        const auto r = mindrel::detail::init_ai_service(true, std::nullopt);
        EXPECT_FALSE(r.client);
        EXPECT_EQ(r.error, "❌ 找不到 GEMINI_API_KEY，請確認環境變數或 .env 檔案是否設定正確。");
        // An existing client comes back without any key.
        EXPECT_EQ(mindrel::detail::init_ai_service(true, mindrel::GenAiClient{"mine"}).client->api_key, "mine");
    }
}

}  // namespace

// The agent runner against the fake agent, and the Windows command-line forms.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/harness.hpp"
#include "support/process.hpp"
#include "vemtora/core/mindrel.hpp"

namespace {

namespace fs = std::filesystem;
namespace app_logging = brenkit::app_logging;
using vemtora::mindrel::RunAgyArgs;

class RunAgy : public ::testing::Test {
  protected:
    th::TempDir tmp;
    th::FakeAgent agent{tmp.path()};

    void scripted(const std::string& file, const std::string& text) { agent.scripted(file, text); }
    std::vector<std::vector<std::string>> calls() const { return agent.calls(); }
};

TEST(AgyFolders, OrderRepeatsAndPresence) {
    struct Case {
        const char* name;
        RunAgyArgs args;
        std::vector<std::string> folders;
    };
    const std::vector<Case> cases = {
        {"nothing given", {}, {}},
        {"every kind, in order",
         {.file_path = "src/app.py", .goal_path = "g/goal.yaml", .skill_path = "s/skill.yaml", .output_dir = "out",
          .prj_folder = fs::path("prj"), .add_dot_dir = true},
         {"g", "s", "out", "prj", "src", "."}},
        {"goal and skill share a folder", {.goal_path = "_agy/goal/a.yaml", .skill_path = "_agy/goal/b.yaml"}, {"_agy/goal"}},
        {"output '.' with the dot flag", {.goal_path = "g/a.yaml", .skill_path = "s/b.yaml", .output_dir = ".", .add_dot_dir = true},
         {"g", "s", "."}},
        {"bare goal name", {.goal_path = "goal.yaml", .add_dot_dir = true}, {"."}},
        {"empty texts add nothing", {.output_dir = "", .prj_folder = std::string()}, {}},
        {"an empty path is the current folder", {.output_dir = fs::path()}, {"."}},
        {"texts compared exactly, paths lexically", {.output_dir = "out/", .prj_folder = fs::path("./out/")}, {"out/", "out"}},
        {"parents read lexically: dot parts dropped, root and .. kept",
         {.file_path = "../up/./x.py", .goal_path = "./g/./a.yaml", .skill_path = "/s.yaml"},
         {"g", "/", "../up"}},
    };
    for (const auto& c : cases) EXPECT_EQ(vemtora::mindrel::agy_folders(c.args), c.folders) << c.name;
}

TEST(AgyCommand, VectorAndOneLinePrompt) {
    const RunAgyArgs args{.prompt = "a\r\nb\r\nc", .output_dir = "out"};
    const std::vector<std::string> head{"agy", "--add-dir", "out", "--model", "gemini-3.5-flash-m",
                                        "--dangerously-skip-permissions", "--print"};
    auto with = [&](const std::string& prompt) {
        auto v = head;
        v.push_back(prompt);
        return v;
    };
    EXPECT_EQ(vemtora::mindrel::agy_command(args, false), with("a\r\nb\r\nc"));
    EXPECT_EQ(vemtora::mindrel::agy_command(args, true), with("a b c"));
    EXPECT_EQ(vemtora::mindrel::agy_command({.prompt = "x\ny\rz"}, true).back(), "x yz");
}

TEST_F(RunAgy, PassesTheVectorAndWritesTheNamedOutputFile) {
    const fs::path goal = tmp / "_agy/goal/g.yaml";
    th::write_file(goal, "g");
    const fs::path out1 = tmp / "_agy/generated-readme.md";
    // A relative output path is taken from the current folder.
    th::CurrentDir cwd(tmp.path());
    const fs::path out2 = "_agy/generated-dovud-new.txt";
    scripted("1.out", "first text\n");
    scripted("2.out", "second text");
    const std::string prompt1 = "請讀 @[x]\r\n【輸出要求】：\n直接寫入到絕對路徑：`" + out1.string() + "` 檔案中。\n";
    const std::string prompt2 = "使用 `write_to_file` 寫入：`" + out2.string() + "`。\n禁止解釋";

    const auto r1 = vemtora::mindrel::run_agy(
        {.file_path = goal, .prompt = prompt1, .default_model = "Gemini 3.5 Pro", .goal_path = goal, .add_dot_dir = true});
    const auto r2 = vemtora::mindrel::run_agy({.prompt = prompt2});
    EXPECT_TRUE(r1.ok);
    EXPECT_TRUE(r2.ok);
    EXPECT_EQ(th::read_file(out1), "first text\n");
    EXPECT_EQ(th::read_file(tmp / out2), "second text");

    const std::string dir = (tmp / "_agy/goal").string();
    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0], (std::vector<std::string>{"agy", "--add-dir", dir, "--add-dir", ".", "--model", "Gemini 3.5 Pro",
                                                     "--dangerously-skip-permissions", "--print", prompt1}));
    EXPECT_EQ(recorded[1], (std::vector<std::string>{"agy", "--model", "gemini-3.5-flash-m",
                                                     "--dangerously-skip-permissions", "--print", prompt2}));
}

TEST_F(RunAgy, ResultTextsAndStatus) {
    struct Case {
        std::string out, err, status;
        bool ok;
        std::string text;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"", "", "0", true, "\n", {}},
        {" out\r\nline\r", "bad \xff byte\r\n", "0", true, " out\nline\n\nbad \xEF\xBF\xBD byte\n", {}},
        {"  word  ", " \n \r\n", "1", false, "word",
         {"❌ agy 執行失敗 (Exit Code: 1)", "⚠️ 錯誤訊息:\nword"}},
        {"noise", "\treason\n", "3", false, "reason", {"❌ agy 執行失敗 (Exit Code: 3)", "⚠️ 錯誤訊息:\nreason"}},
        {"", "  \n", "2", false, "agy 執行期間發生錯誤 (無輸出)",
         {"❌ agy 執行失敗 (Exit Code: 2)", "⚠️ 錯誤訊息:\nagy 執行期間發生錯誤 (無輸出)"}},
        {"", "", "-9", false, "agy 執行期間發生錯誤 (無輸出)",
         {"❌ agy 執行失敗 (Exit Code: -9)", "⚠️ 錯誤訊息:\nagy 執行期間發生錯誤 (無輸出)"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        const std::string n = std::to_string(i + 1);
        scripted(n + ".stdout", c.out);
        scripted(n + ".stderr", c.err);
        scripted(n + ".status", c.status);
        app_logging::Capture capture;
        const auto r = vemtora::mindrel::run_agy({.prompt = "p", .default_model = "M"});
        EXPECT_EQ(r.ok, c.ok) << "case " << n;
        EXPECT_EQ(r.text, c.text) << "case " << n;
        std::vector<std::string> errors;
        for (const auto& rec : capture.records())
            if (rec.level == app_logging::Level::error) errors.push_back(rec.message);
        EXPECT_EQ(errors, c.errors) << "case " << n;
    }
}

TEST_F(RunAgy, ProgressAndDebugLines) {
    const fs::path target = tmp / "tool.py";
    th::write_file(target, "x");
    app_logging::setup_logging("Vemtora", true);
    app_logging::Capture capture;
    vemtora::mindrel::run_agy({.file_path = target, .prompt = "a\nb", .default_model = "M"});
    vemtora::mindrel::run_agy({.prompt = "p", .default_model = "M"});
    app_logging::setup_logging("Vemtora", false);
    const std::string dir = tmp.path().string();
    EXPECT_EQ(capture.messages(),
              (std::vector<std::string>{
                  "✅ ⏳ 正在透過 agy 使用 M 處理 tool.py...",
                  "🔍 [run_agy] 使用 shell 執行: False, agy_cmd: agy --add-dir " + dir +
                      " --model M --dangerously-skip-permissions --print a\nb",
                  "✅ ⏳ 正在透過 agy 使用 M 處理 專案 (Project)...",
                  "🔍 [run_agy] 使用 shell 執行: False, agy_cmd: agy --model M --dangerously-skip-permissions --print p",
              }));
}

TEST_F(RunAgy, MissingTargetComesBeforeMissingAgent) {
    th::ScopedEnv no_agy{{{"PATH", (tmp / "empty").string()}}};
    app_logging::Capture capture;
    const auto missing = tmp / "nope.md";
    auto r = vemtora::mindrel::run_agy({.file_path = tmp / "." / "nope.md", .prompt = "p"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "找不到目標檔案: " + missing.string());
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"❌ 找不到目標檔案: " + missing.string()});

    capture.clear();
    r = vemtora::mindrel::run_agy({.prompt = "p"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "系統中找不到 `agy` 指令");
    EXPECT_EQ(capture.messages(),
              std::vector<std::string>{"❌ 系統中找不到 `agy` 指令，請確認 agy CLI 是否已正確安裝並加入 PATH。"});
    EXPECT_TRUE(calls().empty());
}

TEST_F(RunAgy, StartFailureIsCaught) {
    // Executable but not a program the system can start.
    const fs::path bin = tmp / "bin";
    th::write_file(bin / "agy", "\x01\x02 not a program");
    fs::permissions(bin / "agy", fs::perms::owner_all);
    th::ScopedEnv broken{{{"PATH", bin.string()}}};
    app_logging::Capture capture;
    const auto r = vemtora::mindrel::run_agy({.prompt = "p"});
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.text.starts_with("系統級異常: ")) << r.text;
    EXPECT_NE(capture.text().find("❌ 呼叫 agy 指令時發生系統級異常: "), std::string::npos) << capture.text();
}

TEST(WindowsCommandLine, QuotingFollowsTheRuntimeRules) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\"b", "a\\\"b"},
        {"C:\\dir\\", "C:\\dir\\"},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"a\\\\\"b", "a\\\\\\\\\\\"b"},
    };
    for (const auto& [arg, quoted] : cases) EXPECT_EQ(support::windows_quote_arg(arg), quoted) << arg;
    EXPECT_EQ(support::windows_command_line({"agy", "--add-dir", "C:\\a b", "--print", ""}),
              "agy --add-dir \"C:\\a b\" --print \"\"");
}

TEST(WindowsCommandLine, PromptReachesACommandScriptAsOneArgument) {
    // The user's prompt cannot end its quoted stretch and chain a command, neither on the
    // interpreter's line nor where agy.cmd expands %*.
    const auto cmd = vemtora::mindrel::agy_command({.prompt = "fix\" & del /q * & echo \"", .default_model = "M"}, true);
    const std::vector<std::string> args(cmd.begin() + 1, cmd.end());
    EXPECT_EQ(support::windows_batch_command_line("C:\\Windows\\system32\\cmd.exe", "C:\\npm\\agy.cmd", args),
              "C:\\Windows\\system32\\cmd.exe /d /e:on /v:off /s /c \"\"C:\\npm\\agy.cmd\" --model M "
              "--dangerously-skip-permissions --print \"fix\"\" & del /q * & echo \"\"\"\"");
}

}  // namespace

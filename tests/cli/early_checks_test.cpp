// What can be known before the agent runs stops a command before it asks anything, opens
// the editor or calls the agent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// A workspace whose configuration names the output folder `output_dir`, with what each
// command looks for before its output folder.
void configure_output_dir(const th::AgentWorkspace& ws, const std::string& output_dir) {
    th::write_file(ws.work / "config.yaml", "config:\n  output_dir: \"" + output_dir + "\"\n");
    th::write_file(ws.work / "_agy/goal/template-generator.yaml", "goal\n");
    th::write_file(ws.work / "_agy/skill/template-expert.yaml", "skill\n");
    th::write_file(ws.work / "notes.md", "# notes\n");
}

// Runs the command with every question answered: it must stop at once with the line that
// says why (once) and the failure `error`, asking nothing and calling neither the editor
// nor the agent.
void expect_stop_before_any_question(th::AgentWorkspace& ws, const std::string& command, const std::string& line,
                                     const std::string& error) {
    const fs::path seen = ws.tmp / "editor-seen";
    ws.agent_writes("answer\n");
    auto o = ws.run({command, "-c", "config.yaml"}, {"1", "1", "1", "1", "1", "1"}, "need\n",
                    {{"EDITOR_SEEN", seen.string()}});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_EQ(count(o.err, line), 1u) << o.err;
    EXPECT_TRUE(o.err.ends_with(error)) << o.err;
    EXPECT_THAT(o.out, Not(HasSubstr("請")));
    EXPECT_FALSE(fs::exists(seen));
    EXPECT_TRUE(ws.calls().empty());
}

}  // namespace

TEST(EarlyChecks, AnOutputFolderThatCannotBeMadeStopsBeforeAnyQuestion) {
    for (const std::string command : {"krestel", "moldery", "tomebrook", "polywend", "flowkin"}) {
        SCOPED_TRACE(command);
        th::AgentWorkspace ws;
        th::write_file(ws.work / "blocker", "a file where the output folder should go\n");
        configure_output_dir(ws, "blocker/out");
        expect_stop_before_any_question(ws, command, "❌ 無法建立輸出資料夾 blocker/out: ",
                                        "Error: 無法建立輸出資料夾: blocker/out\n");
    }
}

// When the editor's text cannot even be given a temporary folder, the command ends with the
// system's own reason for it; no editor ran, so no line speaks of one.
TEST(EarlyChecks, AnEditorFolderThatCannotBeMadeEndsWithTheSystemsReason) {
    TH_UNPRIVILEGED_USER(user);
    th::AgentWorkspace ws;
    for (const char* file : {"_agy/goal/krestel-automation.yaml", "_agy/skill/krestel-expert.yaml",
                             "template/krestel_template.sh"})
        th::write_file(ws.work / file, "text\n");
    const fs::path closed = ws.tmp / "closed-tmp";
    fs::create_directories(closed);
    ws.agent_writes("echo hi\n");
    ws.run_as(user);
    fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    auto o = ws.run({"krestel"}, {""}, "need\n", {{"TMPDIR", closed.string()}});
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    EXPECT_THAT(o.err, HasSubstr("Permission denied"));
    EXPECT_THAT(o.err, Not(HasSubstr("File exists")));
    EXPECT_THAT(o.err + o.out, Not(HasSubstr("編輯器")));
    EXPECT_TRUE(ws.calls().empty());
}

// An output folder that is there but cannot be written (a read-only mount, another
// user's folder) is found as a save would find it, before anything is asked, and the
// trial leaves nothing in it.
TEST(EarlyChecks, AnOutputFolderThatCannotBeWrittenStopsBeforeAnyQuestion) {
    TH_UNPRIVILEGED_USER(user);
    for (const std::string command : {"krestel", "moldery", "tomebrook", "polywend", "flowkin", "torvane"}) {
        SCOPED_TRACE(command);
        th::AgentWorkspace ws;
        configure_output_dir(ws, "out");
        fs::create_directories(ws.work / "out");
        ws.run_as(user);
        fs::permissions(ws.work / "out", static_cast<fs::perms>(0555), fs::perm_options::replace);
        expect_stop_before_any_question(ws, command, "❌ 無法寫入輸出資料夾 out: Permission denied\n",
                                        "Error: 無法寫入輸出資料夾: out\n");
        EXPECT_TRUE(fs::is_empty(ws.work / "out"));
    }
}

// An editor that ends with a failure (vim's :cq, a crash) ends the command: what it held
// is not taken, nor is a default requirement put in its place.
TEST(EarlyChecks, AFailingEditorEndsTheCommand) {
    struct Case {
        std::string command;
        std::vector<std::string> files;
        std::vector<std::string> answers;
    };
    const Case cases[] = {
        {"krestel", {"_agy/goal/krestel-automation.yaml", "_agy/skill/krestel-expert.yaml", "template/krestel_template.sh"},
         {""}},
        {"flowkin", {"_agy/goal/mermaid-chart.yaml", "_agy/skill/mermaid-chart-expert.yaml"}, {"", "1"}},
        {"polywend", {"_agy/goal/translate-i18n.yaml"}, {"1", "1", "1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        th::AgentWorkspace ws;
        for (const auto& file : c.files) th::write_file(ws.work / file, "text\n");
        th::write_file(ws.work / "notes.md", "# notes\n");
        ws.agent_writes("answer\n");
        auto o = ws.run({c.command}, c.answers, "typed before the crash\n", {{"EDITOR_STATUS", "1"}});
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_THAT(o.err, HasSubstr("執行失敗 (結束碼 1)"));
        EXPECT_THAT(o.err, HasSubstr("Error: 編輯器未正常結束，程序中斷。\n"));
        EXPECT_TRUE(ws.calls().empty());
    }
}

// Without `agy` every AI command ends before its first question, editor or change to the
// repository, with the agent runner's own line and failure; `start` has its own line.
TEST(EarlyChecks, AMissingAgentEndsEveryAiCommandBeforeAnythingElse) {
    const auto configured_ai = [](const vemtora::CommandDecl& c) { return c.runs_agent && !c.default_yaml.empty(); };
    for (const std::string& command : th::command_names(configured_ai)) {
        SCOPED_TRACE(command);
        th::AgentWorkspace ws;
        th::init_repo(ws.work);
        th::write_file(ws.work / "README.md", "# Changed\n");  // sendrift would stage it
        th::write_file(ws.work / "untracked.txt", "new\n");
        // The maker's repository holds what sendrift and flowkin need to get as far as
        // their questions, the editor and `git add`.
        for (const char* file : {"_agy/goal/sendrift-goal.yaml", "_agy/skill/sendrift-expert.yaml",
                                 "_agy/goal/mermaid-chart.yaml", "_agy/skill/mermaid-chart-expert.yaml"})
            th::write_file(ws.repo / file, "text\n");
        const std::string status_before = th::git(ws.work, {"status", "--porcelain", "--untracked-files=all"});
        const fs::path seen = ws.tmp / "editor-seen";
        auto o = ws.run({command}, {"y", "1", "1", "1", "1", "y", "y"}, "need\n",
                        {{"PATH", "/usr/bin:/bin"}, {"EDITOR_SEEN", seen.string()}});
        EXPECT_EQ(o.status, 1) << o.out << o.err;
        EXPECT_EQ(count(o.err, "❌ 系統中找不到 `agy` 指令，請確認 agy CLI 是否已正確安裝並加入 PATH。\n"), 1u) << o.err;
        EXPECT_TRUE(o.err.ends_with("Error: 系統中找不到 `agy` 指令\n")) << o.err;
        EXPECT_EQ(o.out, "");
        EXPECT_FALSE(fs::exists(seen));
        EXPECT_EQ(th::git(ws.work, {"status", "--porcelain", "--untracked-files=all"}), status_before);
    }
}

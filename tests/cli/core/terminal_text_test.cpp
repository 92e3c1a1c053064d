// Text from the working copy, git or the agent reaches the terminal with its control
// characters shown, never obeyed: a file name that writes the clipboard (OSC 52), an
// author that clears the screen, a commit message that retitles the window, an error
// that moves the cursor up and erases a line. Line feeds and tabs stay where a text has
// lines; a name in a menu line stays on its line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "harness.hpp"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string osc52 = "\x1b]52;c;ZWNobw==\x07";
const std::string osc52_shown = "\\e]52;c;ZWNobw==\\a";

void krestel_files(th::AgentWorkspace& ws) {
    th::write_file(ws.work / "_agy/goal/krestel-automation.yaml", "goal: bash\n");
    th::write_file(ws.work / "_agy/skill/krestel-expert.yaml", "skill: bash\n");
    th::write_file(ws.work / "template/krestel_template.sh", "#!/bin/bash\n");
}

void commit_all(th::AgentWorkspace& ws) {
    th::git(ws.work, {"add", "-A"});
    th::git(ws.work, {"commit", "-q", "-m", "files"});
}

// A repository with sendrift's goal and skill committed and a change for it to commit.
void sendrift_change(th::AgentWorkspace& ws) {
    th::init_repo(ws.work);
    th::write_file(ws.work / "_agy/goal/sendrift-goal.yaml", "goal\n");
    th::write_file(ws.work / "_agy/skill/sendrift-expert.yaml", "skill\n");
    commit_all(ws);
    th::write_file(ws.work / "README.md", "changed\n");
}

}  // namespace

TEST(TerminalTextCli, OutsideTextIsShownWithItsControlCharactersVisible) {
    struct Case {
        std::string name;
        std::function<void(th::AgentWorkspace&)> arrange;
        std::vector<std::string> args;
        std::string input;
        std::vector<std::string> out, err;  // exact parts of what was printed
    };
    const std::vector<Case> cases = {
        {"pressling menu",
         [](auto& ws) {
             for (const auto& name : {osc52 + ".md", std::string("a.md"), std::string("two\nlines.md")})
                 th::write_file(ws.work / name, "# x\n");
         },
         {"pressling"}, "\n",
         {"  1. " + osc52_shown + ".md\n  2. a.md\n  3. two\\nlines.md\n"}, {}},
        {"pressling's only file",
         [](auto& ws) { th::write_file(ws.work / "docs" / (osc52 + ".md"), "# x\n"); },
         {"pressling"}, "",
         {}, {"✅ 自動選擇唯一的Markdown 檔案: docs/" + osc52_shown + ".md\n"}},
        {"varnel's unlisted file",
         [](auto& ws) {
             th::write_file(ws.work / "config.yaml", "document_title: \"Docs\"\ndownload_link: \"package.zip\"\n");
             th::write_file(ws.work / "a\n\x1b[2Jb.txt", "x\n");
         },
         // the file, then end of input at its title
         {"varnel", "-c", "config.yaml"}, "1\n",
         {"  1. a\\n\\e[2Jb.txt\n", "\n💬 正在為 [a\\n\\e[2Jb.txt] 設定索引資訊：\n"}, {}},
        {"krestel menu and diff",
         [](auto& ws) {
             krestel_files(ws);
             th::write_file(ws.work / "tools" / (osc52 + ".sh"), "echo\n");
             th::write_file(ws.work / "tools/backup.sh", "echo old\n");
             ws.agent_writes("echo \x1b[2Jnew\xc2\x9b" "1m\n\tdone\n");
         },
         {"krestel"}, "3\n",
         {"  2. " + osc52_shown + ".sh\n", "\n+echo \\e[2Jnew\\u009b1m\n+\tdone\n"}, {}},
        {"agent error",
         [](auto& ws) {
             krestel_files(ws);
             ws.agent_fails(3, "quota\x1b[1A\x1b[2K gone\r\n");
         },
         {"krestel"}, "\n",
         {}, {"Error: AI 執行失敗: quota\\e[1A\\e[2K gone\n"}},
        {"quillary author and folder menu",
         [](auto& ws) {
             th::init_repo(ws.work);
             th::write_file(ws.work / "README.md", "# Z\n\n**Project Name:** Zeta\n**Author:** Dev\x1b[2J Team\n");
             th::write_file(ws.work / osc52 / "main.c", "int main(void);\n");
             commit_all(ws);
             th::write_file(ws.repo / "_agy/goal/dovud-readme-goal.yaml", "goal\n");
             th::write_file(ws.repo / "_agy/skill/dovud-readme-expert.yaml", "skill\n");
         },
         // the MCU kind, the release, its version; the folder menu then meets end of input
         {"quillary"}, "2\n\n\n",
         {"  1. " + osc52_shown + " (資料夾)\n"}, {"✅ 從現有 README.md 解析出作者: Dev\\e[2J Team\n"}},
        {"sendrift untracked files and commit message",
         [](auto& ws) {
             sendrift_change(ws);
             th::write_file(ws.work / "un\x1b[31mtracked.txt", "x\n");
             ws.agent_writes("feat: x\x1b]0;pwned\x07\n\nbody\tline\n");
         },
         // leave the untracked file alone, decline the commit
         {"sendrift"}, "n\nn\n",
         // git quotes the name itself, and that form is shown as it is
         {"  - \"un\\033[31mtracked.txt\"\n",
          "--- 📝 AI 生成的 Commit 訊息 ---\nfeat: x\\e]0;pwned\\a\n\nbody\tline\n" + std::string(32, '-')},
         {}},
        // Bidi controls would reorder the rest of the name or line as it is shown.
        {"pressling menu of a name that reorders itself",
         [](auto& ws) {
             for (const auto& name : {std::string("invoice\u202Edm.exe.md"), std::string("\u2067a\u2069.md")})
                 th::write_file(ws.work / name, "# x\n");
         },
         {"pressling"}, "\n",
         {"  1. invoice\\u202edm.exe.md\n", "  2. \\u2067a\\u2069.md\n"}, {}},
        {"sendrift commit message that reorders itself",
         [](auto& ws) {
             sendrift_change(ws);
             ws.agent_writes("fix: access \u202Enimda\u202C check\n");
         },
         {"sendrift"}, "n\n",
         {"--- 📝 AI 生成的 Commit 訊息 ---\nfix: access \\u202enimda\\u202c check\n"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        th::AgentWorkspace ws;
        c.arrange(ws);
        auto o = ws.run_input(c.args, c.input, "每天備份 home\n");
        for (const auto& part : c.out) EXPECT_THAT(o.out, HasSubstr(part));
        for (const auto& part : c.err) EXPECT_THAT(o.err, HasSubstr(part));
        for (const auto& stream : {o.out, o.err})
            for (const std::string raw : {"\x1b", "\x07", "\xc2\x9b", "\u202E", "\u2067"})
                EXPECT_THAT(stream, Not(HasSubstr(raw)));
    }
}

// Windows command lines as pure functions: wine's command interpreter differs from the
// real one on "%" and on "&" inside quotes, so these tables are the authority.
#include <gtest/gtest.h>

#include "harness.hpp"
#include "support/process.hpp"
#include "support/text.hpp"

using namespace support;

TEST(WindowsLookup, ExecutableExtensionsComeBeforeTheBareName) {
    using V = std::vector<std::string>;
    const std::string pathext = ".COM;.EXE;.BAT;.CMD";
    // npm puts an extension-less shell shim "agy" beside "agy.cmd": the shim never starts.
    EXPECT_EQ(windows_program_names("agy", pathext), (V{"agy.COM", "agy.EXE", "agy.BAT", "agy.CMD"}));
    // A name that already ends with one of them is tried as it is first, in any case.
    EXPECT_EQ(windows_program_names("agy.cmd", pathext),
              (V{"agy.cmd", "agy.cmd.COM", "agy.cmd.EXE", "agy.cmd.BAT", "agy.cmd.CMD"}));
    EXPECT_EQ(windows_program_names("tool.py", ".EXE;.PY").front(), "tool.py");
    EXPECT_EQ(windows_program_names("tool.txt", ".EXE"), (V{"tool.txt.EXE"}));
    // A dot in a folder's name is no extension; an empty or blank PATHEXT means the default.
    EXPECT_EQ(windows_program_names("C:\\v1.2\\agy", ".EXE"), (V{"C:\\v1.2\\agy.EXE"}));
    EXPECT_EQ(windows_program_names("git", ""), (V{"git.COM", "git.EXE", "git.BAT", "git.CMD"}));
    EXPECT_EQ(windows_program_names("git", ";; .EXE ;"), (V{"git.EXE"}));

    EXPECT_TRUE(windows_is_command_script("C:\\npm\\agy.cmd"));
    EXPECT_TRUE(windows_is_command_script("RUN.BAT"));
    EXPECT_FALSE(windows_is_command_script("agy.exe"));
    EXPECT_FALSE(windows_is_command_script("cmd"));
}

TEST(WindowsBatchQuoting, HostileArgumentsStayOneLiteralArgument) {
    // Each argument is read by the interpreter's line and again where the script expands
    // %*: quotes around the whole, inner quotes doubled, "%" unable to start a variable.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"C:\\dir\\file.txt", "C:\\dir\\file.txt"},
        {"--model=x", "\"--model=x\""},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"a&b|c<d>e^f", "\"a&b|c<d>e^f\""},
        {"畫 \"A 狀態 > pwned.txt", "\"畫 \"\"A 狀態 > pwned.txt\""},
        {"\"&calc", "\"\"\"&calc\""},
        {"%PATH%", "\"%%cd:~,%PATH%%cd:~,%\""},
        {"!X! (y)", "\"!X! (y)\""},
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},
        {"trailing\\", "\"trailing\\\\\""},
        {"a\\\"b", "\"a\\\\\"\"b\""},
        {"中文", "中文"},
        {std::string("c1\xc2\x85"), std::string("\"c1\xc2\x85\"")},
    };
    for (const auto& [arg, quoted] : cases) EXPECT_EQ(windows_batch_quote_arg(arg), quoted) << arg;
}

TEST(WindowsBatchQuoting, LineEndsAreRefusedNotRun) {
    for (const std::string& arg : std::vector<std::string>{"a\nb", "a\r\nb", "x\r", std::string("nul\0l", 5)})
        EXPECT_THROW(windows_batch_quote_arg(arg), ProcessError) << arg;
    EXPECT_THROW(windows_batch_command_line("C:\\Windows\\system32\\cmd.exe", "C:\\npm\\agy.cmd", {"ok", "two\nlines"}),
                 ProcessError);
    EXPECT_THROW(windows_batch_command_line("C:\\Windows\\system32\\cmd.exe", "C:\\a\"b.cmd", {}), ProcessError);
}

TEST(WindowsBatchQuoting, InterpreterLinesNameTheInterpreterByItsFullPath) {
    EXPECT_EQ(windows_batch_command_line("C:\\Windows\\system32\\cmd.exe", "C:\\Users\\陳小明\\npm\\agy.cmd",
                                         {"--print", "fix & run"}),
              "C:\\Windows\\system32\\cmd.exe /d /e:on /v:off /s /c "
              "\"\"C:\\Users\\陳小明\\npm\\agy.cmd\" --print \"fix & run\"\"");
    // A "%" in the script's own path cannot expand either.
    EXPECT_EQ(windows_batch_command_line("C:\\W\\cmd.exe", "C:\\100%\\a.cmd", {}),
              "C:\\W\\cmd.exe /d /e:on /v:off /s /c \"\"C:\\100%%cd:~,%\\a.cmd\"\"");
    // The editor: the user's command text as it is, the file as one argument, even with
    // a blank in the temporary folder's path.
    EXPECT_EQ(windows_interpreter_command_line("C:\\Windows\\system32\\cmd.exe", "code --wait",
                                               {"C:\\Users\\Jo Ann\\AppData\\Local\\Temp\\e1\\input.md"}),
              "C:\\Windows\\system32\\cmd.exe /d /e:on /v:off /s /c "
              "\"code --wait \"C:\\Users\\Jo Ann\\AppData\\Local\\Temp\\e1\\input.md\"\"");
    EXPECT_EQ(windows_interpreter_command_line("C:\\Program Files\\cmd.exe", "notepad", {"a.md"}),
              "\"C:\\Program Files\\cmd.exe\" /d /e:on /v:off /s /c \"notepad a.md\"");
}

TEST(WindowsStatus, ExceptionStatusesAreNamedWithTheSystemsMessage) {
    EXPECT_EQ(windows_exception_description({"agy", "--print"}, 0xC0000005ul, "Access violation.\r\n"),
              "Command '['agy', '--print']' died with exception 0xC0000005 (Access violation.).");
    EXPECT_EQ(windows_exception_description({"git"}, 0xC000013Aul, ""),
              "Command '['git']' died with exception 0xC000013A.");
}

namespace {

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

// The command script npm writes for a package's program (its cmd-shim), byte for byte as
// npm's releases write it: up to 6 and early 7 (cmd-shim 3.0.3 and 4.0.2: the program's
// line, then ENDLOCAL and the exit), up to 8 (".JS" dropped from PATHEXT inside the ELSE
// branch) and from 9 on (on the last line); and as yarn writes it (@zkochan/cmd-shim).
TEST(WindowsNpmShim, ReadsWhatNpmWritesAndNothingElse) {
    auto fixture = [](const char* name) { return th::read_file(th::fakes_dir() / "npm-shim" / name); };
    const std::string npm_shim_v3 = fixture("agy-v3.cmd"), npm_shim_v4 = fixture("agy-v4.cmd");
    const std::string npm_shim_v8 = fixture("agy-v8.cmd"), npm_shim_v9 = fixture("agy-v9.cmd");
    const std::string yarn_shim = fixture("agy-yarn.cmd");
    const std::string shim_head = npm_shim_v9.substr(0, npm_shim_v9.find("IF EXIST"));
    const std::string agy_js = "node_modules\\@google\\antigravity-cli\\bin\\agy.js";
    for (const auto& [text, script] : std::vector<std::pair<std::string, std::string>>{
             {npm_shim_v3, agy_js},
             {npm_shim_v4, agy_js},
             {npm_shim_v8, agy_js},
             {npm_shim_v9, agy_js},
             {yarn_shim, "..\\Data\\global\\" + agy_js}}) {
        const auto shim = windows_npm_shim(text);
        ASSERT_TRUE(shim) << text;
        EXPECT_EQ(shim->program, "node");
        EXPECT_EQ(shim->arguments, std::vector<std::string>{});
        EXPECT_EQ(shim->script, script);
    }
    // Arguments of the script's "#!" line stand between the program and the script.
    for (const auto& text : {replaced(npm_shim_v9, "\"%_prog%\"  ", "\"%_prog%\" --no-warnings -x "),
                             replaced(npm_shim_v3, "\"%_prog%\"  ", "\"%_prog%\" --no-warnings -x "),
                             replaced(replaced(yarn_shim, "node.exe\"  ", "node.exe\" --no-warnings -x "), "  node  ",
                                      "  node --no-warnings -x ")}) {
        const auto with_args = windows_npm_shim(text);
        ASSERT_TRUE(with_args) << text;
        EXPECT_EQ(with_args->arguments, (std::vector<std::string>{"--no-warnings", "-x"}));
    }

    // Anything npm or yarn does not write keeps the route through the command interpreter.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"line feeds alone", replace_all(npm_shim_v9, "\r\n", "\n")},
        {"a line added", replaced(npm_shim_v9, "SETLOCAL\r\n", "SETLOCAL\r\ncalc.exe\r\n")},
        {"a line after the last", npm_shim_v9 + "echo done\r\n"},
        {"no line end at the end", npm_shim_v9.substr(0, npm_shim_v9.size() - 2)},
        {"two programs", replaced(npm_shim_v9, "SET \"_prog=node\"", "SET \"_prog=nodejs\"")},
        {"a program with a folder", replace_all(npm_shim_v9, "node", "bin\\node")},
        {"a variable set first", replaced(npm_shim_v9, "CALL :find_dp0\r\n", "CALL :find_dp0\r\n@SET NODE_ENV=x\r\n")},
        {"a percent sign in the script", replace_all(npm_shim_v9, "agy.js", "%AGY%.js")},
        {"a quote in the script", replace_all(npm_shim_v9, "agy.js", "a\"y.js")},
        {"a drive in the script", replace_all(npm_shim_v9, "node_modules\\", "C:\\node_modules\\")},
        {"a shell sign in the arguments", replaced(npm_shim_v9, "\"%_prog%\"  ", "\"%_prog%\" & calc ")},
        {"PATHEXT dropped twice", replaced(npm_shim_v8, "title %COMSPEC% & ", "title %COMSPEC% & set PATHEXT=%PATHEXT:;.JS;=;% & ")},
        {"PATHEXT kept", replaced(npm_shim_v8, "  SET PATHEXT=%PATHEXT:;.JS;=;%\r\n", "")},
        {"no arguments passed on", replaced(npm_shim_v9, "agy.js\" %*", "agy.js\"")},
        // A program without "#!" line is started by its own path: no program to look up.
        {"no program", shim_head + "\"%dp0%\\tool.exe\"   %*\r\n"},
        {"empty", ""},
        // The older npm form: its last lines are fixed too.
        {"no ENDLOCAL", replaced(npm_shim_v3, "ENDLOCAL\r\n", "")},
        {"its exit status dropped", replaced(npm_shim_v3, "EXIT /b %errorlevel%", "EXIT /b")},
        {"a line before the exit", replaced(npm_shim_v3, "ENDLOCAL\r\n", "ENDLOCAL\r\ncalc.exe\r\n")},
        {"its own folder set otherwise", replaced(npm_shim_v3, "SET dp0=%~dp0", "SET dp0=C:\\x\\")},
        {"the last line of both forms", replaced(npm_shim_v3, "\"%_prog%\"  ", "endLocal & goto #_undefined_# 2>NUL || title %COMSPEC% & \"%_prog%\"  ")},
        {"PATHEXT kept by the older form", replaced(npm_shim_v3, "  SET PATHEXT=%PATHEXT:;.JS;=;%\r\n", "")},
        // yarn's: both branches run the same script with the same arguments.
        {"yarn's branches run two scripts", replaced(yarn_shim, "bin\\agy.js\" %*\r\n)", "bin\\other.js\" %*\r\n)")},
        {"yarn's branches pass two argument lists", replaced(yarn_shim, "  node  ", "  node --inspect ")},
        {"yarn's first branch runs another program", replaced(yarn_shim, "  \"%~dp0\\node.exe\"", "  \"%~dp0\\calc.exe\"")},
        {"yarn's with NODE_PATH set first (pnpm)", "@SET NODE_PATH=C:\\x\\node_modules\r\n" + yarn_shim},
        {"yarn's with a line end at the end", yarn_shim + "\r\n"},
        {"yarn's PATHEXT kept", replaced(yarn_shim, "  @SET PATHEXT=%PATHEXT:;.JS;=;%\r\n", "")},
        {"yarn's without SETLOCAL", replaced(yarn_shim, "  @SETLOCAL\r\n", "")},
        {"yarn's script in a variable", replace_all(yarn_shim, "agy.js", "%AGY%.js")},
    };
    for (const auto& [what, text] : refused) EXPECT_FALSE(windows_npm_shim(text)) << what;
}

// The Windows branches of the support layer, run for real (under wine in CI): the
// process runner against a probe program and a command script of our own, the PATH and
// PATHEXT lookup, UTF-8 paths and environment values, read-only removal, console code
// pages. Quoting rules that wine's interpreter cannot decide are pinned by the pure tables
// in tests/unit/support/windows_cmdline_test.cpp.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"
#include "vemtora/publishing/varnel.hpp"

namespace fs = std::filesystem;
using namespace support;

namespace {

fs::path own_folder() {
    wchar_t name[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, name, MAX_PATH);
    return fs::path(std::wstring(name, n)).parent_path();
}

std::string probe() { return utf8_text(own_folder() / "probe.exe"); }

// A fresh folder under the temporary folder, removed at the end; its name holds a blank.
class TempDir {
  public:
    TempDir() : path_(make_temp_dir("vemtora win ")) {}
    ~TempDir() {
        std::error_code ec;
        fs::current_path(own_folder(), ec);
        brenkit::fileIO::remove_directory(path_);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Sets variables for one test and puts the old values back.
class ScopedEnv {
  public:
    ScopedEnv(std::vector<std::pair<std::string, std::string>> vars) {
        for (auto& [name, value] : vars) {
            saved_.emplace_back(name, get_env(name));
            set_env(name, value);
        }
    }
    ~ScopedEnv() {
        for (auto& [name, value] : saved_) value ? set_env(name, *value) : unset_env(name);
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

void write_text(const fs::path& p, const std::string& text) {
    std::ofstream f(p, std::ios::binary);
    f << text;
}

std::string bracketed(const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) out += "[" + a + "]\n";
    return out;
}

}  // namespace

TEST(WindowsRunner, ArgumentsArriveElementForElement) {
    const std::vector<std::string> args = {
        "plain", "", "a b", "tab\there", "say \"hi\"", "a\"b", "C:\\dir\\", "C:\\my dir\\", "a\\\\\"b",
        "a&b|c<d>e^f", "%PATH%", "!X!", "畫 \"A 狀態 > pwned.txt", "陳小明", "two\nlines",
    };
    std::vector<std::string> argv = {probe(), "args"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = run_process(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, bracketed(args));
}

TEST(WindowsRunner, ExitStatusBothPipesAndCrashes) {
    EXPECT_EQ(run_process({probe(), "exit", "7"}).status, 7);
    // 1 MiB on each pipe, written alternately: reading one pipe to its end first blocks.
    auto r = run_process({probe(), "streams", "1048576"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(1048576, 'o'));
    EXPECT_EQ(r.err, std::string(1048576, 'e'));

    auto crash = run_process({probe(), "crash"});
    EXPECT_LT(crash.status, 0);
    const auto text = status_description({"probe", "crash"}, crash.status);
    EXPECT_TRUE(text.starts_with("Command '['probe', 'crash']' died with exception 0xC0000005")) << text;
}

TEST(WindowsRunner, WorkingFolderDiscardAndNullInput) {
    TempDir dir;
    const fs::path folder = dir.path() / path_from_utf8("工作 目錄");
    fs::create_directory(folder);
    auto r = run_process({probe(), "cwd"}, {.cwd = folder});
    EXPECT_TRUE(fs::equivalent(path_from_utf8(r.out), folder)) << r.out;

    auto quiet = run_process({probe(), "streams", "100"}, {.out = Output::discard, .null_stdin = true});
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, std::string(100, 'e'));
}

// The discarded stream must not reach our own standard output: this test program runs
// itself with --discard-probe (see main) and captures what that run writes.
TEST(WindowsRunner, DiscardedOutputIsNotInherited) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    auto r = run_process({utf8_text(fs::path(std::wstring(self, n))), "--discard-probe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string(10, 'e'));
}

TEST(WindowsRunner, MissingProgramIsReportedWithTheSystemsMessage) {
    try {
        run_process({"no-such-program-vemtora", "x"});
        FAIL() << "no error";
    } catch (const ProcessError& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what.starts_with("no-such-program-vemtora: ")) << what;
        EXPECT_EQ(what.find("(error 2)"), std::string::npos) << what;
        EXPECT_GT(what.size(), std::string("no-such-program-vemtora: ").size()) << what;
    }
}

TEST(WindowsRunner, CommandScriptsRunThroughTheInterpreter) {
    TempDir dir;
    // The probe beside a script in a folder whose name holds a blank; the script passes
    // its arguments on with %* (the second reading) and its status with exit /b.
    const fs::path folder = dir.path() / "npm dir";
    fs::create_directory(folder);
    fs::copy_file(probe(), folder / "probe.exe");
    write_text(folder / "relay.cmd", "@\"%~dp0probe.exe\" args %*\r\n@exit /b 5\r\n");
    const std::vector<std::string> args = {"plain", "a b", "C:\\x y\\", "陳小明", "--model=m"};
    std::vector<std::string> argv = {utf8_text(folder / "relay.cmd")};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = run_process(argv);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.out, bracketed(args));

    // A line end cannot be passed to a script safely: refused before anything runs.
    EXPECT_THROW(run_process({utf8_text(folder / "relay.cmd"), "a\r\nb"}), ProcessError);
}

TEST(WindowsRunner, UserCommandTextTakesTheFileAsOneArgument) {
    // The editor's way: the user's command text as it is, the file's path quoted for the
    // interpreter, blank and all.
    const std::string file = "C:\\Users\\Jo Ann\\Temp\\input.md";
    auto r = run_user_command("\"" + probe() + "\" args --wait", {file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, bracketed({"--wait", file}));
}

TEST(WindowsLookup, PathextBeforeTheBareNameAndNothingFromTheCurrentFolder) {
    TempDir dir;
    const fs::path npm = dir.path() / path_from_utf8("陳小明") / "npm";
    fs::create_directories(npm);
    write_text(npm / "agy", "#!/bin/sh\n");  // npm's shell shim
    write_text(npm / "agy.cmd", "@exit /b 0\r\n");
    fs::copy_file(probe(), npm / "probe-tool.exe");
    const fs::path elsewhere = dir.path() / "cwd";
    fs::create_directory(elsewhere);
    fs::copy_file(probe(), elsewhere / "only-here.exe");

    ScopedEnv env({{"PATH", utf8_text(npm) + ";C:\\Windows\\system32"}, {"PATHEXT", ".COM;.EXE;.BAT;.CMD"}});
    auto agy = find_executable("agy");
    ASSERT_TRUE(agy);
    EXPECT_TRUE(agy->is_absolute());
    EXPECT_EQ(ascii_lower(utf8_text(agy->extension())), ".cmd");
    EXPECT_TRUE(fs::equivalent(*agy, npm / "agy.cmd"));
    EXPECT_EQ(run_process({"agy"}).status, 0);

    // A program in a folder whose name is not ASCII is found and started by its bare name.
    auto r = run_process({"probe-tool", "args", "x"});
    EXPECT_EQ(r.out, "[x]\n");

    // A program that is only in the current folder is not found.
    fs::current_path(elsewhere);
    EXPECT_FALSE(find_executable("only-here"));
    EXPECT_THROW(run_process({"only-here", "args"}), ProcessError);
}

TEST(WindowsText, PathsAndEnvironmentValuesKeepTheirCharacters) {
    TempDir dir;
    const std::string name = "說明 ✓.md";
    const fs::path page = dir.path() / path_from_utf8(name);
    write_file_atomic(page, "# 說明\n");
    ASSERT_TRUE(fs::exists(page));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(utf8_text(entry.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{name});
    EXPECT_EQ(read_file(page), "# 說明\n");
    EXPECT_EQ(utf8_text(path_from_utf8("C:\\陳小明\\設定.yaml")), "C:\\陳小明\\設定.yaml");
    EXPECT_EQ(generic_utf8_text(path_from_utf8("C:\\陳小明\\設定.yaml")), "C:/陳小明/設定.yaml");

    ScopedEnv env(std::vector<std::pair<std::string, std::string>>{{"VEMTORA_PROBE_VALUE", "C:\\Users\\陳小明\\npm ✓"}});
    EXPECT_EQ(get_env("VEMTORA_PROBE_VALUE"), "C:\\Users\\陳小明\\npm ✓");
    // The child sees the same value.
    EXPECT_EQ(run_process({probe(), "env", "VEMTORA_PROBE_VALUE"}).out, "C:\\Users\\陳小明\\npm ✓");
}

TEST(WindowsFiles, ReadOnlyFilesAreRemovedWithTheirFolder) {
    TempDir dir;
    const fs::path clone = dir.path() / "clone";
    fs::create_directories(clone / ".git" / "objects" / "ab");
    const fs::path object = clone / ".git" / "objects" / "ab" / "cdef";
    write_text(object, "blob");
    fs::permissions(object, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ASSERT_TRUE(GetFileAttributesW(object.c_str()) & FILE_ATTRIBUTE_READONLY);
    brenkit::fileIO::remove_directory(clone);
    EXPECT_FALSE(fs::exists(clone));
}

TEST(WindowsFiles, ArchivesKeepNonAsciiNames) {
    // The archive library takes file names as narrow text: they must reach the file
    // system as the UTF-8 they are, not through the ANSI code page.
    TempDir dir;
    const fs::path docs = dir.path() / path_from_utf8("文件");
    fs::create_directory(docs);
    std::vector<std::string> files;
    for (const std::string name : {"說明_v1.html", "說明_v2.html", "notes.txt"}) {
        write_text(docs / path_from_utf8(name), std::string(500, 'x'));
        files.push_back(utf8_text(docs / path_from_utf8(name)));
    }
    const fs::path out = dir.path() / path_from_utf8("輸出");
    auto written = vemtora::varnel::zip_latest_version_files(files, "package.zip", utf8_text(out));
    ASSERT_TRUE(written);
    EXPECT_TRUE(fs::is_regular_file(out / "package.zip"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) names.push_back(utf8_text(entry.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{"package.zip"});
}

TEST(WindowsConsole, CodePagesArePutBack) {
    // Under a test runner there may be no console yet: make one.
    if (GetConsoleOutputCP() == 0) AllocConsole();
    if (GetConsoleOutputCP() == 0) GTEST_SKIP() << "no console";
    SetConsoleOutputCP(437);
    SetConsoleCP(850);
    const UINT input = GetConsoleCP();
    const UINT output = GetConsoleOutputCP();
    use_utf8_console();
    EXPECT_EQ(GetConsoleOutputCP(), CP_UTF8);
    EXPECT_EQ(GetConsoleCP(), CP_UTF8);
    restore_console_code_pages();
    EXPECT_EQ(GetConsoleCP(), input);
    EXPECT_EQ(GetConsoleOutputCP(), output);
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--discard-probe") {
        // Our own standard output is the parent's pipe: nothing of the probe may reach it.
        auto r = run_process({probe(), "streams", "10"}, {.out = Output::discard, .err = Output::inherit});
        return r.status;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

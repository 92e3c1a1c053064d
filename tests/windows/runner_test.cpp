// The Windows branches of the support layer, run for real (under wine in CI): the
// process runner against a probe program and a command script of our own, the PATH and
// PATHEXT lookup, UTF-8 paths and environment values, read-only removal, console code
// pages. Quoting rules that wine's interpreter cannot decide are pinned by the pure tables
// in tests/unit/support/windows_cmdline_test.cpp. What needs a console (typed text, Ctrl-C,
// colours) runs in a pseudo console of its own, since the test runner gives none.
#define _WIN32_WINNT 0x0A00
#define NTDDI_VERSION 0x0A000006
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "brenkit/app_logging.hpp"
#include "brenkit/fileIO.hpp"
#include "support/console.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/folder_lock.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/text.hpp"
#include "support/wide_text.hpp"
#include "vemtora/core/mindrel.hpp"
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

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> read_file(const fs::path& p) {
    auto read = read_regular_file(p, std::uintmax_t{64} << 20);
    if (read.outcome != BoundedRead::Outcome::read) return std::nullopt;
    return read.bytes;
}

std::string self() {
    wchar_t name[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, name, MAX_PATH);
    return utf8_text(fs::path(std::wstring(name, n)));
}

// The status a process ends with when Ctrl-C ends it.
constexpr DWORD control_c_exit = 0xC000013A;

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

// Runs the programs one after another in one console of their own (a pseudo console), as
// a person at a console would, with `typed` typed into it first; gives their exit statuses.
std::vector<DWORD> run_in_console(const std::vector<std::vector<std::string>>& programs, const std::string& typed = "") {
    HANDLE in_r = nullptr, in_w = nullptr, out_r = nullptr, out_w = nullptr;
    EXPECT_TRUE(CreatePipe(&in_r, &in_w, nullptr, 0) && CreatePipe(&out_r, &out_w, nullptr, 0));
    HPCON console = nullptr;
    EXPECT_EQ(CreatePseudoConsole({120, 40}, in_r, out_w, 0, &console), S_OK);
    CloseHandle(in_r);
    CloseHandle(out_w);
    // The console's screen must be read, or it stops when its pipe is full.
    std::thread screen([out_r] {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(out_r, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        }
    });
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> list_memory(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
    InitializeProcThreadAttributeList(list, 1, 0, &size);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr, nullptr);
    std::vector<DWORD> statuses;
    for (const auto& argv : programs) {
        STARTUPINFOEXW si{};
        si.StartupInfo.cb = sizeof si;
        si.lpAttributeList = list;
        std::wstring line = widen(windows_command_line(argv));
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(widen(argv[0]).c_str(), line.data(), nullptr, nullptr, FALSE, EXTENDED_STARTUPINFO_PRESENT,
                            nullptr, nullptr, &si.StartupInfo, &pi)) {
            ADD_FAILURE() << "cannot start " << argv[0];
            statuses.push_back(~0ul);
            continue;
        }
        if (statuses.empty() && !typed.empty()) {
            DWORD n = 0;
            WriteFile(in_w, typed.data(), static_cast<DWORD>(typed.size()), &n, nullptr);
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD status = 0;
        GetExitCodeProcess(pi.hProcess, &status);
        statuses.push_back(status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    DeleteProcThreadAttributeList(list);
    ClosePseudoConsole(console);
    CloseHandle(in_w);
    screen.join();
    CloseHandle(out_r);
    return statuses;
}

// For this program started in a console of its own: the standard handles, and the C
// runtime's streams over them, become the console's (a pseudo console's child may be
// handed the parent's handles instead).
void use_the_console() {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_INPUT_HANDLE, in);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, out);
    _dup2(_open_osfhandle(reinterpret_cast<intptr_t>(in), _O_RDONLY | _O_BINARY), 0);
    const int out_fd = _open_osfhandle(reinterpret_cast<intptr_t>(out), _O_WRONLY | _O_BINARY);
    _dup2(out_fd, 1);
    _dup2(out_fd, 2);
}

// The exit status of a process, once it has ended.
DWORD status_of_process(DWORD pid) {
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!h) return control_c_exit;  // gone already
    WaitForSingleObject(h, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(h, &status);
    CloseHandle(h);
    return status;
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

TEST(WindowsRunner, DiscardAndNullInput) {
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

    // A program that is only in the current folder is not found, not even through an
    // empty or relative entry of PATH.
    fs::current_path(elsewhere);
    EXPECT_FALSE(find_executable("only-here"));
    EXPECT_THROW(run_process({"only-here", "args"}), ProcessError);
    ScopedEnv relative({{"PATH", ";.;.\\;..\\cwd;" + utf8_text(npm)}});
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
    // A name with an unpaired surrogate is no Unicode text: it has no UTF-8 form, and a
    // message names it with U+FFFD in the surrogate's place.
    const fs::path lone(std::wstring(L"a") + wchar_t(0xD800) + L"b.md");
    EXPECT_FALSE(valid_utf8_text(lone));
    EXPECT_EQ(message_text(lone), "a\xEF\xBF\xBD" "b.md");

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

// A read that follows no link refuses a reparse point as it is opened; devices are no
// regular files.
TEST(WindowsFiles, ReadsRefuseLinksAndDevicesAsOpened) {
    using Outcome = BoundedRead::Outcome;
    TempDir dir;
    write_text(dir.path() / "real.txt", "text");
    EXPECT_EQ(read_regular_file(dir.path() / "real.txt", 100, false).outcome, Outcome::read);
    EXPECT_EQ(read_regular_file(dir.path() / "none.txt", 100).outcome, Outcome::missing);
    EXPECT_NE(read_regular_file(L"NUL", 100).outcome, Outcome::read);
    EXPECT_NE(read_regular_file(L"CON", 100).outcome, Outcome::read);
    constexpr DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!CreateSymbolicLinkW((dir.path() / "link.txt").c_str(), L"real.txt", unprivileged))
        GTEST_SKIP() << "no symbolic links here: " << std::system_category().message(static_cast<int>(GetLastError()));
    // Wine makes the link but does not follow it: what is tested needs a system that does.
    const auto followed = read_regular_file(dir.path() / "link.txt", 100);
    if (followed.outcome != Outcome::read) GTEST_SKIP() << "symbolic links are not followed here";
    EXPECT_EQ(followed.bytes, "text");
    EXPECT_EQ(read_regular_file(dir.path() / "link.txt", 100, false).outcome, Outcome::link);
}

// A killed save's partial file goes with the next save into its folder; one that a save
// still has open stays.
TEST(WindowsFiles, PartialFilesOfKilledSavesGoWithTheNextSave) {
    TempDir dir;
    const fs::path dead = dir.path() / ".page.html.tmp-abcdefghij", live = dir.path() / ".live.html.tmp-abcdefghij";
    write_text(dead, "partial");
    std::ofstream open_save(live, std::ios::binary);
    open_save << "partial";
    open_save.flush();
    for (const auto& p : {dead, live}) fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(1));
    write_file_atomic(dir.path() / "saved.html", "whole");
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
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
    restore_console();
    EXPECT_EQ(GetConsoleCP(), input);
    EXPECT_EQ(GetConsoleOutputCP(), output);
}

TEST(WindowsAgent, NpmShimStartsTheInstalledNodeNotOneInTheWorkingCopy) {
    // npm's global folder holds agy.cmd as npm writes it and the package's script; node is
    // installed in a folder of its own on PATH; the working copy carries node.exe,
    // node.cmd and node.bat of its own, none of which may run.
    TempDir dir;
    const fs::path npm = dir.path() / path_from_utf8("npm 陳") , nodejs = dir.path() / "nodejs", work = dir.path() / "work";
    const fs::path script = npm / "node_modules" / "@google" / "antigravity-cli" / "bin" / "agy.js";
    fs::create_directories(script.parent_path());
    fs::create_directories(nodejs);
    fs::create_directories(work);
    fs::copy_file(path_from_utf8("Z:" VEMTORA_FAKES_DIR "/npm-shim/agy-v9.cmd"), npm / "agy.cmd");
    write_text(script, "#!/usr/bin/env node\n");
    fs::copy_file(probe(), nodejs / "node.exe");
    fs::copy_file(probe(), work / "node.exe");
    write_text(work / "node.cmd", "@echo planted\r\n");
    write_text(work / "node.bat", "@echo planted\r\n");
    ScopedEnv env({{"PATH", utf8_text(npm) + ";" + utf8_text(nodejs) + ";C:\\windows\\system32"},
                   {"PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.JS"}});
    fs::current_path(work);

    // Every sign the command interpreter would read, and more than its 8,191 characters.
    const std::vector<std::string> args = {"--print", "50% & 測試", "%PATH%", "!x!", "a\"b ^ | < >", "C:\\x y\\",
                                           "two\nlines", std::string(20000, 'p')};
    std::vector<std::string> argv = {"agy"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = run_process(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = {utf8_text(script)};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(r.out, utf8_text(nodejs / "node.exe") + "\n" + bracketed(expected));

    // The agent runner takes the same route: the prompt arrives as it was written.
    const std::string prompt = "請依 50% 的比例 & 改寫 %PATH% 與 !x! 的說明";
    auto agent = vemtora::mindrel::run_agy({.prompt = prompt, .add_dot_dir = true});
    EXPECT_TRUE(agent.ok) << agent.text;
    EXPECT_NE(agent.text.find("[" + prompt + "]\n"), std::string::npos) << agent.text;
    EXPECT_EQ(agent.text.find("planted"), std::string::npos) << agent.text;

    // A node.exe beside the shim comes first, as the shim itself has it.
    fs::copy_file(probe(), npm / "node.exe");
    EXPECT_EQ(run_process({"agy", "x"}).out, utf8_text(npm / "node.exe") + "\n" + bracketed({utf8_text(script), "x"}));
    fs::remove(npm / "node.exe");

    // The older npm's shim, and yarn's with its packages in a folder beside its shims, take
    // the same route.
    const fs::path yarn = dir.path() / "Yarn", yarn_script = yarn / "Data" / "global" / "node_modules" / "agy.js";
    fs::create_directories(yarn / "bin");
    fs::create_directories(yarn_script.parent_path());
    write_text(yarn_script, "#!/usr/bin/env node\n");
    std::string yarn_shim = read_file(path_from_utf8("Z:" VEMTORA_FAKES_DIR "/npm-shim/agy-yarn.cmd")).value_or("");
    yarn_shim = replace_all(yarn_shim, "node_modules\\@google\\antigravity-cli\\bin\\agy.js", "node_modules\\agy.js");
    write_text(yarn / "bin" / "agy.cmd", yarn_shim);
    fs::copy_file(path_from_utf8("Z:" VEMTORA_FAKES_DIR "/npm-shim/agy-v3.cmd"), npm / "agy.cmd",
                  fs::copy_options::overwrite_existing);
    for (const auto& [folder, started] :
         {std::pair{npm, script}, std::pair{yarn / "bin", yarn / "bin" / "..\\Data\\global\\node_modules\\agy.js"}}) {
        ScopedEnv shim_path({{"PATH", utf8_text(folder) + ";" + utf8_text(nodejs) + ";C:\\windows\\system32"}});
        EXPECT_EQ(run_process({"agy", "50% & x"}).out,
                  utf8_text(nodejs / "node.exe") + "\n" + bracketed({utf8_text(started), "50% & x"}));
    }

    // Without any installed node nothing runs, and the error names what is missing.
    ScopedEnv no_node({{"PATH", utf8_text(npm) + ";C:\\windows\\system32"}});
    try {
        run_process({"agy", "x"});
        ADD_FAILURE() << "no error";
    } catch (const ProcessError& e) {
        EXPECT_NE(std::string(e.what()).find("node"), std::string::npos) << e.what();
    }
}

TEST(WindowsRunner, CommandScriptsSearchNoCurrentFolderAndLongLinesAreRefused) {
    TempDir dir;
    // A script of the user's own still runs through the interpreter, told to look for
    // programs on PATH only.
    write_text(dir.path() / "relay.cmd", "@\"%~dp0probe.exe\" env NoDefaultCurrentDirectoryInExePath\r\n");
    fs::copy_file(probe(), dir.path() / "probe.exe");
    EXPECT_EQ(run_process({utf8_text(dir.path() / "relay.cmd")}).out, "1");

    // The interpreter takes 8,191 characters: a longer line is refused before anything runs.
    write_text(dir.path() / "mark.cmd", "@echo ran> \"%~dp0ran.txt\"\r\n");
    try {
        run_process({utf8_text(dir.path() / "mark.cmd"), std::string(9000, 'x')});
        ADD_FAILURE() << "no error";
    } catch (const ProcessError& e) {
        EXPECT_NE(std::string(e.what()).find("8191"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(dir.path() / "ran.txt"));
    // A program's own line takes 32,767.
    try {
        run_process({probe(), "args", std::string(40000, 'x')});
        ADD_FAILURE() << "no error";
    } catch (const ProcessError& e) {
        EXPECT_NE(std::string(e.what()).find("32767"), std::string::npos) << e.what();
    }
}

TEST(WindowsRunner, TheChildsOwnChildrenEndWithIt) {
    // The child starts a program that would sleep for a minute and ends at once; what it
    // started ends with it instead of running on, and one that holds the child's output
    // streams does not keep the run waiting either.
    for (const char* how : {"", "holding"}) {
        SCOPED_TRACE(how);
        auto r = run_process({probe(), "spawn", how});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(status_of_process(std::stoul(r.out)), 0ul);
    }
}

TEST(WindowsLock, RunsInOneFolderAreKeptApart) {
    TempDir dir;
    const fs::path agy = dir.path() / path_from_utf8("工作") / "_agy";
    fs::create_directories(agy);
    // The other run names the folder in other letters' case and with a trailing separator.
    std::string other_spelling = utf8_text(agy) + "\\";
    for (char& c : other_spelling) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    {
        FolderLock held(agy);
        EXPECT_FALSE(held.busy());
        EXPECT_EQ(run_process({self(), "--lock-probe", other_spelling}).status, 3);
    }
    EXPECT_EQ(run_process({self(), "--lock-probe", other_spelling}).status, 0);
    // A run that crashes while it holds the lock lets go of it all the same.
    EXPECT_EQ(static_cast<DWORD>(run_process({self(), "--lock-probe", utf8_text(agy), "crash"}).status), 0xC0000005ul);
    EXPECT_FALSE(FolderLock(agy).busy());
    EXPECT_TRUE(fs::is_empty(agy));
    EXPECT_THROW(FolderLock(dir.path() / "missing"), fs::filesystem_error);
}

TEST(WindowsConsole, TypedTextArrivesWhole) {
    TempDir dir;
    const fs::path answers = dir.path() / "answers.txt";
    auto statuses = run_in_console({{self(), "--read-probe", utf8_text(answers)}},
                                   "測試 ✓ 😀\r" "second\r" "\x1A\r");
    EXPECT_EQ(statuses, std::vector<DWORD>{0});
    EXPECT_EQ(read_file(answers).value_or("<none>"), "[測試 ✓ 😀]\n[second]\n<end>\n");
}

TEST(WindowsConsole, ColoursOnlyWhereTheConsoleShowsThem) {
    TempDir dir;
    const fs::path seen = dir.path() / "seen.txt";
    auto statuses = run_in_console({{self(), "--colour-probe", utf8_text(seen)}});
    EXPECT_EQ(statuses, std::vector<DWORD>{0});
    // Without the console's handling of colour sequences: no colour; set up: colour; at
    // the end the console's mode as it was.
    EXPECT_EQ(read_file(seen).value_or("<none>"), "plain coloured restored");
}

TEST(WindowsInterrupt, CtrlCWhileAChildRunsUnwindsAndEndsAsWindowsPrograms) {
    TempDir dir;
    const std::string folder = utf8_text(dir.path());
    auto statuses = run_in_console({{probe(), "codepages", folder + "\\before.txt"},
                                    {self(), "--interrupt-probe", folder},
                                    {probe(), "codepages", folder + "\\after.txt"}});
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_EQ(statuses[1], control_c_exit);
    // The clean-ups on the way up ran, the child's own child ended, and the console has
    // its code pages back.
    EXPECT_FALSE(fs::exists(dir.path() / "answer.md"));
    EXPECT_FALSE(fs::exists(dir.path() / "went-on.txt"));
    EXPECT_NE(status_of_process(std::stoul(read_file(dir.path() / "pid.txt").value_or("0"))), 0ul);
    EXPECT_EQ(read_file(dir.path() / "after.txt"), read_file(dir.path() / "before.txt"));
}

TEST(WindowsInterrupt, CtrlCOutsideAChildRunEndsAtOnceWithoutTemporaries) {
    TempDir dir;
    write_text(dir.path() / "page.html.tmp", "half");
    auto statuses = run_in_console({{self(), "--idle-interrupt-probe", utf8_text(dir.path() / "page.html.tmp")}});
    EXPECT_EQ(statuses, std::vector<DWORD>{control_c_exit});
    EXPECT_FALSE(fs::exists(dir.path() / "page.html.tmp"));
}

TEST(WindowsInterrupt, CtrlCAtAQuestionAborts) {
    EXPECT_EQ(run_in_console({{self(), "--question-interrupt-probe"}}), std::vector<DWORD>{1});
}

TEST(WindowsEditor, AnEditorThatCannotBeFoundIsNamed) {
    // An unquoted path with a blank: the interpreter runs "C:\Program" and finds nothing.
    ScopedEnv env({{"VISUAL", ""}, {"EDITOR", "C:\\Program Files\\No Such Editor\\editor.exe"}});
    brenkit::app_logging::Capture capture;
    const brenkit::app_logging::Logger logger("test");
    EXPECT_FALSE(brenkit::fileIO::get_user_input_via_editor("", "需求", &logger));
    const std::string text = capture.text();
    EXPECT_NE(text.find("找不到編輯器"), std::string::npos) << text;
    EXPECT_NE(text.find("引號"), std::string::npos) << text;
}

namespace {

// The programs that the tests above run in a process or a console of their own.
int child_mode(const std::string& mode, const std::vector<std::string>& args) {
    if (mode == "--discard-probe") {
        // Our own standard output is the parent's pipe: nothing of the probe may reach it.
        return run_process({probe(), "streams", "10"}, {.out = Output::discard, .err = Output::inherit}).status;
    }
    if (mode == "--lock-probe") {
        // 3 when another process holds the folder's lock; with "crash", hold it and crash.
        FolderLock lock(path_from_utf8(args.at(0)));
        if (args.size() > 1) TerminateProcess(GetCurrentProcess(), 0xC0000005u);
        return lock.busy() ? 3 : 0;
    }
    use_the_console();
    install_interrupt_handlers();
    use_utf8_console();
    if (mode == "--read-probe") {
        // Each answer in brackets, then "<end>" at the end of input.
        std::string answers;
        try {
            for (std::string line;;) {
                line = read_line();
                answers.append("[").append(line).append("]\n");
            }
        } catch (const Aborted&) {
            answers += "<end>\n";
        }
        write_text(path_from_utf8(args.at(0)), answers);
        return 0;
    }
    if (mode == "--colour-probe") {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD mode_before = 0;
        GetConsoleMode(out, &mode_before);
        SetConsoleMode(out, mode_before & ~DWORD(ENABLE_VIRTUAL_TERMINAL_PROCESSING));
        const bool plain = !shows_colours(Stream::out);
        enable_console_colours();
        const bool coloured = shows_colours(Stream::out);
        restore_console();
        DWORD mode_after = 0;
        GetConsoleMode(out, &mode_after);
        write_text(path_from_utf8(args.at(0)),
                   std::string(plain ? "plain" : "coloured") + (coloured ? " coloured" : " plain") +
                       (mode_after == (mode_before & ~DWORD(ENABLE_VIRTUAL_TERMINAL_PROCESSING)) ? " restored" : " changed"));
        return 0;
    }
    if (mode == "--interrupt-probe") {
        // The way a command runs the agent: its answer file goes on the way up.
        const fs::path folder = path_from_utf8(args.at(0));
        write_text(folder / "answer.md", "half an answer");
        struct Removed {
            fs::path path;
            ~Removed() { fs::remove(path); }
        } removed{folder / "answer.md"};
        try {
            run_process({probe(), "ctrl-c", utf8_text(folder / "pid.txt")});
            write_text(folder / "went-on.txt", "");
            return 0;
        } catch (const Interrupted& interrupt) {
            return interrupt.exit_status();
        }
    }
    if (mode == "--idle-interrupt-probe") {
        RemoveOnSignal temporary(path_from_utf8(args.at(0)));
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        Sleep(60000);
        return 0;
    }
    if (mode == "--question-interrupt-probe") {
        // Ctrl-C while the question waits (outside the wait it would end the program at
        // once). A press just before the read begins is missed, hence another one later.
        std::atomic<bool> answered = false;
        std::thread presser([&answered] {
            while (!answered) {
                if (interrupt_detail::watching_input()) GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
                for (int i = 0; i < 100 && !answered; ++i) Sleep(20);
            }
        });
        int status = 0;
        try {
            prompt("Name");
        } catch (const Aborted&) {
            status = 1;
        } catch (const Interrupted&) {
            status = 2;
        }
        answered = true;
        presser.join();
        return status;
    }
    return 99;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).ends_with("-probe")) {
        const std::vector<std::string> args = program_arguments(argc, argv);
        return child_mode(args[0], std::vector<std::string>(args.begin() + 1, args.end()));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The program tells the system its version and that it takes paths past MAX_PATH.
TEST(WindowsProgram, CarriesItsVersionAndALongPathManifest) {
    const std::wstring exe = path_from_utf8("Z:" VEMTORA_EXE).wstring();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0ul);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    auto value = [&](const std::wstring& name) {
        wchar_t* text = nullptr;
        UINT n = 0;
        const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
        if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &n) || n == 0) return std::string();
        return narrow(std::wstring_view(text, wcsnlen(text, n)));
    };
    EXPECT_EQ(value(L"ProductName"), "vemtora");
    EXPECT_EQ(value(L"ProductVersion"), VEMTORA_VERSION);
    EXPECT_EQ(value(L"FileVersion"), VEMTORA_VERSION);
    EXPECT_THAT(value(L"FileDescription"), testing::HasSubstr("command-line assistant"));

    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_TRUE(image);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(found);
    const char* manifest = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string text(manifest, SizeofResource(image, found));
    FreeLibrary(image);
    EXPECT_THAT(text, testing::HasSubstr("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"));
}

namespace {

// Runs the program with `input` as its standard input (a file it inherits).
ProcessResult run_with_input(const std::vector<std::string>& argv, const std::string& input, const fs::path& scratch) {
    const fs::path file = scratch / "input.txt";
    write_text(file, input);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable, OPEN_EXISTING, 0, nullptr);
    const HANDLE previous = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_INPUT_HANDLE, in);
    ProcessResult r;
    try {
        r = run_process(argv);
    } catch (...) {
        SetStdHandle(STD_INPUT_HANDLE, previous);
        CloseHandle(in);
        throw;
    }
    SetStdHandle(STD_INPUT_HANDLE, previous);
    CloseHandle(in);
    return r;
}

std::string vemtora_exe() { return "Z:" VEMTORA_EXE; }

}  // namespace

// Notion exports go past MAX_PATH: a page 300 characters deep is found, read, converted
// and saved, and a folder that cannot be read is named instead of passed over.
TEST(WindowsFiles, PagesPastMaxPathAreConverted) {
    TempDir dir;
    fs::path deep = dir.path() / "docs";
    for (int i = 0; i < 6; ++i) deep /= path_from_utf8("資料夾 " + std::to_string(i) + " " + std::string(45, 'x'));
    ASSERT_GT(utf8_text(deep).size(), 300u);
    const fs::path page = deep / "deep.md";
    fs::create_directories(os_path(deep));
    write_file_atomic(page, "# 深處\n\n很深的一頁\n");
    EXPECT_EQ(read_file(page), "# 深處\n\n很深的一頁\n");
    write_text(dir.path() / "docs" / "a.md", "# A\n");
    write_text(dir.path() / "cfg.yaml",
               "config:\n  input_path: \"docs\"\n  output_path: \"out\"\n  embed_images: true\n"
               "  watermark_enable: false\n  watermark_text: \"X\"\n");
    fs::current_path(dir.path());
    const auto found = brenkit::fileIO::find_files_with_extensions("docs", {.extensions = {".md"}, .recursive = true});
    EXPECT_EQ(found.names, (std::vector<std::string>{"a", "deep"}));

    const auto r = run_with_input({vemtora_exe(), "pressling", "-c", "cfg.yaml"}, "a\n", dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(fs::exists(dir.path() / "out" / "a.html"));
    EXPECT_THAT(read_file(dir.path() / "out" / "deep.html").value_or(""), testing::HasSubstr("很深的一頁"));
}

// A failure reads as the system's own reason, and a name that Windows keeps for a device
// is refused before anything is written, with a line that says so.
TEST(WindowsFiles, FailuresGiveTheSystemsReasonAndDeviceNamesAreRefused) {
    TempDir dir;
    fs::current_path(dir.path());
    try {
        write_file_atomic(dir.path() / "missing" / "x.txt", "x");
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(failure_reason(e), "No such file or directory");
    }
    EXPECT_EQ(error_text(std::error_code(ERROR_ACCESS_DENIED, std::system_category())), "Permission denied");
    EXPECT_THAT(error_text(std::error_code(ERROR_PRIVILEGE_NOT_HELD, std::system_category())), testing::HasSubstr("rivilege"));

    for (const char* name : {"NUL.zip", "con.sh", "out/Aux/page.html", "COM1"}) {
        const auto saved = brenkit::fileIO::save_local_file_content(path_from_utf8(name), "x");
        EXPECT_FALSE(saved.ok) << name;
        EXPECT_THAT(saved.text, testing::HasSubstr("是 Windows 保留的裝置名稱")) << name;
    }
    EXPECT_FALSE(brenkit::fileIO::setup_output_dir("NUL"));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // A folder relative to its drive's current folder ("D:drel") is that folder.
    const fs::path drive_relative = dir.path().root_name() / "drel" / "page.html";
    const auto saved = brenkit::fileIO::save_local_file_content(drive_relative, "x");
    EXPECT_TRUE(saved.ok) << saved.text;
    EXPECT_EQ(read_file(dir.path() / "drel" / "page.html"), "x");
    fs::remove_all(dir.path() / "drel");
    // Windows has no permission bits: making a script executable does nothing, and says so.
    write_text(dir.path() / "run.sh", "echo hi\n");
    EXPECT_EQ(make_executable(dir.path() / "run.sh"), Executable::not_needed);
}

namespace {

// vemtora.exe with `args`, in the current folder, reading nothing.
ProcessResult run_vemtora(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {vemtora_exe()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, {.null_stdin = true});
}

// The names in the folder, in order.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : list_folder(folder, ec)) names.push_back(utf8_text(entry.path.filename()));
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// A page that a viewer or a browser holds open (sharing reading, writing and deleting) is
// replaced all the same; one held without delete sharing stays as it was, and the line
// says that another program has it open. The package is saved the same way.
TEST(WindowsFiles, AFileHeldOpenByAnotherProgramIsReplacedOrNamed) {
    TempDir dir;
    fs::current_path(dir.path());
    fs::create_directories(dir.path() / "src");
    fs::create_directories(dir.path() / "out");
    write_text(dir.path() / "src" / path_from_utf8("頁.md"), "# 頁\n\n新的內容\n");
    const fs::path page = dir.path() / "out" / path_from_utf8("頁.html");
    struct Holder {
        DWORD share;
        bool replaced;
    };
    for (const auto& [share, replaced] : {Holder{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
                                          Holder{FILE_SHARE_READ | FILE_SHARE_WRITE, false}}) {
        SCOPED_TRACE(share);
        write_text(page, "old");
        HANDLE viewer = CreateFileW(page.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
        const auto r = run_vemtora({"pressling", "-f", "src\\頁.md", "-o", "out"});
        const std::string page_text = read_file(page).value_or("<none>");
        CloseHandle(viewer);
        if (replaced) {
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_THAT(page_text, testing::HasSubstr("新的內容"));
        } else {
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_EQ(page_text, "old");
            EXPECT_THAT(r.out + r.err, testing::HasSubstr("out\\頁.html: 另一個程式正開啟這個檔案"));
            EXPECT_THAT(r.out + r.err, testing::Not(testing::HasSubstr("Permission denied")));
        }
        EXPECT_EQ(names_in(dir.path() / "out"), std::vector<std::string>{"頁.html"});
    }

    write_text(dir.path() / "guide.html", "guide");
    write_text(dir.path() / "package.zip", "old");
    HANDLE viewer = CreateFileW((dir.path() / "package.zip").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    std::string error;
    const auto written = vemtora::varnel::zip_latest_version_files({utf8_text(dir.path() / "guide.html")}, "package.zip",
                                                                   utf8_text(dir.path()), &error);
    CloseHandle(viewer);
    EXPECT_TRUE(written) << error;
    EXPECT_TRUE(read_file(dir.path() / "package.zip").value_or("").starts_with("PK")) << error;
}

// A path with the extended-length prefix ("\\?\") or the device prefix ("\\.\") names
// what its plain form names: no second prefix, nothing joined to the current folder.
TEST(WindowsFiles, ExtendedLengthAndDevicePathsWorkLikePlainOnes) {
    TempDir dir;
    fs::current_path(dir.path());
    const std::string here = utf8_text(dir.path());
    const std::string deep = here + "\\" + std::string(260, 'd');
    struct Form {
        std::string path, system_form, absolute;
    };
    const Form forms[] = {
        {here + "\\a.md", here + "\\a.md", here + "\\a.md"},
        {"a.md", "a.md", here + "\\a.md"},
        {"\\\\?\\" + here + "\\a.md", "\\\\?\\" + here + "\\a.md", here + "\\a.md"},
        {"\\\\.\\" + here + "\\a.md", "\\\\.\\" + here + "\\a.md", here + "\\a.md"},
        {"\\\\?\\" + deep, "\\\\?\\" + deep, deep},
        {"\\\\.\\" + deep, "\\\\.\\" + deep, deep},
        {deep, "\\\\?\\" + deep, deep},
        {"\\\\server\\share\\a.md", "\\\\server\\share\\a.md", "\\\\server\\share\\a.md"},
        {"\\\\server\\share\\" + std::string(260, 'u'), "\\\\?\\UNC\\server\\share\\" + std::string(260, 'u'),
         "\\\\server\\share\\" + std::string(260, 'u')},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.path.substr(0, 60));
        EXPECT_EQ(utf8_text(os_path(path_from_utf8(form.path))), form.system_form);
        EXPECT_EQ(utf8_text(absolute_path(path_from_utf8(form.path))), form.absolute);
    }

    // Read, written and walked through either prefix, by the program as by the support layer.
    fs::create_directories(dir.path() / "src");
    write_text(dir.path() / "src" / path_from_utf8("頁.md"), "# 頁\n\n內容\n");
    const std::string src = here + "\\src";
    write_file_atomic(path_from_utf8("\\\\?\\" + src + "\\b.md"), "b");
    EXPECT_EQ(read_file(path_from_utf8("\\\\.\\" + src + "\\b.md")), "b");
    EXPECT_EQ(names_in(path_from_utf8("\\\\?\\" + src)), (std::vector<std::string>{"b.md", "頁.md"}));
    fs::remove(dir.path() / "src" / "b.md");
    struct Run {
        std::vector<std::string> args;
        fs::path page;
    };
    const Run runs[] = {
        {{"pressling", "-f", "\\\\?\\" + src + "\\頁.md", "-o", "out1"}, dir.path() / "out1"},
        {{"pressling", "-f", "\\\\.\\" + src + "\\頁.md", "-o", "out2"}, dir.path() / "out2"},
        {{"pressling", "-f", "src\\頁.md", "-o", "\\\\?\\" + here + "\\out3"}, dir.path() / "out3"},
    };
    for (const auto& run : runs) {
        const auto r = run_vemtora(run.args);
        EXPECT_EQ(r.status, 0) << run.args[2] << " " << run.args[4] << "\n" << r.out << r.err;
        EXPECT_THAT(read_file(run.page / path_from_utf8("頁.html")).value_or(""), testing::HasSubstr("內容"));
    }
    // A folder walked through the prefix finds its pages.
    write_text(dir.path() / "cfg.yaml", "config:\n  input_path: '\\\\?\\" + src + "'\n  output_path: out4\n");
    const auto walked = run_vemtora({"pressling", "-c", "cfg.yaml"});
    EXPECT_EQ(walked.status, 0) << walked.out << walked.err;
    EXPECT_TRUE(fs::exists(dir.path() / "out4" / path_from_utf8("頁.html")));
}

// A file or folder name that the system would change (a blank or a dot at its end) is
// refused before anything is made, with a line that names it and says why, as device
// names are; a source named as a device is refused by that same line.
TEST(WindowsFiles, NamesTheSystemWouldChangeAreRefusedBeforeAnythingIsMade) {
    TempDir dir;
    fs::current_path(dir.path());
    fs::create_directories(dir.path() / "src");
    write_text(dir.path() / "src" / path_from_utf8("頁.md"), "# 頁\n");
    const auto r = run_vemtora({"pressling", "-f", "src\\頁.md", "-o", "out "});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.out + r.err, testing::HasSubstr("「out 」的結尾是空白或句點"));
    for (const char* name : {"page.html.", "dir \\page.html"}) {
        const auto saved = brenkit::fileIO::save_local_file_content(path_from_utf8(name), "x");
        EXPECT_FALSE(saved.ok) << name;
        EXPECT_THAT(saved.text, testing::HasSubstr("的結尾是空白或句點")) << name;
    }
    EXPECT_FALSE(brenkit::fileIO::setup_output_dir("out."));
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"src"});

    // A source named as a device, found by the folder walk: the device's line, not a file
    // that cannot be read.
    write_file_atomic(path_from_utf8("\\\\?\\" + utf8_text(dir.path()) + "\\src\\con.md"), "# con\n");
    write_text(dir.path() / "cfg.yaml", "config:\n  input_path: src\n  output_path: out\n");
    const auto walked = run_with_input({vemtora_exe(), "pressling", "-c", "cfg.yaml"}, "a\n", dir.path());
    EXPECT_EQ(walked.status, 1) << walked.out << walked.err;
    EXPECT_THAT(walked.out + walked.err, testing::HasSubstr("「con.md」是 Windows 保留的裝置名稱"));
    EXPECT_THAT(walked.out + walked.err, testing::Not(testing::HasSubstr("不是可讀取的一般檔案")));
}

// A folder is tried before an agent's work as a save into it would go: the save's partial
// file is made and removed, and a folder that cannot take it fails with the system's reason.
TEST(WindowsFiles, TheTrialOfAFolderLeavesNothing) {
    TempDir dir;
    try_save_in(dir.path());
    EXPECT_TRUE(fs::is_empty(dir.path()));
    try {
        try_save_in(dir.path() / "missing");
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(failure_reason(e), "No such file or directory");
    }
}

// The link rule of the working copy holds on Windows too: a path whose final target, after
// every link, lies outside is refused for reads, writes and deletions and not offered,
// unless the user named that place.
TEST(WindowsLinks, ALinkOutOfTheWorkingCopyIsRefused) {
    namespace fileIO = brenkit::fileIO;
    const auto links = get_env("VEMTORA_LINKS");
    ASSERT_TRUE(links) << "run through ctest, which makes the links first";
    const fs::path root = path_from_utf8("Z:" + *links), work = root / "work";
    fs::current_path(work);
    for (const auto deed : {fileIO::Deed::read, fileIO::Deed::write, fileIO::Deed::remove}) {
        const auto reason = fileIO::leaves_working_copy("out/secret.md", deed);
        ASSERT_TRUE(reason);
        EXPECT_THAT(*reason, testing::HasSubstr("符號連結 out 指向工作目錄之外的 "));
        EXPECT_THAT(*reason, testing::HasSubstr("outside"));
        EXPECT_FALSE(fileIO::leaves_working_copy("in/page.md", deed));
    }
    EXPECT_EQ(fileIO::read_local_file("out/secret.md").outcome, fileIO::LocalFile::Outcome::refused);
    EXPECT_EQ(fileIO::read_local_file("page.md").outcome, fileIO::LocalFile::Outcome::refused);
    EXPECT_FALSE(fileIO::save_local_file_content("out/new.md", "x").ok);
    EXPECT_FALSE(fs::exists(root / "outside" / "new.md"));
    fileIO::remove_file("out/secret.md");
    EXPECT_TRUE(fs::exists(root / "outside" / "secret.md"));
    // The search does not go down the link (wine shows a Unix link to a file as no link at
    // all, so page.md is offered here, and refused when it is read).
    const auto found = fileIO::find_files_with_extensions(".", {.extensions = {".md"}, .recursive = true});
    for (const auto& path : found.paths) EXPECT_NE(path.parent_path().filename(), "out") << utf8_text(path);
    // A place the user named is the user's, wherever it leads.
    fileIO::NamedPlaces named;
    named.add("out");
    EXPECT_FALSE(fileIO::leaves_working_copy("out/secret.md", fileIO::Deed::read));

    // A folder removed with a link in it: what the link leads to stays (the file system
    // library went down the link and removed the folder it leads to). Wine cannot remove
    // a Unix link to a folder through the Windows calls, so the link itself stays here.
    fileIO::remove_directory(root / "doomed");
    EXPECT_FALSE(fs::exists(root / "doomed" / "sub" / "file"));
    EXPECT_TRUE(fs::exists(root / "outside" / "secret.md"));
}

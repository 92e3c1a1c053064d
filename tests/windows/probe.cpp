// A child program for the Windows runner tests: reports what it received and where it
// ran, as UTF-8 bytes written straight to the standard handles (no text-mode newlines).
//   probe args A B ...  one line "[A]" per argument after "args"
//   probe exit N        exit status N
//   probe streams N     N bytes "o" on standard output and N bytes "e" on standard error
//   probe env NAME      the variable's value, or "<unset>"
//   probe crash         ends with the status of an access violation
//   probe X.js A B ...  (started as node is, with a script first) its own path on the first
//                       line, then one line "[X.js]", "[A]", ... per argument
//   probe sleep N       sleeps N seconds, then exits 0
//   probe spawn         starts "probe sleep 60" and prints its process id
//   probe spawn holding the same, the sleeper holding our standard output and error
//   probe ctrl-c FILE   ignores Ctrl-C (and so does what it starts), starts "probe sleep 60"
//                       and writes its process id into FILE, sends Ctrl-C to every process
//                       of its console, then sleeps 60 seconds
//   probe codepages FILE  writes the console's input and output code pages into FILE
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text, int size = -1) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), n, nullptr, nullptr);
    if (size == -1 && !out.empty()) out.pop_back();
    return out;
}

void write(DWORD which, const std::string& text) {
    HANDLE h = GetStdHandle(which);
    size_t done = 0;
    while (done < text.size()) {
        DWORD n = 0;
        if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr)) return;
        done += n;
    }
}

// Starts "probe sleep 60", without our handles or `holding` our standard ones; gives its
// process id.
DWORD start_sleeper(bool holding = false) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" sleep 60";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (holding) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, holding, 0, nullptr, nullptr, &si, &pi)) return 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

void write_file(const wchar_t* name, const std::string& text) {
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(utf8(wargv[i]));
    const std::string mode = args.size() > 1 ? args[1] : "";
    if (mode == "args") {
        std::string out;
        for (size_t i = 2; i < args.size(); ++i) out += "[" + args[i] + "]\n";
        write(STD_OUTPUT_HANDLE, out);
    } else if (mode == "exit" && args.size() > 2) {
        return std::stoi(args[2]);
    } else if (mode == "streams" && args.size() > 2) {
        const size_t total = std::stoul(args[2]);
        // Alternate in chunks, so that a runner reading one pipe to its end first blocks.
        for (size_t done = 0; done < total; done += 4096) {
            const size_t n = total - done < 4096 ? total - done : 4096;
            write(STD_OUTPUT_HANDLE, std::string(n, 'o'));
            write(STD_ERROR_HANDLE, std::string(n, 'e'));
        }
    } else if (mode == "env" && args.size() > 2) {
        std::wstring name(wargv[2]);
        wchar_t value[8192];
        DWORD n = GetEnvironmentVariableW(name.c_str(), value, 8192);
        write(STD_OUTPUT_HANDLE, n ? utf8(value, static_cast<int>(n)) : std::string("<unset>"));
    } else if (mode.size() > 3 && mode.ends_with(".js")) {
        wchar_t self[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::string out = utf8(self, static_cast<int>(n)) + "\n";
        for (size_t i = 1; i < args.size(); ++i) out += "[" + args[i] + "]\n";
        write(STD_OUTPUT_HANDLE, out);
    } else if (mode == "sleep" && args.size() > 2) {
        Sleep(static_cast<DWORD>(std::stoul(args[2]) * 1000));
    } else if (mode == "spawn") {
        write(STD_OUTPUT_HANDLE, std::to_string(start_sleeper(args.size() > 2 && args[2] == "holding")));
    } else if (mode == "ctrl-c" && args.size() > 2) {
        SetConsoleCtrlHandler(nullptr, TRUE);
        write_file(wargv[2], std::to_string(start_sleeper()));
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        Sleep(60000);
    } else if (mode == "codepages" && args.size() > 2) {
        write_file(wargv[2], std::to_string(GetConsoleCP()) + " " + std::to_string(GetConsoleOutputCP()));
    } else if (mode == "crash") {
        TerminateProcess(GetCurrentProcess(), 0xC0000005u);
    } else {
        write(STD_ERROR_HANDLE, "probe: unknown mode\n");
        return 99;
    }
    return 0;
}

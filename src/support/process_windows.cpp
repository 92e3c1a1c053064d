// The process runner on Windows: CreateProcessW, each pipe read on a thread of its own,
// every child in a job object; command scripts through the command interpreter, npm's
// shims started as the node program they name.
#include <windows.h>

#include <cwchar>
#include <string_view>
#include <thread>

#include "support/env.hpp"
#include "support/files.hpp"
#include "support/files_internal.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"
#include "support/process_internal.hpp"
#include "support/text.hpp"
#include "support/wide_text.hpp"

namespace support {

namespace fs = std::filesystem;
using process_detail::append_tail;
using process_detail::cut_to_tail;

namespace {

using files_detail::system_message;

// The lookup, with the executable extensions to try (PATHEXT's form). The system's
// executable extensions come first, so npm's extension-less shell shim "agy" never wins
// over "agy.cmd"; the found path is made absolute so that the start cannot look in the
// current folder again. "C:x" names a path too.
std::optional<fs::path> find_program(const std::string& name, const std::string& pathext) {
    if (name.empty()) return std::nullopt;
    auto usable = [](const fs::path& p) {
        std::error_code ec;
        return fs::is_regular_file(p, ec);
    };
    auto found = [](const fs::path& p) {
        std::error_code ec;
        fs::path absolute = fs::absolute(p, ec);
        return ec ? p : absolute;
    };
    const auto names = windows_program_names(name, pathext);
    if (name.find_first_of("/\\:") != std::string::npos) {
        for (const auto& n : names)
            if (usable(path_from_utf8(n))) return found(path_from_utf8(n));
        return std::nullopt;
    }
    for (const auto& dir : split(get_env("PATH").value_or(""), ";")) {
        // An empty or relative entry (".", "bin", "C:bin", "\bin") would mean the current
        // folder or one that depends on it, which must not win here.
        const fs::path base = path_from_utf8(strip_chars(dir, "\""));
        if (!base.is_absolute()) continue;
        for (const auto& n : names) {
            fs::path candidate = base / path_from_utf8(n);
            if (usable(candidate)) return found(candidate);
        }
    }
    return std::nullopt;
}


// How long a child may take to end after Ctrl-C before it is killed.
constexpr DWORD kill_grace_ms = 2000;

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset() {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = nullptr;
    }
};

fs::path interpreter_path() {
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return fs::path(std::wstring(folder, n > 0 && n < MAX_PATH ? n : 0)) / L"cmd.exe";
}

// The environment of a child started through the command interpreter: ours, with
// NoDefaultCurrentDirectoryInExePath set, so that the interpreter looks for the programs
// it runs on PATH only and never first in the current folder (a working copy's own
// node.exe or git.cmd). The variable keeps its place in the block's order.
std::wstring interpreter_environment() {
    static const std::wstring name = L"NoDefaultCurrentDirectoryInExePath";
    const std::wstring ours = name + L"=1";
    std::wstring block;
    bool placed = false;
    if (LPWCH env = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = env; *entry; entry += wcslen(entry) + 1) {
            const std::wstring_view text(entry);
            const std::wstring entry_name(text.substr(0, text.find(L'=', 1)));
            const int order = _wcsicmp(entry_name.c_str(), name.c_str());
            if (order == 0) continue;
            if (!placed && entry_name.front() != L'=' && order > 0) {
                block.append(ours).push_back(L'\0');
                placed = true;
            }
            block.append(text).push_back(L'\0');
        }
        FreeEnvironmentStringsW(env);
    }
    if (!placed) block.append(ours).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// A child's process tree: the child and whatever it starts belong to a job that ends
// them all when it is closed, when our own process ends too (a crash included). Where no
// job can be made (an older Windows inside a job of its own), only the child is known.
class ProcessTree {
  public:
    ProcessTree() : job_(CreateJobObjectW(nullptr, nullptr)) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_ && !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) close();
    }
    ~ProcessTree() { close(); }
    ProcessTree(const ProcessTree&) = delete;
    ProcessTree& operator=(const ProcessTree&) = delete;

    // Takes in the child, started suspended so that nothing it starts escapes.
    void adopt(HANDLE process) {
        if (job_ && !AssignProcessToJobObject(job_, process)) close();
    }
    void end(HANDLE process, UINT status) {
        if (job_) TerminateJobObject(job_, status);
        else TerminateProcess(process, status);
    }
    // What the child started stays when the tree is closed.
    void let_go() {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION none{};
        if (job_) SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &none, sizeof none);
    }
    void close() {
        if (job_) CloseHandle(job_);
        job_ = nullptr;
    }

  private:
    HANDLE job_;
};

// How a child is started: the command line's limit, and for the interpreter its
// environment; `descendants_stay` leaves what the child started running once it has
// ended by itself (a text editor's own window).
struct StartOptions {
    // The longest command line, in UTF-16 units, and the limit as messages name it.
    size_t longest_line = 32766;
    const char* limit = "32767 characters (its terminating null included) that a program's command line holds";
    const std::wstring* environment = nullptr;
    bool descendants_stay = false;
};

// Starts `application` (an absolute path) with the full command line and waits for it,
// both pipes read on threads of their own. Ctrl-C meanwhile (interrupt.hpp) reaches the
// child through the console it shares; the child is killed with everything it started
// when it has not ended after a short grace, and Interrupted is raised.
ProcessResult start_and_wait(const fs::path& application, const std::string& command_line,
                             const std::string& name, const RunOptions& options, const StartOptions& start = {}) {
    std::wstring wide_line = widen(command_line);
    if (wide_line.size() > start.longest_line)
        throw ProcessError(name + ": the command line is " + std::to_string(wide_line.size()) +
                           " characters long, more than the " + start.limit);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle out_r, out_w, err_r, err_w, null_in, null_out;
    auto make_pipe = [&](Handle& r, Handle& w) {
        if (!CreatePipe(&r.h, &w.h, &inheritable, 0))
            throw ProcessError(name + ": " + system_message(GetLastError()));
        // Only the child's end is inherited; our reading end stays ours.
        SetHandleInformation(r.h, HANDLE_FLAG_INHERIT, 0);
    };
    if (options.out == Output::capture) make_pipe(out_r, out_w);
    if (options.err == Output::capture) make_pipe(err_r, err_w);
    if (options.out == Output::discard || options.err == Output::discard)
        null_out.h = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr);
    if (options.null_stdin)
        null_in.h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                OPEN_EXISTING, 0, nullptr);
    auto target = [&](Output mode, const Handle& pipe, DWORD standard) {
        if (mode == Output::capture) return pipe.h;
        if (mode == Output::discard) return null_out.h;
        return GetStdHandle(standard);
    };
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = options.null_stdin ? null_in.h : GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = target(options.out, out_w, STD_OUTPUT_HANDLE);
    si.hStdError = target(options.err, err_w, STD_ERROR_HANDLE);

    const std::wstring wide_application = application.wstring();
    const DWORD flags = CREATE_SUSPENDED | (start.environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    void* environment = start.environment ? const_cast<wchar_t*>(start.environment->data()) : nullptr;
    ProcessTree tree;
    PROCESS_INFORMATION pi{};
    {
        // Ctrl-C waits until the child is watched, so none falls between its start and the watch.
        SignalsHeld hold;
        if (!CreateProcessW(wide_application.c_str(), wide_line.data(), nullptr, nullptr, TRUE, flags, environment, nullptr,
                            &si, &pi))
            throw ProcessError(name + ": " + system_message(GetLastError()));
        tree.adopt(pi.hProcess);
        ResumeThread(pi.hThread);
        interrupt_detail::watch_child(static_cast<long>(pi.dwProcessId), options.child_owns_interrupt);
    }
    struct Watch {
        ~Watch() { interrupt_detail::unwatch_child(); }
    } watch;
    Handle process, thread;
    process.h = pi.hProcess;
    thread.h = pi.hThread;
    // Our copies of the child's ends go, so that the pipes end when the child's tree does.
    out_w.reset();
    err_w.reset();
    null_in.reset();
    null_out.reset();

    ProcessResult result;
    auto drain = [limit = options.tail_limit](HANDLE pipe, std::string* sink) {
        char buffer[65536];
        DWORD n = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) append_tail(*sink, buffer, n, limit);
    };
    std::thread out_reader, err_reader;
    // The readers end once every holder of the pipes' writing ends has ended; whatever
    // way this ends, the tree goes first.
    auto finish = [&](bool ended_by_itself) {
        if (!ended_by_itself) {
            tree.end(process.h, control_c_exit_status);
            WaitForSingleObject(process.h, INFINITE);
        } else if (start.descendants_stay) {
            tree.let_go();
        } else {
            tree.end(process.h, 1);  // what the child left running
        }
        tree.close();
        if (out_reader.joinable()) out_reader.join();
        if (err_reader.joinable()) err_reader.join();
    };
    int sig = 0;
    try {
        if (out_r.h) out_reader = std::thread(drain, out_r.h, &result.out);
        if (err_r.h) err_reader = std::thread(drain, err_r.h, &result.err);
        HANDLE waits[2] = {process.h, static_cast<HANDLE>(interrupt_detail::wake_event())};
        while (!(sig = interrupt_detail::pending_signal())) {
            if (WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, INFINITE) == WAIT_OBJECT_0) break;
        }
        // The child got Ctrl-C from the console too: it may end by itself, or is ended.
        if (sig) WaitForSingleObject(process.h, kill_grace_ms);
    } catch (...) {
        finish(false);
        throw;
    }
    const bool ended = WaitForSingleObject(process.h, 0) == WAIT_OBJECT_0;
    finish(ended && !sig);
    // Ctrl-C that came after the last look but before the child was seen to end.
    if (!sig) sig = interrupt_detail::unwatch_child();
    if (sig) throw Interrupted(sig);
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    cut_to_tail(result.out, options.tail_limit);
    cut_to_tail(result.err, options.tail_limit);
    result.status = static_cast<int>(code);
    return result;
}

ProcessResult run_through_interpreter(const std::string& command_line, const std::string& name,
                                      const RunOptions& options, bool descendants_stay = false) {
    const std::wstring environment = interpreter_environment();
    return start_and_wait(interpreter_path(), command_line, name, options,
                          {.longest_line = 8191,
                           .limit = "8191 characters that the command interpreter (cmd.exe) reads",
                           .environment = &environment,
                           .descendants_stay = descendants_stay});
}

// npm's command script for a package's program, read as npm writes it (nothing when it
// is anything else: a script of the user's own, or one changed by hand).
std::optional<NpmShim> read_npm_shim(const fs::path& script) {
    // npm's shims are well under a kilobyte; anything large is not one.
    const auto read = read_regular_file(script, 64 * 1024);
    return read.outcome == BoundedRead::Outcome::read ? windows_npm_shim(read.bytes) : std::nullopt;
}

// The program an npm shim starts, as the shim finds it: the one beside the shim, else
// the one on PATH, with ".JS" left out of the extensions as the shim leaves it out; but
// never one in the current folder, which the interpreter would search first.
fs::path npm_shim_program(const fs::path& shim_path, const NpmShim& shim, const std::string& name) {
    const fs::path beside = shim_path.parent_path() / path_from_utf8(shim.program + ".exe");
    std::error_code ec;
    if (fs::is_regular_file(beside, ec)) return beside;
    std::string pathext;
    for (const auto& extension : split(get_env("PATHEXT").value_or(""), ";"))
        if (ascii_lower(strip(extension)) != ".js") pathext += extension + ";";
    auto found = find_program(shim.program, pathext.empty() ? ".COM;.EXE;.BAT;.CMD" : pathext);
    if (!found) throw ProcessError(name + ": " + shim.program + ": " + system_message(ERROR_FILE_NOT_FOUND));
    return *found;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
    process_detail::refuse_unpassable(argv);
    auto program = find_executable(argv[0]);
    if (!program) throw ProcessError(argv[0] + ": " + system_message(ERROR_FILE_NOT_FOUND));
    std::string shown_name = argv[0];
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    if (windows_is_command_script(utf8_text(program->filename()))) {
        // npm's shim (agy.cmd) runs its node program directly, with no interpreter in
        // between to read the arguments again or to find a node.exe in the current folder.
        if (const auto shim = read_npm_shim(*program)) {
            fs::path node = npm_shim_program(*program, *shim, argv[0]);
            std::vector<std::string> node_args = shim->arguments;
            node_args.push_back(utf8_text(program->parent_path() / path_from_utf8(shim->script)));
            node_args.insert(node_args.end(), args.begin(), args.end());
            program = std::move(node);
            shown_name = utf8_text(*program);
            args = std::move(node_args);
        }
    }
    if (windows_is_command_script(utf8_text(program->filename())))
        return run_through_interpreter(
            windows_batch_command_line(utf8_text(interpreter_path()), utf8_text(*program), args), argv[0], options);
    std::vector<std::string> line = {shown_name};
    line.insert(line.end(), args.begin(), args.end());
    return start_and_wait(*program, windows_command_line(line), argv[0], options);
}

ProcessResult run_user_command(const std::string& command_text, const std::vector<std::string>& args,
                               const RunOptions& options) {
    return run_through_interpreter(
        windows_interpreter_command_line(utf8_text(interpreter_path()), command_text, args), "cmd.exe", options,
        true);
}


bool is_windows() { return true; }

std::optional<size_t> argument_size_limit() { return std::nullopt; }

std::optional<fs::path> find_executable(const std::string& name) {
    return find_program(name, get_env("PATHEXT").value_or(""));
}

// A status that reads as negative is an exception status (0xC0000005, an access
// violation, and the like): Windows has no signals.
std::string status_description(const std::vector<std::string>& argv, int status) {
    if (status < 0) {
        const auto code = static_cast<DWORD>(status);
        return windows_exception_description(argv, code, system_message(code, GetModuleHandleW(L"ntdll.dll")));
    }
    return process_detail::exit_status_description(argv, status);
}

}  // namespace support

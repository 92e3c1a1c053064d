#include "harness.hpp"

#include "host/registry.hpp"
#include "support/console.hpp"
#include "support/text.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace th {

TempDir::TempDir() {
    std::random_device rd;
    auto base = fs::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto candidate = base / ("vemtora-test-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = fs::canonical(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

namespace {

// Gives the owner every right on the folder and on each folder below it, so that the tree
// can be listed and emptied: a test may close folders of its tree (read-only, or with no
// rights at all), which only root removes as they are.
void open_folders(const fs::path& folder) {
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->symlink_status(kind).type() == fs::file_type::directory) open_folders(it->path());
    }
}

}  // namespace

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (!ec) return;
    open_folders(path_);
    fs::remove_all(path_, ec);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::set<std::string> command_names(const std::function<bool(const vemtora::CommandDecl&)>& which) {
    std::set<std::string> names;
    for (const auto& command : host::commands())
        if (!which || which(command)) names.insert(command.name);
    return names;
}

void write_file(const fs::path& p, const std::string& text) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return "";
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string padded_table(int columns, int rows) {
    std::string text = "|";
    for (int i = 0; i < columns; ++i) text += "c|";
    text += "\n|";
    for (int i = 0; i < columns; ++i) text += "-|";
    text += "\n";
    for (int i = 0; i < rows; ++i) text += "x\n";
    return text;
}

namespace {

fs::path from_env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

}  // namespace

fs::path vemtora_binary() { return from_env_or("VEMTORA_TEST_PROGRAM", VEMTORA_BINARY); }
fs::path source_dir() { return VEMTORA_SOURCE_DIR; }
fs::path fakes_dir() { return from_env_or("VEMTORA_TEST_FAKES", VEMTORA_FAKES_DIR); }

namespace {

std::map<std::string, std::string> current_environment() {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq == std::string::npos) continue;
        env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return env;
}

}  // namespace

std::optional<User> unprivileged_user(std::string* why) {
    auto missing = [&](std::string reason) -> std::optional<User> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    if (geteuid() != 0) return User{getuid(), getgid(), false};
    const passwd* nobody = getpwnam("nobody");
    if (!nobody || nobody->pw_uid == 0) return missing("running as root without a \"nobody\" account");
    if (access("/usr/bin/setpriv", X_OK) != 0) return missing("running as root without /usr/bin/setpriv");
    const User user{nobody->pw_uid, nobody->pw_gid, true};
    // Its trees, and the copy of what its runs start, lie in the temporary folder.
    const fs::path temp = fs::temp_directory_path();
    const std::string denied = as_user(user, [&] { return access(temp.c_str(), X_OK) == 0 ? "" : std::strerror(errno); });
    if (!denied.empty()) return missing("the user \"nobody\" cannot reach the temporary folder " + temp.string() + ": " + denied);
    return user;
}

namespace {

// The program and the fakes as another user can reach them: copied, readable by all, once
// per test process, into a folder of the temporary folder, removed at exit.
struct ReachableCopy {
    TempDir dir;
    fs::path program = dir / "vemtora";
    fs::path fakes = dir / "fakes";

    ReachableCopy() {
        fs::copy_file(vemtora_binary(), program);
        fs::copy(fakes_dir(), fakes, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        auto open_up = [](const fs::path& p) {
            const auto status = fs::symlink_status(p);
            if (fs::is_symlink(status)) return;
            const auto mode = status.permissions();
            auto add = fs::perms::group_read | fs::perms::others_read;
            if (fs::is_directory(p) || (mode & fs::perms::owner_exec) != fs::perms::none)
                add |= fs::perms::group_exec | fs::perms::others_exec;
            fs::permissions(p, add, fs::perm_options::add);
        };
        open_up(dir.path());
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) open_up(entry.path());
    }
};

const ReachableCopy& reachable_copy() {
    static const ReachableCopy copy;
    return copy;
}

// The temporary folder of the program's runs: one per test process, open to every user as
// /tmp is, removed at exit, so that what a run leaves there on purpose (a typed requirement
// kept after a failure) does not pile up in the machine's /tmp.
struct RunsTemp {
    TempDir dir;
    RunsTemp() { fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit, fs::perm_options::replace); }
};

const fs::path& runs_temp_dir() {
    static const RunsTemp temp;
    return temp.dir.path();
}

}  // namespace

void give_to(const fs::path& tree, const User& user) {
    if (!user.switch_needed) return;
    auto give = [&](const fs::path& p) {
        if (lchown(p.c_str(), user.uid, user.gid) != 0)
            throw std::runtime_error("cannot give " + p.string() + " away: " + std::strerror(errno));
    };
    give(tree);
    if (!fs::is_directory(fs::symlink_status(tree))) return;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) give(entry.path());
}

std::string as_user(const User& user, const std::function<std::string()>& body) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(fds[0]);
        std::string text;
        if (user.switch_needed && (setgroups(0, nullptr) != 0 || setresgid(user.gid, user.gid, user.gid) != 0 ||
                                   setresuid(user.uid, user.uid, user.uid) != 0)) {
            text = std::string("cannot become the user: ") + std::strerror(errno);
        } else {
            try {
                text = body();
            } catch (const std::exception& e) {
                text = std::string("exception: ") + e.what();
            }
        }
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return text;
}

Outcome run(const Run& spec) {
    const bool other_user = spec.user && spec.user->switch_needed;
    fs::path program = spec.program.empty() ? vemtora_binary() : fs::path(spec.program);
    fs::path fakes = fakes_dir();
    // The copy's paths in place of the checkout's.
    auto reachable = [&](std::string text) {
        return other_user ? support::replace_all(text, fakes_dir().string(), reachable_copy().fakes.string()) : text;
    };
    if (other_user) {
        if (program == vemtora_binary()) program = reachable_copy().program;
        fakes = reachable_copy().fakes;
    }
    auto env = current_environment();
    env.erase("DOVUD_DEBUG");
    env["VEMTORA_REPO_BASE_URL"] = "file:///nonexistent-vemtora-repo";
    env["TMPDIR"] = runs_temp_dir().string();
    if (spec.fake_agy) env["PATH"] = fakes.string() + ":" + env["PATH"];
    for (const auto& [k, v] : spec.env) {
        if (v) env[k] = reachable(*v);
        else env.erase(k);
    }
    std::vector<std::string> env_strings;
    for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argv_strings;
    if (spec.user && spec.user->switch_needed)
        argv_strings = {"/usr/bin/setpriv", "--reuid=" + std::to_string(spec.user->uid),
                        "--regid=" + std::to_string(spec.user->gid), "--clear-groups", "--"};
    if (spec.capped) {
#if defined(__SANITIZE_ADDRESS__)
        const std::string memory_cap;
#else
        const std::string memory_cap = "ulimit -v 2097152; ";
#endif
        argv_strings.insert(argv_strings.end(), {"bash", "-c", memory_cap + "exec timeout -s KILL 60 \"$@\"", "bash"});
    }
    argv_strings.push_back(program.string());
    for (const auto& arg : spec.args) argv_strings.push_back(reachable(arg));
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    // Standard input comes from a file, so the child sees a real end of input; or from
    // a pipe held open until the child has ended.
    int in_fd = -1, held_stdin = -1;
    if (spec.open_stdin) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        in_fd = p[0];
        held_stdin = p[1];
    } else {
        char in_name[] = "/tmp/vemtora-stdin-XXXXXX";
        in_fd = mkstemp(in_name);
        if (in_fd < 0) throw std::runtime_error("mkstemp failed");
        unlink(in_name);
    }
    const int input_end = spec.open_stdin ? held_stdin : in_fd;
    if (!spec.input.empty() && ::write(input_end, spec.input.data(), spec.input.size()) != (ssize_t)spec.input.size())
        throw std::runtime_error("cannot write the input");
    if (!spec.open_stdin) lseek(in_fd, 0, SEEK_SET);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    if (spec.closed_reader) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        out_pipe[0] = err_pipe[0] = -1;
    }

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
    posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
    posix_spawn_file_actions_addchdir_np(&fa, spec.cwd.c_str());
    // The program gets the default dispositions of the ending signals and of SIGPIPE
    // whatever the tests were started with (a background job ignores SIGINT, nohup SIGHUP,
    // ctest SIGPIPE).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &fa, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(in_fd);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        if (out_pipe[0] >= 0) close(out_pipe[0]);
        if (err_pipe[0] >= 0) close(err_pipe[0]);
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(rc));
    }

    Outcome outcome;
    std::mutex out_lock;
    std::thread watcher;
    if (spec.while_running) {
        std::function<std::string()> out_so_far = [&] {
            std::lock_guard<std::mutex> hold(out_lock);
            return outcome.out;
        };
        watcher = std::thread([&spec, pid, out_so_far] { spec.while_running(pid, out_so_far); });
    }
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    int open_count = (out_pipe[0] >= 0) + (err_pipe[0] >= 0);
    char buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard<std::mutex> hold(out_lock);
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (held_stdin >= 0) close(held_stdin);
    if (watcher.joinable()) watcher.join();
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return outcome;
}

namespace {

// Long enough for a loaded machine; only a run that is stuck ever reaches it.
constexpr auto patience = std::chrono::minutes(2);

bool wait_quietly(const std::function<bool()>& ready) {
    const auto give_up = std::chrono::steady_clock::now() + patience;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

bool wait_until(const std::function<bool()>& ready) {
    bool seen = wait_quietly(ready);
    EXPECT_TRUE(seen) << "waited minutes in vain";
    return seen;
}

int wait_for_pid(const fs::path& p) {
    std::string text;
    bool seen = wait_quietly([&] {
        text = read_file(p);
        return !text.empty() && text.back() == '\n';
    });
    EXPECT_TRUE(seen) << p << " never got a process id";
    return seen ? std::atoi(text.c_str()) : -1;
}

bool wait_for_text(const std::function<std::string()>& text, const std::string& part) {
    bool seen = wait_quietly([&] { return has(text(), part); });
    EXPECT_TRUE(seen) << "never printed: " << part;
    return seen;
}

bool wait_for_sleep(int pid) {
    // The state is the first field after the command name's closing parenthesis.
    bool seen = wait_quietly([&] {
        std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        auto close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S';
    });
    EXPECT_TRUE(seen) << "process " << pid << " never waited";
    return seen;
}

bool process_exists(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

StdinFrom::StdinFrom(const std::string& text) {
    char name[] = "/tmp/vemtora-stdin-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    unlink(name);
    if (!text.empty() && ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write the input");
    lseek(fd, 0, SEEK_SET);
    saved_ = dup(0);
    dup2(fd, 0);
    close(fd);
    support::discard_buffered_input();
}

StdinFrom::~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    support::discard_buffered_input();
}

ScopedEnv::ScopedEnv(const std::map<std::string, std::optional<std::string>>& vars) {
    for (const auto& [k, v] : vars) {
        const char* old = std::getenv(k.c_str());
        previous_[k] = old ? std::optional<std::string>(old) : std::nullopt;
        if (v) setenv(k.c_str(), v->c_str(), 1);
        else unsetenv(k.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    for (const auto& [k, v] : previous_) {
        if (v) setenv(k.c_str(), v->c_str(), 1);
        else unsetenv(k.c_str());
    }
}

CurrentDir::CurrentDir(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }

CurrentDir::~CurrentDir() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

std::string git(const fs::path& repo, const std::vector<std::string>& args) {
    Run r;
    r.program = "git";
    r.cwd = repo;
    r.args = args;
    r.env = {{"GIT_AUTHOR_NAME", "Test"},       {"GIT_AUTHOR_EMAIL", "test@example.com"},
             {"GIT_COMMITTER_NAME", "Test"},    {"GIT_COMMITTER_EMAIL", "test@example.com"},
             {"GIT_CONFIG_GLOBAL", "/dev/null"}, {"GIT_CONFIG_NOSYSTEM", "1"}};
    auto o = run(r);
    std::string joined;
    for (const auto& a : args) joined += " " + a;
    EXPECT_EQ(o.status, 0) << "git" << joined << "\n" << o.out << o.err;
    return o.out;
}

void init_repo(const fs::path& repo) {
    fs::create_directories(repo);
    git(repo, {"init", "-q", "-b", "main"});
    git(repo, {"config", "user.name", "Test"});
    git(repo, {"config", "user.email", "test@example.com"});
    git(repo, {"config", "commit.gpgsign", "false"});
    write_file(repo / "README.md", "# Project\n");
    git(repo, {"add", "."});
    git(repo, {"commit", "-q", "-m", "initial"});
}

std::vector<std::vector<std::string>> fake_agy_calls(const fs::path& argv_file) {
    const std::string data = read_file(argv_file);
    std::vector<std::vector<std::string>> calls;
    size_t pos = 0;
    auto next_field = [&]() {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos) throw std::runtime_error("truncated fake agy record");
        std::string field = data.substr(pos, end - pos);
        pos = end + 1;
        return field;
    };
    while (pos < data.size()) {
        size_t count = std::stoul(next_field());
        std::vector<std::string> argv;
        for (size_t i = 0; i < count; ++i) argv.push_back(next_field());
        calls.push_back(std::move(argv));
    }
    return calls;
}

namespace {

std::string method_name(zip_uint16_t method) {
    return method == ZIP_CM_DEFLATE ? "deflate" : method == ZIP_CM_STORE ? "stored" : "other";
}

}  // namespace

std::vector<std::string> zip_listing(const fs::path& archive) {
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (!za) return {"<cannot open>"};
    std::vector<std::string> out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
        out.push_back(std::string(st.name) + ":" + method_name(st.comp_method));
    }
    zip_close(za);
    return out;
}

std::optional<std::vector<ZipMember>> zip_members(const fs::path& archive) {
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!za) return std::nullopt;
    std::vector<ZipMember> out;
    bool whole = true;
    for (zip_uint64_t i = 0; whole && i < static_cast<zip_uint64_t>(zip_get_num_entries(za, 0)); ++i) {
        zip_stat_t st;
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_t* file = nullptr;
        whole = zip_stat_index(za, i, 0, &st) == 0 && zip_file_get_external_attributes(za, i, 0, &system, &attributes) == 0 &&
                (file = zip_fopen_index(za, i, 0)) != nullptr;
        if (!whole) break;
        ZipMember member{st.name, method_name(st.comp_method), std::string(st.size, '\0'), st.mtime,
                         system == ZIP_OPSYS_UNIX ? attributes >> 16 : 0};
        // Reading one byte past the end makes libzip compare the checksum and the size.
        std::string rest(1, '\0');
        whole = zip_fread(file, member.content.data(), st.size) == static_cast<zip_int64_t>(st.size) &&
                zip_fread(file, rest.data(), 1) == 0;
        zip_fclose(file);
        out.push_back(std::move(member));
    }
    zip_close(za);
    if (!whole) return std::nullopt;
    return out;
}

AgentWorkspace::AgentWorkspace() : work(tmp / "work"), repo(tmp / "repo"), script(tmp / "agy") {
    fs::create_directories(work);
    fs::create_directories(repo);
    fs::create_directories(script);
}

void AgentWorkspace::agent(const std::string& kind, const std::string& text, int call) {
    write_file(script / (call ? std::to_string(call) + "." + kind : kind), text);
}

void AgentWorkspace::agent_writes(const std::string& text, int call) { agent("out", text, call); }

void AgentWorkspace::agent_hangs(bool stubborn, int call) { agent("hang", stubborn ? "stubborn" : "wait", call); }

void AgentWorkspace::release_agent() { write_file(script / "release", ""); }

void AgentWorkspace::agent_fails(int status, const std::string& stderr_text, int call) {
    agent("status", std::to_string(status), call);
    agent("stderr", stderr_text, call);
}

Outcome AgentWorkspace::run(const std::vector<std::string>& args, const std::vector<std::string>& answers,
                            const std::string& editor_text,
                            const std::map<std::string, std::optional<std::string>>& env) {
    std::string input;
    for (const auto& line : answers) input += line + "\n";
    return run_input(args, input, editor_text, env);
}

Outcome AgentWorkspace::run_input(const std::vector<std::string>& args, const std::string& input,
                                  const std::string& editor_text,
                                  const std::map<std::string, std::optional<std::string>>& env) {
    std::map<std::string, std::optional<std::string>> vars{
        {"VEMTORA_REPO_BASE_URL", "file://" + repo.string()},
        {"VISUAL", std::nullopt},
        {"EDITOR", (fakes_dir() / "editor-append").string()},
        {"EDITOR_TEXT", editor_text},
        {"FAKE_AGY_ARGV", (tmp / "argv").string()},
        {"FAKE_AGY_SCRIPT", script.string()}};
    for (const auto& [k, v] : env) vars[k] = v;
    return th::run({.args = args,
                    .cwd = work,
                    .input = input,
                    .env = vars,
                    .fake_agy = true,
                    .user = user,
                    .while_running = while_running,
                    .capped = capped});
}

void AgentWorkspace::run_as(const User& as) {
    give_to(tmp.path(), as);
    user = as;
}

FakeAgent::FakeAgent(const fs::path& folder)
    : script(folder / "script"),
      argv_file(folder / "argv"),
      env_({{"PATH", fakes_dir().string() + ":/usr/bin:/bin"},
            {"FAKE_AGY_ARGV", argv_file.string()},
            {"FAKE_AGY_SCRIPT", script.string()}}) {
    fs::create_directories(script);
}

void FakeAgent::scripted(const std::string& file, const std::string& text) const { write_file(script / file, text); }

std::vector<std::vector<std::string>> AgentWorkspace::calls() const { return fake_agy_calls(tmp / "argv"); }

std::string AgentWorkspace::abs(const fs::path& rel) const { return (work / rel).generic_string(); }

std::string AgentWorkspace::ref(const fs::path& rel) const { return "@[" + abs(rel) + "]"; }

std::string projtools_repo_url() { return "file://" + (fakes_dir() / "projtools-repo").string(); }

const std::string click_cli_py = "import click\n\n@click.group()\ndef main():\n    pass\n";

void write_click_project(const fs::path& proj) {
    write_file(proj / "setup.py", "setup(name='mytool', entry_points={'console_scripts': ['mytool=pkg.cli:main']})\n");
    write_file(proj / "pkg/cli.py", click_cli_py);
    write_file(proj / "pkg/__init__.py", "");
}

std::string with_paths(std::string text, std::initializer_list<std::pair<const char*, const char*>> keys) {
    for (const auto& [key, rel] : keys) text = support::replace_all(text, key, (fs::current_path() / rel).generic_string());
    return text;
}

void plant_links(const fs::path& work, const Links& links) {
    for (const auto& [name, target] : links) {
        fs::remove_all(work / name);
        fs::create_directories((work / name).parent_path());
        fs::create_symlink(target, work / name);
    }
}

std::string with_outside(std::string text, const fs::path& outside) {
    return support::replace_all(text, "{outside}", fs::canonical(outside).string());
}

}  // namespace th

#pragma once
// Shared test fixtures: temporary folders, files, the built binary run with piped
// answers and a chosen environment, and git working copies.
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vemtora/core/command.hpp"

namespace th {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& p) const { return path_ / p; }

  private:
    fs::path path_;
};

// Whether `part` occurs in `text`, for a condition (a wait, a choice). A check is written
// EXPECT_THAT(text, testing::HasSubstr(part)): its failure shows the text that was searched.
bool has(const std::string& text, const std::string& part);

// The names of the commands the program registers (host::commands()), all of them or
// those `which` takes: a table of cases per command checks its names against them, so a
// new command is not left out, and what a command is (configured, runs the agent) is
// read from its declaration, not kept beside it.
std::set<std::string> command_names(const std::function<bool(const vemtora::CommandDecl&)>& which = {});

// Markdown of a table header of `columns` columns over `rows` one-cell rows: a few bytes
// that ask the table extension, which pads every row, for columns x rows cells.
std::string padded_table(int columns, int rows);

void write_file(const fs::path& p, const std::string& text);  // parents created
std::string read_file(const fs::path& p);                       // "" when missing

// A user that file permissions hold for (root passes every check). When the tests run as
// root it is the "nobody" account, reached through `setpriv`; otherwise it is the
// current user, who already is one.
struct User {
    uid_t uid = 0;
    gid_t gid = 0;
    bool switch_needed = false;  // the tests run as root
};
// Nothing when the tests run as root and there is no such account, no `setpriv`, or the
// account cannot reach the temporary folder; `why` then says which.
std::optional<User> unprivileged_user(std::string* why = nullptr);
// Gives every file and folder of the tree (the tree itself too) to the user.
void give_to(const fs::path& tree, const User& user);
// Runs `body` in a child process as the user and gives back what it returned.
std::string as_user(const User& user, const std::function<std::string()>& body);

// Skips the current test, saying why, when there is no unprivileged user.
#define TH_UNPRIVILEGED_USER(name)                                  \
    std::string name##_missing;                                     \
    const auto name##_found = th::unprivileged_user(&name##_missing); \
    if (!name##_found) GTEST_SKIP() << name##_missing;              \
    const th::User name = *name##_found

struct Run {
    std::vector<std::string> args;  // after the program name
    fs::path cwd;                   // required
    std::string input;              // standard input (a file, so end of input is real)
    // Variables to set; a value of nullopt removes the variable. By default the run
    // gets DOVUD_DEBUG removed and VEMTORA_REPO_BASE_URL pointing at nothing, so no
    // test reaches the network.
    std::map<std::string, std::optional<std::string>> env;
    // Put the fake agent folder first on PATH.
    bool fake_agy = false;
    // The program to run (default: the built vemtora).
    std::string program;
    // Run as this user instead of the tests' own. Another user may not reach the checkout
    // (a clone in /root, which only root may enter): such a run gets the program and the
    // fakes from a copy in the temporary folder, and every mention of the fakes folder in
    // its arguments and environment names that copy.
    std::optional<User> user;
    // Called on a thread of its own once the program has started, with its process id
    // and a reader of what it printed on standard output so far; the run ends only when
    // both the program and the call have ended.
    std::function<void(int pid, const std::function<std::string()>& out_so_far)> while_running;
    // Standard input is a pipe that gives `input` (up to the pipe's size) and then stays
    // open, with no end of input, until the program ends.
    bool open_stdin = false;
    // Standard output and standard error go to a pipe whose reading end is already closed,
    // as behind `| head -c 10` once head has ended: every write fails. Nothing is captured.
    bool closed_reader = false;
    // Run under a cap of 60 seconds and 2 GiB of address space (no memory cap under the
    // address sanitizer, which reserves far more), so that a runaway run fails the test
    // instead of blocking the suite or exhausting the machine.
    bool capped = false;
};

struct Outcome {
    int status = -1;  // exit status, or minus the signal number
    std::string out;
    std::string err;
};

Outcome run(const Run& spec);

// Waits until `ready()` holds, looking again every few milliseconds; false (and the
// current test failed) only when that takes minutes.
bool wait_until(const std::function<bool()>& ready);
// Waits until the file holds a process id and a line feed (as the fake agent writes
// it) and gives the id; fails the current test and gives -1 when that takes minutes.
int wait_for_pid(const fs::path& p);
// Waits until `text` holds `part` (for a program's output as it comes).
bool wait_for_text(const std::function<std::string()>& text, const std::string& part);
// Waits until the process sleeps (blocked in a call such as a read of standard input).
bool wait_for_sleep(int pid);
// Whether a process with this id still exists (a zombie counts as gone only once reaped).
bool process_exists(int pid);

// The built vemtora binary and the source tree; VEMTORA_TEST_PROGRAM and
// VEMTORA_TEST_FAKES name another program and fakes folder (for a run of the tests with
// their checkout somewhere else).
fs::path vemtora_binary();
fs::path source_dir();
fs::path fakes_dir();

// While alive, standard input (fd 0) reads `text` from a file, then end of input; for
// in-process tests of questions and menus.
class StdinFrom {
  public:
    explicit StdinFrom(const std::string& text);
    ~StdinFrom();
    StdinFrom(const StdinFrom&) = delete;
    StdinFrom& operator=(const StdinFrom&) = delete;

  private:
    int saved_ = -1;
};

// Sets (or with nullopt removes) environment variables for the life of the object.
class ScopedEnv {
  public:
    explicit ScopedEnv(const std::map<std::string, std::optional<std::string>>& vars);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::map<std::string, std::optional<std::string>> previous_;
};

// The current folder is `folder` for the life of the object, for in-process tests of
// code that works on "./".
class CurrentDir {
  public:
    explicit CurrentDir(const fs::path& folder);
    ~CurrentDir();
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

  private:
    fs::path previous_;
};

// Runs git in `repo` with a fixed identity; fails the current test when git fails.
std::string git(const fs::path& repo, const std::vector<std::string>& args);
// A new repository with one commit holding README.md (branch "main").
void init_repo(const fs::path& repo);

// The argument vectors that tests/fakes/agy recorded in its FAKE_AGY_ARGV file, one per
// call, in call order (each begins with "agy"). Empty when the file is missing.
std::vector<std::vector<std::string>> fake_agy_calls(const fs::path& argv_file);

// The fake agent for in-process tests, while the object lives: first on PATH, scripted
// from `script` and recording its calls, both kept in `folder`.
class FakeAgent {
  public:
    explicit FakeAgent(const fs::path& folder);
    fs::path script, argv_file;
    // Writes one file of the script (see tests/fakes/agy).
    void scripted(const std::string& file, const std::string& text) const;
    std::vector<std::vector<std::string>> calls() const { return fake_agy_calls(argv_file); }

  private:
    ScopedEnv env_;
};

// The entries of a zip archive in archive order, each as "name:deflate" or "name:stored"
// (other methods "name:other"); {"<cannot open>"} when the archive cannot be read.
std::vector<std::string> zip_listing(const fs::path& archive);
// Every entry of a zip archive in archive order, read back by libzip (which checks each
// one's checksum and size); nothing when the archive or an entry cannot be read.
struct ZipMember {
    std::string name;
    std::string method;  // "deflate", "stored" or "other"
    std::string content;
    time_t mtime = 0;
    unsigned mode = 0;  // the Unix mode kept in the entry's external attributes
};
std::optional<std::vector<ZipMember>> zip_members(const fs::path& archive);

// A working copy for the AI commands: `work` is the current folder of every run,
// `repo` the maker's repository (served to the runs as VEMTORA_REPO_BASE_URL), and the
// fake agent's script folder and argument record live beside them. Runs use the test
// editor, which appends `editor_text` to what it is given.
class AgentWorkspace {
  public:
    AgentWorkspace();
    TempDir tmp;
    fs::path work, repo, script;

    // The agent's behaviour for call N (0: every call): text written to the output
    // file, exit status and standard error.
    void agent_writes(const std::string& text, int call = 0);
    void agent_fails(int status, const std::string& stderr_text, int call = 0);
    // After writing its answer the agent of call N writes its process id and a line
    // feed to `agent_pid_file()` and waits until `release_agent()`; a `stubborn` one
    // ignores SIGINT, SIGTERM and SIGHUP meanwhile.
    void agent_hangs(bool stubborn, int call = 0);
    fs::path agent_pid_file() const { return script / "pid"; }
    void release_agent();
    // One part of that behaviour: `kind` is "out", "status" or "stderr".
    void agent(const std::string& kind, const std::string& text, int call = 0);
    // Runs vemtora with the args (after the program name), the answers (one per line)
    // and the editor text; `env` adds or overrides variables.
    Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& answers,
                const std::string& editor_text = "",
                const std::map<std::string, std::optional<std::string>>& env = {});
    // The same run with standard input given whole.
    Outcome run_input(const std::vector<std::string>& args, const std::string& input,
                      const std::string& editor_text = "",
                      const std::map<std::string, std::optional<std::string>>& env = {});
    // Runs after this one are made as `user`, who is given the workspace.
    void run_as(const User& user);
    std::optional<User> user;
    // Handed to every run as Run::while_running when set.
    std::function<void(int pid, const std::function<std::string()>& out_so_far)> while_running;
    // Handed to every run as Run::capped.
    bool capped = false;
    // The recorded agent calls and the last argument (the prompt) of one of them.
    std::vector<std::vector<std::string>> calls() const;
    // The absolute path of work/rel with "/", as prompts name files.
    std::string abs(const fs::path& rel) const;
    // "@[" + abs(rel) + "]", as prompts refer to files.
    std::string ref(const fs::path& rel) const;
};

// The maker's repository of the project commands (tests/fakes/projtools-repo), as a
// VEMTORA_REPO_BASE_URL value.
std::string projtools_repo_url();

// The cli.py of the small click project below, before anything is registered in it.
extern const std::string click_cli_py;
// A click project the project commands work on: setup.py naming the console script
// mytool=pkg.cli:main, pkg/cli.py holding click_cli_py and an empty pkg/__init__.py.
void write_click_project(const fs::path& proj);

// `text` with each key replaced by the absolute path (with "/") of its path relative to
// the current folder, for prompts that name files the way the commands resolve them.
std::string with_paths(std::string text, std::initializer_list<std::pair<const char*, const char*>> keys);

// Symbolic links planted in a working copy, each in place of whatever stood there (its
// parent folders made): the path in `work`, and the link's target as it is written.
using Links = std::vector<std::pair<std::string, std::string>>;
void plant_links(const fs::path& work, const Links& links);
// `text` with "{outside}" replaced by the folder's path without links, as a refusal names
// the place that a link leads to.
std::string with_outside(std::string text, const fs::path& outside);
// One hostile working copy of a table: the links planted, the run's arguments (options
// or answers, as the command's test runs it) and what the run does.
struct LinkCase {
    std::string name;
    Links links;
    std::vector<std::string> args;
    int status;
    std::string line;  // printed on standard error; "{outside}" stands for the folder outside
    size_t agent_calls;
};

}  // namespace th

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <future>
#include <sstream>

#include "harness.hpp"
#include "support/interrupt.hpp"
#include "support/paths.hpp"
#include "support/process.hpp"

using namespace support;
namespace fs = std::filesystem;

TEST(Process, CapturesBothStreamsWithoutDeadlock) {
    // 1 MiB on each stream: a runner that reads one pipe after the other blocks here.
    auto r = run_process({"sh", "-c", "head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2; exit 3"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out.size(), 1048576u);
    EXPECT_EQ(r.err.size(), 1048576u);
}

TEST(Process, SignalGivesNegativeStatusAndMissingProgramThrows) {
    EXPECT_EQ(run_process({"sh", "-c", "kill -9 $$"}).status, -9);
    EXPECT_THROW(run_process({"no-such-program-vemtora"}), ProcessError);
    EXPECT_FALSE(find_executable("no-such-program-vemtora"));
    EXPECT_TRUE(find_executable("sh"));
}

// The lookup takes programs from the absolute folders of PATH only: an empty entry or a
// relative one would mean the current folder (a cloned repository's own `git` or `agy`).
TEST(Process, LookupNeverSearchesTheCurrentFolder) {
    th::TempDir dir;
    const fs::path bin = dir / "bin";
    for (const fs::path& folder : {dir.path(), dir / "rel", bin}) {
        th::write_file(folder / "vemtora-probe", "#!/bin/sh\n");
        fs::permissions(folder / "vemtora-probe", fs::perms::owner_all);
    }
    th::CurrentDir here(dir.path());
    for (const std::string path : {":", "::", "/nowhere:", ":/nowhere", ".", "./", "rel", "rel/", "./rel", "../"}) {
        th::ScopedEnv env({{"PATH", path}});
        EXPECT_FALSE(find_executable("vemtora-probe")) << "PATH=" << path;
        EXPECT_THROW(run_process({"vemtora-probe"}), ProcessError) << "PATH=" << path;
    }
    // The same entries beside an absolute folder that holds it: that one is found.
    th::ScopedEnv env({{"PATH", ":rel:.:" + bin.string() + ":"}});
    EXPECT_EQ(find_executable("vemtora-probe"), bin / "vemtora-probe");
}

// A child is done when it has ended: a job it left in the background that still holds
// both of its streams open keeps the run waiting no longer, and what the child itself
// wrote is all there.
TEST(Process, BackgroundJobHoldingTheStreamsDoesNotHoldTheRun) {
    th::TempDir dir;
    const auto job_file = dir / "job";
    auto run = std::async(std::launch::async, [&] {
        return run_process({"sh", "-c", "sleep 600 </dev/null & echo $! >\"$1\"; echo out; echo err >&2; exit 4", "sh",
                            job_file.string()});
    });
    const bool ended = th::wait_until([&] { return run.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    // Whatever happened, the job goes, so that a run still waiting for it ends too.
    const int job = th::wait_for_pid(job_file);
    const bool job_held_on = th::process_exists(job);
    if (job > 0) ::kill(job, SIGKILL);
    const auto r = run.get();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(job_held_on) << "the job ended early: nothing was held";
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "out\n");
    EXPECT_EQ(r.err, "err\n");
}

// A contained child's tree is the run's own: what the child left running ends with it,
// even a process in a session of its own, while an ordinary run leaves such a process be
// (a git hook's daemon is the user's). The child's output and its end come through as
// they are.
TEST(Process, ContainedChildsLeftoversEndWithIt) {
    struct Case {
        bool contained;
        std::string end;
        int status;
    };
    const std::string leftovers =
        "sleep 300 </dev/null >/dev/null 2>&1 & echo $!; setsid sleep 300 </dev/null >/dev/null 2>&1 & echo $!; "
        "echo err >&2; ";
    for (const auto& c : {Case{false, "exit 4", 4}, Case{true, "exit 4", 4}, Case{true, "kill -TERM $$", -SIGTERM}}) {
        SCOPED_TRACE((c.contained ? "contained, " : "") + c.end);
        const auto r = run_process({"sh", "-c", leftovers + c.end}, {.contained = c.contained});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, "err\n");
        std::istringstream pids(r.out);
        int count = 0;
        for (int pid = 0; pids >> pid; ++count) {
            EXPECT_EQ(th::process_exists(pid), !c.contained) << "process " << pid;
            if (th::process_exists(pid)) ::kill(pid, SIGKILL);
        }
        EXPECT_EQ(count, 2) << r.out;
    }
}

// A contained child and all it started, a process in a session of its own included, end
// when the program is killed by a signal that no handler of its own sees.
TEST(Process, ContainedTreeEndsWhenTheProgramIsKilled) {
    th::TempDir dir;
    const auto pids_file = dir / "pids";
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        support::install_interrupt_handlers();
        run_process({"sh", "-c",
                     "sleep 300 </dev/null >/dev/null 2>&1 & a=$!; setsid sleep 300 </dev/null >/dev/null 2>&1 & "
                     "echo $$ $a $! >\"$1.tmp\" && mv \"$1.tmp\" \"$1\"; wait",
                     "sh", pids_file.string()},
                    {.contained = true});
        ::_exit(0);
    }
    std::vector<int> tree;
    th::wait_until([&] { return std::filesystem::exists(pids_file); });
    std::istringstream pids(th::read_file(pids_file));
    for (int pid = 0; pids >> pid;) tree.push_back(pid);
    ::kill(program, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_TRUE(th::wait_until([&] {
        return std::none_of(tree.begin(), tree.end(), [](int pid) { return th::process_exists(pid); });
    })) << "a process outlived the killed program";
    for (int pid : tree)
        if (th::process_exists(pid)) ::kill(pid, SIGKILL);
}

TEST(Process, DiscardedOutput) {
    auto quiet = run_process({"sh", "-c", "echo hidden; echo shown >&2"}, {.out = Output::discard});
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "shown\n");
}

TEST(Paths, ReferenceFormDropsDotsButKeepsParents) {
    th::TempDir dir;
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(reference_form("./a/./b/"), dir.path().string() + "/a/b");
    EXPECT_EQ(reference_form("a/../b"), dir.path().string() + "/a/../b");
    EXPECT_EQ(reference_form("/x//y/."), "/x/y");
    EXPECT_EQ(reference_form("."), dir.path().string());
    std::filesystem::current_path(cwd);
    EXPECT_EQ(parent_or_dot("goal.yaml"), ".");
    EXPECT_EQ(parent_or_dot("."), ".");
    EXPECT_EQ(parent_or_dot("_agy/goal/g.yaml"), "_agy/goal");
}

TEST(Process, CaptureLimitKeepsTheTailOfEachStream) {
    // 4 MiB on each stream, each ending in its own marker; 64 KiB kept of each.
    auto r = run_process({"sh", "-c",
                          "head -c 4194304 /dev/zero; echo out-end; head -c 4194304 /dev/zero >&2; echo err-end >&2"},
                         {.tail_limit = 65536});
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 65536u);
    ASSERT_EQ(r.err.size(), 65536u);
    EXPECT_TRUE(r.out.ends_with(std::string(100, '\0') + "out-end\n"));
    EXPECT_TRUE(r.err.ends_with(std::string(100, '\0') + "err-end\n"));
    // Without a limit everything is kept; under the limit nothing is cut.
    EXPECT_EQ(run_process({"sh", "-c", "head -c 200000 /dev/zero"}).out.size(), 200000u);
    EXPECT_EQ(run_process({"printf", "short"}, {.tail_limit = 65536}).out, "short");
}

// The runner's spawn set-up calls, each of which can fail (ENOMEM): this executable's own
// definitions stand in front of the C library's, forwarding to it unless the test names
// the call that is to fail.
namespace {

const char* failing_call = nullptr;

template <class F>
F next_definition(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

#define VEMTORA_FAILABLE(name, params, args)                                     \
    extern "C" int name params {                                                 \
        if (failing_call && std::strcmp(failing_call, #name) == 0) return ENOMEM; \
        static const auto real = next_definition<int(*) params>(#name);          \
        return real args;                                                        \
    }
VEMTORA_FAILABLE(posix_spawn_file_actions_init, (posix_spawn_file_actions_t * fa), (fa))
VEMTORA_FAILABLE(posix_spawn_file_actions_adddup2, (posix_spawn_file_actions_t * fa, int fd, int to), (fa, fd, to))
VEMTORA_FAILABLE(posix_spawn_file_actions_addopen,
                 (posix_spawn_file_actions_t * fa, int fd, const char* path, int flags, mode_t mode),
                 (fa, fd, path, flags, mode))
VEMTORA_FAILABLE(posix_spawnattr_init, (posix_spawnattr_t * attr), (attr))
VEMTORA_FAILABLE(posix_spawnattr_setsigmask, (posix_spawnattr_t * attr, const sigset_t* set), (attr, set))
VEMTORA_FAILABLE(posix_spawnattr_setsigdefault, (posix_spawnattr_t * attr, const sigset_t* set), (attr, set))
VEMTORA_FAILABLE(posix_spawnattr_setflags, (posix_spawnattr_t * attr, short flags), (attr, flags))
#undef VEMTORA_FAILABLE

// A child started without the set-up it was asked for would write where it must not, or
// read the user's input: a failed set-up call fails the run with the system's reason.
TEST(Process, FailedSpawnSetUpFailsTheRunWithTheReason) {
    const RunOptions every_option = {.out = Output::capture, .err = Output::discard, .null_stdin = true};
    for (const char* call : {"posix_spawn_file_actions_init", "posix_spawn_file_actions_adddup2",
                             "posix_spawn_file_actions_addopen", "posix_spawnattr_init", "posix_spawnattr_setsigmask", "posix_spawnattr_setsigdefault",
                             "posix_spawnattr_setflags"}) {
        failing_call = call;
        try {
            run_process({"sh", "-c", "echo ran"}, every_option);
            ADD_FAILURE() << call << " failed and the child ran all the same";
        } catch (const ProcessError& e) {
            EXPECT_EQ(std::string(e.what()), "sh: " + std::string(std::strerror(ENOMEM))) << call;
        }
        failing_call = nullptr;
    }
    EXPECT_EQ(run_process({"sh", "-c", "echo ran"}, every_option).out, "ran\n");
}

// A NUL ends an argument where the system hands it over: the program would get a part of
// it, silently. Such an argument is refused before anything runs.
// Nothing starts from an empty argument vector or one with an argument the system would cut.
TEST(Process, AnArgumentVectorThatCannotBePassedIsRefused) {
    th::TempDir dir;
    const auto marker = dir / "ran";
    EXPECT_THROW(run_process({"sh", "-c", "touch \"$1\"", "sh", marker.string() + std::string("\0x", 2)}), ProcessError);
    EXPECT_FALSE(std::filesystem::exists(marker));
    try {
        run_process({});
        ADD_FAILURE() << "an empty command ran";
    } catch (const ProcessError& e) {
        EXPECT_STREQ(e.what(), "empty command");
    }
}

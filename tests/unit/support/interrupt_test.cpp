#include "support/interrupt.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "harness.hpp"

namespace fs = std::filesystem;

// An ending signal outside a child run ends the program by that signal at once, and
// the temporary files registered at that moment go with it; the rest stay.
TEST(Interrupt, SignalOutsideChildRunRemovesRegisteredTemporaries) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        th::TempDir dir;
        const fs::path kept = dir / "kept", released = dir / "released", pending = dir / "sub/.page.html.tmp-1";
        for (const auto& p : {kept, released, pending}) th::write_file(p, "x");
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            support::install_interrupt_handlers();
            { support::RemoveOnSignal done(released); }
            // A relative name is taken from the folder current at registration.
            ::chdir((dir / "sub").c_str());
            support::RemoveOnSignal open(".page.html.tmp-1");
            ::chdir("/");
            ::raise(sig);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_TRUE(fs::exists(kept));
        EXPECT_TRUE(fs::exists(released));
        EXPECT_FALSE(fs::exists(pending));
    }
}

// A process that a finished child left running in the background belongs to the program
// too: when an ending signal ends the program, it ends with it, even one that made itself
// a session of its own.
TEST(Interrupt, SignalOutsideChildRunEndsWhatChildrenLeftBehind) {
    for (const char* start : {"sleep 300", "setsid sleep 300"}) {
        SCOPED_TRACE(start);
        th::TempDir dir;
        const fs::path pid_file = dir / "pid";
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            support::install_interrupt_handlers();
            auto r = support::run_process(
                {"sh", "-c", std::string(start) + " </dev/null >/dev/null 2>&1 & echo $!"});
            th::write_file(pid_file, r.out);
            ::raise(SIGTERM);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        const int left = th::wait_for_pid(pid_file);
        ASSERT_GT(left, 0);
        EXPECT_FALSE(th::process_exists(left)) << "a process outlived the program";
        if (th::process_exists(left)) ::kill(left, SIGKILL);
    }
}

// SIGPIPE is ignored: a write to a pipe whose reader has gone fails (EPIPE) where the
// program stands instead of ending it; a program it starts gets the default back, so a
// pipeline of its own ends as usual.
TEST(Interrupt, ClosedPipeFailsTheWriteAndChildrenGetTheDefault) {
    th::TempDir dir;
    const fs::path report = dir / "report";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        support::install_interrupt_handlers();
        int p[2];
        if (::pipe(p) != 0) ::_exit(2);
        ::close(p[0]);
        const bool failed = ::write(p[1], "x", 1) < 0 && errno == EPIPE;
        // `yes` ends by the signal (status 128 + 13) once `head` has gone.
        auto r = support::run_process({"sh", "-c", "(yes; echo $? >&2) | head -c 1 >/dev/null"});
        th::write_file(report, std::string(failed ? "EPIPE" : "no error") + ", yes: " + r.err);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(th::read_file(report), "EPIPE, yes: 141\n");
}

#include <gtest/gtest.h>

#include "harness.hpp"

TEST(HostCli, HelpAndBareProgramShowTheCommandList) {
    th::TempDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, std::vector<std::string>{}}) {
        th::Outcome r = th::run({.args = args, .cwd = dir.path()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: vemtora [OPTIONS] COMMAND [ARGS]...\n\nOptions:\n  --help  Show this message and exit.\n", 0),
                  0u)
            << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(HostCli, UnknownCommandIsAUsageError) {
    th::TempDir dir;
    th::Outcome r = th::run({.args = {"frobnicate", "-c"}, .cwd = dir.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: vemtora [OPTIONS] COMMAND [ARGS]...\nTry 'vemtora --help' for help.\n\n"
                     "Error: No such command 'frobnicate'.\n");
}

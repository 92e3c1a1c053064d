// The entry of the test programs. SIGPIPE is ignored: a test that writes to a pipe whose
// reader has gone (a child the test has just ended) sees the write fail with EPIPE, where
// it can check it, instead of the whole program ending at once with every temporary folder
// of the run left behind. The programs that the tests start get the default back.
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

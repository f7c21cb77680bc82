// Own main: the engine runs here with no QApplication, as in the tools.

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // A peer that goes away mid-send must not end the test run.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

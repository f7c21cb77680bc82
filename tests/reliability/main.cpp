// Own main: the engine's video window needs a QApplication even headless.

#include <QApplication>
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A peer that goes away mid-send must not end the test run.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

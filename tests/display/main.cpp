#include <QApplication>
#include <gtest/gtest.h>

// The widgets under test need an application object; the offscreen platform
// lets them run without a display.
// Listing the tests runs without the test environment, so the platform is
// chosen here as well.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

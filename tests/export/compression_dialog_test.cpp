#include "app/compression_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "export/avi_writer.h"

namespace tv {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "compression_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

TEST(CompressionDialog, OffersWorkingEncodersAndKeepsTheChoice) {
    App();
    CompressorRequest req{640, 448, 24, 7};
    CCompressionDialog dlg(req, CompressorOptions{"ffv1", 0, 0});
    EXPECT_EQ(dlg.windowTitle(), "Video Compression");
    ASSERT_FALSE(dlg.GetEncoders().empty());
    EXPECT_EQ(dlg.GetOptions().codec, "ffv1");
    EXPECT_EQ(dlg.GetOptions().keyFrameInterval, 0);
    EXPECT_EQ(dlg.GetOptions().dataRateKbps, 0); // lossless: no data rate

    CCompressionDialog fresh(req, CompressorOptions{});
    EXPECT_EQ(fresh.GetOptions().codec, kDefaultVideoCodec);
}

TEST(CompressionDialog, CancelMakesTheExportReturn402AndLeaveNoFile) {
    App();
    const std::string path = "/tmp/tv_dialog_" + std::to_string(getpid()) + ".avi";
    CDialogCompressorChooser chooser;
    CAviWriter w;
    w.SetCompressorChooser(&chooser);
    QTimer::singleShot(0, [] {
        if (QWidget* d = QApplication::activeModalWidget()) {
            static_cast<QDialog*>(d)->reject();
        }
    });
    EXPECT_EQ(w.Open(path, 24, 6750, 320, 224, 300, nullptr, 25), AVI_ERR_CANCELLED);
    EXPECT_FALSE(std::filesystem::exists(path));

    // Accepting takes the listed default and opens the export.
    QTimer::singleShot(0, [] {
        if (QWidget* d = QApplication::activeModalWidget()) {
            static_cast<QDialog*>(d)->accept();
        }
    });
    EXPECT_EQ(w.Open(path, 24, 6750, 320, 224, 300, nullptr, 25), AVI_OK);
    EXPECT_EQ(chooser.GetLastChoice().codec, kDefaultVideoCodec);
    w.Close();
}

} // namespace
} // namespace tv

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/commands.h"
#include "app/evidence_dialog.h"
#include "app/viewer_dlg.h"
#include "media/stream_file.h"
#include "skin/status_panel.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class EvidenceDialog : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "evidence_dialog_tests";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) {
            new QApplication(argc, argv);
        }
        char tmpl[] = "/tmp/tv_evidence_dlg_XXXXXX";
        m_dir = mkdtemp(tmpl);
        const std::string tool =
            std::string(std::getenv("TV_BINARY_DIR")) + "/tools/qzftool/qzftool";
        ASSERT_EQ(std::system((tool + " make-sample " + m_dir +
                               "/rec.qzf --seconds 8 --channels 4 >/dev/null 2>&1")
                                  .c_str()),
                  0);
        CStreamFile f;
        f.Open(m_dir + "/rec.qzf", 0);
        m_request.source = m_dir + "/rec.qzf";
        m_request.bias = f.GetTimeZoneBias();
        m_request.recordingChannels = 0xF;
        m_request.shownChannels = 0x3;
        SYSTEMTIME t{2024, 6, 6, 1, 12, 0, 2, 0};
        m_request.fromUtc = uint32_t(LocalToBlockTime(t, m_request.bias));
        m_request.toUtc = m_request.fromUtc + 4;
        m_request.folder = m_dir + "/pkg";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static void WaitFinished(CEvidenceDialog& dlg) {
        for (int i = 0; i < 600 && !dlg.Finished(); ++i) {
            QTest::qWait(50);
        }
    }
    std::string m_dir;
    EvidenceRequest m_request;
};

TEST_F(EvidenceDialog, MakesThePackageOfTheShownChannelsOnItsOwnThread) {
    CEvidenceDialog dlg(m_request);
    EXPECT_EQ(dlg.Options().channels, 0x3u);
    QTest::mouseClick(dlg.StartButton(), Qt::LeftButton);
    EXPECT_TRUE(dlg.Running());
    WaitFinished(dlg);
    ASSERT_TRUE(dlg.Succeeded()) << dlg.SummaryText().toStdString();
    EXPECT_TRUE(fs::exists(m_request.folder + "/manifest.json"));
    EXPECT_TRUE(dlg.SummaryText().contains(QString::fromStdString(m_request.folder)));
    EXPECT_TRUE(dlg.SummaryText().contains("verify-package"));
    std::ifstream in(m_request.folder + "/manifest.json");
    const std::string manifest(std::istreambuf_iterator<char>(in), {});
    EXPECT_NE(manifest.find("\"channels\": [1, 2]"), std::string::npos);
    // The seal is there to copy, and is the manifest's own.
    ASSERT_FALSE(dlg.SealEdit()->isHidden());
    EXPECT_TRUE(dlg.SealEdit()->isReadOnly());
    EXPECT_EQ(dlg.SealEdit()->text().size(), 64);
    EXPECT_NE(manifest.find("\"seal\": \"" + dlg.SealEdit()->text().toStdString() + "\""),
              std::string::npos);
}

TEST_F(EvidenceDialog, CancelRemovesWhatWasMade) {
    CEvidenceDialog dlg(m_request);
    ASSERT_EQ(dlg.Start(), 1);
    QTest::mouseClick(dlg.CancelButton(), Qt::LeftButton);
    WaitFinished(dlg);
    ASSERT_TRUE(dlg.Finished());
    EXPECT_FALSE(dlg.Succeeded());
    EXPECT_TRUE(dlg.SummaryText().contains("cancelled")) << dlg.SummaryText().toStdString();
    EXPECT_FALSE(fs::exists(m_request.folder));
}

TEST_F(EvidenceDialog, TheWindowOffersItsMarksAndTheShownChannels) {
    CViewerDlg d;
    d.SetProfilePath(m_dir + "/cfg/tessavin-viewer.INI");
    d.SetCommandLinePath(m_request.source);
    d.SetCommandLine("tessavin-viewer");
    EvidenceRequest offered;
    int asked = 0;
    d.Prompts().exportEvidence = [&](const EvidenceRequest& r) {
        offered = r;
        ++asked;
    };
    ASSERT_EQ(d.InitDialog(), 1);
    SYSTEMTIME in{}, now{};
    for (int i = 0; i < 400 && !d.Engine().GetFrameTime(&in); ++i) {
        QTest::qWait(20);
    }
    d.OnCommand(kCommandMarkIn);
    ASSERT_TRUE(d.Engine().GetFrameTime(&in));
    for (int i = 0; i < 400; ++i) {
        QTest::qWait(20);
        if (d.Engine().GetFrameTime(&now) &&
            LocalToBlockTime(now, m_request.bias) >= LocalToBlockTime(in, m_request.bias) + 2) {
            break;
        }
    }
    d.OnCommand(kCommandMarkOut);
    EXPECT_TRUE(d.StatusPanel()->NoteText().startsWith("Mark out 2024-06-01 12:00:"));
    d.OnCommand(kCommandSplit1);
    d.OnCommand(kCommandExportEvidence);
    ASSERT_EQ(asked, 1);
    EXPECT_EQ(offered.source, m_request.source);
    EXPECT_EQ(offered.recordingChannels, 0xFu);
    EXPECT_EQ(offered.shownChannels, 0x1u);
    EXPECT_EQ(int64_t(offered.fromUtc), LocalToBlockTime(in, m_request.bias));
    EXPECT_GE(offered.toUtc, offered.fromUtc + 2);
    EXPECT_LE(offered.toUtc, offered.fromUtc + 4);
}

} // namespace
} // namespace tv

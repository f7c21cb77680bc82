// The viewer told to end by a signal ends as if its window were closed: the
// local recording is padded to whole blocks and closed, the settings are
// saved, the process exits normally.

#include "app/signal_exit.h"
#include "media/stream_file.h"
#include "viewer_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>

namespace tv {
namespace {

using namespace tv::test;

TEST_F(ViewerWithRecorder, ASignalWhileRecordingClosesAndPadsTheFile) {
    StartSim("");
    CViewerDlg& d = Make();
    Show();
    ConnectToSim(d);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
    d.MutableSettings().localRecordingPath = dir.filePath("rec").toStdString();
    d.OnCommand(kCommandStartRecording);
    ASSERT_TRUE(d.Engine().IsRecording());
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetBytesRecorded() > 20000; }));

    int received = 0;
    CSignalExit onSignal([&](int sig) {
        received = sig;
        d.CloseButtonExit();
    });
    ASSERT_TRUE(onSignal.IsInstalled());
    ASSERT_EQ(std::raise(SIGTERM), 0); // still running: the handler only noted it
    ASSERT_TRUE(WaitFor([&] { return received != 0; }));
    EXPECT_EQ(received, SIGTERM);
    EXPECT_FALSE(d.Engine().IsRecording());
    EXPECT_FALSE(d.SessionOpen());
    EXPECT_NE(ReadProfile().find("Timeout="), std::string::npos) << "settings not saved";

    const QStringList files = QDir(dir.filePath("rec")).entryList({"*.QZF"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const std::string path = dir.filePath("rec/" + files[0]).toStdString();
    const qint64 size = QFileInfo(QString::fromStdString(path)).size();
    EXPECT_GT(size, 20000);
    EXPECT_EQ(size % 4096, 0);
    CStreamFile file;
    ASSERT_EQ(file.Open(path, 0), 1);
    for (uint64_t b = 0; b < file.GetBlockCount(); ++b) {
        QzfBlockHeader h;
        EXPECT_EQ(file.ReadBlockHeaderAt(b, &h), 1) << "block " << b;
    }
}

TEST_F(Viewer, TheProgramEndsNormallyOnSigterm) {
    const QString program =
        QString::fromLocal8Bit(qgetenv("TV_BINARY_DIR")) + "/src/app/tessavin-viewer";
    if (!QFileInfo(program).isExecutable()) {
        GTEST_SKIP() << "the viewer was not built";
    }
    const std::string path = MakeSample(dir.filePath("rec.qzf"), 4);
    ASSERT_FALSE(path.empty());
    QProcess viewer;
    viewer.start(program,
                 {"--profile", QString::fromStdString(profile), QString::fromStdString(path)});
    ASSERT_TRUE(viewer.waitForStarted(10000));
    QTest::qWait(2500); // playing by now
    ASSERT_EQ(viewer.state(), QProcess::Running) << viewer.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(viewer.processId()), SIGTERM);
    ASSERT_TRUE(viewer.waitForFinished(20000));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit) << "killed by the signal";
    EXPECT_EQ(viewer.exitCode(), 0);
    EXPECT_NE(ReadProfile().find("Timeout="), std::string::npos) << "settings not saved";
}

} // namespace
} // namespace tv

namespace tv {
namespace {

using namespace tv::test;

// The disk fills while the viewer records: the user is told, with the
// reason, and the file holds whole blocks up to where the disk ran out.
TEST_F(ViewerWithRecorder, AFullDiskStopsTheRecordingAndSaysWhy) {
    StartSim("");
    CViewerDlg& d = Make();
    Show();
    ConnectToSim(d);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));

    // A folder that cannot be made: said at once, nothing recorded.
    d.MutableSettings().localRecordingPath = "/proc/no-such-folder";
    d.OnCommand(kCommandStartRecording);
    EXPECT_FALSE(d.Engine().IsRecording());
    ASSERT_EQ(messages.size(), 1u);
    messages.clear();

    // Files of this process may grow to 96 KiB from now on.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 96 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    d.MutableSettings().localRecordingPath = dir.filePath("rec").toStdString();
    d.OnCommand(kCommandStartRecording);
    ASSERT_TRUE(d.Engine().IsRecording());
    const bool told = WaitFor([&] { return !messages.empty(); }, 30000);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(told) << "the recording stopped without a word";
    EXPECT_NE(messages[0].find("Recording stopped: "), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("File too large"), std::string::npos) << messages[0];
    EXPECT_FALSE(d.Engine().IsRecording());
    EXPECT_TRUE(d.Engine().IsConnected()) << "the live view goes on";

    const QStringList files = QDir(dir.filePath("rec")).entryList({"*.QZF"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const std::string path = dir.filePath("rec/" + files[0]).toStdString();
    CStreamFile file;
    ASSERT_EQ(file.Open(path, 0), 1);
    EXPECT_GE(file.GetBlockCount(), 20u);
    for (uint64_t b = 0; b < file.GetBlockCount(); ++b) {
        QzfBlockHeader h;
        EXPECT_EQ(file.ReadBlockHeaderAt(b, &h), 1) << "block " << b;
    }
    // The user's own stop afterwards says nothing more.
    d.OnCommand(kCommandStopRecording);
    QTest::qWait(300);
    EXPECT_EQ(messages.size(), 1u);
}

} // namespace
} // namespace tv

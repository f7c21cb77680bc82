// What the main window tells the user: the session with a recorder as the
// Connect button, the menu and the status panel show it, why a login failed,
// why a source does not open, and where captures and recordings went.

#include "app/dialogs.h"
#include "skin/skin_button.h"
#include "skin/status_panel.h"
#include "viewer_fixture.h"

#include "media/qzf_block.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <QAction>
#include <QMenu>
#include <QScreen>

namespace tv {
namespace {

using namespace tv::test;

QString ConnectMenuText(CViewerDlg& d) {
    const QList<QAction*> actions = d.ContextMenu(2)->actions();
    return actions.size() > 3 ? actions[3]->text() : QString();
}

TEST_F(ViewerWithRecorder, PlayerModeAndADroppedFileEndTheSessionOnScreenToo) {
    StartSim("");
    const std::string sample = MakeSample(dir.filePath("drop.qzf"), 2);
    ASSERT_FALSE(sample.empty());
    CViewerDlg& d = Make();
    for (int way = 0; way < 2; ++way) {
        ConnectToSim(d);
        // The Login dialog is asked every time: the last session is over.
        ASSERT_EQ(logins.size(), static_cast<size_t>(way + 1));
        ASSERT_TRUE(d.SessionOpen());
        ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
        if (way == 0) {
            d.OnCommand(kCommandPlayerMode);
        } else {
            d.OpenDroppedFiles({QString::fromStdString(sample)});
        }
        EXPECT_EQ(d.Engine().IsConnected(), 0) << way;
        EXPECT_FALSE(d.SessionOpen()) << way;
        EXPECT_EQ(d.Button(kCommandConnect)->BitmapId(), 306) << way;
        EXPECT_EQ(d.Button(kCommandConnect)->toolTip(), QStringLiteral("Connect")) << way;
        EXPECT_EQ(ConnectMenuText(d), QStringLiteral("&Connect...")) << way;
    }
}

TEST_F(Viewer, ClientModeShowsTheNetworkStateBeforeAnyConnection) {
    CViewerDlg& d = Make();
    Show();
    QTest::qWait(400); // the player-mode panel is on screen
    d.OnCommand(kCommandClientMode);
    QTest::qWait(400);
    CStatusPanel* panel = d.StatusPanel();
    const QImage shown = d.screen()
                             ->grabWindow(d.winId())
                             .toImage()
                             .copy(panel->geometry())
                             .convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(panel->GetPanelMode(), 2);
    EXPECT_EQ(panel->GetConnectionState(), 0);
    EXPECT_TRUE(shown == panel->RenderImage()) << "the panel still shows the player state";
}

TEST_F(ViewerWithRecorder, KeysTypedIntoTheLoginDialogNeverReachTheRecorder) {
    StartSim("");
    CViewerApp app; // the filter that notes the keys
    CViewerDlg& d = Make();
    Show();
    d.Prompts().login = [&](LoginValues* v) {
        CLoginDlg login(&d);
        v->ipAddress = "127.0.0.1";
        login.SetValues(*v);
        login.show();
        login.PortBox()->clear();
        QTest::keyClicks(login.PortBox(), QString::number(sim->GetPort()));
        QTest::keyClick(login.PortBox(), Qt::Key_Return);
        return login.GetValues(v);
    };
    d.SetViewMode(2);
    d.OnCommand(kCommandConnect);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
    d.OnTimer(5);
    EXPECT_EQ(CViewerApp::PendingKey(), 0);
    QTest::qWait(300);
    EXPECT_EQ(sim->GetStats().keys, 0u);
    // A key typed into the window itself still goes out.
    QTest::keyClick(&d, Qt::Key_Home);
    d.OnTimer(5);
    EXPECT_TRUE(WaitFor([&] { return sim->GetStats().keys == 1; }));
}

TEST_F(ViewerWithRecorder, EachFailedLoginSaysItsOwnReason) {
    CViewerDlg& d = Make();
    d.Engine().SetTimeout(1000);
    // A failure that leaves a text behind before any thread runs.
    d.MutableSettings().ddnsIp = "not an address";
    LoginValues dynamic;
    dynamic.dynamicIp = 1;
    dynamic.recorderName = "DVR000";
    loginAnswer.assign(1, dynamic);
    d.SetViewMode(2);
    d.OnCommand(kCommandConnect);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Invalid IP address");
    const struct {
        SimLoginReply reply;
        int reason;
        const char* text;
    } cases[] = {
        {SimLoginReply::None, 0, "No response from server."},
        {SimLoginReply::Refuse, 1, "Too many client."},
        {SimLoginReply::Refuse4, 3, "Bad network"},
    };
    for (const auto& c : cases) {
        if (sim) {
            sim->Stop();
        }
        DvrSimOptions o;
        o.loginReply = c.reply;
        o.refuseReason = c.reason;
        o.stream = false;
        sim = std::make_unique<CDvrSim>(o);
        ASSERT_EQ(sim->Start(), 1) << sim->GetError();
        const size_t before = messages.size();
        ConnectToSim(d);
        ASSERT_TRUE(WaitFor([&] { return messages.size() > before; })) << c.text;
        EXPECT_EQ(messages.back(), c.text);
        EXPECT_FALSE(d.SessionOpen());
    }
}

TEST_F(Viewer, SourcesThatCannotPlaySayOpenErrorAtOnce) {
    const std::string sample = MakeSample(dir.filePath("ok.qzf"), 2);
    ASSERT_FALSE(sample.empty());
    QFile in(QString::fromStdString(sample));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray swapped = in.readAll();
    SwapWords(reinterpret_cast<uint8_t*>(swapped.data()), static_cast<size_t>(swapped.size()));
    QFile image(dir.filePath("disk.img"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly));
    image.write(swapped);
    image.close();
    QFile text(dir.filePath("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(65536, 'x'));
    text.close();
    CViewerDlg& d = Make();
    for (const QString& bad : {dir.filePath("missing.qzf"), dir.path(), dir.filePath("notes.txt"),
                               dir.filePath("disk.img")}) {
        messages.clear();
        EXPECT_EQ(d.OpenSource(bad.toStdString(), 0), 0) << bad.toStdString();
        ASSERT_EQ(messages.size(), 1u) << bad.toStdString();
        EXPECT_EQ(messages[0].rfind("Open Error", 0), 0u) << messages[0];
        EXPECT_EQ(d.Engine().IsStreamOpen(), 0);
    }
    messages.clear();
    EXPECT_EQ(d.OpenSource(dir.filePath("disk.img").toStdString(), 1), 1);
    EXPECT_EQ(d.OpenSource(sample, 0), 1);
    EXPECT_TRUE(messages.empty()) << messages[0];
}

TEST_F(Viewer, ARecordingCutShortSaysSoWhenPlayReachesTheCut) {
    const std::string whole = MakeSample(dir.filePath("whole.qzf"), 2);
    ASSERT_FALSE(whole.empty());
    CViewerDlg& d = Make(whole);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPlayState() == 6; }));
    QTest::qWait(300);
    EXPECT_FALSE(d.StatusPanel()->NoteText().contains("cut"))
        << d.StatusPanel()->NoteText().toStdString();
    const qint64 size = QFileInfo(QString::fromStdString(whole)).size();
    // Into the last blocks: a partial block, then a cut at a block boundary.
    for (const qint64 cut : {size - 4096 - 1000, size - 8192}) {
        const QString path = dir.filePath(QString("cut%1.qzf").arg(cut));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(whole), path));
        ASSERT_TRUE(QFile::resize(path, cut));
        ASSERT_EQ(d.OpenSource(path.toStdString(), 0), 1);
        const QString said =
            cut % 4096 != 0
                ? QString("Cut tail at offset %1 (%2 bytes)").arg(cut - cut % 4096).arg(cut % 4096)
                : QString("Cut mid-packet at offset ");
        EXPECT_TRUE(WaitFor([&] { return d.StatusPanel()->NoteText().startsWith(said); }))
            << d.StatusPanel()->NoteText().toStdString();
        // The whole finding in the words of qzftool verify.
        EXPECT_TRUE(d.StatusPanel()->toolTip().startsWith(
            cut % 4096 != 0 ? QString("Recording cut short: cut tail at offset %1: %2 bytes after "
                                      "the last whole block; the packet at offset ")
                                  .arg(cut - cut % 4096)
                                  .arg(cut % 4096)
                            : QString("Recording cut short: the packet at offset ")))
            << d.StatusPanel()->toolTip().toStdString();
    }
}

TEST_F(ViewerWithRecorder, ALostRecorderIsSaidOverTheLastPicturesUntilTheyAreLiveAgain) {
    StartSim("");
    CViewerDlg& d = Make();
    Show();
    ConnectToSim(d);
    CVideoWnd* wnd = d.GetVideoWindow();
    ASSERT_TRUE(WaitFor(
        [&] { return d.Engine().GetNetworkState() == kNetLoggedIn && wnd->HasPicture(0) != 0; }));
    auto brightness = [&] {
        const QImage shown = wnd->grab().toImage();
        double sum = 0;
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                sum += qGray(shown.pixel(x, y));
        return sum;
    };
    const double live = brightness();
    const uint16_t port = sim->GetPort();
    sim->Stop();
    ASSERT_TRUE(WaitFor([&] { return !wnd->GetOfflineText().empty(); }));
    EXPECT_LT(brightness(), live * 0.6);
    EXPECT_EQ(wnd->HasPicture(0), 1); // the last picture is kept, dimmed
    DvrSimOptions o;
    o.port = port;
    o.channels = 1;
    o.fps = 5;
    o.audio = false;
    sim = std::make_unique<CDvrSim>(o);
    ASSERT_EQ(sim->Start(), 1) << sim->GetError();
    EXPECT_TRUE(WaitFor([&] { return wnd->GetOfflineText().empty(); }));
    // Ended by the recorder, the session says why over the pictures.
    sim->Stop();
    o.disconnectAfterMs = 500;
    sim = std::make_unique<CDvrSim>(o);
    ASSERT_EQ(sim->Start(), 1) << sim->GetError();
    ASSERT_TRUE(WaitFor([&] { return !messages.empty(); }));
    EXPECT_NE(wnd->GetOfflineText().find(messages.back()), std::string::npos);
}

TEST(OptionsDialogs, AMissingFolderIsCreatedWhenTheUserAgreesOrRefused) {
    EnsureApp();
    QTemporaryDir tmp;
    COptionsDlg options;
    CNetOptionsDlg net;
    net.SetValues(ViewerSettings()); // numbers in its integer boxes
    const struct {
        QDialog* dlg;
        QLineEdit* box;
    } cases[] = {{&options, options.CaptureFolderBox()}, {&net, net.RecordingFolderBox()}};
    int n = 0;
    for (const auto& c : cases) {
        int asked = 0;
        int answer = 0;
        FolderPrompts p;
        p.warn = [](const QString&) {};
        p.ask = [&](const QString&) {
            ++asked;
            return answer;
        };
        options.SetFolderPrompts(p);
        net.SetFolderPrompts(p);
        const QString folder = tmp.filePath(QString("parent%1/folder").arg(++n));
        c.box->setText(folder);
        c.dlg->setResult(0);
        c.dlg->accept();
        EXPECT_EQ(asked, 1);
        EXPECT_NE(c.dlg->result(), QDialog::Accepted); // refused: the dialog stays open
        EXPECT_FALSE(QFileInfo::exists(folder));
        answer = 1;
        c.dlg->accept();
        EXPECT_EQ(c.dlg->result(), QDialog::Accepted);
        EXPECT_TRUE(QFileInfo(folder).isDir());
    }
}

TEST_F(Viewer, AStillCaptureSaysWhereItWentOrWhyNot) {
    const std::string path = MakeSample(dir.filePath("still.qzf"), 10);
    CViewerDlg& d = Make(path);
    Show();
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPicturesShown() > 4; }));
    d.MutableSettings().capturePath = dir.filePath("caps").toStdString();
    d.OnCommand(kCommandStillCapture);
    const QStringList files = QDir(dir.filePath("caps")).entryList({"*.bmp"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(d.StatusPanel()->NoteText().endsWith(dir.filePath("caps/" + files[0])))
        << d.StatusPanel()->NoteText().toStdString();
    EXPECT_TRUE(messages.empty());
    d.MutableSettings().capturePath = dir.filePath("no/such").toStdString();
    d.OnCommand(kCommandStillCapture);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("no/such"), std::string::npos) << messages[0];
}

TEST_F(ViewerWithRecorder, ALocalRecordingSaysWhereItGoes) {
    StartSim("");
    CViewerDlg& d = Make();
    ConnectToSim(d);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
    d.MutableSettings().localRecordingPath = dir.filePath("rec").toStdString();
    d.OnCommand(kCommandStartRecording);
    ASSERT_TRUE(d.Engine().IsRecording());
    const QStringList files = QDir(dir.filePath("rec")).entryList({"*.QZF"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(d.StatusPanel()->NoteText().endsWith(dir.filePath("rec/" + files[0])))
        << d.StatusPanel()->NoteText().toStdString();
    d.OnCommand(kCommandStopRecording);
    EXPECT_EQ(d.StatusPanel()->NoteText().toStdString(),
              ("Recorded to " + dir.filePath("rec/" + files[0])).toStdString());
    // A recording that ends with its session says so too.
    d.MutableSettings().localRecordingPath = dir.filePath("rec2").toStdString();
    d.OnCommand(kCommandStartRecording);
    ASSERT_TRUE(d.Engine().IsRecording());
    d.OnCommand(kCommandConnect); // disconnects
    d.OnTimer(4);
    const QStringList second = QDir(dir.filePath("rec2")).entryList({"*.QZF"}, QDir::Files);
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(d.StatusPanel()->NoteText().toStdString(),
              ("Recorded to " + dir.filePath("rec2/" + second[0])).toStdString());
    EXPECT_TRUE(messages.empty());
}

TEST_F(ViewerWithRecorder, AnAddressThatDoesNotResolveIsSaidAndConnectsNowhere) {
    StartSim("");
    CViewerDlg& d = Make();
    d.SetViewMode(2);
    for (const char* host : {"no-such-host.invalid", "0.0.0.0"}) {
        messages.clear();
        LoginValues v;
        v.ipAddress = host;
        v.port = sim->GetPort();
        loginAnswer.assign(1, v);
        d.OnCommand(kCommandConnect);
        // Not the recorder on this machine, which "any address" reaches here.
        QTest::qWait(300);
        EXPECT_FALSE(d.SessionOpen()) << host;
        EXPECT_EQ(d.Engine().IsConnected(), 0) << host;
        ASSERT_EQ(messages.size(), 1u) << host;
        EXPECT_NE(messages[0].find(host), std::string::npos) << messages[0];
    }
    EXPECT_EQ(sim->GetStats().logins, 0u);
}

TEST_F(Viewer, TheDynamicIpServiceIsChosenInNetworkOptions) {
    CNetOptionsDlg net;
    net.show();
    QCheckBox* box = nullptr;
    for (QCheckBox* c : net.findChildren<QCheckBox*>()) {
        if (c->text() == QStringLiteral("Use dynamic ip service")) {
            box = c;
        }
    }
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    ViewerSettings v;
    v.ddnsIp = "127.0.0.1";
    v.ddnsPort = 9001;
    net.SetValues(v);
    box->setChecked(true);
    ViewerSettings back;
    ASSERT_EQ(net.GetValues(&back), 1);
    EXPECT_EQ(back.dynamicIp, 1);
    EXPECT_EQ(back.ddnsIp, "127.0.0.1");
    EXPECT_EQ(back.ddnsPort, 9001);
    // The choice reaches the Login dialog.
    CViewerDlg& d = Make();
    d.Prompts().netOptions = [](ViewerSettings* s) {
        s->dynamicIp = 1;
        return 1;
    };
    d.SetViewMode(2);
    d.OnCommand(kCommandNetOptions);
    d.OnCommand(kCommandConnect);
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].dynamicIp, 1);
}

} // namespace
} // namespace tv

// The main window under test: one that asks the user nothing (every prompt
// is answered by the test), a settings profile of its own, and, for the
// client-mode tests, an in-process recorder simulator.
#pragma once

#include "app/commands.h"
#include "app/viewer_app.h"
#include "app/viewer_dlg.h"
#include "app_test_util.h"
#include "dvrsim/dvr_sim.h"
#include "export/compressor_chooser.h"
#include "media/block_writer.h"
#include "platform/notifier.h"
#include "skin/profile.h"
#include "synth/sample_recording.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tv::test {

// Waits, running the event loop, until the condition holds; generous on a
// loaded machine.
template <typename F> bool WaitFor(F condition, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

inline std::string MakeSample(const QString& path, double seconds, int channels = 4) {
    CQzfBlockWriter writer;
    if (!writer.OpenFile(path.toStdString())) {
        return {};
    }
    synth::SampleOptions options;
    options.seconds = seconds;
    options.channels = channels;
    synth::SampleSummary summary;
    std::string error;
    if (!synth::WriteSampleRecording(options, writer, &summary, &error)) {
        return {};
    }
    writer.Close();
    return path.toStdString();
}

class Viewer : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        ASSERT_TRUE(dir.isValid());
        profile = dir.filePath("cfg/tessavin-viewer.INI").toStdString();
        messages.clear();
        SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { messages.push_back(text); });
        CViewerApp::SetPendingKey(0);
    }
    void TearDown() override {
        dlg.reset();
        SetMessageBoxHandler(nullptr);
    }
    // A main window that asks the user nothing: every prompt cancels.
    CViewerDlg& Make(const std::string& path = {}, const std::string& line = "tessavin-viewer") {
        dlg = std::make_unique<CViewerDlg>();
        dlg->SetProfilePath(profile);
        dlg->SetCommandLinePath(path);
        dlg->SetCommandLine(line);
        ViewerPrompts& p = dlg->Prompts();
        p.openFile = [] { return std::string(); };
        p.openDisk = [] { return std::string(); };
        p.openDiskImage = [] { return std::string(); };
        p.saveAvi = [](const std::string&) { return std::string(); };
        p.login = [this](LoginValues* v) {
            logins.push_back(*v);
            if (loginAnswer.empty()) {
                return 0;
            }
            *v = loginAnswer.front();
            return 1;
        };
        p.askYesNo = [](const QString&) { return 0; };
        if (!realGoToTime) {
            p.goToTime = [](SYSTEMTIME*) { return 0; };
        }
        p.options = [](ViewerSettings*) { return 0; };
        p.netOptions = [](ViewerSettings*) { return 0; };
        p.about = [] {};
        p.compressor = &compressor;
        EXPECT_EQ(dlg->InitDialog(), 1);
        return *dlg;
    }
    void Show() {
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    std::string ReadProfile() {
        QFile f(QString::fromStdString(profile));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    void SendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
                   Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }

    QTemporaryDir dir;
    std::string profile;
    std::unique_ptr<CViewerDlg> dlg;
    std::vector<std::string> messages;
    std::vector<LoginValues> logins;
    std::vector<LoginValues> loginAnswer;
    CNamedCompressorChooser compressor;
    // The window's own Go to Time dialog instead of an answer.
    bool realGoToTime = false;
};

class ViewerWithRecorder : public Viewer {
protected:
    void StartSim(const std::string& password, int disconnectAfterMs = -1) {
        DvrSimOptions o;
        o.password = password;
        o.disconnectAfterMs = disconnectAfterMs;
        o.channels = 1;
        o.fps = 5;
        o.audio = false;
        sim = std::make_unique<CDvrSim>(o);
        ASSERT_EQ(sim->Start(), 1) << sim->GetError();
    }
    // Client mode, the login prompt answered with the simulator's address
    // on this machine, and Connect pressed.
    void ConnectToSim(CViewerDlg& d, const std::string& password = "") {
        d.SetViewMode(2);
        LoginValues v;
        v.ipAddress = "127.0.0.1";
        v.port = sim->GetPort();
        v.password = password;
        loginAnswer.assign(1, v);
        d.OnCommand(kCommandConnect);
    }
    void TearDown() override {
        dlg.reset();
        if (sim) {
            sim->Stop();
        }
        Viewer::TearDown();
    }
    std::unique_ptr<CDvrSim> sim;
};

} // namespace tv::test

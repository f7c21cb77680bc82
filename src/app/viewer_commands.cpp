// The main window's commands: what each button, menu item and accelerator
// does, and when it is enabled or checked.
#include "app/app_message.h"
#include "app/capture_names.h"
#include "app/commands.h"
#include "app/compression_dialog.h"
#include "app/control_layout.h"
#include "app/dialogs.h"
#include "app/disk_select_dlg.h"
#include "app/evidence_dialog.h"
#include "app/viewer_dlg.h"
#include "export/frame_rate.h"
#include "media/qzf_block.h"
#include "platform/file_identity.h"
#include "platform/notifier.h"
#include "skin/skin_button.h"
#include "skin/skin_resources.h"
#include "skin/skin_slider.h"
#include "skin/status_panel.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>

namespace tv {

namespace {

struct MenuItem {
    int id; // 0 separator, -1 submenu start, -2 submenu end
    const char* text;
};

// Menu resource 196: popup 0 for player mode, popup 1 for client mode.
const MenuItem kPlayerMenu[] = {
    {kCommandPlayerMode, "Player(&P)"},
    {kCommandClientMode, "Client(&L)"},
    {0, nullptr},
    {kCommandOpen, "&Open File...\tCtrl+O"},
    {kCommandOpenDisk, "Open &Disk..."},
    {kCommandOpenDiskImage, "Open Disk &Image..."},
    {kCommandClose, "Close"},
    {kCommandGoToTime, "&Go to Time...\tCtrl+G"},
    {kCommandMarkIn, "Mark &In\tCtrl+Shift+I"},
    {kCommandMarkOut, "Mark O&ut\tCtrl+Shift+O"},
    {kCommandExportEvidence, "Export &Evidence...\tCtrl+E"},
    {kCommandTimeline, "Time&line\tCtrl+T"},
    {kCommandNextEvent, "Next &Event\tPgDown"},
    {kCommandPrevEvent, "Pre&vious Event\tPgUp"},
    {0, nullptr},
    {kCommandShowTime, "Show &Time"},
    {kCommandAlwaysOnTop, "Always on top"},
    {0, nullptr},
    {-1, "Playback"},
    {kCommandPlay, "Play"},
    {kCommandPlayReverse, "Play Reverse"},
    {kCommandPause, "Pause"},
    {kCommandFastForward, "Fast Forward"},
    {kCommandFastRewind, "Fast Rewind"},
    {kCommandNextFrame, "Next Frame"},
    {kCommandPrevFrame, "Previous Frame"},
    {-2, nullptr},
    {0, nullptr},
    {kCommandNormal, "Normal"},
    {kCommandMaximize, "Maximize"},
    {-1, "Aspect Ratio"},
    {kCommandSize448, "640 x 448"},
    {kCommandSize544, "640 x 544"},
    {-2, nullptr},
    {-1, "Split Mode"},
    {kCommandSplit1, "Split 1"},
    {kCommandSplit4, "Split 4"},
    {kCommandSplit9, "Split 9"},
    {-2, nullptr},
    {0, nullptr},
    {kCommandOptions, "O&ptions..."},
    {kCommandKeyHelp, "&Keys..."},
    {kCommandAbout, "&About Viewer\tF10"},
    {0, nullptr},
    {kCommandExit, "E&xit\tAlt+F4"},
};

const MenuItem kClientMenu[] = {
    {kCommandPlayerMode, "Player(&P)"},
    {kCommandClientMode, "Client(&L)"},
    {0, nullptr},
    {kCommandConnect, "&Connect..."},
    {0, nullptr},
    {-1, "Dvr Control"},
    {32848, "Pause"},
    {32849, "Rewind"},
    {32850, "Play"},
    {32851, "Fast Forward"},
    {32852, "Stop"},
    {32853, "Record"},
    {0, nullptr},
    {32855, "Channel 1"},
    {32856, "Channel 5"},
    {32857, "Split 4"},
    {32858, "Split 4"},
    {32854, "Split 9"},
    {0, nullptr},
    {32859, "Menu"},
    {32860, "Up"},
    {32861, "Down"},
    {32862, "Select"},
    {-2, nullptr},
    {-1, "Local Recording"},
    {kCommandStartRecording, "Start Local Recording"},
    {kCommandStopRecording, "Stop Local Recording"},
    {-2, nullptr},
    {0, nullptr},
    {kCommandAlwaysOnTop, "Always on top"},
    {kCommandNormal, "Normal"},
    {kCommandMaximize, "Maximize"},
    {-1, "Aspect Ratio"},
    {kCommandSize448, "640 x 448"},
    {kCommandSize544, "640 x 544"},
    {-2, nullptr},
    {0, nullptr},
    {kCommandNetOptions, "O&ptions..."},
    {kCommandAbout, "&About Viewer\tF10"},
    {0, nullptr},
    {kCommandExit, "E&xit\tAlt+F4"},
};

bool IsCheckable(int id) {
    switch (id) {
    case kCommandPlayerMode:
    case kCommandClientMode:
    case kCommandShowTime:
    case kCommandAlwaysOnTop:
    case kCommandNormal:
    case kCommandMaximize:
    case kCommandSize448:
    case kCommandSize544:
    case kCommandTimeline:
        return true;
    default:
        return false;
    }
}

bool IsPlaybackCommand(int id) {
    switch (id) {
    case kCommandPlay:
    case kCommandPause:
    case kCommandFastForward:
    case kCommandFastRewind:
    case kCommandPlayReverse:
    case kCommandNextFrame:
    case kCommandPrevFrame:
    case kCommandGoToTime:
    case kCommandMarkIn:
    case kCommandMarkOut:
    case kCommandExportEvidence:
        return true;
    default:
        return false;
    }
}

// Accelerator resource 284, with Ctrl+G for the time search.
const struct {
    const char* keys;
    int id;
} kAccelerators[] = {
    {"Ctrl+C", kCommandClose},
    {"Ctrl+F", kCommandNormal},
    {"Ctrl+N", kCommandNextFrame},
    {"Ctrl+O", kCommandOpen},
    {"Ctrl+V", kCommandPrevFrame},
    {"Ctrl+P", kCommandPause},
    {"F10", kCommandAbout},
    {"Ctrl+G", kCommandGoToTime},
    {"Ctrl+E", kCommandExportEvidence},
    {"Ctrl+Shift+I", kCommandMarkIn},
    {"Ctrl+Shift+O", kCommandMarkOut},
};

} // namespace

void CViewerDlg::CreateMenus() {
    const MenuItem* tables[2] = {kPlayerMenu, kClientMenu};
    const size_t sizes[2] = {std::size(kPlayerMenu), std::size(kClientMenu)};
    for (int m = 0; m < 2; ++m) {
        m_menus[m] = std::make_unique<QMenu>();
        QMenu* current = m_menus[m].get();
        for (size_t i = 0; i < sizes[m]; ++i) {
            const MenuItem& item = tables[m][i];
            if (item.id == 0) {
                current->addSeparator();
            } else if (item.id == -1) {
                current = current->addMenu(QString::fromLatin1(item.text));
            } else if (item.id == -2) {
                current = m_menus[m].get();
            } else {
                QAction* action = current->addAction(QString::fromLatin1(item.text));
                action->setCheckable(IsCheckable(item.id));
                const int id = item.id;
                connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
                m_actions[m][id] = action;
                if (id == kCommandConnect) {
                    m_connectAction = action;
                }
            }
        }
        connect(m_menus[m].get(), &QMenu::aboutToShow, this, [this] { UpdateCommandUi(); });
    }
}

void CViewerDlg::CreateAccelerators() {
    for (const auto& a : kAccelerators) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(a.keys)), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = a.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] {
            if (IsCommandEnabled(id)) {
                OnCommand(id);
            }
        });
        m_accelerators.push_back(shortcut);
    }
    // The menu's way in from the keyboard; in client mode the right button
    // on the video may be the recorder's.
    for (const char* keys : {"Shift+F10", "Menu"}) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this,
                [this] { OpenContextMenu(KeyboardMenuPoint()); });
        m_accelerators.push_back(shortcut);
    }
}

bool CViewerDlg::IsCommandEnabled(int id) {
    if (IsReviewCommand(id)) {
        return IsReviewCommandEnabled(id);
    }
    if (IsPlaybackCommand(id)) {
        return m_engine.GetPlayState() != 0;
    }
    if (id == kCommandClose) {
        return m_engine.IsStreamOpen() != 0;
    }
    if (id == kCommandStartRecording) {
        return m_engine.IsConnected() && !m_engine.IsRecording();
    }
    if (id == kCommandStopRecording) {
        return m_engine.IsRecording() != 0;
    }
    const ButtonInfo* info = FindButton(id);
    if (info && info->remoteKey != 0) {
        return m_engine.IsConnected() != 0;
    }
    return true;
}

bool CViewerDlg::IsCommandChecked(int id) {
    switch (id) {
    case kCommandPlayerMode:
        return m_engine.GetMode() == kEngineModeLocal;
    case kCommandClientMode:
        return m_engine.GetMode() != kEngineModeLocal;
    case kCommandShowTime:
        return m_engine.GetShowTime() != 0;
    case kCommandAlwaysOnTop:
        return m_settings.alwaysOnTop != 0;
    case kCommandNormal:
        return m_normal;
    case kCommandMaximize:
        return m_maximized;
    case kCommandSize448:
        return m_videoWidth == 640 && m_videoHeight == 448;
    case kCommandSize544:
        return m_videoWidth == 640 && m_videoHeight == 544;
    case kCommandMute:
        return m_engine.GetMute() != 0;
    case kCommandTimeline:
        return m_showTimeline;
    default:
        return false;
    }
}

void CViewerDlg::UpdateCommandUi() {
    for (auto& actions : m_actions) {
        for (auto& [id, action] : actions) {
            action->setEnabled(IsCommandEnabled(id));
            if (action->isCheckable()) {
                action->setChecked(IsCommandChecked(id));
            }
        }
    }
    if (m_connectAction) {
        m_connectAction->setText(m_sessionOpen ? QStringLiteral("Disconnect")
                                               : QStringLiteral("&Connect..."));
    }
    for (auto& [id, button] : m_buttons) {
        const bool enabled = IsCommandEnabled(id);
        if (button->isEnabled() != enabled) {
            button->setEnabled(enabled);
        }
        if (id == kCommandPlayerMode || id == kCommandClientMode || id == kCommandMute) {
            const int check = IsCommandChecked(id) ? 1 : 0;
            if (button->GetCheck() != check) {
                button->SetCheck(check);
            }
        }
    }
}

void CViewerDlg::OpenWithPrompt(const std::function<std::string()>& prompt, int diskMode) {
    if (!prompt) {
        return;
    }
    const std::string path = prompt();
    if (!path.empty()) {
        OpenSource(path, diskMode);
    }
}

void CViewerDlg::OnCommand(int id) {
    const ButtonInfo* info = FindButton(id);
    if (info && info->remoteKey != 0) {
        if (m_engine.IsConnected()) {
            m_engine.SendRemoteKey(info->remoteKey);
        }
        return;
    }
    if (IsPlaybackCommand(id) && m_engine.GetPlayState() == 0) {
        UpdateCommandUi();
        return;
    }
    switch (id) {
    case kCommandPlay:
        m_engine.Play(1.0);
        break;
    case kCommandPlayReverse:
        m_engine.PlayBackward(1.0);
        break;
    case kCommandPause:
        m_engine.Pause();
        break;
    case kCommandFastForward:
        m_engine.FastForward();
        break;
    case kCommandFastRewind:
        m_engine.FastBackward();
        break;
    case kCommandNextFrame:
        m_engine.StepForward();
        break;
    case kCommandPrevFrame:
        m_engine.StepBackward();
        break;
    case kCommandGoToTime:
        GoToTime();
        break;
    case kCommandExportEvidence:
    case kCommandMarkIn:
    case kCommandMarkOut:
        RunEvidenceCommand(*this, id, m_evidenceMarks);
        break;
    case kCommandOpen:
        OpenWithPrompt(m_prompts.openFile, kFileMode);
        break;
    case kCommandOpenDisk:
        OpenWithPrompt(m_prompts.openDisk, kDiskMode);
        break;
    case kCommandOpenDiskImage:
        OpenWithPrompt(m_prompts.openDiskImage, kDiskMode);
        break;
    case kCommandClose:
        if (m_engine.IsStreamOpen()) {
            CloseSource();
        }
        break;
    case kCommandSplit1:
        m_engine.SetSplit(1, -1);
        break;
    case kCommandSplit4:
        m_engine.SetSplit(4, -1);
        break;
    case kCommandSplit9:
        m_engine.SetSplit(9, -1);
        break;
    case kCommandSplit16:
        m_engine.SetSplit(16, -1);
        break;
    case kCommandMute:
        m_engine.SetMute(m_engine.GetMute() ? 0 : 1);
        Button(kCommandMute)->SetCheck(m_engine.GetMute());
        break;
    case kCommandShowTime:
        m_engine.SetShowTime(m_engine.GetShowTime() ? 0 : 1);
        break;
    case kCommandPlayerMode:
        SetViewMode(1);
        break;
    case kCommandClientMode:
        SetViewMode(2);
        break;
    case kCommandMinimize:
        showMinimized();
        break;
    case kCommandNormal:
        m_normal = true;
        m_maximized = false;
        showNormal();
        break;
    case kCommandMaximize:
        m_maximized = true;
        m_normal = false;
        showMaximized();
        break;
    case kCommandAlwaysOnTop:
        m_settings.alwaysOnTop = m_settings.alwaysOnTop ? 0 : 1;
        ApplyTopmost();
        break;
    case kCommandSize448:
        Layout(true, 640, 448);
        break;
    case kCommandSize544:
        Layout(true, 640, 544);
        break;
    case kCommandConnect:
        Connect();
        break;
    case kCommandStartRecording:
        StartLocalRecording();
        break;
    case kCommandStopRecording:
        StopLocalRecording();
        break;
    case kCommandStillCapture:
        StillCapture();
        break;
    case kCommandSaveAvi:
        SaveAvi();
        break;
    case kCommandOptions:
        Options();
        break;
    case kCommandNetOptions:
        NetOptions();
        break;
    case kCommandAbout:
        if (m_prompts.about) {
            m_prompts.about();
        }
        break;
    case kCommandExit:
        QuitOnRequest(&CViewerDlg::ExitViewer);
        return;
    case kCommandCloseButton:
        QuitOnRequest(&CViewerDlg::CloseButtonExit);
        return;
    default:
        if (IsReviewCommand(id)) {
            ReviewCommand(id);
        }
        break;
    }
    UpdateCommandUi();
}

void CViewerDlg::SaveAvi() {
    // Stopping comes first: a capture outlives the source or the session it
    // began with, and its file is finished only here.
    if (m_aviRunning) {
        StopAviCapture();
        return;
    }
    const int netState = m_engine.GetNetworkState();
    if (m_engine.GetPlayState() == 0 && netState != 3 && netState != 6) {
        return;
    }
    m_engine.Pause();
    m_saveDialogOpen = true;
    if (m_viewMode == kEngineModeNetwork && m_prompts.askYesNo) {
        m_lowSpeedYes = m_prompts.askYesNo(LoadResString(32886)) != 0;
    }
    const std::string path = m_prompts.saveAvi ? m_prompts.saveAvi(m_aviPath) : std::string();
    if (path.empty()) {
        m_engine.Play(1.0);
        m_saveDialogOpen = false;
        return;
    }
    // The writer truncates its file: it must never be a recording the viewer
    // has open or is writing.
    const std::string recording = InputOverwrittenBy(
        path, {m_engine.IsStreamOpen() ? m_engine.GetStreamPath() : std::string(),
               m_localRecording ? m_localRecordingFile : std::string()});
    if (!recording.empty()) {
        ShowMessageBox("The AVI file would overwrite the recording " + recording +
                       "; choose another file.");
        m_engine.Play(1.0);
        m_saveDialogOpen = false;
        return;
    }
    m_aviPath = path;
    // The capture frame is the picture with its two fields.
    int pictureWidth = 640;
    int fieldHeight = 224;
    if (CVideoWnd* wnd = GetVideoWindow()) {
        wnd->GetPictureSize(&pictureWidth, &fieldHeight);
    }
    const bool lines272 = fieldHeight == 272;
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = pictureWidth;
    header.biHeight = 2 * fieldHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = 0;
    header.biSizeImage = static_cast<uint32_t>(3 * header.biWidth * header.biHeight);
    const int rate = m_viewMode == kEngineModeLocal
                         ? PlayerExportFrameRate(lines272)
                         : ClientExportFrameRate(lines272, m_lowSpeedYes);
    CAviWriter* writer = m_engine.GetAviWriter();
    writer->SetCompressorChooser(m_prompts.compressor);
    writer->Open(path, 24, 6750, header.biWidth, header.biHeight, 300, &header, rate);
    m_engine.Play(1.0);
    if (writer->IsOpen()) {
        m_aviRunning = true;
        // The presenter composes a local export through its surfaces and
        // switches them on for it; the user's choice is given back at the end.
        m_userDirectDraw = m_engine.GetUseDirectDraw();
        m_engine.SetExport(1, m_lowSpeedYes ? kExportPerTick : kExportPerPicture);
        GetVideoWindow()->SetExportMode(1);
        CSkinButton* b = Button(kCommandSaveAvi);
        b->SetImage(kBmpAviActive, true);
        b->SetTooltip(kTipStopAvi);
        b->update();
    }
    m_saveDialogOpen = false;
}

void CViewerDlg::StopAviCapture() {
    m_aviRunning = false;
    GetVideoWindow()->SetExportMode(0);
    m_engine.SetExport(0, 0);
    m_lowSpeedYes = false;
    if (CSkinButton* b = Button(kCommandSaveAvi)) {
        b->SetImage(kBmpAviIdle, true);
        b->SetTooltip(kTipSaveAvi);
        b->update();
    }
    m_engine.GetAviWriter()->Close();
    if (m_engine.GetUseDirectDraw() != m_userDirectDraw) {
        m_engine.SetUseDirectDraw(m_userDirectDraw);
    }
}

int CViewerDlg::UserDirectDraw() {
    return m_aviRunning ? m_userDirectDraw : m_engine.GetUseDirectDraw();
}

void CViewerDlg::SetUserDirectDraw(int on) {
    if (m_aviRunning) {
        m_userDirectDraw = on;
    }
    m_engine.SetUseDirectDraw(on);
}

void CViewerDlg::ResetConnectButton() {
    CSkinButton* b = Button(kCommandConnect);
    b->SetImage(kBmpConnectIdle, true);
    b->SetTooltip(kTipConnect);
    b->update();
}

void CViewerDlg::ForgetSession() {
    if (!m_sessionOpen) {
        return;
    }
    m_sessionOpen = false;
    m_wasLive = false;
    ResetConnectButton();
    m_status->update();
}

void CViewerDlg::Connect() {
    if (m_sessionOpen || m_engine.IsConnected()) {
        m_engine.Disconnect();
        if (m_wasLive) {
            ShowRecorderLost(QStringLiteral("Disconnected"));
        }
        m_sessionOpen = false;
        m_wasLive = false;
        ResetConnectButton();
        UpdateCommandUi();
        return;
    }
    LoginValues values;
    values.ipAddress = m_settings.ipAddress;
    values.port = m_settings.port;
    values.dynamicIp = m_settings.dynamicIp;
    values.recorderName = m_settings.dvrName;
    if (!m_prompts.login || !m_prompts.login(&values)) {
        return;
    }
    m_settings.ipAddress = values.ipAddress;
    m_settings.port = values.port;
    m_settings.dynamicIp = values.dynamicIp;
    m_password = values.password;
    m_settings.dvrName = values.recorderName;
    std::string address;
    if (!m_settings.dynamicIp) {
        // A name that does not resolve comes back as 0.0.0.0, which on this
        // platform connects to this machine: it would log in to whatever
        // listens here on that port.
        address = ResolveIpv4(m_settings.ipAddress);
        if (address == "0.0.0.0") {
            ShowMessageBox("Cannot find the recorder at \"" + m_settings.ipAddress + "\".");
            UpdateCommandUi();
            return;
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int ok;
    if (!m_settings.dynamicIp) {
        ok = m_engine.Connect(address, m_settings.port, "", m_password);
    } else {
        ok = m_engine.ConnectDynamic(m_settings.ddnsIp, m_settings.ddnsPort, m_settings.dvrName,
                                     m_password);
    }
    QApplication::restoreOverrideCursor();
    if (!ok) {
        ShowMessageBox(m_engine.GetLastErrorText());
    } else {
        m_sessionOpen = true;
        m_wasLive = false;
        CSkinButton* b = Button(kCommandConnect);
        b->SetImage(kBmpConnectActive, true);
        b->SetTooltip(kTipDisconnect);
        b->update();
    }
    m_status->update();
    UpdateCommandUi();
}

void CViewerDlg::HandleNetMessage(int message) {
    if (message == kMsgDisconnected && !m_sessionOpen && !m_engine.IsConnected()) {
        return;
    }
    // The session's own text says why: a wrong password, a full recorder and
    // a failed dynamic-IP look-up all end the session the same way.
    const std::string reason = m_engine.GetLastErrorText();
    m_engine.Disconnect();
    const bool wasLive = m_wasLive;
    m_sessionOpen = false;
    m_wasLive = false;
    ResetConnectButton();
    m_status->update();
    UpdateCommandUi();
    std::string text;
    switch (message) {
    case kMsgDisconnected:
        text = LoadResString(32866).toStdString();
        break;
    case kMsgNoResponse:
        text = LoadResString(32870).toStdString();
        break;
    default:
        text = reason.empty() ? LoadResString(32868).toStdString() : reason;
        break;
    }
    // Drawn before the message box, so that the pictures behind it already
    // say they are not live.
    if (wasLive) {
        ShowRecorderLost(QString::fromStdString(text));
    }
    ShowMessageBox(text);
}

// The still picture and the local recording take new names, but a name can
// still lead to the recording that is open or being written (a link made
// between the check and the write, every numbered name taken): they write
// only where nothing the viewer reads or records lives.
std::string CViewerDlg::CaptureProblem(const std::string& path, const std::string& folder) {
    if (path.empty()) {
        return "No free file name is left in " + (folder.empty() ? std::string(".") : folder) +
               "; move some files out of it.";
    }
    const std::string recording = InputOverwrittenBy(
        path, {m_engine.IsStreamOpen() ? m_engine.GetStreamPath() : std::string(),
               m_engine.IsRecording() ? m_localRecordingFile : std::string()});
    if (!recording.empty()) {
        return path + " is the recording " + recording + "; it is not written over.";
    }
    return {};
}

void CViewerDlg::StillCapture() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString folder = QString::fromStdString(m_settings.capturePath);
    if (!folder.isEmpty()) {
        QDir().mkdir(folder);
    }
    const std::string path = UniquePath(
        JoinCapturePath(m_settings.capturePath, StillCaptureName(QDateTime::currentDateTime())));
    const std::string problem = CaptureProblem(path, m_settings.capturePath);
    const int saved = problem.empty() ? m_engine.SaveImage(path) : 0;
    QApplication::restoreOverrideCursor();
    if (saved) {
        ShowNote(QStringLiteral("Saved ") + QString::fromStdString(path));
    } else if (!problem.empty()) {
        ShowMessageBox("Cannot save the picture: " + problem);
    } else {
        const std::string why = GetVideoWindow()->GetLastErrorText();
        ShowMessageBox("Cannot save the picture to " + path + (why.empty() ? "" : "\n\n" + why));
    }
}

void CViewerDlg::StartLocalRecording() {
    const std::string path = UniquePath(JoinCapturePath(
        m_settings.localRecordingPath, RecordingName(QDateTime::currentDateTime())));
    if (!m_settings.localRecordingPath.empty()) {
        QDir().mkdir(QString::fromStdString(m_settings.localRecordingPath));
    }
    const std::string problem = CaptureProblem(path, m_settings.localRecordingPath);
    if (!problem.empty()) {
        ShowMessageBox("Cannot record: " + problem);
        return;
    }
    m_localRecordingFile = path;
    m_localRecording = m_engine.StartRecording(path) != 0;
    if (m_localRecording) {
        ShowNote(QStringLiteral("Recording to ") + QString::fromStdString(path));
    } else {
        const std::string why = m_engine.GetRecordingErrorText();
        ShowMessageBox(why.empty() ? "Cannot record to " + path : why);
    }
}

void CViewerDlg::StopLocalRecording() {
    if (!m_engine.IsRecording()) {
        CheckLocalRecording(); // stopped already; said once, if not yet
        return;
    }
    m_localRecording = false;
    m_engine.StopRecording();
    // Closing writes the last block; that can fail too.
    const std::string why = m_engine.GetRecordingErrorText();
    if (!why.empty()) {
        ShowMessageBox(why);
    } else {
        ShowNote(QStringLiteral("Recorded to ") + QString::fromStdString(m_localRecordingFile));
    }
}

// A recording also ends with its session (a disconnection, a switch to player
// mode): the file is whole, and the user is told where it is.
void CViewerDlg::CheckLocalRecording() {
    if (m_localRecording && !m_engine.IsRecording()) {
        m_localRecording = false;
        const std::string why = m_engine.GetRecordingErrorText();
        if (!why.empty()) {
            ShowMessageBox(why);
        } else {
            ShowNote(QStringLiteral("Recorded to ") + QString::fromStdString(m_localRecordingFile));
        }
    }
}

void CViewerDlg::GoToTime() {
    if (!m_prompts.goToTime) {
        return;
    }
    SYSTEMTIME when{};
    if (!m_engine.GetFrameTime(&when)) {
        const QDateTime now = QDateTime::currentDateTime();
        when.wYear = static_cast<uint16_t>(now.date().year());
        when.wMonth = static_cast<uint16_t>(now.date().month());
        when.wDay = static_cast<uint16_t>(now.date().day());
    }
    if (!m_prompts.goToTime(&when)) {
        return;
    }
    TimePlace place;
    if (!m_engine.FindTime(when, &place)) {
        return;
    }
    const long bias = place.timeBias;
    const QString asked = DateTimeText(when);
    // Landing on the recording's first or next picture without a word would
    // pass for the time asked; a user who notes times for evidence must know.
    const int64_t wanted = LocalToBlockTime(when, bias);
    if (place.first >= 0 && wanted < place.first) {
        ShowMessageBox(asked.toStdString() + " is not in this recording: it begins at " +
                       DateTimeText(BlockTimeToLocal(uint32_t(place.first), bias)).toStdString() +
                       ".");
        return;
    }
    const uint32_t found = place.found;
    const int64_t position = place.offset;
    if (position < 0) {
        ShowMessageBox(asked.toStdString() +
                       " is not in this recording: nothing was recorded at or after that time.");
        return;
    }
    m_engine.Seek(static_cast<uint64_t>(position));
    m_position->SetPosition(position / 4096);
    // A block carries the second it began in; one second later is still the
    // time asked for.
    if (static_cast<int64_t>(found) > wanted + 1) {
        ShowNote(QStringLiteral("Nothing recorded at %1; shown from %2")
                     .arg(asked, DateTimeText(BlockTimeToLocal(found, bias))));
    }
}

void CViewerDlg::Options() {
    ViewerSettings values = m_settings;
    values.showTime = m_engine.GetShowTime();
    values.repeat = m_engine.GetRepeat();
    values.useDirectDraw = UserDirectDraw();
    if (!m_prompts.options || !m_prompts.options(&values)) {
        return;
    }
    m_settings.alwaysOnTop = values.alwaysOnTop;
    m_settings.capturePath = values.capturePath;
    m_settings.timeFormat = values.timeFormat;
    m_engine.SetShowTime(values.showTime);
    m_engine.SetRepeat(values.repeat);
    m_engine.SetTimeFormat(values.timeFormat);
    SetUserDirectDraw(values.useDirectDraw);
    ApplyTopmost();
}

void CViewerDlg::NetOptions() {
    ViewerSettings values = m_settings;
    values.useDirectDraw = UserDirectDraw();
    values.autoReconnection = m_engine.GetAutoReconnect();
    values.timeoutSeconds = m_engine.GetTimeout() / 1000;
    values.mouseRemoteMode = CNetClient::GetMouseRemoteMode();
    if (!m_prompts.netOptions || !m_prompts.netOptions(&values)) {
        return;
    }
    m_settings.alwaysOnTop = values.alwaysOnTop;
    m_settings.dynamicIp = values.dynamicIp;
    m_settings.ddnsIp = values.ddnsIp;
    m_settings.ddnsPort = values.ddnsPort;
    m_settings.localRecordingPath = values.localRecordingPath;
    SetUserDirectDraw(values.useDirectDraw);
    m_engine.SetAutoReconnect(values.autoReconnection);
    m_engine.SetTimeout(TimeoutMilliseconds(values.timeoutSeconds));
    CNetClient::SetMouseRemoteMode(values.mouseRemoteMode);
    ApplyTopmost();
}

void CViewerDlg::InstallDefaultPrompts() {
    QWidget* owner = this;
    if (!m_prompts.openFile) {
        m_prompts.openFile = [owner] {
            return QFileDialog::getOpenFileName(
                       owner, QString(), QString(),
                       QStringLiteral("All Files (*);;QZF File Format (*.QZF *.qzf)"))
                .toStdString();
        };
    }
    if (!m_prompts.openDiskImage) {
        m_prompts.openDiskImage = [owner] {
            return QFileDialog::getOpenFileName(owner, QStringLiteral("Open Disk Image"))
                .toStdString();
        };
    }
    if (!m_prompts.openDisk) {
        m_prompts.openDisk = [owner] { return RunDiskSelectDialog(owner); };
    }
    if (!m_prompts.saveAvi) {
        m_prompts.saveAvi = [owner](const std::string& last) {
            QFileDialog dlg(owner, QString(), QString::fromStdString(last),
                            QStringLiteral("AVI Files (*.avi)"));
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            dlg.setDefaultSuffix(QStringLiteral("avi"));
            if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) {
                return std::string();
            }
            return dlg.selectedFiles().first().toStdString();
        };
    }
    if (!m_prompts.login) {
        m_prompts.login = [owner](LoginValues* v) { return RunLoginDialog(owner, v); };
    }
    if (!m_prompts.askYesNo) {
        m_prompts.askYesNo = [owner](const QString& q) {
            return QMessageBox::question(owner, QStringLiteral("Tessavin Viewer"), q,
                                         QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
                       ? 1
                       : 0;
        };
    }
    if (!m_prompts.exportEvidence) {
        m_prompts.exportEvidence = [owner](const EvidenceRequest& r) {
            CEvidenceDialog box(r, owner);
            box.exec();
        };
    }
    if (!m_prompts.goToTime) {
        m_prompts.goToTime = [owner](SYSTEMTIME* t) { return RunGoToTimeDialog(owner, t); };
    }
    if (!m_prompts.options) {
        m_prompts.options = [owner](ViewerSettings* v) { return RunOptionsDialog(owner, v); };
    }
    if (!m_prompts.netOptions) {
        m_prompts.netOptions = [owner](ViewerSettings* v) { return RunNetOptionsDialog(owner, v); };
    }
    if (!m_prompts.compressor) {
        m_compressorChooser = std::make_unique<CDialogCompressorChooser>(owner);
        m_prompts.compressor = m_compressorChooser.get();
    }
    if (!m_prompts.about) {
        m_prompts.about = [owner] {
            CAboutDlg about(owner);
            about.exec();
        };
    }
}

} // namespace tv

#pragma once

#include "app/evidence_dialog.h"
#include "app/net_window_notifier.h"
#include "display/video_wnd.h"
#include "engine/player_engine.h"
#include "skin/settings.h"
#include "skin/skin_dialog.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QShortcut;

namespace tv {

class CProfile;
class CTimelineStrip;
struct ActivityEvent;

class CSkinButton;
class CSkinSlider;
class CStatusPanel;
class CTransparentText;

// The values the Login dialog shows and returns.
struct LoginValues {
    std::string ipAddress;
    int port = 0;
    int dynamicIp = 0;
    std::string password;
    std::string recorderName;
};

// Answers the main window needs from the user; tests replace them.
struct ViewerPrompts {
    // Path of a recording to open, or empty when cancelled.
    std::function<std::string()> openFile;
    // Path of an AVI file to write (the last one offered), or empty.
    std::function<std::string(const std::string& last)> saveAvi;
    // Recorder disk or disk image path, or empty.
    std::function<std::string()> openDisk;
    std::function<std::string()> openDiskImage;
    // 1 when the user logs in with the values, 0 on cancel.
    std::function<int(LoginValues*)> login;
    // Yes (1) or No (0).
    std::function<int(const QString& question)> askYesNo;
    // A date and time to seek to; 0 when cancelled.
    std::function<int(SYSTEMTIME* time)> goToTime;
    // Options dialogs: 1 on OK with the values changed in place.
    std::function<int(ViewerSettings* values)> options;
    std::function<int(ViewerSettings* values)> netOptions;
    std::function<void()> about;
    // The Export Evidence dialog, run with what the window offers.
    std::function<void(const EvidenceRequest&)> exportEvidence;
    // The AVI compressor choice; not owned.
    ICompressorChooser* compressor = nullptr;
};

// Video and audio format names the build carries, and their codes.
constexpr const char* kConfiguredVideoFormat = "QZ_QZB2";
constexpr const char* kConfiguredAudioFormat = "QZ_ALAW";
// 1 and the code when the name is in its table; 0 otherwise.
int VideoFormatCodeFor(const std::string& name, int* code);
int AudioFormatCodeFor(const std::string& name, int* code);

// The text of a play state, with the speed for the two playing states.
QString StatusTextFor(int playState, double speed);

// The product title shown when no source is open.
extern const char* const kProductTitle;

// The main window: a skinned dialog that owns the player engine, lays out its
// bitmap controls for the view mode, polls the engine on three timers and
// turns buttons, menus, keys and dropped files into engine calls.
class CViewerDlg : public CSkinDialog {
    Q_OBJECT
public:
    explicit CViewerDlg(QWidget* parent = nullptr);
    ~CViewerDlg() override;

    // Before InitDialog: the file named on the command line, the whole command
    // line (for "/IP:" and "/PORT:") and the profile to use.
    void SetCommandLinePath(const std::string& path) { m_commandLinePath = path; }
    void SetCommandLine(const std::string& line) { m_commandLine = line; }
    void SetProfilePath(const std::string& path) { m_profilePath = path; }
    ViewerPrompts& Prompts() { return m_prompts; }

    // Builds the controls, starts the engine and the timers, opens the
    // command-line source. 1 on success.
    int InitDialog();

    void Layout(bool initial, int width, int height);
    void SetViewMode(int mode);
    void OnCommand(int id);
    bool IsCommandEnabled(int id);
    bool IsCommandChecked(int id);
    void UpdateCommandUi();
    void OnTimer(int id);
    // The Space key: pauses a play, or plays on the way it last went.
    void PlayOrPause();

    // Opens a recording (kind 0 file, 1 disk) as the Open commands do.
    int OpenSource(const std::string& path, int diskMode);
    // The dropped-file path: player mode first, then open.
    void OpenDroppedFiles(const QStringList& paths);
    void ShowSourceTitle();

    // Ways out. Each saves the settings once and ends the dialog, without
    // asking: a signal ends the viewer through them too.
    void ExitViewer();
    void CloseButtonExit();
    void AppIconExit();

    CPlayerEngine& Engine() { return m_engine; }
    // The engine's video output on screen, a child of this window.
    CVideoWnd* GetVideoWindow() const { return m_videoWnd; }
    CSkinButton* Button(int id) const;
    CSkinSlider* PositionSlider() const { return m_position; }
    CSkinSlider* VolumeSlider() const { return m_volume; }
    CStatusPanel* StatusPanel() const { return m_status; }
    CTransparentText* TitleText() const { return m_title; }
    QWidget* Control(int id) const;
    QMenu* ContextMenu(int mode) const;
    int ViewMode() const { return m_viewMode; }
    int VideoWidth() const { return m_videoWidth; }
    int VideoHeight() const { return m_videoHeight; }
    double Speed() const { return m_speed; }
    const ViewerSettings& Settings() const { return m_settings; }
    ViewerSettings& MutableSettings() { return m_settings; }
    bool ConnectOnFirstTick() const { return m_connectOnFirstTick; }
    QString IpText() const { return m_ipText; }
    QString PortText() const { return m_portText; }
    bool SessionOpen() const { return m_sessionOpen; }
    bool AviRunning() const { return m_aviRunning; }
    bool IsMaximizedFlag() const { return m_maximized; }
    bool IsNormalFlag() const { return m_normal; }
    int VideoFormat() const { return m_videoFormat; }
    int AudioFormat() const { return m_audioFormat; }
    int SourceDiskMode() const { return m_sourceDiskMode; }
    bool SettingsSaved() const { return m_settingsSaved; }
    // The area of the window that starts a resize drag.
    QRect GripRect() const;

    // Reads the live values back and writes the profile (once per run).
    void SaveSettingsNow();

    CTimelineStrip* Timeline() const { return m_timeline; }
    uint16_t VisibleChannelMask();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void reject() override;
    void accept() override;

private:
    void CreateControls();
    void CreateMenus();
    void CreateAccelerators();
    // The context menu of the mode at a point on the screen; once, however
    // many ways ask for it together.
    void OpenContextMenu(const QPoint& global);
    // Where the keyboard opens it: the pointer when it is over the window.
    QPoint KeyboardMenuPoint() const;
    // In client mode with the remote mouse on, the right button on the video
    // drives the recorder's own menus.
    bool RightButtonIsRecorders() const;
    void LoadSettingsNow();
    void ApplyTopmost();
    void HandleConnectionRequest();
    void ForwardPendingKey();
    void RefreshStatus();
    // Client mode: while the recorder is lost the video area says so over
    // the last pictures; live pictures again take it away.
    void ShowRecorderLost(const QString& reason);
    void FollowConnection(int connection);
    // Says in the status panel for a few seconds where a file went.
    void ShowNote(const QString& text);
    friend void RunEvidenceCommand(CViewerDlg& dlg, int id, EvidenceMarks& marks);
    void SetSliderRangeFromStream();
    static int64_t SliderMaximumFor(uint64_t size);
    void ShowFirstRecordedPage();
    void CloseSource();
    void StopEngineAndDisconnect();
    void EndViewer();
    // The user's ways out: while something is being written, asked first.
    bool ConfirmQuit();
    void QuitOnRequest(void (CViewerDlg::*way)());

    // Commands.
    void Connect();
    void ResetConnectButton();
    // The session has been ended by the engine: the Connect button, the menu
    // and the next Connect must say so.
    void ForgetSession();
    void SaveAvi();
    void StopAviCapture();
    // "Use DDraw" as the user set it, whatever an export switched on.
    int UserDirectDraw();
    void SetUserDirectDraw(int on);
    void StillCapture();
    // Why a new capture file may not be written; empty when it may.
    std::string CaptureProblem(const std::string& path, const std::string& folder);
    void StartLocalRecording();
    void StopLocalRecording();
    void CheckLocalRecording();
    void GoToTime();
    void Options();
    void NetOptions();
    void HandleNetMessage(int message);
    void InstallDefaultPrompts();
    void OpenWithPrompt(const std::function<std::string()>& prompt, int diskMode);

    // Review (viewer_review.cpp).
    void CreateReviewControls();
    void LoadReviewSettings(const CProfile& profile);
    void SaveReviewSettings(CProfile* profile);
    bool TimelineShown() const;
    int TimelineHeight() const;
    void LayoutTimeline();
    void SetTimelineSource(const std::string& path, int diskMode, bool open);
    bool IsReviewCommand(int id) const;
    bool IsReviewCommandEnabled(int id);
    void ReviewCommand(int id);
    void RefreshTimeline();
    void JumpToEvent(bool forward);
    void SeekBySeconds(int seconds);

    // Both outlive the engine: the notifier is a member before it, and the
    // video window a child widget, deleted after every member.
    CNetWindowNotifier m_netNotifier{this};
    CVideoWnd* m_videoWnd = nullptr;
    CPlayerEngine m_engine;
    ViewerSettings m_settings;
    ViewerPrompts m_prompts;
    std::string m_password;
    std::string m_profilePath;
    std::string m_commandLinePath;
    std::string m_commandLine;

    std::map<int, CSkinButton*> m_buttons;
    CSkinSlider* m_position = nullptr;
    CSkinSlider* m_volume = nullptr;
    CStatusPanel* m_status = nullptr;
    CTransparentText* m_title = nullptr;
    std::unique_ptr<QMenu> m_menus[2];
    QAction* m_connectAction = nullptr;
    std::map<int, QAction*> m_actions[2];

    QTimer m_timers[3];
    int m_videoWidth = 640;
    int m_videoHeight = 448;
    int m_videoFormat = 0;
    int m_audioFormat = 0;
    int m_viewMode = kEngineModeLocal;
    int m_lastPlayState = -1;
    bool m_lastPlayBackward = false;
    int m_lastConnectionState = -1;
    double m_speed = 1.0;

    bool m_maximized = false;
    bool m_normal = true;
    bool m_layoutDone = false;
    bool m_relayoutPending = false;
    bool m_initialised = false;
    bool m_settingsSaved = false;
    bool m_ended = false;

    bool m_gripActive = false;
    QPoint m_gripOffset;

    QString m_ipText;
    QString m_portText;
    bool m_connectOnFirstTick = false;
    bool m_sessionOpen = false;
    // The session has shown live pictures since it was opened.
    bool m_wasLive = false;
    // Cut ends of recordings the engine has reported and the window has said.
    uint64_t m_cutEndsSaid = 0;

    bool m_aviRunning = false;
    // A local recording the user started and has not stopped: when the engine
    // stops it on its own (a full disk) the user is told why.
    bool m_localRecording = false;
    QElapsedTimer m_noteAge;
    bool m_lowSpeedYes = false;
    bool m_saveDialogOpen = false;
    int m_userDirectDraw = 1;
    std::string m_aviPath;
    int m_sourceDiskMode = 0;
    std::string m_localRecordingFile; // what the running local recording writes
    EvidenceMarks m_evidenceMarks;
    std::vector<QShortcut*> m_accelerators;
    std::unique_ptr<ICompressorChooser> m_compressorChooser;

    CTimelineStrip* m_timeline = nullptr;
    std::vector<QShortcut*> m_playerKeys;
    bool m_showTimeline = false;
    uint32_t m_jumpTime = 0;
};

} // namespace tv

#include "app/viewer_dlg.h"

#include "app/app_message.h"
#include "app/commands.h"
#include "app/control_layout.h"
#include "app/timeline_strip.h"
#include "app/viewer_app.h"
#include "platform/notifier.h"
#include "skin/profile.h"
#include "skin/skin_button.h"
#include "skin/skin_draw.h"
#include "skin/skin_resources.h"
#include "skin/skin_slider.h"
#include "skin/status_panel.h"
#include "skin/transparent_text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

const char* const kProductTitle = "Tessavin Viewer 2.81";

namespace {

const char* const kVideoFormatNames[] = {"QZ_QZF",  "QZ_QZE",  "QZ_QZD", "QZ_QZB",
                                         "QZ_QZB2", "QZ_QZB3", "QZ_QZA"};
const char* const kAudioFormatNames[] = {"QZ_UPCM8",  "QZ_SPCM8", "QZ_UPCM16",
                                         "QZ_SPCM16", "QZ_ALAW",  "QZ_MLAW"};

int LookUp(const char* const* names, int count, int first, const std::string& name, int* code) {
    for (int i = 0; i < count; ++i) {
        if (name == names[i]) {
            *code = first + i;
            return 1;
        }
    }
    return 0;
}

QString FormatFrameTime(const SYSTEMTIME& t, const std::string& format) {
    std::tm tm{};
    tm.tm_year = t.wYear - 1900;
    tm.tm_mon = t.wMonth - 1;
    tm.tm_mday = t.wDay;
    tm.tm_hour = t.wHour;
    tm.tm_min = t.wMinute;
    tm.tm_sec = t.wSecond;
    tm.tm_wday = t.wDayOfWeek;
    char buffer[512];
    const size_t n = format.empty() ? 0 : std::strftime(buffer, sizeof buffer, format.c_str(), &tm);
    return n == 0 ? QStringLiteral(" ") : QString::fromLocal8Bit(buffer, static_cast<int>(n));
}

// Why a source cannot be opened as asked, as the user is told; empty when it
// can. A file that holds no recording would otherwise play as a black window.
std::string OpenProblem(const std::string& path, int diskMode, int videoFormat) {
    const std::string head = "Open Error\n\n" + path + ": ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return head + std::strerror(errno);
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    const int err = errno;
    ::close(fd);
    if (!known) {
        return head + std::strerror(err);
    }
    if (S_ISDIR(st.st_mode)) {
        return head + std::strerror(EISDIR);
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        return head + "not a file or a disk.";
    }
    if (diskMode || CPlayerEngine::HoldsRecording(path, 0, videoFormat)) {
        return {};
    }
    if (CPlayerEngine::HoldsRecording(path, 1, videoFormat)) {
        return head + "this is a recorder disk image; open it with Open Disk Image.";
    }
    return head + "not a recording.";
}

} // namespace

int VideoFormatCodeFor(const std::string& name, int* code) {
    return LookUp(kVideoFormatNames, 7, 0, name, code);
}

int AudioFormatCodeFor(const std::string& name, int* code) {
    return LookUp(kAudioFormatNames, 6, 1, name, code);
}

QString StatusTextFor(int playState, double speed) {
    static const char* const texts[] = {"READY", "Stop",  "Play",  "Play",
                                        "STEPF", "STEPR", "Pause", "SEARCH"};
    if (playState < 0 || playState > 7) {
        return {};
    }
    QString text = QString::fromLatin1(texts[playState]);
    if (playState == 2 || playState == 3) {
        text += QString::asprintf(" x %.1f", speed) + QStringLiteral("   ");
    }
    return text;
}

CViewerDlg::CViewerDlg(QWidget* parent) : CSkinDialog(parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(QString::fromLatin1(kProductTitle));
    setMouseTracking(true);
    // The viewer often plays beside the window the user works in; its
    // buttons say what they do there too.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    m_profilePath = DefaultProfilePath();
    m_videoWnd = new CVideoWnd(this);
    for (int i = 0; i < 3; ++i) {
        static const int ids[] = {3, 4, 5};
        const int id = ids[i];
        connect(&m_timers[i], &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
}

CViewerDlg::~CViewerDlg() {
    for (QTimer& t : m_timers) {
        t.stop();
    }
    // The video window outlives the control table: its own destruction must
    // not reach the filter that looks controls up.
    if (QWidget* wnd = GetVideoWindow()) {
        wnd->removeEventFilter(this);
    }
    if (m_aviRunning) {
        StopAviCapture();
    }
}

CSkinButton* CViewerDlg::Button(int id) const {
    auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

QWidget* CViewerDlg::Control(int id) const {
    switch (id) {
    case kIdPosition:
        return m_position;
    case kIdVolume:
        return m_volume;
    case kIdStatus:
        return m_status;
    case kIdTitle:
        return m_title;
    default:
        return Button(id);
    }
}

QMenu* CViewerDlg::ContextMenu(int mode) const {
    return m_menus[mode == 1 ? 0 : 1].get();
}

void CViewerDlg::CreateControls() {
    for (const ButtonInfo& info : kButtons) {
        const auto kind = info.kind == 1   ? CSkinButton::kToggle
                          : info.kind == 2 ? CSkinButton::kRadio
                                           : CSkinButton::kPush;
        auto* button = new CSkinButton(this, kind, info.id);
        button->hide();
        m_buttons[info.id] = button;
        const int id = info.id;
        // A disabled button keeps its presses; the right one opens the menu
        // there as on the rest of the window.
        button->installEventFilter(this);
        if (id != kIdAppIcon) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
        }
    }
    m_position = new CSkinSlider(this, kIdPosition);
    m_volume = new CSkinSlider(this, kIdVolume);
    m_status = new CStatusPanel(this);
    m_title = new CTransparentText(this);
    QFont titleFont = font();
    titleFont.setPixelSize(11);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_title->resize(134, 18);
}

// The order matters: the engine exists before the settings are applied to
// it, and the first layout reads the settings' always-on-top flag.
int CViewerDlg::InitDialog() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(LoadSkinIcon(kIconApp)));
    setWindowIcon(icon);
    setAcceptDrops(true);
    SetDragByClient(1);
    SetBackground(kBmpBackground);
    CreateControls();
    CreateMenus();
    CreateAccelerators();
    CreateReviewControls();
    InstallDefaultPrompts();
    for (const ButtonInfo& info : kButtons) {
        CSkinButton* b = Button(info.id);
        b->SetImage(info.bitmap, info.id != kIdMinimize && info.id != kIdCloseButton);
        if (info.tooltip != 0) {
            b->SetTooltip(info.tooltip);
        }
    }
    m_position->SetFillMode(true);
    m_position->SetTrackImages(kBmpPositionTrack, kBmpPositionFill, false, 0);
    m_position->SetThumbImages(kBmpPositionThumb, kBmpPositionThumbDrag, true, kSkinKeyColour);
    m_position->SetRange(0, 0, true);
    m_volume->SetTrackImages(kBmpVolumeTrack, kBmpVolumeFill, true, kSkinKeyColour);
    m_volume->SetThumbImages(kBmpVolumeThumb, kBmpVolumeThumbDrag, true, kSkinKeyColour);
    m_volume->SetMargins(4, 1, 4, 0);
    m_volume->SetFillMode(true);
    m_volume->SetRange(0, 65535, true);
    m_volume->SetPageStep(4096);
    m_volume->SetTooltip(116);
    // The window has no caption bar; the task bar and window lists show this.
    setWindowTitle(QString::fromLatin1(kProductTitle));
    m_status->SetSprite(kBmpStatusSprites);
    if (!VideoFormatCodeFor(kConfiguredVideoFormat, &m_videoFormat)) {
        m_videoFormat = 0;
        ShowMessageBox("Unkown Video Format");
    }
    if (!AudioFormatCodeFor(kConfiguredAudioFormat, &m_audioFormat)) {
        m_audioFormat = 0;
        ShowMessageBox("Unkown Audio Format");
    }
    // Placed over the controls made so far, where the pictures go.
    m_videoWnd->setGeometry(0, 0, m_videoWidth, m_videoHeight);
    m_videoWnd->raise();
    m_videoWnd->show();
    m_engine.Init(m_videoWnd, &m_netNotifier, m_videoFormat, m_audioFormat, 8, 8000, 8);
    m_engine.SetLabelFont(16, 0, 500, 0, "Arial");
    m_engine.SetTextColour(0x80FFFF);
    m_engine.SetOutlineColour(0);
    if (QWidget* wnd = GetVideoWindow()) {
        wnd->installEventFilter(this);
    }
    LoadSettingsNow();
    m_volume->SetPosition(m_engine.GetVolume());
    m_title->SetText(QString::fromLatin1(kProductTitle));
    SetCornerEllipse(12, 12);
    Layout(true, m_videoWidth, m_videoHeight);
    m_timers[0].start(1000);
    m_timers[1].start(300);
    m_timers[2].start(40);
    SetViewMode(1);
    if (!m_commandLinePath.empty()) {
        OpenSource(m_commandLinePath, kFileMode);
    }
    m_aviRunning = false;
    m_lowSpeedYes = false;
    const std::string ip = CommandLineOption(m_commandLine, "/IP:");
    const std::string port = CommandLineOption(m_commandLine, "/PORT:");
    m_ipText = QString::fromStdString(ip);
    m_portText = QString::fromStdString(port);
    m_connectOnFirstTick = !ip.empty() && !port.empty();
    m_initialised = true;
    UpdateCommandUi();
    return 1;
}

void CViewerDlg::LoadSettingsNow() {
    CProfile profile;
    profile.Load(m_profilePath);
    LoadSettings(profile, &m_settings);
    LoadReviewSettings(profile);
    m_engine.SetShowTime(m_settings.showTime);
    m_engine.SetRepeat(m_settings.repeat);
    m_engine.SetTimeFormat(m_settings.timeFormat);
    m_engine.SetVolume(m_settings.volume);
    m_engine.SetMute(m_settings.mute);
    m_engine.SetUseDirectDraw(m_settings.useDirectDraw);
    m_engine.SetAutoReconnect(m_settings.autoReconnection);
    m_engine.SetTimeout(TimeoutMilliseconds(m_settings.timeoutSeconds));
    CNetClient::SetMouseRemoteMode(m_settings.mouseRemoteMode);
}

void CViewerDlg::SaveSettingsNow() {
    if (m_settingsSaved || !m_initialised) {
        return;
    }
    m_settingsSaved = true;
    m_settings.showTime = m_engine.GetShowTime();
    m_settings.repeat = m_engine.GetRepeat();
    m_settings.volume = m_engine.GetVolume();
    m_settings.mute = m_engine.GetMute();
    m_settings.useDirectDraw = UserDirectDraw();
    m_settings.autoReconnection = m_engine.GetAutoReconnect();
    m_settings.timeoutSeconds = m_engine.GetTimeout() / 1000;
    m_settings.mouseRemoteMode = CNetClient::GetMouseRemoteMode();
    CProfile profile;
    profile.Load(m_profilePath);
    SaveSettings(m_settings, &profile);
    SaveReviewSettings(&profile);
    profile.Save();
}

QRect CViewerDlg::GripRect() const {
    return QRect(width() - 16, height() - 16, 16, 16);
}

void CViewerDlg::ApplyTopmost() {
    const bool want = m_settings.alwaysOnTop != 0;
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == want) {
        return;
    }
    QWindow* handle = windowHandle();
    if (!handle) {
        setWindowFlag(Qt::WindowStaysOnTopHint, want);
        return;
    }
    // Changing the flags of a widget that has a window re-creates it hidden,
    // and hiding the main window ends its modal loop: change them on the
    // window that exists instead.
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, want);
    overrideWindowFlags(flags);
    handle->setFlags(flags);
}

void CViewerDlg::Layout(bool initial, int w, int h) {
    int W = width();
    int H = height();
    int strip = TimelineHeight();
    if (initial) {
        strip = TimelineShown() ? CTimelineStrip::HeightBelowVideo(h) : 0;
        W = w + 5;
        H = h + 100 + strip;
        QRect screen(0, 0, 1280, 1024);
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            screen = s->geometry();
        }
        resize(W, H);
        move(screen.x() + (screen.width() - W) / 2, screen.y() + (screen.height() - H) / 2);
    }
    m_videoWidth = W - 5;
    m_videoHeight = H - 100 - strip;
    ApplyTopmost();
    if (QWidget* wnd = GetVideoWindow()) {
        wnd->setGeometry(2, 25, m_videoWidth, m_videoHeight);
    }
    LayoutTimeline();
    m_title->show();
    for (const ControlLayoutRecord& record : kControlLayout) {
        QWidget* control = Control(record.id);
        if (!control) {
            continue;
        }
        const Placement p = PlaceControl(record, W, H, control->size(), m_viewMode);
        control->setGeometry(QRect(p.pos, p.size));
        control->setVisible(p.visible);
    }
    update();
    m_layoutDone = true;
}

void CViewerDlg::SetViewMode(int mode) {
    m_engine.SetMode(mode, -1);
    if (mode == 1) {
        ForgetSession(); // player mode ends any session
    }
    m_viewMode = mode;
    m_status->SetPanelMode(mode);
    m_title->SetText(QString::fromLatin1(kProductTitle));
    m_engine.SetSplit(mode == 1 ? 9 : 1, 0);
    Layout(false, m_videoWidth, m_videoHeight);
    Layout(false, m_videoWidth, m_videoHeight);
    UpdateCommandUi();
}

void CViewerDlg::ShowSourceTitle() {
    const std::string path = m_engine.GetStreamPath();
    const QString name = QFileInfo(QString::fromStdString(path)).fileName();
    m_title->SetText(name.isEmpty() ? QString::fromStdString(path) : name);
    if (path.empty()) {
        m_title->SetText(QString::fromLatin1(kProductTitle));
    }
}

int64_t CViewerDlg::SliderMaximumFor(uint64_t size) {
    return size <= 1 ? 0 : static_cast<int64_t>(size / 4096);
}

void CViewerDlg::SetSliderRangeFromStream() {
    m_position->SetRange(0, SliderMaximumFor(m_engine.GetStreamSize()), true);
}

int CViewerDlg::OpenSource(const std::string& path, int diskMode) {
    if (m_engine.IsStreamOpen()) {
        CloseSource();
        ShowSourceTitle();
    }
    m_speed = 1.0;
    // Marks are times of the recording they were set on; offered for another
    // one they would name a range it may not even hold.
    m_evidenceMarks = EvidenceMarks{};
    m_status->setToolTip(QString());
    if (m_engine.GetSpeed() != 1.0) {
        // The loop starts at the engine's current speed; a new recording
        // starts at normal speed whatever the last one played at.
        m_engine.Play(1.0);
    }
    const std::string problem = OpenProblem(path, diskMode, m_videoFormat);
    int ok = 0;
    if (!problem.empty()) {
        ShowMessageBox(problem);
    } else {
        ok = m_engine.OpenStream(path, diskMode);
        if (!ok) {
            ShowMessageBox("Open Error");
        }
    }
    m_sourceDiskMode = diskMode;
    SetTimelineSource(path, diskMode, ok != 0);
    if (ok) {
        SetSliderRangeFromStream();
        ShowFirstRecordedPage();
    } else {
        m_position->SetRange(0, 0, true);
    }
    if (ok) {
        ShowSourceTitle();
    } else {
        // The engine still names the recording closed above; it is not playing.
        m_title->SetText(QString::fromLatin1(kProductTitle));
    }
    update();
    UpdateCommandUi();
    return ok;
}

// The split stays as the user chose it, but the page left from the last
// recording may hold none of this one's channels and show only black cells.
void CViewerDlg::ShowFirstRecordedPage() {
    int split = 0;
    int page = 0;
    m_engine.GetSplit(&split, &page);
    if (split <= 0) {
        return;
    }
    const uint32_t mask = m_engine.GetFirstChannelMask();
    int first = 0;
    while (mask != 0 && (mask & (1 << first)) == 0) {
        ++first;
    }
    m_engine.SetSplit(split, first / split);
}

void CViewerDlg::CloseSource() {
    m_evidenceMarks = EvidenceMarks{};
    SetTimelineSource(std::string(), 0, false);
    m_engine.StopPlayback();
    m_engine.Disconnect();
    ForgetSession();
    if (CVideoWnd* wnd = GetVideoWindow()) {
        wnd->Clear();
    }
    m_position->SetRange(0, 0, true);
    m_title->SetText(QString::fromLatin1(kProductTitle));
    update();
}

void CViewerDlg::OpenDroppedFiles(const QStringList& paths) {
    if (paths.isEmpty()) {
        return;
    }
    std::string path = paths.first().toStdString();
    if (path.size() > 260) {
        return;
    }
    if (m_viewMode != kEngineModeLocal) {
        m_engine.SetMode(kEngineModeLocal, -1);
        ForgetSession();
        m_viewMode = kEngineModeLocal;
        m_status->SetPanelMode(1);
        m_title->SetText(QString::fromLatin1(kProductTitle));
        m_engine.SetSplit(9, 0);
        Layout(false, m_videoWidth, m_videoHeight);
    }
    OpenSource(path, kFileMode);
}

void CViewerDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CViewerDlg::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    event->acceptProposedAction();
    OpenDroppedFiles(paths);
}

void CViewerDlg::HandleConnectionRequest() {
    if (!m_connectOnFirstTick) {
        return;
    }
    m_connectOnFirstTick = false;
    if (m_viewMode != kEngineModeNetwork) {
        m_engine.SetMode(kEngineModeNetwork, -1);
        m_viewMode = kEngineModeNetwork;
        m_status->SetPanelMode(2);
        m_title->SetText(QString::fromLatin1(kProductTitle));
        m_engine.SetSplit(1, 0);
        Layout(false, m_videoWidth, m_videoHeight);
    }
    m_settings.ipAddress = m_ipText.toStdString();
    m_settings.port = CProfile::ParseInt(m_portText.toStdString());
    Connect();
}

void CViewerDlg::ForwardPendingKey() {
    if (!m_engine.IsConnected()) {
        return;
    }
    const int vk = CViewerApp::PendingKey();
    if (vk == 0) {
        return;
    }
    CViewerApp::SetPendingKey(0);
    const int code = RemoteKeyForVirtualKey(vk);
    if (code >= 0) {
        m_engine.SendRemoteKey(code);
    }
}

void CViewerDlg::ShowNote(const QString& text) {
    m_status->SetNote(text);
    m_noteAge.start();
}

void CViewerDlg::RefreshStatus() {
    constexpr qint64 kNoteMs = 8000;
    // While a local recording runs its note stays: nothing else on the panel
    // says that the stream is being written.
    const bool recording = m_localRecording && m_engine.IsRecording();
    if (!recording && !m_status->NoteText().isEmpty() && m_noteAge.elapsed() > kNoteMs) {
        m_status->SetNote(QString());
    }
    const int connection = m_engine.GetNetworkState();
    if (connection != m_lastConnectionState) {
        m_lastConnectionState = connection;
        m_status->SetConnectionState(connection);
        m_status->update();
        FollowConnection(connection);
    }
    const uint64_t cutEnds = m_engine.GetCutEndCount();
    if (cutEnds != m_cutEndsSaid) {
        m_cutEndsSaid = cutEnds;
        const std::string cut = m_engine.GetCutEndText();
        if (!cut.empty() && m_viewMode == kEngineModeLocal) {
            ShowNote(QString::fromStdString(m_engine.GetCutEndBrief()));
            // The whole finding, as qzftool verify gives it, under the pointer.
            m_status->setToolTip(QStringLiteral("Recording cut short: ") +
                                 QString::fromStdString(cut));
        }
    }
    const int state = m_engine.GetPlayState();
    const QString text = StatusTextFor(state, m_engine.GetSpeed());
    m_status->SetPlayState(state);
    m_lastPlayState = state;
    if (state == 2 || state == 3) {
        m_lastPlayBackward = state == 3;
    }
    if (m_viewMode == kEngineModeLocal) {
        // Closed, the recording stays open in the engine but the slider is
        // left at 0 .. 0.
        if (state != 0 && m_engine.IsStreamOpen() &&
            SliderMaximumFor(m_engine.GetStreamSize()) > m_position->GetMaximum()) {
            SetSliderRangeFromStream(); // the recording has grown since it was opened
        }
        m_position->SetPosition(static_cast<int64_t>(m_engine.GetPosition() / 4096));
        SYSTEMTIME t{};
        const QString time = m_engine.GetFrameTime(&t) ? FormatFrameTime(t, m_settings.timeFormat)
                                                       : QStringLiteral(" ");
        m_position->SetTooltipText(time);
        m_status->SetTexts(text, time);
    }
}

void CViewerDlg::ShowRecorderLost(const QString& reason) {
    if (CVideoWnd* wnd = GetVideoWindow()) {
        wnd->SetOfflineText(reason.isEmpty() ? std::string() : "NOT LIVE\n" + reason.toStdString());
    }
}

void CViewerDlg::FollowConnection(int connection) {
    if (m_viewMode != kEngineModeNetwork) {
        return;
    }
    if (connection == kNetLoggedIn) {
        m_wasLive = true;
        ShowRecorderLost(QString());
    } else if (m_sessionOpen && m_wasLive) {
        ShowRecorderLost(QStringLiteral("Connection to the recorder lost: reconnecting"));
    }
}

void CViewerDlg::OnTimer(int id) {
    HandleConnectionRequest();
    if (id == 3) {
        if (m_relayoutPending) {
            m_relayoutPending = false;
            Layout(false, m_videoWidth, m_videoHeight);
        }
        return;
    }
    ForwardPendingKey();
    RefreshStatus();
    RefreshTimeline();
    CheckLocalRecording();
    if (id == 4) {
        // Buttons and menu items follow the engine's state as it changes.
        UpdateCommandUi();
    }
    if (id == 5 && m_aviRunning && m_lowSpeedYes) {
        m_engine.SignalExportTick();
    }
}

void CViewerDlg::resizeEvent(QResizeEvent* event) {
    CSkinDialog::resizeEvent(event);
    if (m_layoutDone) {
        m_relayoutPending = true;
    }
}

void CViewerDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && GripRect().contains(event->position().toPoint())) {
        m_gripActive = true;
        m_gripOffset = QPoint(width(), height()) - event->position().toPoint();
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        OpenContextMenu(event->globalPosition().toPoint());
        event->accept();
        return;
    }
    CSkinDialog::mousePressEvent(event);
}

void CViewerDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (m_gripActive) {
        const QSize size(std::max(kMinWindowWidth, p.x() + m_gripOffset.x()),
                         std::max(kMinWindowHeight, p.y() + m_gripOffset.y()));
        resize(size);
        Layout(false, m_videoWidth, m_videoHeight);
        event->accept();
        return;
    }
    setCursor(GripRect().contains(p) ? Qt::SizeFDiagCursor : Qt::ArrowCursor);
    CSkinDialog::mouseMoveEvent(event);
}

void CViewerDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (m_gripActive && event->button() == Qt::LeftButton) {
        m_gripActive = false;
        event->accept();
        return;
    }
    CSkinDialog::mouseReleaseEvent(event);
}

void CViewerDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QScreen* s = screen();
    const int screenWidth = s ? s->geometry().width() : 1280;
    if (width() < screenWidth) {
        m_maximized = true;
        m_normal = false;
        showMaximized();
    } else {
        m_normal = true;
        showNormal();
    }
}

// A right press opens the menu where it happens (mousePressEvent); what
// comes here from the mouse is that press again. The menu key comes here too.
void CViewerDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Mouse) {
        OpenContextMenu(KeyboardMenuPoint());
    }
    event->accept();
}

void CViewerDlg::OpenContextMenu(const QPoint& global) {
    QMenu* menu = ContextMenu(m_viewMode);
    if (menu == nullptr || menu->isVisible()) {
        return;
    }
    UpdateCommandUi();
    menu->popup(global);
}

QPoint CViewerDlg::KeyboardMenuPoint() const {
    const QPoint pointer = QCursor::pos();
    if (rect().contains(mapFromGlobal(pointer))) {
        return pointer;
    }
    return mapToGlobal(QPoint(2 + m_videoWidth / 2, 25 + m_videoHeight / 2));
}

bool CViewerDlg::RightButtonIsRecorders() const {
    return m_viewMode == kEngineModeNetwork && CNetClient::GetMouseRemoteMode() != 0;
}

bool CViewerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Button(kIdAppIcon) && event->type() == QEvent::MouseButtonDblClick) {
        QuitOnRequest(&CViewerDlg::AppIconExit);
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton &&
        qobject_cast<CSkinButton*>(watched) != nullptr) {
        OpenContextMenu(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    if (watched == GetVideoWindow() && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        // The press stops here either way, or it would reach this window as
        // well and open the menu a second time. An open menu would take the
        // moves and the second click that the recorder is to get.
        if (!RightButtonIsRecorders()) {
            OpenContextMenu(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        }
        return true;
    }
    return CSkinDialog::eventFilter(watched, event);
}

bool CViewerDlg::event(QEvent* event) {
    const int type = static_cast<int>(event->type());
    switch (type) {
    case kMsgSliderMoving:
    case kMsgSliderSet: {
        auto* message = static_cast<CPostedMessage*>(event);
        if (message->WParam() == kIdPosition && type == kMsgSliderMoving) {
            const int64_t position = m_position->GetPosition();
            if (static_cast<uint64_t>(position) != m_engine.GetPosition() / 4096) {
                m_engine.Seek(static_cast<uint64_t>(position) * 4096);
            }
        } else if (message->WParam() == kIdVolume) {
            m_engine.SetVolume(static_cast<int>(m_volume->GetPosition()));
        }
        return true;
    }
    case kMsgRecorderStatus:
        return true;
    case kMsgDisconnected:
    case kMsgNoResponse:
    case kMsgLoginRefused:
        HandleNetMessage(type);
        return true;
    case kMsgSplitChanged: {
        int split = 0;
        int page = 0;
        m_engine.GetSplit(&split, &page);
        m_engine.SetSplit(split, page);
        return true;
    }
    default:
        break;
    }
    return CSkinDialog::event(event);
}

void CViewerDlg::StopEngineAndDisconnect() {
    m_engine.StopPlayback();
    m_engine.Disconnect();
    m_sessionOpen = false;
}

void CViewerDlg::EndViewer() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    for (QTimer& t : m_timers) {
        t.stop();
    }
    QDialog::done(QDialog::Rejected);
}

void CViewerDlg::ExitViewer() {
    SaveSettingsNow();
    StopEngineAndDisconnect();
    EndViewer();
}

void CViewerDlg::CloseButtonExit() {
    if (m_aviRunning) {
        StopAviCapture();
    }
    StopEngineAndDisconnect();
    SaveSettingsNow();
    EndViewer();
}

void CViewerDlg::AppIconExit() {
    StopEngineAndDisconnect();
    SaveSettingsNow();
    EndViewer();
}

bool CViewerDlg::ConfirmQuit() {
    if (!m_aviRunning && !m_engine.IsRecording()) {
        return true;
    }
    // What is being written would end with the window: the user says so.
    return m_prompts.askYesNo &&
           m_prompts.askYesNo(QStringLiteral(
               "A local recording or an AVI export is running.\n\nStop it and exit?")) != 0;
}

void CViewerDlg::QuitOnRequest(void (CViewerDlg::*way)()) {
    if (!m_ended && ConfirmQuit()) {
        (this->*way)();
    }
}

// The Escape key. In client mode it is the recorder's own key (its menus
// back out with it), sent on by the key forwarding; it never ends the viewer.
void CViewerDlg::reject() {
    if (m_viewMode == kEngineModeNetwork) {
        return;
    }
    QuitOnRequest(&CViewerDlg::ExitViewer);
}

void CViewerDlg::accept() {}

void CViewerDlg::closeEvent(QCloseEvent* event) {
    QuitOnRequest(&CViewerDlg::ExitViewer);
    if (m_ended) {
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace tv

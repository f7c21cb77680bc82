// The main window's review commands: the timeline strip, walking from one
// period of activity to the next, and the keys media players have taught
// users (only in player mode: in client mode the keys go to the recorder).

#include "app/commands.h"
#include "app/timeline_strip.h"
#include "app/viewer_dlg.h"
#include "display/video_wnd.h"
#include "platform/system.h"
#include "skin/profile.h"
#include "skin/settings.h"
#include "skin/skin_slider.h"

#include <QApplication>
#include <QMessageBox>
#include <QShortcut>

namespace tv {

namespace {

constexpr const char* kTimelineSetting = "Timeline";

// Keys of player mode beyond the accelerators; seconds for the seeks.
struct PlayerKey {
    const char* keys;
    int id;
    int seconds;
};
constexpr int kCommandPlayPause = -1;
constexpr int kCommandSeek = -2;
const PlayerKey kPlayerKeys[] = {
    {"Space", kCommandPlayPause, 0},  {"Left", kCommandSeek, -5},
    {"Right", kCommandSeek, 5},       {"Down", kCommandSeek, -60},
    {"Up", kCommandSeek, 60},         {",", kCommandPrevFrame, 0},
    {".", kCommandNextFrame, 0},      {"PgUp", kCommandPrevEvent, 0},
    {"PgDown", kCommandNextEvent, 0}, {"Ctrl+T", kCommandTimeline, 0},
};

const char* const kKeyHelp[][2] = {
    {"Space", "Play / Pause"},
    {"Left / Right", "Back / forward 5 seconds"},
    {"Down / Up", "Back / forward 1 minute"},
    {", / .", "Previous / next picture"},
    {"Page Up / Page Down", "Previous / next period of activity on the channels shown"},
    {"Ctrl+T", "Show or hide the timeline"},
    {"Ctrl+G", "Go to a date and time"},
    {"Ctrl+Shift+I / Ctrl+Shift+O", "Mark the start / end of a range"},
    {"Ctrl+E", "Export Evidence: a package of the range"},
    {"Ctrl+N / Ctrl+V", "Next / previous frame"},
    {"Ctrl+P", "Pause"},
    {"Ctrl+O", "Open a file"},
    {"Ctrl+C", "Close"},
    {"Ctrl+F", "Normal window"},
    {"F10", "About"},
    {"Shift+F10 / Menu key", "The menu, wherever the pointer is"},
    {"Alt+F4", "Exit"},
    {"Timeline", "Click: go there. Wheel or drag: zoom. Double click: whole recording"},
    {"Client mode", "Keys go to the recorder as its remote keys; the keys above "
                    "but the Ctrl and F keys are then the recorder's. With the remote "
                    "mouse on, so is the right button on the video"},
};

} // namespace

QString KeyHelpText() {
    QString text = QStringLiteral("<table>");
    for (const auto& row : kKeyHelp)
        text += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(QString::fromLatin1(row[0]), QString::fromLatin1(row[1]));
    return text + QStringLiteral("</table>");
}

void CViewerDlg::CreateReviewControls() {
    m_timeline = new CTimelineStrip(this);
    m_timeline->SetEngine(&m_engine);
    m_timeline->hide();
    connect(m_timeline, &CTimelineStrip::SeekRequested, this, [this](quint64 offset, quint32 t) {
        m_jumpTime = t;
        m_engine.Seek(offset);
        m_position->SetPosition(int64_t(offset / 4096));
    });
    for (const PlayerKey& k : kPlayerKeys) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(k.keys)), this);
        shortcut->setContext(Qt::WindowShortcut);
        const PlayerKey key = k;
        connect(shortcut, &QShortcut::activated, this, [this, key] {
            if (m_viewMode != kEngineModeLocal)
                return;
            if (key.id == kCommandPlayPause) {
                PlayOrPause();
            } else if (key.id == kCommandSeek) {
                SeekBySeconds(key.seconds);
            } else if (IsCommandEnabled(key.id)) {
                OnCommand(key.id);
            }
        });
        m_playerKeys.push_back(shortcut);
    }
}

void CViewerDlg::PlayOrPause() {
    const int state = m_engine.GetPlayState();
    if (state == 2 || state == 3) {
        m_lastPlayBackward = state == 3;
        OnCommand(kCommandPause);
        return;
    }
    // Someone going backward through footage who stops for a look goes on
    // backward.
    OnCommand(m_lastPlayBackward ? kCommandPlayReverse : kCommandPlay);
}

void CViewerDlg::LoadReviewSettings(const CProfile& profile) {
    m_showTimeline = profile.GetInt(kProfileSection, kTimelineSetting, 0) != 0;
}

void CViewerDlg::SaveReviewSettings(CProfile* profile) {
    profile->WriteInt(kProfileSection, kTimelineSetting, m_showTimeline ? 1 : 0);
}

bool CViewerDlg::TimelineShown() const {
    return m_showTimeline && m_viewMode == kEngineModeLocal;
}

int CViewerDlg::TimelineHeight() const {
    return TimelineShown() ? CTimelineStrip::HeightForArea(height() - 100) : 0;
}

void CViewerDlg::LayoutTimeline() {
    for (QShortcut* s : m_playerKeys)
        s->setEnabled(m_viewMode == kEngineModeLocal);
    if (m_timeline == nullptr)
        return;
    const int h = TimelineHeight();
    if (h > 0)
        m_timeline->setGeometry(2, 25 + m_videoHeight, m_videoWidth, h);
    m_timeline->setVisible(h > 0);
}

void CViewerDlg::SetTimelineSource(const std::string& path, int diskMode, bool open) {
    if (m_timeline == nullptr)
        return;
    if (open)
        m_timeline->SetSource(path, diskMode, m_videoFormat);
    else
        m_timeline->ClearSource();
}

bool CViewerDlg::IsReviewCommand(int id) const {
    return id == kCommandTimeline || id == kCommandNextEvent || id == kCommandPrevEvent ||
           id == kCommandKeyHelp;
}

bool CViewerDlg::IsReviewCommandEnabled(int id) {
    if (id == kCommandNextEvent || id == kCommandPrevEvent)
        return m_engine.GetPlayState() != 0 && m_viewMode == kEngineModeLocal;
    return true;
}

void CViewerDlg::ReviewCommand(int id) {
    switch (id) {
    case kCommandTimeline: {
        // The video area keeps its size; the window grows or shrinks by the strip.
        const int before = TimelineHeight();
        m_showTimeline = !m_showTimeline;
        const int after = TimelineShown() ? CTimelineStrip::HeightBelowVideo(m_videoHeight) : 0;
        if (after != before && !isMaximized())
            resize(width(), height() + after - before);
        Layout(false, m_videoWidth, m_videoHeight);
        break;
    }
    case kCommandNextEvent:
    case kCommandPrevEvent:
        JumpToEvent(id == kCommandNextEvent);
        break;
    case kCommandKeyHelp:
        QMessageBox::information(this, QStringLiteral("Keys"), KeyHelpText());
        break;
    default:
        break;
    }
}

uint16_t CViewerDlg::VisibleChannelMask() {
    uint16_t mask = 0;
    if (CVideoWnd* wnd = GetVideoWindow()) {
        for (int c = 0; c < kActivityChannels; ++c)
            if (wnd->IsChannelVisible(c))
                mask |= uint16_t(1u << c);
    }
    return mask;
}

void CViewerDlg::RefreshTimeline() {
    if (m_timeline == nullptr || m_viewMode != kEngineModeLocal)
        return;
    m_timeline->SetVisibleChannels(VisibleChannelMask());
    m_timeline->SetMarks(m_evidenceMarks.hasIn, m_evidenceMarks.in, m_evidenceMarks.hasOut,
                         m_evidenceMarks.out);
    SYSTEMTIME t{};
    if (!m_engine.GetFrameTime(&t))
        return;
    const int64_t utc = LocalToBlockTime(t, GetTimeZoneBias());
    if (utc < 0 || utc > 0xFFFFFFFFll)
        return;
    uint32_t now = uint32_t(utc);
    // Paused where a jump landed, the picture shown may carry a time a
    // little before the period's start; the walk goes on from the start.
    if (m_jumpTime != 0 && m_engine.GetPlayState() == 6 && now + 3 >= m_jumpTime &&
        now <= m_jumpTime + 1)
        now = m_jumpTime;
    else if (m_engine.GetPlayState() != 6 && m_engine.GetPlayState() != 7)
        m_jumpTime = 0;
    m_timeline->SetCurrentTime(now);
}

void CViewerDlg::JumpToEvent(bool forward) {
    if (m_timeline == nullptr)
        return;
    RefreshTimeline();
    m_timeline->Poll();
    ActivityEvent e;
    if (!m_timeline->FindEvent(forward, &e)) {
        QApplication::beep();
        return;
    }
    m_jumpTime = e.start;
    m_timeline->SetCurrentTime(e.start);
    // The index places a period at the first block of its first second; the
    // other channels recorded in that second may come first, and landing
    // there would show the event's channel still at its picture of the
    // second before. The jump goes to that channel's own first picture of
    // the second.
    uint64_t at = e.offset;
    m_engine.SeekToChannelPicture(e.channel, e.offset, e.start, &at);
    m_position->SetPosition(int64_t(at / 4096));
}

void CViewerDlg::SeekBySeconds(int seconds) {
    if (m_engine.GetPlayState() == 0)
        return;
    SYSTEMTIME t{};
    if (!m_engine.GetFrameTime(&t))
        return;
    const int64_t target = LocalToBlockTime(t, GetTimeZoneBias()) + seconds;
    if (target < 0 || target > 0xFFFFFFFFll)
        return;
    const int64_t offset = m_timeline != nullptr ? m_timeline->OffsetAt(uint32_t(target)) : -1;
    if (offset >= 0) {
        m_jumpTime = 0;
        m_engine.Seek(uint64_t(offset));
        m_position->SetPosition(offset / 4096);
        return;
    }
    TimePlace place;
    if (m_engine.SeekToTime(uint32_t(target), &place)) {
        m_jumpTime = 0;
        m_position->SetPosition(place.offset / 4096);
    }
}

} // namespace tv

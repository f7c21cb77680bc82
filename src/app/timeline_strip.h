#pragma once

// CTimelineStrip: the recording's time from its first block to its last,
// one row per channel shaded by how much its picture changed, the stretches
// where nothing was recorded left as gaps, and the current position. Click
// to go there; the wheel zooms about the pointer and a drag zooms into the
// stretch dragged over, down to a minute; a double click shows it all again.
// The activity index is built on a thread of its own and fills in as it
// comes (coarse first), so the strip is usable at once.

#include "engine/navigator.h"
#include "platform/video_format.h"
#include "review/activity_builder.h"
#include "review/activity_index.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class QLabel;

namespace tv {

class CPlayerEngine;

class CTimelineStrip : public QWidget {
    Q_OBJECT
public:
    // The strip takes a fifth of the window's video and strip area, within
    // these bounds: eight rows of at least 12 pixels, named, at the least.
    static constexpr int kMinHeight = 112;
    static constexpr int kMaxHeight = 320;
    static constexpr uint32_t kMinSpan = 60;

    // Strip height for an area (video plus strip) of this height.
    static int HeightForArea(int area);
    // The strip height that, added below a video area of this height, leaves
    // the video area as it is.
    static int HeightBelowVideo(int videoHeight);

    explicit CTimelineStrip(QWidget* parent = nullptr);
    ~CTimelineStrip() override;

    void SetSource(const std::string& path, int diskMode, int videoFormat);
    void ClearSource();
    // The time of the picture shown (seconds since 1970 UTC).
    void SetCurrentTime(uint32_t utc);
    void SetVisibleChannels(uint16_t mask) { m_visible = mask; }
    void SetThreshold(double t) { m_threshold = t; }
    // The range marked for an evidence package, drawn over the rows.
    void SetMarks(bool hasIn, uint32_t in, bool hasOut, uint32_t out);
    bool HasMarks() const { return m_hasIn || m_hasOut; }
    // Height of one channel row as drawn now.
    int RowHeight() const;

    const CActivityIndex& Index() const { return m_index; }
    bool IsExact() const { return m_exact; }
    bool IsIndexDone() const { return m_builder.IsDone(); }
    // Takes up what the builder has found; the strip's own timer does it too.
    void Poll();

    // The start of the next (previous) period of activity on the visible
    // channels after (before) the current time.
    bool FindEvent(bool forward, ActivityEvent* out) const;
    // The first block of the second at or after t, or -1.
    int64_t OffsetAt(uint32_t t) const;

    void SetView(uint32_t from, uint32_t to);
    void ShowAll();
    uint32_t ViewFrom() const { return m_from; }
    uint32_t ViewTo() const { return m_to; }
    uint32_t TimeAtX(int x) const;
    int XOfTime(uint32_t t) const;
    // The time under the pointer, or 0 when it is outside the strip.
    uint32_t HoverTime() const { return m_hoverX >= 0 ? TimeAtX(m_hoverX) : 0; }

    // The engine that plays the source; it makes the hover pictures.
    void SetEngine(CPlayerEngine* engine) { m_engine = engine; }
    // Small pictures of the shown channels at t, as a click there would show
    // them; null when there is none, or when they take longer than budgetMs
    // (the first call after an open also makes the navigator's buffers).
    QImage Thumbnail(uint32_t t, int budgetMs = 100);

signals:
    void SeekRequested(quint64 offset, quint32 time);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QRect Plot() const;
    void DrawTicks(class QPainter& p, const QRect& plot);
    void DrawMarks(class QPainter& p, const QRect& plot);
    std::vector<int> Rows() const;
    void ShowThumbnail();

    CActivityBuilder m_builder;
    CActivityIndex m_index;
    uint64_t m_version = 0;
    bool m_exact = false;
    bool m_zoomed = false;
    uint32_t m_from = 0;
    uint32_t m_to = 0;
    uint32_t m_current = 0;
    uint16_t m_visible = 0xFFFF;
    double m_threshold = kDefaultActivityThreshold;
    int m_hoverX = -1;
    int m_pressX = -1;
    bool m_dragging = false;
    QTimer m_poll;
    std::string m_path;
    int m_disk = 0;
    int m_format = VF_QZB2;
    CPlayerEngine* m_engine = nullptr;
    std::vector<NavPicture> m_thumbPictures;
    QLabel* m_thumb = nullptr;
    QTimer m_thumbTimer;
    uint32_t m_thumbTime = 0;
    uint64_t m_builtSize = 0;
    int m_idlePolls = 0;
    bool m_hasIn = false;
    bool m_hasOut = false;
    uint32_t m_in = 0;
    uint32_t m_out = 0;
};

} // namespace tv

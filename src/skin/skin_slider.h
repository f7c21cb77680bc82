#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>

namespace tv {

// A horizontal bitmap slider. Moves are posted to the parent as the messages
// 10449 (while dragging) and 10450 (on release and on keys) with the control id
// and the position.
class CSkinSlider : public QWidget {
    Q_OBJECT
public:
    explicit CSkinSlider(QWidget* parent = nullptr, int controlId = 0);

    // Track images: the first and, optionally, the filled part. On failure
    // nothing is kept and 0 is returned. The control takes the first track's size.
    int SetTrackImages(int firstId, int secondId, bool transparent, uint32_t keyColour);
    int SetTrackBitmaps(const QImage& first, const QImage& second, bool transparent,
                        uint32_t keyColour);
    // Thumb images: normal and, optionally, the one shown while dragging.
    int SetThumbImages(int normalId, int secondId, bool transparent, uint32_t keyColour);
    int SetThumbBitmaps(const QImage& normal, const QImage& second, bool transparent,
                        uint32_t keyColour);
    void SetMargins(int left, int top, int right, int bottom);
    void SetFillMode(bool on);
    void SetRange(int64_t minimum, int64_t maximum, bool redraw);
    void SetPosition(int64_t position);
    int64_t GetPosition() const { return m_position; }
    int64_t GetMinimum() const { return m_minimum; }
    int64_t GetMaximum() const { return m_maximum; }
    void SetPageStep(int64_t page) { m_page = page; }
    void SetTooltip(int stringId);
    void SetTooltipText(const QString& text);
    int ControlId() const { return m_controlId; }
    bool IsDragging() const { return m_dragging; }
    int ThumbWidth() const;

    // Thumb centre for value v and the value for a thumb centre x, for a track
    // of width w, a thumb of width t and margins l and r.
    static int ThumbCentreFor(int64_t v, int64_t minimum, int64_t maximum, int w, int t, int l,
                              int r);
    static int64_t ValueFor(int x, int64_t minimum, int64_t maximum, int w, int t, int l, int r);

    int ThumbCentre() const;
    // The pixels the slider currently shows.
    QImage RenderImage();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Post(int message);
    void DrawTrack(QImage& canvas, int centre);
    void DrawTrackImage(QImage& canvas, const QImage& image, const QImage& mask, int from, int to);
    void Render();
    void MoveThumbTo(int centre);
    void Invalidate() {
        m_trackDirty = true;
        update();
    }

    int m_controlId;
    int64_t m_minimum = 0;
    int64_t m_maximum = 100;
    int64_t m_position = 0;
    int64_t m_page = 20;
    QImage m_track[2];
    QImage m_trackMask[2];
    QImage m_thumb[2];
    QImage m_thumbMask[2];
    int m_left = 0;
    int m_top = 0;
    int m_right = 0;
    int m_bottom = 0;
    bool m_fill = false;
    bool m_dragging = false;
    int m_grabOffset = 0;
    bool m_focus = false;

    // What is on screen, the pixels the thumb covers and where it stands.
    QImage m_canvas;
    QImage m_underThumb;
    QRect m_thumbRect;
    bool m_trackDirty = true;
};

} // namespace tv

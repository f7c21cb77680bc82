#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>

namespace tv {

// A dialog whose background is a nine-slice skin bitmap, whose shape is a
// rounded rectangle, and which can be moved by dragging its client area.
class CSkinDialog : public QDialog {
    Q_OBJECT
public:
    explicit CSkinDialog(QWidget* parent = nullptr);

    // Loads the background bitmap; 0 when the resource cannot be loaded (the
    // dialog then paints as a plain one).
    int SetBackground(int bitmapId);
    void SetCornerEllipse(int width, int height);
    void SetDragByClient(int flag) { m_dragByClient = flag; }

    int GetDragByClient() const { return m_dragByClient; }
    const QImage& BackgroundBitmap() const { return m_background; }
    // The background as painted at the current client size.
    const QImage& BackgroundImage() const;

    // What the skin paints under `widget`, for controls that draw over it. When
    // the widget sits on no skinned dialog, its parent's window colour.
    static QImage BackgroundUnder(const QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // Starts moving the window with the pointer, as a press on a caption would.
    void BeginWindowMove(QMouseEvent* event);

private:
    void RebuildCanvas() const;
    void ApplyShape();

    QImage m_background;
    // Rebuilt on demand: a hidden window gets no resize events.
    mutable QImage m_canvas;
    int m_cornerWidth = 0;
    int m_cornerHeight = 0;
    int m_dragByClient = 0;
    bool m_moving = false;
    QPoint m_moveGrab;
};

} // namespace tv

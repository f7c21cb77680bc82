#pragma once

#include <QAbstractButton>
#include <QImage>
#include <array>

namespace tv {

// The private message a radio button sends to the others of its group to
// make them drop their check.
constexpr int kMsgClearRadioCheck = 1280;

// A bitmap button: one strip of 4 frames (normal, pressed or checked, hover,
// disabled) or, for a transparent strip, 5 with the mask last.
class CSkinButton : public QAbstractButton {
    Q_OBJECT
public:
    enum Kind { kPush, kToggle, kRadio };

    explicit CSkinButton(QWidget* parent = nullptr, Kind kind = kPush, int controlId = 0);

    // Loads the image strip; 0 when the bitmap cannot be loaded, and the button
    // then draws nothing. The button takes the size of one frame.
    int SetImage(int bitmapId, bool transparent);
    // The same from an image already in memory.
    int SetImageStrip(const QImage& strip, bool transparent);
    void SetTooltip(int stringId);

    int GetCheck() const;
    void SetCheck(int check);

    // Radio buttons with the same group number under one parent exclude each other.
    void SetGroup(int group) { m_group = group; }
    int GetGroup() const { return m_group; }
    Kind GetKind() const { return m_kind; }
    int ControlId() const { return m_controlId; }
    int BitmapId() const { return m_bitmapId; }
    void SetEdge(bool on) { m_edge = on; }
    void SetTextInset(int inset) { m_textInset = inset; }

    // The frame the next paint shows: 0 normal, 1 pressed or checked, 2 hover,
    // 3 disabled.
    int CurrentFrame() const;
    bool IsHover() const { return m_hover; }
    // The pixels the next paint puts on screen.
    QImage RenderImage() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void nextCheckState() override;

private:
    void ClearGroupChecks();

    Kind m_kind;
    int m_controlId;
    int m_bitmapId = 0;
    int m_group = 0;
    bool m_transparent = false;
    std::array<QImage, 4> m_frames;
    QImage m_mask;
    bool m_hover = false;
    bool m_edge = false;
    int m_textInset = 0;
};

// Tooltip text from a string resource: mnemonics removed, tab as a space.
QString TooltipText(const QString& text);

} // namespace tv

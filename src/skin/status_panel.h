#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>

namespace tv {

// The status line: a connection label and channel indicators in client mode,
// a play-state icon with the state and time texts in player mode, all drawn
// from one sprite sheet.
class CStatusPanel : public QWidget {
    Q_OBJECT
public:
    // The sheet colours the colour map replaces (COLORREF order).
    static constexpr uint32_t kSheetColour1 = 0xFFB53F;
    static constexpr uint32_t kSheetColour2 = 0x674017;
    static constexpr uint32_t kSheetBackground = 0x000000;

    explicit CStatusPanel(QWidget* parent = nullptr);

    // Loads the sprite sheet through the colour map; 0 when it cannot be loaded.
    int SetSprite(int bitmapId);
    int SetSpriteSheet(const QImage& sheet);
    // The colours that replace the sheet's two colours and its background.
    void SetColourMap(uint32_t colour1, uint32_t colour2, uint32_t background);
    void SetBackgroundColour(uint32_t colourRef);
    void SetTextColour(uint32_t colourRef);

    void SetTexts(const QString& stateText, const QString& timeText);
    // A passing note (where a file went) drawn in place of the time in player
    // mode and after the channel lights in client mode; empty clears it.
    void SetNote(const QString& note);
    QString NoteText() const { return m_note; }
    // The two modes draw different things: a change repaints.
    void SetPanelMode(int mode);
    void SetPlayState(int state) { m_playState = state; }
    void SetConnectionState(int state) { m_connectionState = state; }
    int GetPanelMode() const { return m_mode; }
    int GetPlayState() const { return m_playState; }
    int GetConnectionState() const { return m_connectionState; }
    QString StateText() const { return m_stateText; }
    QString TimeText() const { return m_timeText; }
    const QImage& Sheet() const { return m_sheet; }

    // The sheet row of the play-state icon.
    static int PlayStateRow(int playState);
    // The pixels the next paint puts on screen.
    QImage RenderImage() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawSprite(QPainter& p, int sheetLeft, int sheetRight, int row, QPoint at) const;
    void DrawNote(QPainter& p, int left) const;
    void ApplyColourMap();

    QImage m_original;
    QImage m_sheet;
    uint32_t m_map[3] = {kSheetColour1, kSheetColour2, kSheetBackground};
    uint32_t m_background = 0x000000;
    uint32_t m_text = 0x00FF00;
    QFont m_font;
    int m_mode = 1;
    int m_playState = 0;
    int m_connectionState = 0;
    QString m_stateText;
    QString m_timeText;
    QString m_note;
};

} // namespace tv

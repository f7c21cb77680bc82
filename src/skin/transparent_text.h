#pragma once

#include <QImage>
#include <QWidget>

namespace tv {

// The window title: white text over a cached copy of the skin beneath it.
class CTransparentText : public QWidget {
    Q_OBJECT
public:
    explicit CTransparentText(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const { return m_text; }
    void SetTextColour(const QColor& colour) { m_colour = colour; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_text;
    QColor m_colour{255, 255, 255};
    QImage m_cache;
};

} // namespace tv

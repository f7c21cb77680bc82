#include "display/video_wnd.h"

// The split grid over the window and over export frames, and the channel
// labels drawn into its cells.

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "display/label_text.h"
#include "engine/split_rules.h"
#include "video/pixel_format.h"

namespace tv {
namespace {

QColor ToQColor(uint32_t colorref) {
    return QColor(GetRValue(colorref), GetGValue(colorref), GetBValue(colorref));
}

int GridSide(int split) {
    int d = 0;
    while ((d + 1) * (d + 1) <= split) {
        ++d;
    }
    if (d == 0 || d * d != split) {
        ++d;
    }
    return d;
}

} // namespace

void CVideoWnd::SetChannelCount(int count) {
    CsLock lock(m_lock);
    if (count >= 1 && count <= kMaxChannels) {
        m_channelCount = count;
    }
}

int CVideoWnd::GetChannelCount() const {
    CsLock lock(m_lock);
    return m_channelCount;
}

int CVideoWnd::GetSplit(int* split, int* page) const {
    CsLock lock(m_lock);
    if (split != nullptr) {
        *split = m_split;
    }
    if (page != nullptr) {
        *page = m_page;
    }
    return m_split;
}

int CVideoWnd::SetSplit(int split, int page) {
    CsLock lock(m_lock);
    if (!ApplySplitRule(m_channelCount, split, page, &m_split, &m_page)) {
        return 0;
    }
    if (split != 1) {
        m_rememberedSplit = split;
        m_rememberedPage = m_page;
    }
    RecomputeWindowLayout();
    SetUp();
    Repaint();
    return 1;
}

void CVideoWnd::ComputeLayout(int width, int height, RECT* rects) {
    CsLock lock(m_lock);
    const int n = std::max(m_split, 1);
    const int d = GridSide(n);
    const int e = width / d;
    const int f = height / d;
    const int rw = width - d * e;
    const int rh = height - d * f;
    for (int i = 0; i < kMaxChannels; ++i) {
        if (i >= m_channelCount) {
            m_visible[i] = 0;
            continue;
        }
        const int k = i % n;
        const int l = k % d;
        const int m = k / d;
        RECT& r = rects[i];
        r.left = e * l + std::min(rw, l);
        r.right = r.left + e + (l < rw ? 1 : 0);
        r.top = f * m + std::min(rh, m);
        r.bottom = r.top + f + (m < rh ? 1 : 0);
        m_visible[i] = (i / n == m_page) ? 1 : 0;
    }
}

void CVideoWnd::RecomputeWindowLayout() {
    CsLock lock(m_lock);
    if (m_clientWidth <= 0 || m_clientHeight <= 0 || m_channelCount <= 0) {
        return;
    }
    if (m_ddActive && m_back.live) {
        ComputeLayout(m_back.width, m_back.height, m_windowRects.data());
    } else {
        ComputeLayout(m_clientWidth, m_clientHeight, m_windowRects.data());
    }
}

RECT CVideoWnd::GetChannelRect(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_windowRects[channel] : RECT{};
}

RECT CVideoWnd::GetExportRect(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_exportRects[channel] : RECT{};
}

int CVideoWnd::IsChannelVisible(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_visible[channel] : 0;
}

int CVideoWnd::HasPicture(int channel) const {
    CsLock lock(m_lock);
    return channel >= 0 && channel < kMaxChannels ? m_hasPicture[channel] : 0;
}

void CVideoWnd::GetPictureSize(int* width, int* fieldHeight) const {
    CsLock lock(m_lock);
    int w = 0;
    int h = 0;
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        if (m_hasPicture[ch]) {
            w = std::max(w, m_widths[ch]);
            h = std::max(h, m_heights[ch]);
        }
    }
    if (width != nullptr) {
        *width = w > 0 ? w : 640;
    }
    if (fieldHeight != nullptr) {
        *fieldHeight = h > 0 ? h : 224;
    }
}

// Labels.

QFont CVideoWnd::MakeLabelFont(int height, int width, int weight, int italic,
                               const std::string& face) {
    QFont font(QString::fromStdString(face));
    // A negative height is the character height; a positive one the whole
    // cell, leading included, so the characters come out a little smaller.
    int pixels = height == 0 ? 16 : std::min(std::abs(height), 512);
    font.setPixelSize(pixels);
    font.setWeight(weight <= 0 ? QFont::Normal
                               : static_cast<QFont::Weight>(std::min(weight, 1000)));
    font.setItalic(italic != 0);
    if (height > 0) {
        while (pixels > 1 && QFontMetrics(font).height() > height) {
            font.setPixelSize(--pixels);
        }
    }
    if (width > 0) {
        // A requested average character width, against the usual half of the height.
        font.setStretch(std::clamp(width * 200 / pixels, 1, 4000));
    }
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

int CVideoWnd::SetShowLabels(int on) {
    CsLock lock(m_lock);
    m_showLabels = on ? 1 : 0;
    return 1;
}

int CVideoWnd::GetShowLabels() const {
    CsLock lock(m_lock);
    return m_showLabels;
}

int CVideoWnd::SetLabelFont(int height, int width, int weight, int italic,
                            const std::string& face) {
    CsLock lock(m_lock);
    m_labelFont = MakeLabelFont(height, width, weight, italic, face);
    ++m_fontSerial;
    return 1;
}

QFont CVideoWnd::GetLabelFont() const {
    CsLock lock(m_lock);
    return m_labelFont;
}

int CVideoWnd::SetTextColour(COLORREF colour) {
    CsLock lock(m_lock);
    m_textColour = colour == 0 ? 0x050505 : colour;
    return 1;
}

int CVideoWnd::SetOutlineColour(COLORREF colour) {
    CsLock lock(m_lock);
    m_outlineColour = colour == 0 ? 0x050505 : colour;
    return 1;
}

COLORREF CVideoWnd::GetTextColour() const {
    CsLock lock(m_lock);
    return m_textColour;
}

COLORREF CVideoWnd::GetOutlineColour() const {
    CsLock lock(m_lock);
    return m_outlineColour;
}

int CVideoWnd::SetShowTime(int flag) {
    CsLock lock(m_lock);
    m_showTime = flag ? 1 : 0;
    return 1;
}

int CVideoWnd::GetShowTime() const {
    CsLock lock(m_lock);
    return m_showTime;
}

int CVideoWnd::SetTimeFormat(const std::string& format) {
    CsLock lock(m_lock);
    m_timeFormat = format;
    return 1;
}

std::string CVideoWnd::GetTimeFormat() const {
    CsLock lock(m_lock);
    return m_timeFormat;
}

std::string CVideoWnd::GetLabelText(int channel) const {
    CsLock lock(m_lock);
    if (channel < 0 || channel >= kMaxChannels) {
        return std::string();
    }
    return MakeLabelText(channel, m_times[channel], m_showTime != 0, m_hasPicture[channel] != 0,
                         m_timeFormat);
}

void CVideoWnd::DrawLabel(int channel, const SYSTEMTIME& time, int x, int y) {
    CsLock lock(m_lock);
    if (!m_showLabels) {
        return;
    }
    if (m_ddActive) {
        if (m_back.live && !m_back.IsLost()) {
            DrawLabelOn(m_back.image, m_back.format, channel, time, x, y);
        }
    } else if (!m_gdi.isNull()) {
        DrawLabelOn(m_gdi, PF_RGB32, channel, time, x, y);
    }
}

void CVideoWnd::DrawExportLabel(int channel, const SYSTEMTIME& time, int x, int y) {
    CsLock lock(m_lock);
    if (m_composer) {
        DrawLabelOnFrame(m_composer->Frame(), channel, time, x, y);
    }
}

void CVideoWnd::DrawLabelOn(QImage& target, int format, int channel, const SYSTEMTIME& time, int x,
                            int y) {
    if (channel < 0 || channel >= kMaxChannels || target.isNull()) {
        return;
    }
    const QImage& label = LabelImage(m_labelCache[channel], channel, time, format);
    QPainter p(&target);
    p.drawImage(x - 2, y - 2, label);
}

void CVideoWnd::DrawLabelOnFrame(CSplitFrame& frame, int channel, const SYSTEMTIME& time, int x,
                                 int y) {
    if (channel < 0 || channel >= kMaxChannels) {
        return;
    }
    const QImage& label = LabelImage(m_exportLabelCache[channel], channel, time, PF_RGB24);
    // The frame's rows run bottom-up, which a QImage cannot: the label is
    // painted on a top-down copy of the pixels under it, then copied back.
    const QRect area = QRect(x - 2, y - 2, label.width(), label.height())
                           .intersected(QRect(0, 0, frame.Width(), frame.Height()));
    if (area.isEmpty()) {
        return;
    }
    QImage patch(area.size(), QImage::Format_BGR888);
    if (patch.isNull()) {
        return;
    }
    const size_t rowBytes = size_t(area.width()) * 3;
    for (int r = 0; r < area.height(); ++r) {
        std::memcpy(patch.scanLine(r), frame.Row(area.top() + r) + size_t(area.left()) * 3,
                    rowBytes);
    }
    {
        QPainter p(&patch);
        p.drawImage(x - 2 - area.left(), y - 2 - area.top(), label);
    }
    for (int r = 0; r < area.height(); ++r) {
        std::memcpy(frame.Row(area.top() + r) + size_t(area.left()) * 3, patch.constScanLine(r),
                    rowBytes);
    }
}

const QImage& CVideoWnd::LabelImage(LabelCache& cache, int channel, const SYSTEMTIME& time,
                                    int format) {
    std::string text =
        MakeLabelText(channel, time, m_showTime != 0, m_hasPicture[channel] != 0, m_timeFormat);
    const uint32_t textColour = SurfaceColour(m_textColour, format);
    const uint32_t outlineColour = SurfaceColour(m_outlineColour, format);
    if (cache.image.isNull() || cache.text != text || cache.textColour != textColour ||
        cache.outlineColour != outlineColour || cache.fontSerial != m_fontSerial) {
        // The outlined text is drawn once per change of text and kept, as the
        // time in a label changes once a second while pictures come 25 times.
        QString qtext = QString::fromStdString(text);
        QFontMetrics metrics(m_labelFont);
        int w = metrics.horizontalAdvance(qtext) + 4;
        int h = metrics.height() + 4;
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setFont(m_labelFont);
        p.setPen(ToQColor(outlineColour));
        const int base = 2 + metrics.ascent();
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if (dx != 0 || dy != 0) {
                    p.drawText(2 + dx, base + dy, qtext);
                }
            }
        }
        p.setPen(ToQColor(textColour));
        p.drawText(2, base, qtext);
        p.end();
        cache.text = std::move(text);
        cache.textColour = textColour;
        cache.outlineColour = outlineColour;
        cache.fontSerial = m_fontSerial;
        cache.image = std::move(image);
    }
    return cache.image;
}

} // namespace tv

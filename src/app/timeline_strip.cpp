#include "app/timeline_strip.h"

#include "engine/player_engine.h"
#include "platform/system.h"
#include "video/color_convert.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <vector>

namespace tv {

namespace {

constexpr int kAxisHeight = 13;
constexpr int kHover = 3;
// Room on the left for the row names.
constexpr int kLabelWidth = 34;
// Below the activity threshold a second is only tinted, up to this share of
// the way to the mark colour, so that what counts as activity stands apart.
constexpr double kQuietTint = 0.35;

QString LocalText(uint32_t t, bool date, bool seconds) {
    const SYSTEMTIME s = BlockTimeToLocal(t, GetTimeZoneBias());
    QString text;
    if (date)
        text = QString::asprintf("%04u-%02u-%02u ", s.wYear, s.wMonth, s.wDay);
    text += seconds ? QString::asprintf("%02u:%02u:%02u", s.wHour, s.wMinute, s.wSecond)
                    : QString::asprintf("%02u:%02u", s.wHour, s.wMinute);
    return text;
}

} // namespace

CTimelineStrip::CTimelineStrip(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumHeight(kMinHeight);
    setCursor(Qt::PointingHandCursor);
    m_poll.setInterval(250);
    connect(&m_poll, &QTimer::timeout, this, [this] { Poll(); });
    m_thumbTimer.setSingleShot(true);
    m_thumbTimer.setInterval(30);
    connect(&m_thumbTimer, &QTimer::timeout, this, [this] { ShowThumbnail(); });
}

CTimelineStrip::~CTimelineStrip() = default;

int CTimelineStrip::HeightForArea(int area) {
    return std::clamp(area / 5, kMinHeight, kMaxHeight);
}

int CTimelineStrip::HeightBelowVideo(int videoHeight) {
    return std::clamp(videoHeight / 4, kMinHeight, kMaxHeight);
}

void CTimelineStrip::SetMarks(bool hasIn, uint32_t in, bool hasOut, uint32_t out) {
    if (hasIn == m_hasIn && hasOut == m_hasOut && (!hasIn || in == m_in) &&
        (!hasOut || out == m_out))
        return;
    m_hasIn = hasIn;
    m_hasOut = hasOut;
    m_in = hasIn ? in : 0;
    m_out = hasOut ? out : 0;
    update();
}

std::vector<int> CTimelineStrip::Rows() const {
    const uint16_t mask = m_index.ChannelMask();
    std::vector<int> rows;
    for (int c = 0; c < kActivityChannels; ++c)
        if (mask & (1u << c))
            rows.push_back(c);
    if (rows.empty())
        rows.push_back(0);
    return rows;
}

int CTimelineStrip::RowHeight() const {
    return Plot().height() / int(Rows().size());
}

void CTimelineStrip::SetSource(const std::string& path, int diskMode, int videoFormat) {
    ActivityScanOptions o;
    o.format = videoFormat;
    o.disk = diskMode != 0;
    m_index = CActivityIndex{};
    m_exact = false;
    m_zoomed = false;
    m_from = m_to = m_current = 0;
    m_path = path;
    m_builtSize = 0;
    m_idlePolls = 0;
    m_disk = diskMode;
    m_format = videoFormat;
    m_builder.Start(path, o);
    m_version = 0;
    m_poll.start();
    update();
}

void CTimelineStrip::ClearSource() {
    m_builder.Stop();
    m_poll.stop();
    m_path.clear();
    if (m_thumb != nullptr)
        m_thumb->hide();
    m_index = CActivityIndex{};
    m_from = m_to = m_current = 0;
    update();
}

void CTimelineStrip::Poll() {
    bool exact = false;
    if (m_builder.Fetch(&m_index, &m_version, &exact)) {
        m_exact = exact;
        if (!m_zoomed)
            ShowAll();
        update();
    }
    // A recording still being written is indexed on as it grows.
    if (m_builder.IsDone() && ++m_idlePolls >= 8) {
        m_idlePolls = 0;
        struct stat st;
        if (::stat(m_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            const uint64_t size = uint64_t(st.st_size);
            if (m_builtSize != 0 && size > m_builtSize)
                m_builder.Refresh();
            m_builtSize = size;
        }
    }
}

void CTimelineStrip::SetCurrentTime(uint32_t utc) {
    if (utc != m_current) {
        m_current = utc;
        update();
    }
}

void CTimelineStrip::ShowAll() {
    m_from = m_index.FirstTime();
    m_to = std::max(m_index.LastTime() + 1, m_from + 1);
    m_zoomed = false;
    update();
}

void CTimelineStrip::SetView(uint32_t from, uint32_t to) {
    const uint32_t first = m_index.FirstTime();
    const uint32_t last = m_index.LastTime() + 1;
    if (m_index.Empty())
        return;
    uint32_t span = std::max(to > from ? to - from : 0u, kMinSpan);
    span = std::min(span, std::max(last - first, kMinSpan));
    from = std::clamp(from, first, last > span ? last - span : first);
    m_from = from;
    m_to = from + span;
    m_zoomed = m_from != first || m_to != std::max(last, first + 1);
    update();
}

QRect CTimelineStrip::Plot() const {
    return QRect(kLabelWidth, kAxisHeight, width() - kLabelWidth - 2, height() - kAxisHeight - 2);
}

uint32_t CTimelineStrip::TimeAtX(int x) const {
    const QRect r = Plot();
    if (m_to <= m_from || r.width() <= 0)
        return m_from;
    const double f = std::clamp(double(x - r.left()) / r.width(), 0.0, 1.0);
    return m_from + uint32_t(std::floor(f * double(m_to - m_from)));
}

int CTimelineStrip::XOfTime(uint32_t t) const {
    const QRect r = Plot();
    if (m_to <= m_from)
        return r.left();
    return r.left() + int(std::floor((double(t) - m_from) * r.width() / double(m_to - m_from)));
}

int64_t CTimelineStrip::OffsetAt(uint32_t t) const {
    const long i = m_index.FindSecond(t);
    return i < 0 ? -1 : int64_t(m_index.Seconds()[size_t(i)].offset);
}

bool CTimelineStrip::FindEvent(bool forward, ActivityEvent* out) const {
    const uint32_t from = m_current != 0 ? m_current : (forward ? 0 : 0xFFFFFFFFu);
    return m_index.NextEventStart(from, forward, m_visible, m_threshold, out);
}

void CTimelineStrip::DrawTicks(QPainter& p, const QRect& plot) {
    static const uint32_t kSteps[] = {1,    5,    10,    30,    60,    300,   600,
                                      1800, 3600, 10800, 21600, 43200, 86400, 7 * 86400};
    const uint32_t span = m_to - m_from;
    uint32_t step = kSteps[std::size(kSteps) - 1];
    for (uint32_t s : kSteps) {
        if (double(s) * plot.width() / span >= 90) {
            step = s;
            break;
        }
    }
    const bool days = span > 86400 || step >= 86400;
    const long bias = GetTimeZoneBias();
    // Ticks on round local times.
    const int64_t local0 = int64_t(m_from) - bias;
    int64_t t = (local0 + step - 1) / step * step + bias;
    p.setFont(QFont(font().family(), 7));
    for (; t < int64_t(m_to); t += step) {
        const int x = XOfTime(uint32_t(t));
        p.setPen(QColor(120, 130, 150));
        p.drawLine(x, plot.top() - 3, x, plot.top());
        const bool midnight = (t - bias) % 86400 == 0;
        const QString label = LocalText(uint32_t(t), days || midnight, step < 60);
        if (x + 2 + p.fontMetrics().horizontalAdvance(label) > plot.right())
            continue;
        p.setPen(midnight ? QColor(255, 220, 120) : QColor(200, 205, 215));
        p.drawText(x + 2, plot.top() - 3, label);
    }
}

void CTimelineStrip::DrawMarks(QPainter& p, const QRect& plot) {
    if (!m_hasIn && !m_hasOut)
        return;
    const int left = plot.left();
    const int right = plot.left() + plot.width();
    auto clampX = [&](uint32_t t) {
        return t < m_from ? left - 1 : t >= m_to ? right : XOfTime(t);
    };
    if (m_hasIn && m_hasOut && m_in < m_out) {
        const int x0 = std::max(left, clampX(m_in));
        const int x1 = std::min(right, clampX(m_out));
        if (x1 > x0)
            p.fillRect(QRect(x0, plot.top(), x1 - x0, plot.height()), QColor(90, 200, 255, 55));
    }
    p.setFont(QFont(font().family(), 7, QFont::Bold));
    const struct {
        bool has;
        uint32_t t;
        const char* text;
    } marks[] = {{m_hasIn, m_in, "IN"}, {m_hasOut, m_out, "OUT"}};
    for (const auto& m : marks) {
        if (!m.has || m.t < m_from || m.t >= m_to)
            continue;
        const int x = XOfTime(m.t);
        p.setPen(QPen(QColor(90, 200, 255), 2));
        p.drawLine(x, plot.top(), x, plot.bottom());
        const QString text = QString::fromLatin1(m.text);
        const int tw = p.fontMetrics().horizontalAdvance(text) + 4;
        const QRect flag(m.text[0] == 'I' ? x : x - tw, plot.bottom() - 11, tw, 11);
        p.fillRect(flag, QColor(90, 200, 255));
        p.setPen(QColor(0, 0, 0));
        p.drawText(flag, Qt::AlignCenter, text);
    }
}

void CTimelineStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(18, 20, 26));
    const QRect plot = Plot();
    if (m_index.Empty() || plot.width() <= 0) {
        p.setPen(QColor(150, 150, 160));
        p.drawText(rect(), Qt::AlignCenter,
                   m_builder.GetPath().empty() || m_builder.IsDone()
                       ? QStringLiteral("No activity index")
                       : QStringLiteral("Indexing..."));
        return;
    }
    const std::vector<int> rows = Rows();
    const int n = int(rows.size());
    const int w = plot.width();
    // Per pixel column: recorded or not, and the strongest change per row.
    std::vector<uint8_t> recorded(size_t(w), 0);
    std::vector<uint8_t> level(size_t(w) * size_t(n), 0);
    const std::vector<ActivitySecond>& s = m_index.Seconds();
    long i = m_index.FindSecond(m_from);
    const double perSecond = double(w) / double(m_to - m_from);
    for (; i >= 0 && size_t(i) < s.size() && s[size_t(i)].time < m_to; ++i) {
        const ActivitySecond& a = s[size_t(i)];
        int x0 = int((double(a.time) - m_from) * perSecond);
        // A coarse index stands for the stretch up to its next sample.
        uint32_t until = a.time + 1;
        if (!m_exact && size_t(i) + 1 < s.size() && s[size_t(i) + 1].time - a.time < 600)
            until = s[size_t(i) + 1].time;
        int x1 = std::max(x0 + 1, int((double(until) - m_from) * perSecond));
        x0 = std::clamp(x0, 0, w - 1);
        x1 = std::clamp(x1, x0 + 1, w);
        for (int x = x0; x < x1; ++x) {
            recorded[size_t(x)] = 1;
            for (int r = 0; r < n; ++r) {
                uint8_t& l = level[size_t(r) * size_t(w) + size_t(x)];
                l = std::max(l, a.level[rows[size_t(r)]]);
            }
        }
    }
    const double rowH = double(plot.height()) / n;
    const int limit = std::clamp(int(std::ceil(m_threshold * 255.0)), 1, 255);
    QFont labelFont(font().family());
    labelFont.setPixelSize(std::clamp(int(rowH) - 2, 8, 13));
    labelFont.setBold(true);
    for (int r = 0; r < n; ++r) {
        const int y0 = plot.top() + int(r * rowH);
        const int y1 = plot.top() + int((r + 1) * rowH) - (rowH >= 4 ? 1 : 0);
        const bool shown = (m_visible >> rows[size_t(r)]) & 1;
        // Seconds above the threshold are what Page Up / Page Down walk to:
        // drawn solid, the rest only tinted by how much changed.
        const QColor base = shown ? QColor(40, 58, 86) : QColor(40, 44, 52);
        const QColor mark = shown ? QColor(255, 150, 20) : QColor(170, 120, 70);
        for (int x = 0; x < w; ++x) {
            QColor c(22, 22, 26);
            if (recorded[size_t(x)]) {
                const int l = level[size_t(r) * size_t(w) + size_t(x)];
                if (l >= limit) {
                    c = mark;
                } else {
                    const double v = kQuietTint * l / limit;
                    c = QColor(int(base.red() + v * (mark.red() - base.red())),
                               int(base.green() + v * (mark.green() - base.green())),
                               int(base.blue() + v * (mark.blue() - base.blue())));
                }
            }
            p.setPen(c);
            p.drawLine(plot.left() + x, y0, plot.left() + x, y1);
        }
        p.setFont(labelFont);
        p.setPen(shown ? QColor(230, 232, 240) : QColor(130, 134, 145));
        p.drawText(QRect(2, y0, kLabelWidth - 5, y1 - y0 + 1), Qt::AlignRight | Qt::AlignVCenter,
                   QString::asprintf("CH%d", rows[size_t(r)] + 1));
    }
    DrawMarks(p, plot);
    DrawTicks(p, plot);
    if (m_current >= m_from && m_current < m_to) {
        const int x = XOfTime(m_current);
        p.setPen(QPen(QColor(255, 60, 60), 2));
        p.drawLine(x, plot.top() - 4, x, plot.bottom());
    }
    if (m_dragging && m_pressX >= 0 && m_hoverX >= 0) {
        const QRect band(QPoint(std::min(m_pressX, m_hoverX), plot.top()),
                         QPoint(std::max(m_pressX, m_hoverX), plot.bottom()));
        p.fillRect(band, QColor(255, 255, 255, 60));
    }
    if (m_hoverX >= 0) {
        p.setPen(QColor(255, 255, 255));
        p.drawLine(m_hoverX, plot.top(), m_hoverX, plot.bottom());
        const QString text = LocalText(TimeAtX(m_hoverX), true, true);
        p.setFont(QFont(font().family(), 8));
        const QRect box = p.fontMetrics().boundingRect(text).adjusted(-3, -1, 3, 1);
        int bx = std::clamp(m_hoverX + 6, 0, width() - box.width());
        const QRect where(bx, plot.top() + 1, box.width(), box.height());
        p.fillRect(where, QColor(0, 0, 0, 200));
        p.drawText(where, Qt::AlignCenter, text);
    }
    if (!m_exact || !m_builder.IsDone()) {
        p.setPen(QColor(160, 160, 170));
        p.setFont(QFont(font().family(), 7));
        p.drawText(rect().adjusted(0, 0, -4, 0), Qt::AlignRight | Qt::AlignTop,
                   QString::asprintf("indexing %d%%", int(m_builder.GetProgress() * 100)));
    }
}

void CTimelineStrip::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        m_pressX = int(e->position().x());
        m_dragging = false;
    }
    e->accept();
}

void CTimelineStrip::mouseMoveEvent(QMouseEvent* e) {
    m_hoverX = int(e->position().x());
    if (m_pressX >= 0 && std::abs(m_hoverX - m_pressX) > kHover)
        m_dragging = true;
    if (!m_dragging && !m_index.Empty())
        m_thumbTimer.start();
    update();
    e->accept();
}

void CTimelineStrip::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || m_pressX < 0) {
        e->accept();
        return;
    }
    const int x = int(e->position().x());
    if (m_dragging) {
        SetView(TimeAtX(std::min(x, m_pressX)), TimeAtX(std::max(x, m_pressX)));
    } else if (!m_index.Empty()) {
        const uint32_t t = TimeAtX(x);
        const int64_t off = OffsetAt(t);
        if (off >= 0) {
            m_current = t;
            emit SeekRequested(quint64(off), t);
        }
    }
    m_pressX = -1;
    m_dragging = false;
    update();
    e->accept();
}

void CTimelineStrip::mouseDoubleClickEvent(QMouseEvent* e) {
    ShowAll();
    e->accept();
}

void CTimelineStrip::wheelEvent(QWheelEvent* e) {
    if (m_index.Empty() || m_to <= m_from) {
        e->accept();
        return;
    }
    const int steps = e->angleDelta().y() / 120;
    if (steps == 0) {
        e->accept();
        return;
    }
    const int x = int(e->position().x());
    const uint32_t at = TimeAtX(x);
    const double factor = std::pow(steps > 0 ? 0.6 : 1 / 0.6, std::abs(steps));
    const double span = std::max(double(kMinSpan), (m_to - m_from) * factor);
    const double left = at - span * (double(x - Plot().left()) / std::max(1, Plot().width()));
    SetView(uint32_t(std::max(0.0, left)), uint32_t(std::max(0.0, left) + span));
    e->accept();
}

void CTimelineStrip::leaveEvent(QEvent*) {
    m_hoverX = -1;
    m_thumbTimer.stop();
    if (m_thumb != nullptr)
        m_thumb->hide();
    update();
}

QImage CTimelineStrip::Thumbnail(uint32_t t, int budgetMs) {
    const int64_t offset = OffsetAt(t);
    if (offset < 0 || m_path.empty() || m_engine == nullptr)
        return {};
    std::vector<int> channels;
    uint16_t mask = 0;
    const uint16_t shown = m_index.ChannelMask() & m_visible;
    for (int c = 0; c < kActivityChannels && channels.size() < 9; ++c)
        if (shown & (1u << c)) {
            channels.push_back(c);
            mask |= uint16_t(1u << c);
        }
    if (channels.empty())
        return {};
    // What a click there would show, from each channel's key picture on.
    if (!m_engine->GetPicturesAt(uint64_t(offset), mask, budgetMs, &m_thumbPictures) ||
        m_thumbPictures.empty())
        return {};
    const int side = channels.size() == 1 ? 1 : channels.size() <= 4 ? 2 : 3;
    const QSize cell(side == 1 ? 200 : 120, side == 1 ? 70 : 42);
    QImage out(cell.width() * side, cell.height() * side, QImage::Format_RGB32);
    out.fill(QColor(10, 10, 12));
    QPainter p(&out);
    for (const NavPicture& pic : m_thumbPictures) {
        const size_t i =
            size_t(std::find(channels.begin(), channels.end(), pic.channel) - channels.begin());
        if (i >= channels.size())
            continue;
        QImage picture(pic.width, pic.height, QImage::Format_RGB32);
        YuvToRgb32(picture.bits(), int(picture.bytesPerLine()), pic.yuv.data(), pic.width,
                   pic.height);
        p.drawImage(
            QRect(QPoint(int(i % side) * cell.width(), int(i / side) * cell.height()), cell),
            picture);
    }
    return out;
}

void CTimelineStrip::ShowThumbnail() {
    if (m_hoverX < 0 || parentWidget() == nullptr)
        return;
    const uint32_t t = TimeAtX(m_hoverX);
    if (m_thumb == nullptr) {
        m_thumb = new QLabel(parentWidget());
        m_thumb->setFrameStyle(QFrame::Box);
        m_thumb->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    if (t != m_thumbTime || m_thumb->pixmap().isNull()) {
        const QImage img = Thumbnail(t);
        if (img.isNull()) {
            m_thumb->hide();
            return;
        }
        m_thumb->setPixmap(QPixmap::fromImage(img));
        m_thumb->adjustSize();
        m_thumbTime = t;
    }
    const QPoint at = mapTo(parentWidget(), QPoint(m_hoverX, 0));
    const int x = std::clamp(at.x() - m_thumb->width() / 2, 0,
                             std::max(0, parentWidget()->width() - m_thumb->width()));
    m_thumb->move(x, std::max(0, at.y() - m_thumb->height() - 2));
    m_thumb->raise();
    m_thumb->show();
}

} // namespace tv

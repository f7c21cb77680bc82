#pragma once

// The video window: keeps the newest picture of every channel, converts it and
// draws each visible channel into its cell of the split grid, with its label,
// through display-format surfaces or through the plain 24-bit path; composes
// export frames while an AVI export runs and saves the window's picture.
//
// Render runs on the engine's worker thread. It converts and composes into the
// back image under the window's re-entrant lock and then asks the GUI thread
// to repaint; the paint event only copies the back image to the screen. Every
// other entry is for the GUI thread and takes the same lock.

#include <QFont>
#include <QImage>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "compose/split_frame.h"
#include "display/surface_slot.h"
#include "engine/video_output.h"
#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/win_types.h"

namespace tv {

constexpr int kMaxChannels = 16;
constexpr int kPictureBufferSize = 261120; // 640 x 272 YUV 4:2:0
constexpr int kRgbBufferSize = 522240;     // 640 x 272 x 3
constexpr int kExportBufferSize = 1244160; // 720 x 576 x 3, the largest export frame
constexpr uint32_t kSurfaceFillColour = 0x0A0A0A;

// The engine's video output on screen; the main window makes it and hands it
// to the engine.
class CVideoWnd : public QWidget, public IVideoOutput {
    Q_OBJECT

public:
    explicit CVideoWnd(QWidget* parent = nullptr);
    ~CVideoWnd() override;
    CVideoWnd(const CVideoWnd&) = delete;
    CVideoWnd& operator=(const CVideoWnd&) = delete;

    // Stores a decoded picture (planar YUV 4:2:0) of a channel and draws it.
    // Channels 0 .. count-1; widths 320 or 640; heights 112, 136, 224 or 272.
    // 1 when the picture was drawn, 0 when it was refused or not drawn.
    int Render(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
               int height) override;

    int SetUseDirectDraw(int on) override;
    int GetUseDirectDraw() const override;
    int IsDirectDrawActive() const;
    int SetExportMode(int on);
    int GetExportMode() const;
    // Where export frames go (not owned); the frame size comes from it.
    void SetExportSink(IExportSink* sink) override;
    void SetEngineMode(int mode) override;
    int GetEngineMode() const;

    void Repaint();
    void Refresh();
    void Clear() override;
    // One channel's cell back to black: it has no picture at the place shown.
    void ClearChannel(int channel) override;
    // The pictures on screen are no longer live (the recorder was lost):
    // every cell is drawn dimmed with the text over it, lines split at '\n',
    // until an empty text or Clear. Only the screen shows it; still images
    // and export frames keep the pictures as they were.
    void SetOfflineText(const std::string& text);
    std::string GetOfflineText() const;
    // Writes what the client area shows, labels included, as a bitmap file and
    // puts the picture on the clipboard. 1 when the file was written.
    int SaveImage(const std::string& path) override;
    std::string GetLastErrorText() const;

    // Layout.
    void SetChannelCount(int count) override;
    int GetChannelCount() const override;
    int GetSplit(int* split, int* page) const override;
    // split 1, 4, 9 or 16 up to the channel count; a negative page moves to the
    // next page of the same split (wrapping), or to page 0 of a new split.
    int SetSplit(int split, int page) override;
    // Cells of the split grid over a width x height target for the channels;
    // writes rects[0 .. count-1] and the visible flags.
    void ComputeLayout(int width, int height, RECT* rects);
    void RecomputeWindowLayout();
    RECT GetChannelRect(int channel) const;
    RECT GetExportRect(int channel) const;
    int IsChannelVisible(int channel) const;
    int HasPicture(int channel) const;
    // The picture size an export frame is built from: the widest and tallest
    // picture any channel holds (640 x 224 before the first picture). The export
    // frame is this width and twice this height (two fields).
    void GetPictureSize(int* width, int* fieldHeight) const;

    // Labels.
    int SetShowLabels(int on) override;
    int GetShowLabels() const;
    int SetLabelFont(int height, int width, int weight, int italic,
                     const std::string& face) override;
    QFont GetLabelFont() const;
    int SetTextColour(COLORREF colour) override;
    int SetOutlineColour(COLORREF colour) override;
    COLORREF GetTextColour() const;
    COLORREF GetOutlineColour() const;
    int SetShowTime(int flag) override;
    int GetShowTime() const override;
    int SetTimeFormat(const std::string& format) override;
    std::string GetTimeFormat() const;
    std::string GetLabelText(int channel) const;
    void DrawLabel(int channel, const SYSTEMTIME& time, int x, int y);
    void DrawExportLabel(int channel, const SYSTEMTIME& time, int x, int y);

    // Mouse remote control: the latest event in client coordinates.
    MouseRecord GetMouseRecord() const;
    // 1 and the record when an event is pending (it then no longer is), else 0.
    int TakeMouseEvent(MouseRecord* record) override;
    void ClearMousePending();

    // What the client area shows, as a 32-bit image.
    QImage GrabClient() const;
    // A copy of the back surface in its own pixel format (null with the plain path).
    QImage GetBackSurface() const;
    // Pixel format code of the surfaces, 0 with the plain path.
    int GetPixelFormat() const;

    // The surface pixel format for every window (0: the screen's own). A change
    // acts as a display mode switch: existing surfaces are lost.
    static void ForcePixelFormat(int code);
    static void SetDisplayFormat(int bitsPerPixel, uint32_t redMask, int palettized);

protected:
    void paintEvent(QPaintEvent* event) override;
    void DrawOffline(class QPainter& painter);
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct LabelCache {
        std::string text;
        uint32_t textColour = 0;
        uint32_t outlineColour = 0;
        uint32_t fontSerial = 0;
        QImage image; // outline and text on transparent, anchored at (-2, -2)
    };

    int DrawChannelDirect(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                          int height);
    int DrawChannelGdi(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                       int height);
    void StorePicture(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                      int height);
    int SetUp();
    void ClearDisplaySlots();
    int CreateOffscreen(SurfaceSlot& slot, int width, int height);
    int ConvertInto(SurfaceSlot& slot, const uint8_t* picture, int width, int height);
    void BlitVideoTo(SurfaceSlot& target, const RECT& rect);
    void DrawDibTo(QImage& target, const RECT& rect, int width, int height);
    void Present();
    void RequestUpdate();

    bool ExportFrameSize(int* width, int* height, int* topDown);
    bool Composing() const;
    // The composer of export frames at the sink's frame size, laid out as the
    // window; null when the sink describes no frame that fits.
    CSplitComposer* ExportComposer();
    void ComposeExport(int channel, const SYSTEMTIME& time);
    void WriteExportFrame(const CSplitFrame& frame);
    void RecomputeExportLayout(int width, int height);

    void DrawLabelOn(QImage& target, int format, int channel, const SYSTEMTIME& time, int x, int y);
    void DrawLabelOnFrame(CSplitFrame& frame, int channel, const SYSTEMTIME& time, int x, int y);
    // The outlined label, anchored at (-2, -2), drawn again only when its
    // text, colours or font changed.
    const QImage& LabelImage(LabelCache& cache, int channel, const SYSTEMTIME& time, int format);
    static QFont MakeLabelFont(int height, int width, int weight, int italic,
                               const std::string& face);
    bool RecordMouse(int x, int y, int code, bool setCode);
    void SetError(const std::string& text);

    mutable CriticalSection m_lock;

    int m_channelCount = 1;
    int m_page = 0;
    int m_split = 1;
    int m_rememberedSplit = 1;
    int m_rememberedPage = 0;
    int m_showTime = 1;
    int m_showLabels = 0;

    mutable std::mutex m_mouseLock;
    MouseRecord m_mouse;

    SurfaceSlot m_primary;
    SurfaceSlot m_back;
    SurfaceSlot m_video;
    bool m_clipper = false;

    IExportSink* m_exportSink = nullptr;
    // Export frames are composed in memory whichever path draws the screen,
    // so an export holds the decoded colours and not the screen's depth.
    std::unique_ptr<CSplitComposer> m_composer;
    std::unique_ptr<uint8_t[]> m_exportRgb; // a frame turned top-down for a writer that wants it
    int m_ddWanted = 1;

    std::array<RECT, kMaxChannels> m_windowRects{};
    std::array<RECT, kMaxChannels> m_exportRects{};
    std::array<int, kMaxChannels> m_visible{};
    std::array<int, kMaxChannels> m_hasPicture{};

    COLORREF m_outlineColour = 0x141414;
    COLORREF m_textColour = 0x80FFFF;
    int m_clearFlag = 0;
    std::string m_lastError;
    int m_setupNeeded = 1;

    std::unique_ptr<uint8_t[]> m_rgb;
    int m_exportModeFlag = 0;
    int m_engineMode = 1;
    int m_ddActive = 0;
    QFont m_labelFont;
    uint32_t m_fontSerial = 1;
    std::array<LabelCache, kMaxChannels> m_labelCache;
    std::array<LabelCache, kMaxChannels> m_exportLabelCache;

    std::array<std::unique_ptr<uint8_t[]>, kMaxChannels> m_pictures;
    std::array<SYSTEMTIME, kMaxChannels> m_times{};
    std::array<int, kMaxChannels> m_widths{};
    std::array<int, kMaxChannels> m_heights{};
    std::string m_timeFormat = "%Y/%m/%d %H:%M:%S";

    // The window as the plain path draws it, and the client size the worker
    // thread may read (it must not ask the widget).
    QImage m_gdi;
    QImage m_screen; // the back surface in the screen's format, for surfaces of other formats
    int m_clientWidth = 0;
    int m_clientHeight = 0;
    std::string m_offlineText;
    std::atomic<bool> m_updatePending{false};
};

} // namespace tv

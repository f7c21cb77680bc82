#include "display/video_wnd.h"

// Export frames composed in memory from the stored pictures while an export
// runs, and the still image of what the window shows.

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>
#include <cstring>

#include "display/bitmap_file.h"
#include "video/pixel_format.h"

namespace tv {

// Export frames.

int CVideoWnd::SetExportMode(int on) {
    CsLock lock(m_lock);
    m_exportModeFlag = on ? 1 : 0;
    if (on) {
        if (!m_exportRgb) {
            m_exportRgb.reset(new (std::nothrow) uint8_t[kExportBufferSize]);
        }
        if (m_exportRgb) {
            std::memset(m_exportRgb.get(), 0, kExportBufferSize);
        }
        // A new export starts from an empty frame.
        if (m_composer) {
            m_composer->Restart();
        }
    }
    return 1;
}

int CVideoWnd::GetExportMode() const {
    CsLock lock(m_lock);
    return m_exportModeFlag;
}

void CVideoWnd::SetExportSink(IExportSink* sink) {
    CsLock lock(m_lock);
    m_exportSink = sink;
    if (m_composer) {
        m_composer->Forget();
    }
}

bool CVideoWnd::Composing() const {
    return m_exportModeFlag && m_engineMode == 1 && m_exportRgb && m_exportSink != nullptr;
}

bool CVideoWnd::ExportFrameSize(int* width, int* height, int* topDown) {
    *width = *height = *topDown = 0;
    if (m_exportSink == nullptr || !m_exportSink->GetExportFrameSize(width, height, topDown) ||
        *width <= 0 || *height <= 0) {
        return false;
    }
    // Frames beyond the export buffer would overrun it.
    if (int64_t(*width) * *height * 3 > kExportBufferSize) {
        SetError("Failed to create AVI surface.");
        return false;
    }
    return true;
}

void CVideoWnd::RecomputeExportLayout(int width, int height) {
    ComputeLayout(width, height, m_exportRects.data());
}

CSplitComposer* CVideoWnd::ExportComposer() {
    int w = 0;
    int h = 0;
    int topDown = 0;
    if (!ExportFrameSize(&w, &h, &topDown)) {
        return nullptr;
    }
    if (!m_composer || m_composer->Width() != w || m_composer->Height() != h) {
        m_composer = std::make_unique<CSplitComposer>(w, h);
        // Export labels keep the window's font, text and colours.
        m_composer->SetLabelDrawer([this](CSplitFrame& frame, int channel, const SYSTEMTIME& time,
                                          int, int x,
                                          int y) { DrawLabelOnFrame(frame, channel, time, x, y); });
        m_composer->SetFrameSink(
            [this](const CSplitFrame& frame, int64_t) { WriteExportFrame(frame); });
    }
    RecomputeExportLayout(w, h);
    m_composer->SetLayout(m_split, m_page, m_channelCount);
    return m_composer.get();
}

void CVideoWnd::ComposeExport(int channel, const SYSTEMTIME& time) {
    if (CSplitComposer* composer = ExportComposer()) {
        composer->Add(channel, m_pictures[channel].get(), m_widths[channel], m_heights[channel],
                      time);
    }
}

void CVideoWnd::WriteExportFrame(const CSplitFrame& frame) {
    int w = 0;
    int h = 0;
    int topDown = 0;
    if (!ExportFrameSize(&w, &h, &topDown) || frame.Width() != w || frame.Height() != h) {
        return;
    }
    if (!topDown) {
        m_exportSink->WriteVideoFrame(frame.Data(), 1);
        return;
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(m_exportRgb.get() + size_t(y) * w * 3, frame.Row(y), size_t(w) * 3);
    }
    m_exportSink->WriteVideoFrame(m_exportRgb.get(), 1);
}

// Still image.

QImage CVideoWnd::GrabClient() const {
    CsLock lock(m_lock);
    if (m_ddActive && m_back.live) {
        return ToScreenImage(m_back.image, m_back.format);
    }
    return ToScreenImage(m_gdi, PF_RGB32);
}

int CVideoWnd::SaveImage(const std::string& path) {
    const bool guiThread = QCoreApplication::instance() != nullptr &&
                           QThread::currentThread() == QCoreApplication::instance()->thread() &&
                           qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (guiThread) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    QImage shown = GrabClient();
    int ok = 0;
    if (shown.isNull()) {
        CsLock lock(m_lock);
        SetError("No picture to save.");
    } else {
        if (guiThread && QGuiApplication::clipboard() != nullptr) {
            QGuiApplication::clipboard()->setImage(shown);
        }
        std::string error;
        ok = WriteBitmapFile(path, BuildDib24(shown), &error);
        if (!ok) {
            CsLock lock(m_lock);
            SetError(error);
        }
    }
    if (guiThread) {
        QGuiApplication::restoreOverrideCursor();
    }
    return ok;
}

} // namespace tv

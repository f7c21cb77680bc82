#include "display/avi_export_sink.h"

#include <cstdlib>

#include "display/video_wnd.h"
#include "export/avi_writer.h"

namespace tv {

int CAviExportSink::GetExportFrameSize(int* width, int* height, int* topDown) {
    *width = *height = *topDown = 0;
    if (m_writer == nullptr) {
        return 0;
    }
    const BITMAPINFOHEADER* header = m_writer->GetExportFrameHeader();
    if (header != nullptr && header->biSize != 0) {
        *width = header->biWidth;
        *height = std::abs(header->biHeight);
        *topDown = header->biHeight < 0 ? 1 : 0;
    } else {
        *width = m_writer->GetWidth();
        *height = m_writer->GetHeight();
    }
    return *width > 0 && *height > 0 ? 1 : 0;
}

int CAviExportSink::WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag) {
    return m_writer != nullptr ? m_writer->WriteVideoFrame(pixels, keyFrameFlag) : 0;
}

void CVideoWnd::SetExportWriter(CAviWriter* writer) {
    CsLock lock(m_lock);
    if (writer == nullptr) {
        m_aviSink.reset();
        m_exportSink = nullptr;
    } else {
        m_aviSink = std::make_unique<CAviExportSink>(writer);
        m_exportSink = m_aviSink.get();
    }
    if (m_composer) {
        m_composer->Forget();
    }
}

} // namespace tv

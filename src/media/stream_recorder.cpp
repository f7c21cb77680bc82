#include "media/stream_recorder.h"

namespace tv {

CStreamRecorder::CStreamRecorder() = default;

CStreamRecorder::~CStreamRecorder() {
    Close();
}

int CStreamRecorder::Configure(int inputKind, int videoFormat, int slotCount) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_inputKind = inputKind;
    m_format = videoFormat;
    m_slots = slotCount;
    return 1;
}

int CStreamRecorder::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_open) {
        return 0;
    }
    m_started = 0;
    m_error.clear();
    m_lastBytes = 0;
    m_writer = std::make_unique<CQzfBlockWriter>();
    m_writer->SetFormat(m_format);
    m_writer->SetChannelMask(0x0001);
    if (!m_writer->OpenFile(path)) {
        m_error = m_writer->GetErrorText();
        m_writer.reset();
        return 0;
    }
    m_path = path;
    m_open = 1;
    return 1;
}

void CStreamRecorder::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open) {
        return;
    }
    // Every format ends on a whole block, or a reader would take the last
    // part for the end of the file.
    const bool empty = m_writer->GetBytesWritten() == 0;
    if ((!empty && !m_writer->Finish()) || !m_writer->Close()) {
        m_error = "Recording stopped: " + m_path + ": " + m_writer->GetErrorText();
    }
    m_lastBytes = m_writer->GetBytesWritten();
    m_writer.reset();
    m_open = 0;
}

int CStreamRecorder::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_open;
}

std::string CStreamRecorder::GetErrorText() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_error;
}

uint64_t CStreamRecorder::GetBytesWritten() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_writer ? m_writer->GetBytesWritten() : m_lastBytes;
}

time_t CStreamRecorder::Now() const {
    return m_fixedTime != 0 ? m_fixedTime : time(nullptr);
}

void CStreamRecorder::StopOnFailure() {
    m_error = "Recording stopped: " + m_path + ": " + m_writer->GetErrorText();
    m_lastBytes = m_writer->GetBytesWritten();
    m_writer->Close();
    m_writer.reset();
    m_open = 0;
}

int CStreamRecorder::WriteVideo(uint8_t* p, int n) {
    std::lock_guard<std::mutex> lock(m_lock);
    // Bytes 4 to 6 carry the key flag and the sequence number.
    if (!m_open || p == nullptr || n < 7) {
        return 0;
    }
    if (p[4] & 0x80) {
        m_started = 1;
    }
    m_prevSeq = m_curSeq;
    m_curSeq = static_cast<uint16_t>(p[5] * 256 + p[6]);
    const int d = static_cast<uint16_t>(m_curSeq - m_prevSeq);
    m_frameGap = d <= 1 ? 1 : d;
    if (m_format == 1 || m_format == 3 || m_format == 4 || m_format == 5 || m_format == 6) {
        if (p[4] & 0x80) {
            p[3] = kKeyVideoCode;
        }
        p[4] = static_cast<uint8_t>(p[4] * 2);
    }
    if (m_slots == 16) {
        p[4] = static_cast<uint8_t>(p[4] & 0xF0);
        p[5] = static_cast<uint8_t>(p[5] & 0x07);
    }
    if (!m_started) {
        return 0;
    }
    m_writer->SetTime(Now());
    m_writer->SetFrameGap(m_frameGap);
    m_writer->SetAudioBlock(false);
    if (!m_writer->Write(p, static_cast<size_t>(n)) || !m_writer->Flush()) {
        StopOnFailure();
        return 0;
    }
    return 1;
}

int CStreamRecorder::WriteAudio(const uint8_t* s, int n) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open || !m_started || n < 0 || (s == nullptr && n > 0)) {
        return 0;
    }
    m_writer->SetTime(Now());
    m_writer->SetFrameGap(m_frameGap);
    m_writer->SetAudioBlock(true);
    if (!m_writer->WriteAudioPacket(0, s, static_cast<size_t>(n)) || !m_writer->Flush()) {
        StopOnFailure();
        return 0;
    }
    return 1;
}

} // namespace tv

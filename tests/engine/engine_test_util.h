#pragma once

// Shared by the engine's tests and benchmarks: real QZF recordings made with
// the block writer and the test-pattern encoder, and a picture sink that
// remembers what the engine handed on.

#include "engine/player_engine.h"
#include "media/block_writer.h"
#include "platform/clock.h"
#include "synth/video_encoder.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tv::enginetest {

// A temporary folder removed with the object.
class TempDir {
public:
    TempDir() {
        char templ[] = "/tmp/tv-engine-XXXXXX";
        const char* p = mkdtemp(templ);
        m_path = p != nullptr ? p : "/tmp";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// One coded picture per channel, made once: the luma level tells the channel.
inline const std::vector<uint8_t>& PicturePacket(int format, int channel, int lines = 224) {
    static std::mutex lock;
    static std::map<std::tuple<int, int, int>, std::vector<uint8_t>> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto key = std::make_tuple(format, channel, lines);
    auto it = cache.find(key);
    if (it != cache.end()) {
        return it->second;
    }
    std::vector<uint8_t> yuv(synth::CVideoEncoder::PictureBytes(lines), 128);
    const size_t luma = size_t(synth::CVideoEncoder::kWidth) * lines;
    for (size_t i = 0; i < luma; ++i) {
        yuv[i] = static_cast<uint8_t>(32 + channel * 12 + (i % 640) / 80);
    }
    synth::PictureHeader h;
    h.format = format;
    h.channel = channel;
    h.key = true;
    synth::CVideoEncoder enc;
    std::vector<uint8_t> out;
    enc.EncodePicture(yuv.data(), lines, h, nullptr, out);
    return cache.emplace(key, std::move(out)).first->second;
}

// A dual picture (format 5) of two channels side by side.
inline std::vector<uint8_t> DualPacket(int left, int right, bool leftAbsent, bool rightAbsent) {
    const int lines = 224;
    std::vector<uint8_t> half(size_t(320) * lines * 3 / 2, 128);
    std::vector<uint8_t> half2 = half;
    std::fill(half.begin(), half.begin() + 320 * lines, 60);
    std::fill(half2.begin(), half2.begin() + 320 * lines, 180);
    std::vector<uint8_t> yuv(synth::CVideoEncoder::PictureBytes(lines));
    synth::ComposeDual(half.data(), half2.data(), lines, yuv.data());
    synth::PictureHeader h;
    h.format = 5;
    h.channel = left;
    h.rightChannel = right;
    h.dual = true;
    h.leftAbsent = leftAbsent;
    h.rightAbsent = rightAbsent;
    synth::CVideoEncoder enc;
    std::vector<uint8_t> out;
    enc.EncodePicture(yuv.data(), lines, h, nullptr, out);
    return out;
}

// An update picture that codes only its last macroblock, in a bright grey.
inline std::vector<uint8_t> CornerUpdate(int channel) {
    const int lines = 224;
    std::vector<uint8_t> yuv(synth::CVideoEncoder::PictureBytes(lines), 128);
    std::fill(yuv.begin(), yuv.begin() + 640 * lines, 220);
    std::vector<uint8_t> plan(size_t(lines / 16) * synth::CVideoEncoder::kMbCols, synth::kMbSkip);
    plan.back() = synth::kMbCoded | 0xF;
    synth::PictureHeader h;
    h.format = 4;
    h.channel = channel;
    h.key = false;
    synth::CVideoEncoder enc;
    std::vector<uint8_t> out;
    enc.EncodePicture(yuv.data(), lines, h, plan.data(), out);
    return out;
}

// Lays packets into a QZF file as a recorder would.
class RecordingBuilder {
public:
    explicit RecordingBuilder(int format = 4) : m_format(format) {
        m_writer.SetFormat(format);
        m_writer.AttachVector(&m_bytes);
        m_writer.SetTime(static_cast<time_t>(1700000000));
        m_writer.SetChannelMask(0x00FF);
        m_writer.SetFrameGap(0);
    }
    void SetFrameGap(int gap) { m_writer.SetFrameGap(gap); }
    void SetTime(time_t t) { m_writer.SetTime(t); }
    void Picture(int channel) {
        const auto& p = PicturePacket(m_format, channel);
        m_writer.Write(p.data(), p.size());
        ++m_pictures;
    }
    void Raw(const std::vector<uint8_t>& packet) {
        m_writer.Write(packet.data(), packet.size());
        ++m_pictures;
    }
    // n bytes of quiet A-law samples (0xD5) on audio channel 0.
    void Audio(size_t n) {
        std::vector<uint8_t> s(n, 0xD5);
        m_writer.WriteAudioPacket(0, s.data(), s.size());
        ++m_audio;
    }
    uint64_t Offset() const { return m_writer.GetBytesWritten(); }
    int Pictures() const { return m_pictures; }
    int AudioPackets() const { return m_audio; }
    // Ends on a whole block and writes the file.
    std::string Save(const std::string& path) {
        // A closing video start code ends the last packet for readers.
        static const uint8_t tail[4] = {0, 0, 1, 0xF8};
        m_writer.Write(tail, 4);
        m_writer.Pad();
        FILE* f = fopen(path.c_str(), "wb");
        if (f != nullptr) {
            fwrite(m_bytes.data(), 1, m_bytes.size(), f);
            fclose(f);
        }
        return path;
    }

private:
    int m_format;
    CQzfBlockWriter m_writer;
    std::vector<uint8_t> m_bytes;
    int m_pictures = 0;
    int m_audio = 0;
};

struct ShownPicture {
    int channel;
    int width;
    int height;
    uint8_t firstLuma;
};

// Remembers every picture the engine hands on instead of drawing it.
class PictureLog {
public:
    PictureSink Sink() {
        return
            [this](int channel, const SYSTEMTIME&, const uint8_t* picture, int width, int height) {
                std::lock_guard<std::mutex> lock(m_lock);
                m_shown.push_back({channel, width, height, picture[0]});
            };
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_shown.size();
    }
    std::vector<ShownPicture> All() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_shown;
    }
    ShownPicture Last() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_shown.empty() ? ShownPicture{-1, 0, 0, 0} : m_shown.back();
    }

private:
    mutable std::mutex m_lock;
    std::vector<ShownPicture> m_shown;
};

// Polls until the condition holds; false after timeoutMs.
inline bool WaitFor(const std::function<bool()>& cond, uint32_t timeoutMs = 30000) {
    const uint32_t start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

} // namespace tv::enginetest

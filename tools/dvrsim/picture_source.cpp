#include "dvrsim/picture_source.h"

#include <cmath>
#include <deque>

#ifdef TV_HAVE_MEDIA
#include "media/stream_file.h"
#endif
#ifdef TV_HAVE_SYNTH
#include "synth/audio_tone.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"
#endif

namespace tv {

namespace {

// A 440 Hz tone at 8 kHz. Samples must never read as a start code.
class ToneAudio {
public:
    explicit ToneAudio(int format) : m_format(format) {}

    bool Next(int bytes, std::vector<uint8_t>& out) {
        out.clear();
#ifdef TV_HAVE_SYNTH
        const int perSample = synth::AudioBytesPerSample(m_format);
        if (perSample > 0) {
            synth::AppendTone(m_format, 440.0, 8000, m_sample, bytes / perSample, out);
            m_sample += static_cast<uint64_t>(bytes / perSample);
            for (size_t i = 0; i + 2 < out.size(); ++i) {
                if (out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 1) {
                    out[i + 1] = 1; // one step off the tone rather than a false start code
                }
            }
            return !out.empty();
        }
#endif
        out.resize(static_cast<size_t>(bytes));
        for (auto& s : out) {
            s = static_cast<uint8_t>(128.0 + 60.0 * std::sin(m_phase));
            m_phase += 2.0 * 3.14159265358979 * 440.0 / 8000.0;
        }
        return bytes > 0;
    }

private:
    int m_format;
    uint64_t m_sample = 0;
    double m_phase = 0.0;
};

class PlainSource : public PictureSource {
public:
    explicit PlainSource(const DvrSimOptions& opt)
        : m_bytes(opt.pictureBytes), m_tone(opt.audioFormat) {}

    bool NextPicture(int channel, bool key, SimPicture& out) override {
        out.payload.clear();
        out.key = key;
        out.quant = 2;
        constexpr int kSlices = 17;
        const int perSlice = m_bytes > kSlices * 8 ? m_bytes / kSlices - 4 : 4;
        for (int row = 0; row < kSlices; ++row) {
            out.payload.insert(out.payload.end(), {0x00, 0x00, 0x01});
            out.payload.push_back(static_cast<uint8_t>(row << 3));
            for (int i = 0; i < perSlice; ++i) {
                m_seed = m_seed * 1103515245u + 12345u + static_cast<uint32_t>(channel);
                out.payload.push_back(static_cast<uint8_t>(0x10 + ((m_seed >> 16) % 0xE0)));
            }
        }
        return true;
    }
    bool NextAudio(int bytes, std::vector<uint8_t>& out) override {
        return m_tone.Next(bytes, out);
    }

private:
    int m_bytes;
    uint32_t m_seed = 1;
    ToneAudio m_tone;
};

#ifdef TV_HAVE_MEDIA
class FileSource : public PictureSource {
public:
    explicit FileSource(const DvrSimOptions& opt) : m_buf(kMaxPacketSize) {
        m_ok = m_file.Open(opt.source, kFileMode) != 0;
        if (m_ok && opt.sourceFormat >= 0) {
            m_file.SetFormat(opt.sourceFormat);
        }
    }

    bool NextPicture(int /*channel*/, bool /*key*/, SimPicture& out) override {
        if (!m_ok) {
            return false;
        }
        for (int tries = 0; tries < 4096; ++tries) {
            const int n = m_file.ReadForward(m_buf.data());
            if (n <= 0) {
                if (m_wrapped) {
                    return false; // nothing usable in the whole file
                }
                m_wrapped = true;
                m_file.SetPosition(0);
                continue;
            }
            if (m_file.IsAudio()) {
                if (m_audio.size() < 64) {
                    m_audio.emplace_back(m_buf.begin(), m_buf.begin() + n);
                }
                continue;
            }
            if (ToLive(m_buf.data(), static_cast<size_t>(n), out)) {
                m_wrapped = false;
                return true;
            }
        }
        return false;
    }

    bool NextAudio(int /*bytes*/, std::vector<uint8_t>& out) override {
        if (m_audio.empty()) {
            return false;
        }
        out = std::move(m_audio.front());
        m_audio.pop_front();
        return !out.empty();
    }

private:
    // The stored header differs by format; the live one is rebuilt around the
    // slices, which all formats share.
    bool ToLive(const uint8_t* p, size_t n, SimPicture& out) const {
        if (n < 8) {
            return false;
        }
        const int format = m_file.GetFormat();
        if (format == VF_QZF || format == VF_QZD) {
            out.quant = (p[4] >> 3) & 0x0F;
            out.key = (p[4] & 0x80) != 0;
        } else {
            out.quant = p[4] >> 4;
            out.key = p[3] == 0xF9;
        }
        size_t first = 5;
        while (first + 3 < n && !(p[first] == 0 && p[first + 1] == 0 && p[first + 2] == 1)) {
            ++first;
        }
        if (first + 3 >= n) {
            return false;
        }
        out.payload.assign(p + first, p + n);
        return true;
    }

    CStreamFile m_file;
    std::vector<uint8_t> m_buf;
    std::deque<std::vector<uint8_t>> m_audio;
    bool m_ok = false;
    bool m_wrapped = false;
};
#endif

class CachedSource : public PictureSource {
public:
    CachedSource(const DvrSimOptions& opt, CPictureCache* cache)
        : m_cache(cache), m_index(16, 0), m_tone(opt.audioFormat) {}

    bool NextPicture(int channel, bool /*key*/, SimPicture& out) override {
        const size_t ch = static_cast<size_t>(channel) & 15;
        return m_cache->Get(channel, m_index[ch]++, out);
    }
    bool NextAudio(int bytes, std::vector<uint8_t>& out) override {
        return m_tone.Next(bytes, out);
    }

private:
    CPictureCache* m_cache;
    std::vector<uint64_t> m_index;
    ToneAudio m_tone;
};

} // namespace

struct CPictureCache::Impl {
    DvrSimOptions opt;
    std::mutex lock;
    // [channel][index]: empty until encoded.
    std::vector<std::vector<SimPicture>> pictures;
    std::vector<std::vector<bool>> ready;
};

CPictureCache::CPictureCache(const DvrSimOptions& opt) : m_impl(std::make_unique<Impl>()) {
    m_impl->opt = opt;
    const int cycle = opt.cycle > 0 ? opt.cycle : 1;
    m_impl->pictures.assign(16, std::vector<SimPicture>(static_cast<size_t>(cycle)));
    m_impl->ready.assign(16, std::vector<bool>(static_cast<size_t>(cycle), false));
}

CPictureCache::~CPictureCache() = default;

bool CPictureCache::Get(int channel, uint64_t index, SimPicture& out) {
#ifdef TV_HAVE_SYNTH
    const size_t ch = static_cast<size_t>(channel) & 15;
    const size_t i = static_cast<size_t>(index % m_impl->pictures[ch].size());
    std::lock_guard<std::mutex> lock(m_impl->lock);
    if (!m_impl->ready[ch][i]) {
        constexpr int kLines = 272;
        std::vector<uint8_t> yuv(synth::CVideoEncoder::kWidth * kLines * 3 / 2);
        synth::DrawTestPattern(yuv.data(), synth::CVideoEncoder::kWidth, kLines, channel,
                               static_cast<int>(i), "DVRSIM LIVE");
        synth::PictureHeader h;
        h.format = VF_QZD;
        h.quantScale = m_impl->opt.quant;
        h.key = true;
        std::vector<uint8_t> packet;
        synth::CVideoEncoder encoder;
        const size_t n = encoder.EncodePicture(yuv.data(), kLines, h, nullptr, packet);
        // Format 2 pictures carry two bytes after byte 4; the slices follow.
        if (n <= 7) {
            return false;
        }
        SimPicture& p = m_impl->pictures[ch][i];
        p.payload.assign(packet.begin() + 7, packet.begin() + static_cast<long>(n));
        p.quant = m_impl->opt.quant;
        p.key = true;
        m_impl->ready[ch][i] = true;
    }
    out = m_impl->pictures[ch][i];
    return true;
#else
    (void)channel;
    (void)index;
    (void)out;
    return false;
#endif
}

void CPictureCache::PrepareAll() {
    SimPicture p;
    const int channels = m_impl->opt.channels;
    for (int ch = 0; ch < channels; ++ch) {
        for (size_t i = 0; i < m_impl->pictures[0].size(); ++i) {
            Get(ch, i, p);
        }
    }
}

bool UsesPictureCache(const DvrSimOptions& opt) {
#ifdef TV_HAVE_SYNTH
    return opt.source.empty() && !opt.plain;
#else
    (void)opt;
    return false;
#endif
}

std::unique_ptr<PictureSource> MakePictureSource(const DvrSimOptions& opt, CPictureCache* cache) {
#ifdef TV_HAVE_MEDIA
    if (!opt.source.empty()) {
        return std::make_unique<FileSource>(opt);
    }
#endif
    if (cache && UsesPictureCache(opt)) {
        return std::make_unique<CachedSource>(opt, cache);
    }
    return std::make_unique<PlainSource>(opt);
}

bool CheckPictureSource(const DvrSimOptions& opt, std::string& why) {
    if (opt.source.empty()) {
        return true;
    }
#ifdef TV_HAVE_MEDIA
    CStreamFile f;
    if (!f.Open(opt.source, kFileMode)) {
        why = "cannot open " + opt.source;
        return false;
    }
    return true;
#else
    why = "this dvrsim was built without QZF reading; --source is not available";
    return false;
#endif
}

const char* PictureSourceKind(const DvrSimOptions& opt) {
    if (!opt.source.empty()) {
        return "file";
    }
    return UsesPictureCache(opt) ? "synth" : "plain";
}

} // namespace tv

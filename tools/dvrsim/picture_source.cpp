#include "dvrsim/picture_source.h"

#include <cmath>
#include <deque>

#ifdef TV_HAVE_MEDIA
#include "media/stream_file.h"
#endif

namespace tv {

namespace {

// 8 kHz 8-bit unsigned tone; the samples stay far from zero, so no start code.
class ToneAudio {
public:
    bool Next(int bytes, std::vector<uint8_t>& out) {
        out.resize(static_cast<size_t>(bytes));
        for (auto& s : out) {
            s = static_cast<uint8_t>(128.0 + 60.0 * std::sin(m_phase));
            m_phase += 2.0 * 3.14159265358979 * 440.0 / 8000.0;
        }
        return bytes > 0;
    }

private:
    double m_phase = 0.0;
};

class PlainSource : public PictureSource {
public:
    explicit PlainSource(const DvrSimOptions& opt) : m_bytes(opt.pictureBytes) {}

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
        m_ok = m_file.Open(opt.source, 0) != 0;
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
        if (format == 0 || format == 2) {
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

} // namespace

std::unique_ptr<PictureSource> MakePictureSource(const DvrSimOptions& opt) {
#ifdef TV_HAVE_MEDIA
    if (!opt.source.empty()) {
        return std::make_unique<FileSource>(opt);
    }
#endif
    return std::make_unique<PlainSource>(opt);
}

bool CheckPictureSource(const DvrSimOptions& opt, std::string& why) {
    if (opt.source.empty()) {
        return true;
    }
#ifdef TV_HAVE_MEDIA
    CStreamFile f;
    if (!f.Open(opt.source, 0)) {
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
    return "plain";
}

} // namespace tv

#include "synth/activity_scene.h"

#include "media/qzf_block.h"
#include "platform/system.h"
#include "synth/sample_recording.h"
#include "synth/video_encoder.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace tv::synth {

namespace {

constexpr int kObjectW = 64;
constexpr int kObjectH = 48;
constexpr double kObjectSpeed = 160; // pixels per second

// Seconds of movement up to t.
double MovedFor(const SceneChannel& c, double t) {
    double m = 0;
    for (const auto& [a, b] : c.moving)
        if (t > a)
            m += std::min(t, b) - a;
    return m;
}

void DrawScene(uint8_t* yuv, int lines, int channel, const SceneChannel& c, double t,
               std::mt19937& rng) {
    const int w = CVideoEncoder::kWidth;
    // A background with edges and texture, different on every channel.
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < w; ++x) {
            int v = 60 + (x * 90) / w + (y * 40) / lines;
            if (((x / (40 + 8 * channel)) + (y / 32)) % 3 == 0)
                v += 30;
            yuv[y * w + x] = uint8_t(v);
        }
    // The object bounces between the picture's edges along a row.
    const double travel = w - kObjectW;
    const double s = std::fmod(MovedFor(c, t) * kObjectSpeed, 2 * travel);
    const int ox = int(s < travel ? s : 2 * travel - s);
    const int oy = (lines - kObjectH) / 2;
    for (int y = oy; y < oy + kObjectH; ++y)
        for (int x = ox; x < ox + kObjectW; ++x)
            yuv[y * w + x] = 235;
    const int flick = c.flicker == 0 ? 0 : (int(t * 7) % 2 ? c.flicker : -c.flicker);
    if (c.noise > 0 || flick != 0) {
        std::uniform_int_distribution<int> d(-c.noise, c.noise);
        for (int i = 0; i < w * lines; ++i)
            yuv[i] = uint8_t(std::clamp(int(yuv[i]) + flick + (c.noise ? d(rng) : 0), 16, 235));
    }
    std::fill(yuv + size_t(w) * lines, yuv + size_t(w) * lines * 3 / 2, uint8_t(128));
}

} // namespace

int WriteActivityScene(const SceneOptions& o, CQzfBlockWriter& w, std::string* error) {
    const int n = int(o.channels.size());
    if (n < 1 || n > 16 || !(o.seconds > 0) || !(o.fps > 0) || (o.lines != 224 && o.lines != 272) ||
        o.videoFormat < VF_QZE || o.videoFormat >= VF_COUNT || o.videoFormat == VF_QZD ||
        o.videoFormat == VF_QZB3) {
        if (error)
            *error = "unusable scene options";
        return 0;
    }
    const long bias = GetTimeZoneBias();
    const int64_t startUtc = LocalToBlockTime(o.start, bias);
    const int period = FramePeriodUs(o.lines, o.videoFormat);
    const int gap = std::clamp(int(std::lround(1e6 / (o.fps * n * period))) - 1, 1, 127);
    w.SetFormat(o.videoFormat);
    w.SetDiskByteOrder(o.diskImage);
    w.SetTimeZoneBias(bias);
    w.SetChannelMask(uint16_t((1u << n) - 1));
    w.SetFrameGap(gap);

    std::vector<uint8_t> picture(CVideoEncoder::PictureBytes(o.lines)), packet;
    auto encoder = std::make_unique<CChannelEncoder>(o.lines);
    std::mt19937 rng(o.seed);
    std::vector<int64_t> lastKey(size_t(n), -1);
    const double step = 1.0 / (o.fps * n);
    for (long i = 0;; ++i) {
        const double t = i * step;
        if (t >= o.seconds)
            break;
        const int ch = int(i % n);
        const int64_t second = int64_t(t);
        w.SetTime(time_t(startUtc + second));
        DrawScene(picture.data(), o.lines, ch, o.channels[size_t(ch)], t, rng);
        PictureHeader h;
        h.format = o.videoFormat;
        h.channel = ch;
        h.quantScale = o.quantScale;
        h.key = lastKey[size_t(ch)] != second;
        lastKey[size_t(ch)] = second;
        if (encoder->Encode(picture.data(), h, packet) == 0 ||
            !w.Write(packet.data(), packet.size())) {
            if (error)
                *error = w.HasFailed() ? w.GetErrorText() : "the encoder refused a picture";
            return 0;
        }
    }
    if (!w.Finish()) {
        if (error)
            *error = w.GetErrorText();
        return 0;
    }
    return 1;
}

} // namespace tv::synth

namespace tv::synth {

SceneOptions PlannedScene(int channels, double seconds) {
    SceneOptions o;
    o.seconds = seconds;
    o.channels.resize(size_t(std::clamp(channels, 1, 16)));
    const int n = int(o.channels.size());
    for (int c = 1; c < n; ++c) {
        SceneChannel& ch = o.channels[size_t(c)];
        if (c == n - 1 && n > 2) {
            ch.noise = 6;
            continue;
        }
        if (c % 3 == 2)
            ch.noise = 4;
        for (int m = 0; m * 60 < seconds; ++m) {
            if ((m + c) % 3 == 0)
                continue;
            const double a = 60.0 * m + 4 + (7 * c + 11 * m) % 45;
            ch.moving.push_back({a, a + 3 + (c + m) % 4});
        }
    }
    return o;
}

} // namespace tv::synth

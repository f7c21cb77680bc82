#include "synth/sample_recording.h"

#include "media/qzf_block.h"
#include "platform/system.h"
#include "synth/audio_tone.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace tv::synth {

namespace {

constexpr int kAudioSamplesPerPacket = 1024;

bool Fail(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}

} // namespace

int FramePeriodUs(int lines, int videoFormat) {
    const bool slow = videoFormat == 0 || videoFormat == 2;
    if (lines == 224)
        return slow ? 33333 : 16666;
    return slow ? 25000 : 12500;
}

int BreakPacketStartCodes(uint8_t* data, size_t n) {
    int changed = 0;
    for (size_t i = 0; i + 3 < n; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && IsPacketCode(data[i + 3])) {
            data[i + 2] = 3; // a one-step change of a sample
            ++changed;
        }
    }
    return changed;
}

int WriteSampleRecording(const SampleOptions& o, CQzfBlockWriter& w, SampleSummary* summary,
                         std::string* error) {
    if (o.videoFormat < 0 || o.videoFormat >= VF_COUNT)
        return Fail(error, "unknown video format code");
    if (o.lines != 224 && o.lines != 272)
        return Fail(error, "lines must be 224 or 272");
    if (o.channels < 1 || o.channels > 16)
        return Fail(error, "channels must be 1 to 16");
    if (o.videoFormat == 0 && o.channels > 4)
        return Fail(error, "QZ_QZF pictures carry channels 0 to 3 only");
    if (o.videoFormat == VF_QZD && o.channels > 1)
        return Fail(error, "QZ_QZD pictures carry channel 0 only");
    if (!(o.seconds > 0) || o.seconds > 24 * 3600)
        return Fail(error, "seconds must be above 0 and at most a day");
    if (o.fps < 0 || o.fps > 1000)
        return Fail(error, "fps must be 0 (recorder pace) to 1000");
    if (o.audioFormat != 0 && AudioBytesPerSample(o.audioFormat) == 0)
        return Fail(error, "unknown audio format code");
    if (o.quantScale < 1 || o.quantScale > 14)
        return Fail(error, "quantiser scale must be 1 to 14");

    const bool dual = o.videoFormat == VF_QZB3;
    const int slots = dual ? (o.channels + 1) / 2 : o.channels; // pictures per round
    const int period = FramePeriodUs(o.lines, o.videoFormat);
    // The engine waits (frame gap + 1) frame periods after each picture; a
    // recorder writes a gap of at least 1.
    int gap = 1;
    if (o.fps > 0)
        gap = std::clamp(int(std::lround(1e6 / (o.fps * slots * period))) - 1, 1, 127);
    const int64_t interval = int64_t(gap + 1) * period;

    const long bias = GetTimeZoneBias();
    const int64_t startUtc = LocalToBlockTime(o.start, bias);
    if (startUtc < 0 || startUtc > 0xFFFFFFFFLL - int64_t(o.seconds) - 1)
        return Fail(error, "start time outside what a block header holds");

    w.SetFormat(o.videoFormat);
    w.SetDiskByteOrder(o.diskImage);
    w.SetTimeZoneBias(bias);
    w.SetChannelMask(uint16_t((1u << o.channels) - 1));
    w.SetFrameGap(gap);

    const int width = 640;
    const size_t bytes = CVideoEncoder::PictureBytes(o.lines);
    std::vector<uint8_t> picture(bytes), left(bytes / 2), right(bytes / 2), packet, audio;
    auto encoder = std::make_unique<CChannelEncoder>(o.lines);
    std::vector<int64_t> lastKey(size_t(slots), -1);
    SampleSummary s;
    s.channels = o.channels;
    s.frameGap = gap;
    s.frameIntervalUs = int(interval);
    s.fps = 1e6 / double(interval * slots);

    const int64_t total = int64_t(o.seconds * 1e6);
    const int64_t audioPacketUs = int64_t(kAudioSamplesPerPacket) * 1000000 / o.sampleRate;
    int64_t nextAudio = 0;
    uint64_t audioSample = 0;
    const int frameOffset = int(o.seed % 1000);
    if (o.keyEvery < 0)
        return Fail(error, "key pictures must come every 1 or more pictures");

    for (int64_t i = 0;; ++i) {
        const int64_t t = i * interval;
        if (t >= total)
            break;
        if (o.audioFormat != 0) {
            while (nextAudio <= t) {
                w.SetTime(time_t(startUtc + nextAudio / 1000000));
                w.SetAudioBlock(true);
                audio.clear();
                AppendTone(o.audioFormat, o.toneHz, o.sampleRate, audioSample,
                           kAudioSamplesPerPacket, audio);
                BreakPacketStartCodes(audio.data(), audio.size());
                if (!w.WriteAudioPacket(0, audio.data(), audio.size()))
                    return Fail(error, w.GetErrorText());
                audioSample += kAudioSamplesPerPacket;
                nextAudio += audioPacketUs;
                ++s.audioPackets;
            }
        }
        const int slot = int(i % slots);
        const int64_t round = i / slots;
        const bool still = (o.stillChannels >> (dual ? 2 * slot : slot) & 1u) != 0;
        const int frame = still ? frameOffset : int(round) + frameOffset;
        const uint32_t now = uint32_t(startUtc + t / 1000000);
        w.SetTime(time_t(now));
        w.SetAudioBlock(false);

        const SYSTEMTIME local = BlockTimeToLocal(now, bias);
        char clock[64];
        std::snprintf(clock, sizeof clock, "%04u-%02u-%02u %02u:%02u:%02u", local.wYear,
                      local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);

        PictureHeader h;
        h.format = o.videoFormat;
        h.quantScale = o.quantScale;
        // A key picture in every second of the recording, per channel.
        h.key = lastKey[size_t(slot)] < 0 ||
                (o.keyEvery > 0 ? round % o.keyEvery == 0
                                : t / 1000000 != lastKey[size_t(slot)] / 1000000);
        if (dual) {
            const int lc = 2 * slot;
            const int rc = 2 * slot + 1;
            h.channel = lc;
            h.dual = true;
            h.rightChannel = rc < o.channels ? rc : 0;
            h.rightAbsent = rc >= o.channels;
            DrawTestPattern(left.data(), width / 2, o.lines, lc, frame, clock + 11);
            if (!h.rightAbsent)
                DrawTestPattern(right.data(), width / 2, o.lines, rc, frame, clock + 11);
            ComposeDual(left.data(), h.rightAbsent ? nullptr : right.data(), o.lines,
                        picture.data());
        } else {
            h.channel = slot;
            DrawTestPattern(picture.data(), width, o.lines, slot, frame, clock);
        }
        if (encoder->Encode(picture.data(), h, packet) == 0)
            return Fail(error, "the encoder refused a picture");
        if (h.key) {
            lastKey[size_t(slot)] = t;
            ++s.keyPictures;
        }
        if (!w.Write(packet.data(), packet.size()))
            return Fail(error, w.GetErrorText());
        ++s.pictures;
    }
    if (!w.Finish())
        return Fail(error, w.GetErrorText());
    s.bytes = w.GetBytesWritten();
    if (summary)
        *summary = s;
    return 1;
}

} // namespace tv::synth

// Throughput of the live-stream demultiplexer against FFmpeg's MPEG-1 video
// parser (a start-code splitter nobody here wrote) over the same bytes: a
// live stream of 8 channels of encoded test pictures, sound and status
// messages, fed in 64 KB receives.

#include "net/net_message.h"
#include "net/stream_demuxer.h"
#include "synth/test_pattern.h"
#include "synth/video_encoder.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <vector>

namespace {

using namespace tv;

const std::vector<uint8_t>& LiveStream() {
    static const std::vector<uint8_t> stream = [] {
        std::vector<uint8_t> s;
        std::vector<uint8_t> yuv(640 * 272 * 3 / 2);
        std::vector<uint8_t> packet;
        synth::CVideoEncoder encoder;
        uint8_t status[kControlMaxSize];
        for (int frame = 0; frame < 25; ++frame) {
            for (int ch = 0; ch < 8; ++ch) {
                synth::DrawTestPattern(yuv.data(), 640, 272, ch, frame, "BENCH");
                synth::PictureHeader h;
                h.format = 2;
                h.quantScale = 2;
                h.format2Value = static_cast<uint16_t>(frame);
                encoder.EncodePicture(yuv.data(), 272, h, nullptr, packet);
                s.insert(s.end(), packet.begin(), packet.end());
            }
            const uint8_t audioHead[6] = {0x00, 0x00, 0x01, 0xFA, 0x01, 0x40};
            s.insert(s.end(), audioHead, audioHead + 6);
            s.insert(s.end(), 320, 0x80);
            const uint16_t v = static_cast<uint16_t>(frame);
            const uint32_t n = BuildControlMessage(status, sizeof status, kMsgStatusValue, &v, 1);
            s.insert(s.end(), status, status + n);
        }
        return s;
    }();
    return stream;
}

struct CountingSink : IDemuxSink {
    size_t video = 0, audio = 0, control = 0;
    void OnVideoPacket(const FrameRecord&) override { ++video; }
    void OnAudioPacket(const FrameRecord&) override { ++audio; }
    void OnControlMessage(const uint8_t*, uint32_t) override { ++control; }
};

constexpr size_t kReceive = 65536;

void BM_Demuxer(benchmark::State& state) {
    const auto& s = LiveStream();
    CountingSink sink;
    CStreamDemuxer d(&sink);
    for (auto _ : state) {
        for (size_t pos = 0; pos < s.size(); pos += kReceive) {
            d.Feed(s.data() + pos, std::min(kReceive, s.size() - pos));
        }
    }
    benchmark::DoNotOptimize(sink.video);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
    state.counters["pictures"] = static_cast<double>(sink.video) / state.iterations();
}

void BM_FfmpegParser(benchmark::State& state) {
    const auto& s = LiveStream();
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_MPEG1VIDEO);
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    size_t frames = 0;
    for (auto _ : state) {
        for (size_t pos = 0; pos < s.size(); pos += kReceive) {
            const uint8_t* in = s.data() + pos;
            int left = static_cast<int>(std::min(kReceive, s.size() - pos));
            while (left > 0) {
                uint8_t* out = nullptr;
                int outSize = 0;
                const int used = av_parser_parse2(parser, ctx, &out, &outSize, in, left,
                                                  AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                frames += outSize > 0;
                in += used;
                left -= used;
            }
        }
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
    avcodec_free_context(&ctx);
    av_parser_close(parser);
}

BENCHMARK(BM_Demuxer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegParser)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

// G.711 expansion of one live-view audio packet (4096 codes): our table
// conversion side by side with FFmpeg's pcm_alaw / pcm_mulaw decoders.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "audio/audio_converter.h"

namespace {

constexpr int kPacket = 4096;

std::vector<uint8_t> Codes() {
    std::vector<uint8_t> v(kPacket);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

void Ours(benchmark::State& state, int code) {
    const std::vector<uint8_t> in = Codes();
    std::vector<uint8_t> out(2 * kPacket);
    tv::CAudioConverter conv;
    conv.Configure(code, 8000, nullptr);
    int len = 0;
    for (auto _ : state) {
        conv.Convert(in.data(), kPacket, out.data(), &len);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kPacket);
}

void Ffmpeg(benchmark::State& state, AVCodecID id) {
    const std::vector<uint8_t> in = Codes();
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (avcodec_open2(ctx, codec, nullptr) < 0 || av_new_packet(pkt, kPacket) < 0) {
        state.SkipWithError("FFmpeg decoder unavailable");
    } else {
        std::copy(in.begin(), in.end(), pkt->data);
        for (auto _ : state) {
            avcodec_send_packet(ctx, pkt);
            avcodec_receive_frame(ctx, frame);
            benchmark::DoNotOptimize(frame->data[0]);
            av_frame_unref(frame);
        }
        state.SetBytesProcessed(state.iterations() * kPacket);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}

BENCHMARK_CAPTURE(Ours, alaw, tv::kAudioAlaw);
BENCHMARK_CAPTURE(Ffmpeg, alaw, AV_CODEC_ID_PCM_ALAW);
BENCHMARK_CAPTURE(Ours, mulaw, tv::kAudioMlaw);
BENCHMARK_CAPTURE(Ffmpeg, mulaw, AV_CODEC_ID_PCM_MULAW);

// Prints the usual table, then our CPU time over FFmpeg's for each law (CPU time
// rather than wall time: the machine is shared).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (!r.error_occurred) {
                m_ns[r.benchmark_name()] = r.GetAdjustedCPUTime();
            }
        }
    }
    void PrintRatios() const {
        for (const char* law : {"alaw", "mulaw"}) {
            const auto ours = m_ns.find(std::string("Ours/") + law);
            const auto peer = m_ns.find(std::string("Ffmpeg/") + law);
            if (ours != m_ns.end() && peer != m_ns.end() && peer->second > 0) {
                std::printf(
                    "%-6s ours %.0f ns, FFmpeg %.0f ns CPU per 4096-code packet: ratio %.2f "
                    "(below 1 is faster)\n",
                    law, ours->second, peer->second, ours->second / peer->second);
            }
        }
    }

private:
    std::map<std::string, double> m_ns;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

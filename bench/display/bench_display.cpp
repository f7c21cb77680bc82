// 16 channels of 640 x 272 pictures into a 1280 x 1024 window in split 16:
// conversion, scaling into 320 x 256 cells and labels, on one core, for the
// surface path and the plain path, against libswscale converting and scaling
// the same pictures to 32-bit 320 x 256 with nearest-neighbour sampling.

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "display/video_wnd.h"
#include "sample_pictures.h"
#include "video/pixel_format.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kChannels = 16;
constexpr int kW = 640;
constexpr int kH = 272;

std::vector<std::vector<uint8_t>>& Pictures() {
    static std::vector<std::vector<uint8_t>> pics = [] {
        std::vector<std::vector<uint8_t>> v;
        for (int i = 0; i < kChannels; ++i) {
            v.push_back(tv::bench::SamplePicture(kW, kH, i, i * 7));
        }
        return v;
    }();
    return pics;
}

void RenderWall(benchmark::State& state, int direct) {
    tv::CVideoWnd::ForcePixelFormat(tv::PF_RGB32);
    tv::CVideoWnd wnd;
    wnd.SetChannelCount(kChannels);
    wnd.resize(1280, 1024);
    wnd.show();
    wnd.SetSplit(16, 0);
    wnd.SetShowLabels(1);
    wnd.SetUseDirectDraw(direct);
    if (wnd.IsDirectDrawActive() != direct) {
        state.SkipWithError("drawing path not available");
        return;
    }
    tv::SYSTEMTIME t;
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = 12;
    int n = 0;
    for (auto _ : state) {
        const int ch = n % kChannels;
        t.wSecond = static_cast<uint16_t>((n / 400) % 60); // a new time each 25 fps second
        benchmark::DoNotOptimize(wnd.Render(ch, t, Pictures()[ch].data(), kW, kH));
        ++n;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_RenderSurfacePath(benchmark::State& state) {
    RenderWall(state, 1);
}
void BM_RenderPlainPath(benchmark::State& state) {
    RenderWall(state, 0);
}

void BM_SwscalePeer(benchmark::State& state) {
    SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, 320, 256, AV_PIX_FMT_BGRA,
                                     SWS_POINT, nullptr, nullptr, nullptr);
    std::vector<uint8_t> out(size_t(320) * 256 * 4);
    int n = 0;
    for (auto _ : state) {
        const uint8_t* pic = Pictures()[n % kChannels].data();
        const uint8_t* planes[3] = {pic, pic + kW * kH, pic + kW * kH + kW * kH / 4};
        const int strides[3] = {kW, kW / 2, kW / 2};
        uint8_t* dst[1] = {out.data()};
        const int dstStride[1] = {320 * 4};
        sws_scale(sws, planes, strides, 0, kH, dst, dstStride);
        benchmark::DoNotOptimize(out.data());
        ++n;
    }
    sws_freeContext(sws);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_RenderSurfacePath)->MinTime(1.0);
BENCHMARK(BM_RenderPlainPath)->MinTime(1.0);
BENCHMARK(BM_SwscalePeer)->MinTime(1.0);

// Prints the usual table, then pictures per second and the ratio to the peer.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // CPU time, in nanoseconds per picture: the figure for one core even
            // when the machine is shared.
            if (run.iterations > 0 && run.GetAdjustedCPUTime() > 0) {
                m_rate[run.benchmark_name()] = 1e9 / run.GetAdjustedCPUTime();
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double peer = m_rate["BM_SwscalePeer/min_time:1.000"];
        for (const auto& [name, rate] : m_rate) {
            std::printf("%-40s %10.0f pictures/s of CPU", name.c_str(), rate);
            if (peer > 0) {
                std::printf("   ratio to libswscale %.2f", rate / peer);
            }
            std::printf("%s\n", rate >= 800 ? "" : "   (below the 800 pictures/s goal)");
        }
    }

private:
    std::map<std::string, double> m_rate;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

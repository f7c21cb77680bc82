// Speed of the activity index against `qzftool info` (which reads every block
// header and every packet) on the same recording of eight channels, in one
// run: the ratio of their speeds, and the seconds the index needs per
// recorded hour. The recording is two minutes of scene repeated with later
// times to the length asked for (default one hour).
//
//   compare_activity [hours] [keep.qzf]

#include "media/block_writer.h"
#include "media/qzf_block.h"
#include "review/activity_scanner.h"
#include "synth/activity_scene.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tv;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kPieceSeconds = 120;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Best of five: the machine is shared, the least disturbed run is the measure.
template <typename Fn> double Best(Fn fn) {
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto a = Clock::now();
        fn();
        best = std::min(best, Seconds(a, Clock::now()));
    }
    return best;
}

void Run(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const double hours = argc > 1 ? std::atof(argv[1]) : 1.0;
    std::string path = argc > 2 ? argv[2] : "";
    char dir[] = "/tmp/tv_bench_activity_XXXXXX";
    if (path.empty()) {
        if (mkdtemp(dir) == nullptr)
            return 1;
        path = std::string(dir) + "/day.qzf";
    }

    std::vector<uint8_t> piece;
    CQzfBlockWriter w;
    w.AttachVector(&piece);
    std::string error;
    const synth::SceneOptions scene = synth::PlannedScene(8, kPieceSeconds);
    if (!synth::WriteActivityScene(scene, w, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const int copies = std::max(1, int(hours * 3600 / kPieceSeconds + 0.5));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    std::vector<uint8_t> copy(piece.size());
    for (int k = 0; k < copies; ++k) {
        copy = piece;
        for (size_t b = 0; b + kQzfBlockSize <= copy.size(); b += kQzfBlockSize) {
            QzfBlockHeader h;
            if (!DecodeBlockHeader(&copy[b], false, &h))
                continue;
            h.time += uint32_t(k * kPieceSeconds);
            EncodeBlockHeader(h, false, &copy[b]);
        }
        if (::write(fd, copy.data(), copy.size()) != ssize_t(copy.size()))
            return 1;
    }
    ::close(fd);
    const double recorded = copies * kPieceSeconds;
    const double mb = double(piece.size()) * copies / 1e6;

    const std::string tool = QZFTOOL_PATH;
    Run(tool + " info '" + path + "' > /dev/null"); // into the page cache
    const double info = Best([&] { Run(tool + " info '" + path + "' > /dev/null"); });
    const double tool_activity =
        Best([&] { Run(tool + " activity --no-cache '" + path + "' > /dev/null"); });
    CActivityIndex index;
    const double scan = Best([&] {
        CActivityScanner s;
        s.Scan(path, ActivityScanOptions{}, 0, &index, nullptr, nullptr, &error);
    });

    std::printf("recording: %.0f s of 8 channels, %.0f MB (%.2f MB per recorded second)\n",
                recorded, mb, mb / recorded);
    std::printf("qzftool info:              %7.3f s  %8.1f MB/s\n", info, mb / info);
    std::printf("qzftool activity:          %7.3f s  %8.1f MB/s\n", tool_activity,
                mb / tool_activity);
    std::printf("activity scan (in process):%7.3f s  %8.1f MB/s\n", scan, mb / scan);
    std::printf("speed of the index / speed of info: %.2f (goal at least 0.33)\n",
                info / tool_activity);
    std::printf("seconds per recorded hour of 8 channels: %.3f (%.0f times real time; goal 1000)\n",
                scan * 3600 / recorded, recorded / scan);
    std::printf("events found: %zu\n", index.FindEvents(kDefaultActivityThreshold).size());
    if (argc <= 2) {
        ::unlink(path.c_str());
        ::rmdir(dir);
    }
    return 0;
}

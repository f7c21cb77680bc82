// Forward reading of a recording against plain sequential pread of the same
// file (the physical limit), in one run; then the time search on a 100 GB
// sparse recording.

#include "media/block_writer.h"
#include "media/stream_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tv;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::string MakeSample(const std::string& dir, uint64_t bytes) {
    const std::string path = dir + "/sample.qzf";
    CQzfBlockWriter w;
    if (!w.OpenFile(path)) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(1);
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> payload(40000);
    for (auto& b : payload) {
        b = static_cast<uint8_t>(2 + rng() % 250); // no start codes inside
    }
    uint32_t t = 1700000000;
    while (w.GetBytesWritten() < bytes) {
        w.SetTime(static_cast<time_t>(t++));
        for (int c = 0; c < 8; ++c) {
            payload[0] = static_cast<uint8_t>(c);
            w.WritePacket(c == 0 ? 0xF9 : 0xF8, payload.data(), 2000 + rng() % 30000);
        }
        w.WriteAudioPacket(0, payload.data(), 1600);
    }
    w.Finish();
    w.Close();
    return path;
}

double PreadRate(const std::string& path, uint64_t* total) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8_t> buf(1 << 20);
    uint64_t off = 0;
    const auto a = Clock::now();
    for (;;) {
        const ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(off));
        if (n <= 0) {
            break;
        }
        off += static_cast<uint64_t>(n);
    }
    const auto b = Clock::now();
    ::close(fd);
    *total = off;
    return static_cast<double>(off) / 1e6 / Seconds(a, b);
}

double ReaderRate(const std::string& path, uint64_t* packets) {
    CStreamFile f;
    f.Open(path, 0);
    std::vector<uint8_t> buf(kMaxPacketSize);
    uint64_t n = 0;
    const auto a = Clock::now();
    while (f.ReadForward(buf.data()) > 0) {
        ++n;
    }
    const auto b = Clock::now();
    *packets = n;
    return static_cast<double>(f.GetSize()) / 1e6 / Seconds(a, b);
}

// ringShift 0: times rise from start to end; otherwise a recorder disk used as
// a ring, whose first blocks hold the newest times.
void TimeSearch(const std::string& dir, uint64_t ringShift) {
    // One valid block per MiB across 100 GB; the rest is a hole (bad blocks).
    const std::string path = dir + "/big.qzf";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const uint64_t size = 100ull << 30;
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        std::printf("time search: no room for a sparse 100 GB file, skipped\n");
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    uint8_t block[kQzfBlockSize] = {};
    const uint64_t step = 1 << 20;
    const uint64_t points = size / step;
    for (uint64_t off = 0; off < size; off += step) {
        QzfBlockHeader h;
        h.time = static_cast<uint32_t>(1600000000 + (off / step + ringShift) % points);
        h.channelMask = 1;
        EncodeBlockHeader(h, false, block);
        if (::pwrite(fd, block, 8, static_cast<off_t>(off)) != 8) {
            std::printf("time search: write failed, skipped\n");
            ::close(fd);
            ::unlink(path.c_str());
            return;
        }
    }
    ::close(fd);
    CStreamFile f;
    f.Open(path, 0);
    std::mt19937 rng(2);
    double worst = 0;
    double sum = 0;
    int wrong = 0;
    const int runs = 50;
    for (int i = 0; i < runs; ++i) {
        const uint32_t k = static_cast<uint32_t>(rng() % (size / step));
        uint32_t found = 0;
        const auto a = Clock::now();
        const int64_t off = f.FindTime(1600000000u + k, &found);
        const double ms = Seconds(a, Clock::now()) * 1000;
        worst = std::max(worst, ms);
        sum += ms;
        const uint64_t at = (k + points - ringShift) % points;
        wrong += (off != static_cast<int64_t>(at * step)) ? 1 : 0;
    }
    std::printf("time search, 100 GB sparse %s: mean %.2f ms, worst %.2f ms over %d "
                "searches (goal 50 ms), %d wrong\n",
                ringShift ? "ring disk" : "recording", sum / runs, worst, runs, wrong);
    ::unlink(path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t mb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    char tmpl[] = "/tmp/tv_bench_media_XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (dir == nullptr) {
        return 1;
    }
    const std::string path = MakeSample(dir, mb << 20);
    double bestPread = 0;
    double bestReader = 0;
    uint64_t total = 0;
    uint64_t packets = 0;
    for (int i = 0; i < 3; ++i) {
        bestPread = std::max(bestPread, PreadRate(path, &total));
        bestReader = std::max(bestReader, ReaderRate(path, &packets));
    }
    std::printf("sequential pread (1 MiB):  %8.0f MB/s over %llu bytes\n", bestPread,
                static_cast<unsigned long long>(total));
    std::printf("CStreamFile::ReadForward:  %8.0f MB/s, %llu packets\n", bestReader,
                static_cast<unsigned long long>(packets));
    std::printf("ratio reader/pread:        %8.2f (goal >= 0.50)\n", bestReader / bestPread);
    ::unlink(path.c_str());
    TimeSearch(dir, 0);
    TimeSearch(dir, (100ull << 10) * 7 / 10); // the newest 30 % first
    ::rmdir(dir);
    return 0;
}

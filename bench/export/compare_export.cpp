// Seconds of recording exported per second of wall time by `qzftool export`
// (decode, compose split 9, encode with the default codec, mux), on one core,
// next to FFmpeg encoding the very same frames with the same encoder settings.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

double TimedRun(const std::string& cmd) {
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const auto t1 = std::chrono::steady_clock::now();
    if (rc != 0) {
        std::fprintf(stderr, "compare_export: failed: %s\n", cmd.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(t1 - t0).count();
}

std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        pclose(p);
    }
    return out;
}

} // namespace

int main() {
    const int seconds = 60;
    char tmpl[] = "/tmp/tv_bench_export_XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string tool = QZFTOOL_PATH;
    const std::string one =
        std::system("command -v taskset >/dev/null 2>&1") == 0 ? "taskset -c 0 " : "";

    TimedRun(tool + " make-sample " + dir + "/s.qzf --channels 8 --seconds " +
             std::to_string(seconds) + " >/dev/null");
    const double ours =
        TimedRun(one + tool + " export " + dir + "/s.qzf " + dir + "/o.avi --split 9 2>/dev/null");
    const std::string probe = Capture("ffprobe -v error -select_streams v:0 -count_packets "
                                      "-show_entries stream=nb_read_packets,r_frame_rate -of "
                                      "default=nw=1:nk=1 " +
                                      dir + "/o.avi");
    const int rate = std::atoi(probe.c_str());
    const int frames = std::atoi(probe.substr(probe.find('\n') + 1).c_str());

    // The peer encodes the frames we wrote, already decoded and composed, so it
    // measures encoder and muxer only: a floor for our whole path.
    TimedRun("ffmpeg -v error -y -i " + dir + "/o.avi -map 0:v -f rawvideo -pix_fmt bgr24 " + dir +
             "/frames.raw");
    const double peer = TimedRun(one +
                                 "ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt bgr24 "
                                 "-s 640x448 -r " +
                                 std::to_string(rate) + " -i " + dir +
                                 "/frames.raw -c:v mjpeg -q:v 3 -threads 1 " + dir + "/peer.avi");
    fs::remove_all(dir);

    std::printf("recording: 8 channels, %d s, split 9, %d frames at %d fps, default codec\n",
                seconds, frames, rate);
    std::printf("qzftool export (decode+compose+encode+mux): %.2f s wall, %.1f x real time, "
                "%.0f frames/s\n",
                ours, seconds / ours, frames / ours);
    std::printf("ffmpeg mjpeg encode+mux of the same frames: %.2f s wall, %.0f frames/s\n", peer,
                frames / peer);
    std::printf("ratio ours/ffmpeg frames per second: %.2f (goal: at least 4 x real time: %s)\n",
                peer / ours, seconds / ours >= 4.0 ? "met" : "NOT met");
    return 0;
}

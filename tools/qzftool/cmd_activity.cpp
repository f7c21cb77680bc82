// qzftool activity: the periods of activity of every channel of a recording,
// from the activity index (cached as the viewer caches it).

#include "media/qzf_block.h"
#include "platform/json_text.h"
#include "platform/system.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "review/activity_cache.h"
#include "review/activity_index.h"
#include "review/activity_scanner.h"
#include "synth/activity_scene.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Time(uint32_t t, bool utc) {
    return tv::FormatBlockTime(t, utc ? 0 : tv::GetTimeZoneBias());
}

int RunActivity(int argc, char** argv) {
    static const char* kHelp =
        "Periods of activity per channel: when more than the fraction X (default 0.01) of a\n"
        "channel's picture changed within each second, times in local standard time (UTC with\n"
        "--utc). --json prints the periods as \"events\" and the share of each channel's picture\n"
        "that changed in every recorded second as \"seconds\". The index is cached under\n"
        "$XDG_CACHE_HOME/tessavin-viewer/ (a folder of the user's own, mode 0700) unless\n"
        "--no-cache.\n";
    std::vector<std::string> args(1);
    tv::ActivityScanOptions opt;
    bool utc = false;
    bool json = false;
    bool noCache = false;
    double threshold = tv::kDefaultActivityThreshold;
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool activity", kHelp);
    cli.add_option("FILE", args[0], "the recording")->required();
    tv::qzf::AddDisk(cli, &opt.disk);
    tv::qzf::AddFormat(cli, &opt.format);
    tv::qzf::AddUtc(cli, &utc);
    tv::cli::AddValue(cli, "--threshold", "X", "the share of a picture that counts as activity",
                      [&threshold](const std::string& v) {
                          char* end = nullptr;
                          const double t = std::strtod(v.c_str(), &end);
                          if (end == v.c_str() || *end != '\0' || !(t > 0) || t > 1) {
                              return "--threshold needs a number above 0 and at most 1, not '" + v +
                                     "'";
                          }
                          threshold = t;
                          return std::string();
                      });
    cli.add_flag("--json", json, "one JSON object with the periods and every second's levels");
    cli.add_flag("--no-cache", noCache, "index afresh and keep nothing");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    const bool cache = !noCache;
    tv::CActivityIndex index;
    std::string error;
    // On a terminal, how far the scan has come.
    int shown = -1;
    tv::CActivityScanner::Progress progress;
    if (isatty(STDERR_FILENO))
        progress = [&shown](uint64_t done, uint64_t total) {
            const int pct = total ? int(done * 100 / total) : 100;
            if (pct != shown)
                std::fprintf(stderr, "\rindexing %3d%%", pct);
            shown = pct;
        };
    int ok;
    std::string note;
    if (cache) {
        ok = tv::LoadActivityIndex(args[0], opt, &index, nullptr, progress, nullptr, &error,
                                   nullptr, &note);
    } else {
        tv::CActivityScanner scanner;
        ok = scanner.Scan(args[0], opt, 0, &index, nullptr, progress, &error);
    }
    if (shown >= 0)
        std::fputs("\r              \r", stderr);
    if (!note.empty())
        std::fprintf(stderr, "qzftool activity: index not cached: %s\n", note.c_str());
    if (!ok) {
        std::fprintf(stderr, "qzftool activity: %s\n", error.c_str());
        return 2;
    }
    const std::vector<tv::ActivityEvent> events = index.FindEvents(threshold);
    if (!json) {
        if (events.empty())
            std::printf("no activity above %.3f\n", threshold);
        for (const tv::ActivityEvent& e : events)
            std::printf("channel %-2d %s - %s  peak %.2f\n", e.channel + 1,
                        Time(e.start, utc).c_str(), Time(e.end, utc).c_str(), e.peak);
        return 0;
    }
    const uint16_t mask = index.ChannelMask();
    std::string out =
        "{\"file\":" + tv::JsonString(args[0]) + ",\"threshold\":" + std::to_string(threshold);
    out += ",\"first_time\":" +
           (index.Empty() ? "null" : tv::JsonString(Time(index.FirstTime(), utc)));
    out +=
        ",\"last_time\":" + (index.Empty() ? "null" : tv::JsonString(Time(index.LastTime(), utc)));
    out += ",\"events\":[";
    char buf[256];
    for (size_t i = 0; i < events.size(); ++i) {
        const tv::ActivityEvent& e = events[i];
        std::snprintf(buf, sizeof(buf),
                      "%s{\"channel\":%d,\"start\":%s,\"end\":%s,\"peak\":%.3f,\"offset\":%llu}",
                      i ? "," : "", e.channel + 1, tv::JsonString(Time(e.start, utc)).c_str(),
                      tv::JsonString(Time(e.end, utc)).c_str(), e.peak,
                      static_cast<unsigned long long>(e.offset));
        out += buf;
    }
    out += "],\"channels\":[";
    bool first = true;
    for (int c = 0; c < tv::kActivityChannels; ++c)
        if (mask & (1u << c)) {
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
            // on a literal + std::string.
            if (!first)
                out += ',';
            out += std::to_string(c + 1);
            first = false;
        }
    out += "],\"seconds\":[";
    for (size_t i = 0; i < index.Seconds().size(); ++i) {
        const tv::ActivitySecond& s = index.Seconds()[i];
        out += i ? ",{\"time\":" : "{\"time\":";
        out += tv::JsonString(Time(s.time, utc));
        out += ",\"offset\":";
        out += std::to_string(s.offset);
        out += ",\"levels\":[";
        first = true;
        for (int c = 0; c < tv::kActivityChannels; ++c)
            if (mask & (1u << c)) {
                std::snprintf(buf, sizeof(buf), "%s%.3f", first ? "" : ",", s.level[c] / 255.0);
                out += buf;
                first = false;
            }
        out += "]}";
    }
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

int RunMakeScene(int argc, char** argv) {
    static const char* kHelp =
        "A recording with known motion: channel 1 still, the last channel noisy and still,\n"
        "the others with an object that moves for a few seconds at planned times.\n";
    std::vector<std::string> args(1);
    int channels = 8;
    double seconds = 120;
    bool disk = false;
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool make-scene", kHelp);
    cli.add_option("OUT", args[0], "the new recording")->required();
    tv::cli::AddInt(cli, "--channels", "N", &channels, 1, 16,
                    "--channels must be a whole number from 1 to 16", "channels (default 8)");
    tv::cli::AddReal(cli, "--seconds", "S", &seconds, std::nextafter(0.0, 1.0), 24 * 3600,
                     "--seconds must be above 0 and at most 86400", "length (default 120)");
    cli.add_flag("--disk", disk, "every 16-bit word swapped, as on a recorder's disk");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    tv::synth::SceneOptions o = tv::synth::PlannedScene(channels, seconds);
    o.diskImage = disk;
    tv::CQzfBlockWriter w;
    std::string error;
    if (!w.OpenFile(args[0])) {
        std::fprintf(stderr, "qzftool make-scene: cannot create %s\n", args[0].c_str());
        return 2;
    }
    if (!tv::synth::WriteActivityScene(o, w, &error) || !w.Close()) {
        std::fprintf(stderr, "qzftool make-scene: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace

QZF_COMMAND("make-scene", "write a recording with known motion, noise and still channels",
            RunMakeScene);
QZF_COMMAND("activity", "periods of activity per channel, from the cached activity index",
            RunActivity);

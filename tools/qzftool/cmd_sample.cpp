// make-sample: a QZF recording of test patterns and a tone, as a recorder writes one.

#include "media/block_writer.h"
#include "media/qzf_block.h"
#include "qzftool/command.h"
#include "synth/audio_tone.h"
#include "synth/sample_recording.h"
#include "video/video_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kHelp =
    "usage: qzftool make-sample OUT [--channels N] [--seconds S] [--fps F] [--format NAME]\n"
    "                           [--audio NAME|none] [--lines 224|272] [--disk-image]\n"
    "                           [--start \"YYYY-MM-DD hh:mm:ss\"] [--seed N] [--quality Q]\n"
    "                           [--key-every N] [--still MASK]\n"
    "Writes a recording of N channels (default 8) of moving test patterns with the\n"
    "channel number and clock burned in, a key picture per channel every second and\n"
    "update pictures between (--key-every: every N pictures of a channel; --still: the\n"
    "channels, as a bit mask, whose shapes stand still), and a tone on audio channel 0.\n"
    "Defaults: 30 seconds,\n"
    "QZ_QZB2, QZ_ALAW, 224 lines, the recorder's pace (F pictures per second per\n"
    "channel: the frame gap is chosen so that playback at speed 1 runs at real time),\n"
    "start 2024-06-01 12:00:00 local standard time. --disk-image swaps every 16-bit\n"
    "word as on a recorder's disk. --quality is the quantiser scale, 1 (best) to 14.\n";

bool ParseNumber(const char* text, double lo, double hi, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= lo && v <= hi))
        return false;
    *out = v;
    return true;
}

bool ParseStart(const char* text, tv::SYSTEMTIME* t) {
    return tv::ParseBlockTime(text, t);
}

int RunMakeSample(int argc, char** argv) {
    tv::synth::SampleOptions o;
    std::string out;
    auto bad = [&](const std::string& why) {
        std::fprintf(stderr, "qzftool make-sample: %s\n", why.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        double v = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--disk-image") {
            o.diskImage = true;
        } else if (a[0] == '-' && a.size() > 1 && !hasValue) {
            return bad(a + " needs a value");
        } else if (a == "--key-every") {
            if (!ParseNumber(argv[++i], 1, 100000, &v) || v != int(v))
                return bad("--key-every must be a whole number of pictures, 1 or more");
            o.keyEvery = int(v);
        } else if (a == "--still") {
            if (!ParseNumber(argv[++i], 0, 65535, &v) || v != int(v))
                return bad("--still must be a channel mask from 0 to 65535");
            o.stillChannels = uint32_t(v);
        } else if (a == "--channels") {
            if (!ParseNumber(argv[++i], 1, 16, &v) || v != int(v))
                return bad("--channels must be a whole number from 1 to 16");
            o.channels = int(v);
        } else if (a == "--seconds") {
            if (!ParseNumber(argv[++i], 0.001, 86400, &v))
                return bad("--seconds must be above 0 and at most 86400");
            o.seconds = v;
        } else if (a == "--fps") {
            if (!ParseNumber(argv[++i], 0.01, 1000, &v))
                return bad("--fps must be above 0 and at most 1000");
            o.fps = v;
        } else if (a == "--format") {
            o.videoFormat = tv::VideoFormatFromName(argv[++i]);
            if (o.videoFormat < 0)
                return bad(std::string("unknown format '") + argv[i] +
                           "' (QZ_QZF, QZ_QZE, QZ_QZD, QZ_QZB, QZ_QZB2, QZ_QZB3, QZ_QZA)");
        } else if (a == "--audio") {
            const std::string name = argv[++i];
            o.audioFormat = name == "none" ? 0 : tv::synth::AudioFormatFromName(name.c_str());
            if (o.audioFormat < 0)
                return bad("unknown audio format '" + name +
                           "' (QZ_UPCM8, QZ_SPCM8, QZ_UPCM16, QZ_SPCM16, QZ_ALAW, QZ_MLAW, none)");
        } else if (a == "--lines") {
            if (!ParseNumber(argv[++i], 224, 272, &v) || (v != 224 && v != 272))
                return bad("--lines must be 224 or 272");
            o.lines = int(v);
        } else if (a == "--start") {
            if (!ParseStart(argv[++i], &o.start))
                return bad("--start must look like \"2024-06-01 12:00:00\" (1970 to 2099)");
        } else if (a == "--seed") {
            if (!ParseNumber(argv[++i], 0, 4294967295.0, &v) || v != double(uint32_t(v)))
                return bad("--seed must be a whole number");
            o.seed = uint32_t(v);
        } else if (a == "--quality") {
            if (!ParseNumber(argv[++i], 1, 14, &v) || v != int(v))
                return bad("--quality must be a whole number from 1 to 14");
            o.quantScale = int(v);
        } else if (a[0] == '-' && a.size() > 1) {
            return bad("unknown option '" + a + "'");
        } else if (out.empty()) {
            out = a;
        } else {
            return bad("more than one output file given");
        }
    }
    if (out.empty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    // Formats whose pictures cannot name more channels get what they can carry.
    if (o.videoFormat == 0 && o.channels > 4) {
        std::fprintf(stderr, "qzftool make-sample: QZ_QZF carries 4 channels; writing 4\n");
        o.channels = 4;
    }
    if (o.videoFormat == tv::VF_QZD && o.channels > 1) {
        std::fprintf(stderr, "qzftool make-sample: QZ_QZD carries channel 0 only; writing 1\n");
        o.channels = 1;
    }

    tv::CQzfBlockWriter w;
    if (!w.OpenFile(out))
        return bad("cannot create " + out + ": " + w.GetErrorText());
    tv::synth::SampleSummary s;
    std::string error;
    const int ok = tv::synth::WriteSampleRecording(o, w, &s, &error);
    if (!w.Close() && ok)
        error = w.GetErrorText();
    if (!ok || !error.empty()) {
        std::remove(out.c_str());
        return bad("writing " + out + " failed: " + error);
    }
    std::printf("%s: %d channels, %ld pictures (%ld key), %.2f pictures/s per channel, frame "
                "gap %d, %ld audio packets, %llu bytes\n",
                out.c_str(), s.channels, s.pictures, s.keyPictures, s.fps, s.frameGap,
                s.audioPackets, static_cast<unsigned long long>(s.bytes));
    return 0;
}

} // namespace

QZF_COMMAND("make-sample", "write a recording of test patterns and a tone", RunMakeSample);

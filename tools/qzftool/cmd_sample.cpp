// make-sample: a QZF recording of test patterns and a tone, as a recorder writes one.

#include "media/block_writer.h"
#include "media/qzf_block.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "synth/audio_tone.h"
#include "synth/sample_recording.h"
#include "video/video_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kHelp =
    "Writes a recording of N channels (default 8) of moving test patterns with the\n"
    "channel number and clock burned in, a key picture per channel every second and\n"
    "update pictures between (--key-every: every N pictures of a channel; --still: the\n"
    "channels, as a bit mask, whose shapes stand still), and a tone on audio channel 0.\n"
    "Defaults: 30 seconds,\n"
    "QZ_QZB2, QZ_ALAW, 224 lines, the recorder's pace (F pictures per second per\n"
    "channel: the frame gap is chosen so that playback at speed 1 runs at real time),\n"
    "start 2024-06-01 12:00:00 local standard time. --disk-image swaps every 16-bit\n"
    "word as on a recorder's disk. --quality is the quantiser scale, 1 (best) to 14.\n";

int RunMakeSample(int argc, char** argv) {
    tv::synth::SampleOptions o;
    std::string out;
    auto bad = [&](const std::string& why) {
        std::fprintf(stderr, "qzftool make-sample: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool make-sample", kHelp);
    cli.add_option("OUT", out, "the new recording")->required();
    tv::cli::AddInt(cli, "--channels", "N", &o.channels, 1, 16,
                    "--channels must be a whole number from 1 to 16", "channels (default 8)");
    tv::cli::AddReal(cli, "--seconds", "S", &o.seconds, 0.001, 86400,
                     "--seconds must be above 0 and at most 86400", "length (default 30)");
    tv::cli::AddReal(cli, "--fps", "F", &o.fps, 0.01, 1000,
                     "--fps must be above 0 and at most 1000",
                     "pictures per second per channel (default: the recorder's pace)");
    tv::qzf::AddFormat(cli, &o.videoFormat);
    tv::cli::AddValue(cli, "--audio", "NAME|none",
                      "audio format: QZ_UPCM8, QZ_SPCM8, QZ_UPCM16, QZ_SPCM16, QZ_ALAW (default), "
                      "QZ_MLAW, or none",
                      [&o](const std::string& name) {
                          const int code =
                              name == "none" ? 0 : tv::synth::AudioFormatFromName(name.c_str());
                          if (code < 0)
                              return "unknown audio format '" + name +
                                     "' (QZ_UPCM8, QZ_SPCM8, QZ_UPCM16, QZ_SPCM16, QZ_ALAW, "
                                     "QZ_MLAW, none)";
                          o.audioFormat = code;
                          return std::string();
                      });
    tv::cli::AddIntOf(cli, "--lines", &o.lines, {224, 272}, "--lines must be 224 or 272",
                      "picture lines (default 224)");
    cli.add_flag("--disk-image", o.diskImage, "every 16-bit word swapped, as on a recorder's disk");
    tv::cli::AddValue(cli, "--start", "\"YYYY-MM-DD hh:mm:ss\"",
                      "the first block's time (default 2024-06-01 12:00:00)",
                      [&o](const std::string& text) {
                          return tv::ParseBlockTime(text, &o.start)
                                     ? std::string()
                                     : "--start must look like \"2024-06-01 12:00:00\" (1970 to "
                                       "2099)";
                      });
    tv::cli::AddInt(cli, "--seed", "N", &o.seed, 0, 4294967295ll, "--seed must be a whole number",
                    "the patterns' random seed");
    tv::cli::AddInt(cli, "--quality", "Q", &o.quantScale, 1, 14,
                    "--quality must be a whole number from 1 to 14",
                    "the quantiser scale, 1 (best) to 14");
    tv::cli::AddInt(cli, "--key-every", "N", &o.keyEvery, 1, 100000,
                    "--key-every must be a whole number of pictures, 1 or more",
                    "a key picture every N pictures of a channel");
    tv::cli::AddInt(cli, "--still", "MASK", &o.stillChannels, 0, 65535,
                    "--still must be a channel mask from 0 to 65535",
                    "the channels whose shapes stand still, as a bit mask");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
        return status;
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

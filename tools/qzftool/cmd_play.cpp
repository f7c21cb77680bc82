// play: the player engine without a screen, logging every picture it shows.

#ifdef TV_HAVE_ENGINE

#include "engine/player_engine.h"
#include "media/qzf_block.h"
#include "media/stream_file.h"
#include "platform/clock.h"
#include "platform/file_identity.h"
#include "platform/hashing.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "video/video_decoder.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

const char* kHelp =
    "Runs the viewer's player engine on FILE with no screen (a headless video output) and\n"
    "no sound device: opens it, seeks if asked, then plays forward (or backward with\n"
    "--reverse) for S seconds (default 10), or with --unpaced without pacing waits until\n"
    "the end (or the beginning), or makes N steps. Writes one JSON line per picture given\n"
    "to the video output: channel (1-based), offset of the packet, time (the label's; UTC\n"
    "with --utc), sha256 of the planar 4:2:0 picture and wall_ms since the file opened.\n";

bool ParseTime(const char* s, tv::SYSTEMTIME* t) {
    return tv::ParseBlockTime(s, t);
}

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = tv::GetTickCount();
    while (!done()) {
        if (tv::GetTickCount() - start > timeoutMs) {
            return false;
        }
        tv::Sleep(1);
    }
    return true;
}

int RunPlay(int argc, char** argv) {
    std::string file, logPath, seekTime;
    bool disk = false, utc = false, reverse = false, unpaced = false, haveSeekOffset = false;
    int format = tv::VF_QZB2;
    double split = 9, page = 0, speed = 1, seconds = 10, seekOffset = 0, steps = 0;
    int stepDir = 0;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool play: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool play", kHelp);
    cli.add_option("FILE", file, "the recording")->required();
    tv::qzf::AddDisk(cli, &disk);
    tv::qzf::AddFormat(cli, &format);
    tv::cli::AddIntOf(cli, "--split", &split, {1, 4, 9, 16}, "--split must be 1, 4, 9 or 16",
                      "channels in view (default 9)");
    tv::cli::AddInt(cli, "--page", "P", &page, 0, 15, "--page must be 0 to 15",
                    "the page of the split (default 0)");
    tv::cli::AddValue(cli, "--seek-offset", "BYTES", "start at this byte offset",
                      [&](const std::string& v) {
                          long long at = 0;
                          if (!tv::cli::ParseWhole(v, 0, LLONG_MAX, &at))
                              return std::string("--seek-offset must be a byte offset");
                          seekOffset = double(at);
                          haveSeekOffset = true;
                          return std::string();
                      });
    tv::cli::AddText(cli, "--seek-time", "\"YYYY-MM-DD hh:mm:ss\"", &seekTime,
                     "start at the first block at or after this time");
    tv::qzf::AddUtc(cli, &utc);
    tv::cli::AddIntOf(cli, "--speed", &speed, {1, 2, 4, 8, 16, 32},
                      "--speed must be 1, 2, 4, 8, 16 or 32", "play speed (default 1)");
    cli.add_flag("--reverse", reverse, "play backward");
    tv::cli::AddValue(cli, "--step", "N", "make N steps forward instead of playing",
                      [&](const std::string& v) {
                          long long n = 0;
                          if (!tv::cli::ParseWhole(v, 1, 10000000, &n))
                              return std::string("--step must be a count of steps");
                          steps = double(n);
                          stepDir = 1;
                          return std::string();
                      });
    tv::cli::AddValue(cli, "--step-back", "N", "make N steps backward instead of playing",
                      [&](const std::string& v) {
                          long long n = 0;
                          if (!tv::cli::ParseWhole(v, 1, 10000000, &n))
                              return std::string("--step-back must be a count of steps");
                          steps = double(n);
                          stepDir = -1;
                          return std::string();
                      });
    tv::cli::AddReal(cli, "--seconds", "S", &seconds, 0, 86400, "--seconds must be 0 to 86400",
                     "how long to play (default 10)");
    cli.add_flag("--unpaced", unpaced, "no pacing waits: play to the end (or the beginning)");
    tv::cli::AddText(cli, "--log", "OUT.jsonl", &logPath, "the log of the pictures shown")
        ->required();
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    if (haveSeekOffset && !seekTime.empty()) {
        return bad("--seek-offset and --seek-time exclude each other");
    }
    if (int(page) * int(split) >= 9) {
        return bad("split " + std::to_string(int(split)) + " page " + std::to_string(int(page)) +
                   " shows no channel");
    }

    tv::CStreamFile probe;
    if (!probe.Open(file, disk ? tv::kDiskMode : tv::kFileMode)) {
        return bad("cannot open " + file);
    }
    probe.SetFormat(format);
    const long bias = probe.GetTimeZoneBias();
    uint64_t seekTo = 0;
    bool seek = false;
    if (haveSeekOffset) {
        if (seekOffset >= double(probe.GetSize())) {
            return bad("--seek-offset lies past the end of " + file);
        }
        seekTo = uint64_t(seekOffset);
        seek = true;
    } else if (!seekTime.empty()) {
        tv::SYSTEMTIME t;
        if (!ParseTime(seekTime.c_str(), &t)) {
            return bad("--seek-time must be \"YYYY-MM-DD hh:mm:ss\"");
        }
        const int64_t at =
            utc ? probe.FindTime(uint32_t(tv::LocalToBlockTime(t, 0))) : probe.FindTime(t);
        if (at < 0) {
            return bad("no recording at or after " + seekTime);
        }
        seekTo = uint64_t(at);
        seek = true;
    }
    probe.Close();

    std::string why;
    const int logFd = tv::OpenOutputFile(logPath, {file}, &why);
    if (logFd < 0) {
        return bad(why);
    }
    FILE* log = ::fdopen(logFd, "w");
    if (log == nullptr) {
        ::close(logFd);
        return bad("cannot write " + logPath + ": " + std::strerror(errno));
    }

    setenv("SDL_AUDIODRIVER", "dummy", 0);

    auto engine = std::make_unique<tv::CPlayerEngine>();
    engine->Init(nullptr, nullptr, format, 5, 8, 8000, 8);
    engine->SetMode(tv::kEngineModeLocal, -1);
    engine->SetSplit(int(split), int(page));
    engine->SetUnpaced(unpaced ? 1 : 0);

    std::mutex logLock;
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
    engine->SetPictureObserver([&](int channel, uint64_t offset, const tv::SYSTEMTIME& time,
                                   const uint8_t* picture, int width, int height) {
        tv::SYSTEMTIME shown = time;
        if (utc) {
            shown = tv::BlockTimeToLocal(uint32_t(tv::LocalToBlockTime(time, bias)), 0);
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count();
        const std::string sha = tv::Sha256Hex(picture, size_t(width) * height * 3 / 2);
        std::lock_guard<std::mutex> lock(logLock);
        std::fprintf(log,
                     "{\"channel\": %d, \"offset\": %llu, \"time\": "
                     "\"%04u-%02u-%02u %02u:%02u:%02u\", \"sha256\": \"%s\", \"wall_ms\": %.1f}\n",
                     channel + 1, static_cast<unsigned long long>(offset), shown.wYear,
                     shown.wMonth, shown.wDay, shown.wHour, shown.wMinute, shown.wSecond,
                     sha.c_str(), ms);
    });

    const uint32_t kCommandWaitMs = 60000;
    // Waits until the command just posted was taken and its state has settled.
    auto settle = [&](uint64_t taken, bool toPause) {
        return WaitUntil(
            [&] {
                return engine->GetCommandsTaken() > taken &&
                       (!toPause || engine->GetPlayState() == tv::kStatePause);
            },
            kCommandWaitMs);
    };

    t0 = std::chrono::steady_clock::now();
    if (!engine->OpenStream(file, disk ? tv::kDiskMode : tv::kFileMode)) {
        std::fclose(log);
        return bad("the engine could not open " + file);
    }
    uint64_t taken = engine->GetCommandsTaken();
    engine->Pause();
    bool ok = settle(taken, true);
    if (ok && seek) {
        taken = engine->GetCommandsTaken();
        engine->Seek(seekTo);
        ok = settle(taken, true);
    }
    if (ok && stepDir != 0) {
        for (int i = 0; ok && i < int(steps); ++i) {
            taken = engine->GetCommandsTaken();
            if (stepDir > 0) {
                engine->StepForward();
            } else {
                engine->StepBackward();
            }
            ok = settle(taken, true);
        }
    } else if (ok) {
        taken = engine->GetCommandsTaken();
        const double first = speed > 8 ? 8 : speed;
        if (reverse) {
            engine->PlayBackward(first);
        } else {
            engine->Play(first);
        }
        ok = settle(taken, false);
        // The fast speeds are reached as the viewer's buttons reach them.
        for (double s = 16; ok && s <= speed; s *= 2) {
            taken = engine->GetCommandsTaken();
            if (reverse) {
                engine->FastBackward();
            } else {
                engine->FastForward();
            }
            ok = settle(taken, false);
        }
        if (ok && unpaced) {
            WaitUntil([&] { return engine->GetPlayState() == tv::kStatePause; },
                      24u * 3600u * 1000u);
        } else if (ok) {
            WaitUntil([] { return false; }, uint32_t(seconds * 1000));
        }
    }
    engine->StopPlayback();
    engine.reset();
    std::fclose(log);
    if (!ok) {
        std::fprintf(stderr, "qzftool play: the engine did not take a command in time\n");
        return 1;
    }
    return 0;
}

} // namespace

QZF_COMMAND("play", "play a recording through the player engine, logging each picture shown",
            RunPlay);

#endif // TV_HAVE_ENGINE

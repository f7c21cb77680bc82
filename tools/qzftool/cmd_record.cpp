// record: a recorder's live stream into a QZF file, headless, through the
// player engine's network path (pictures are decoded, not drawn).

#include "qzftool/command.h"
#include "qzftool/options.h"
#include "qzftool/stop_signal.h"

#include <cstdio>

#ifdef TV_HAVE_ENGINE

#include "engine/player_engine.h"
#include "net/net_client.h"
#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* kHelp =
    "Logs in to a recorder at --ip and --port (or, with --dynamic, at the address the\n"
    "dynamic-IP service at --ddns-ip and --ddns-port gives for --name) and records its\n"
    "live stream into OUT.QZF until S seconds have passed (default: until SIGINT, SIGTERM\n"
    "or SIGHUP). Progress goes to stderr once a second. The file is closed and padded to\n"
    "a whole block on every way out, and its whole blocks are put on the disk twice a\n"
    "second while it records. An existing OUT.QZF is left alone unless --force is given.\n"
    "Exit status 0 when the recording covers the whole time; 1, with the recorder's\n"
    "reason and the seconds recorded, when the recorder sent nothing, broke the session\n"
    "off or refused to log in again.\n";

// Remembers the session's failures; the client calls it on its own thread.
class RecordNotifier : public tv::INetNotifier {
public:
    void PostNetMessage(int msg, intptr_t, intptr_t) override {
        if (msg == tv::kMsgLoginRefused || msg == tv::kMsgNoResponse) {
            m_failed.store(msg);
        }
        if (msg == tv::kMsgLoginRefused) {
            m_refused.store(1);
        } else if (msg == tv::kMsgDisconnected) {
            m_disconnected.fetch_add(1);
        }
    }
    int Failed() const { return m_failed.load(); }
    int Refused() const { return m_refused.load(); }
    int Disconnects() const { return m_disconnected.load(); }

private:
    std::atomic<int> m_failed{0};
    std::atomic<int> m_refused{0};
    std::atomic<int> m_disconnected{0};
};

void PrintProgress(tv::CPlayerEngine& engine, double seconds) {
    std::fprintf(stderr, "%.0f s: %llu bytes, %llu pictures, %llu audio packets\n", seconds,
                 static_cast<unsigned long long>(engine.GetBytesRecorded()),
                 static_cast<unsigned long long>(engine.GetPicturesShown()),
                 static_cast<unsigned long long>(engine.GetAudioPacketsReceived()));
}

int RunRecord(int argc, char** argv) {
    std::string ip;
    std::string ddnsIp;
    std::string name;
    std::string password;
    std::string out;
    long port = -1;
    long ddnsPort = -1;
    long seconds = -1;
    long timeoutMs = 5000;
    bool dynamic = false;
    bool force = false;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool record: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool record", kHelp);
    cli.add_option("OUT.QZF", out, "the recording to write")->required();
    tv::cli::AddText(cli, "--ip", "ADDR", &ip, "the recorder's address");
    tv::cli::AddInt(cli, "--port", "P", &port, 1, 65535, "--port takes 1 to 65535",
                    "the recorder's port");
    cli.add_flag("--dynamic", dynamic, "ask the dynamic-IP service for the recorder's address");
    tv::cli::AddText(cli, "--ddns-ip", "ADDR", &ddnsIp, "the dynamic-IP service's address");
    tv::cli::AddInt(cli, "--ddns-port", "Q", &ddnsPort, 1, 65535, "--ddns-port takes 1 to 65535",
                    "the dynamic-IP service's port");
    tv::cli::AddText(cli, "--name", "NAME", &name, "the recorder's name at the service");
    tv::cli::AddText(cli, "--password", "PW", &password, "the login password");
    tv::cli::AddInt(cli, "--seconds", "S", &seconds, 1, 100L * 24 * 3600,
                    "--seconds takes a whole number of seconds, at least 1",
                    "how long to record (default: until stopped)");
    tv::cli::AddInt(cli, "--timeout", "MS", &timeoutMs, 100, 600000,
                    "--timeout takes 100 to 600000 milliseconds",
                    "the session's receive time-out (default 5000)");
    cli.add_flag("--force", force, "replace an existing OUT.QZF");
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0) {
        return status;
    }
    if (out.empty()) {
        return bad("no output file given (see --help)");
    }
    if (dynamic) {
        if (ddnsIp.empty() || ddnsPort < 0 || name.empty()) {
            return bad("--dynamic needs --ddns-ip, --ddns-port and --name");
        }
    } else if (ip.empty() || port < 0) {
        return bad("--ip and --port are needed (or --dynamic)");
    }

    // The file is made here, before any session: a recording that cannot be
    // kept is refused before the recorder is asked for anything, and without
    // --force an existing file (an earlier recording) is never replaced.
    const int created =
        ::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (force ? 0 : O_EXCL), 0644);
    if (created < 0) {
        if (errno == EEXIST) {
            return bad(out + " exists; --force replaces it");
        }
        return bad("cannot create " + out + ": " + std::strerror(errno));
    }
    ::close(created);
    struct stat outStat {};
    if (::stat(out.c_str(), &outStat) != 0 || !S_ISREG(outStat.st_mode)) {
        return bad(out + " is not a regular file");
    }
    auto drop = [&] {
        // Only a file this run made and never recorded into goes away again.
        struct stat st {};
        if (!force && ::stat(out.c_str(), &st) == 0 && st.st_size == 0) {
            ::unlink(out.c_str());
        }
    };

    // Headless: no screen and no sound for a scheduled recording.
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    RecordNotifier notifier;
    tv::CPlayerEngine engine;
    engine.Init(nullptr, &notifier, 4, 5, 8, 8000, 8);
    engine.SetMode(tv::kEngineModeNetwork, -1);
    engine.SetPictureSink([](int, const tv::SYSTEMTIME&, const uint8_t*, int, int) {});
    engine.SetTimeout(static_cast<int>(timeoutMs));

    const int started =
        dynamic ? engine.ConnectDynamic(ddnsIp, static_cast<int>(ddnsPort), name, password)
                : engine.Connect(ip, static_cast<int>(port), "", password);
    if (!started) {
        std::fprintf(stderr, "qzftool record: %s\n", engine.GetLastErrorText().c_str());
        drop();
        return 1;
    }
    // The session connects and logs in on its own thread; it gets two
    // time-outs (and the dynamic-IP exchange) to succeed.
    const uint32_t loginStart = tv::GetTickCount();
    const uint32_t loginBound = static_cast<uint32_t>(timeoutMs) * (dynamic ? 3 : 2) + 1000;
    while (!engine.IsConnected()) {
        if (notifier.Failed() != 0 || tv::GetTickCount() - loginStart > loginBound ||
            tv::qzf::StopRequested()) {
            std::string why = engine.GetNetClient()->GetLastErrorText();
            engine.Disconnect();
            if (tv::qzf::StopRequested() && why.empty()) {
                why = "stopped before the login";
            }
            std::fprintf(stderr, "qzftool record: %s\n",
                         why.empty() ? "No response server." : why.c_str());
            drop();
            return 1;
        }
        tv::Sleep(20);
    }
    if (!engine.StartRecording(out)) {
        engine.Disconnect();
        std::fprintf(stderr, "qzftool record: cannot create %s\n", out.c_str());
        drop();
        return 2;
    }
    std::fprintf(stderr, "recording %s\n", out.c_str());

    // What the recorder gave is measured by the file growing: the time
    // between two growths counts as recorded unless the stream paused for
    // longer than a picture gap can explain.
    constexpr uint32_t kLongestGapMs = 2000;
    const uint32_t start = tv::GetTickCount();
    uint32_t nextReport = start + 1000;
    uint32_t recordedMs = 0;
    uint32_t lastGrowth = 0;
    uint64_t lastBytes = 0;
    bool growing = false;
    bool lost = false; // the session broke off at least once
    std::string why;   // the recorder's side of it
    int status = 0;
    auto measure = [&](uint32_t now) {
        const uint64_t bytes = engine.GetBytesRecorded();
        if (bytes != lastBytes) {
            if (growing && now - lastGrowth <= kLongestGapMs) {
                recordedMs += now - lastGrowth;
            }
            growing = true;
            lastGrowth = now;
            lastBytes = bytes;
        }
    };
    const int disconnectsAtStart = notifier.Disconnects();
    while (!tv::qzf::StopRequested()) {
        const uint32_t now = tv::GetTickCount();
        measure(now);
        if (seconds > 0 && now - start >= static_cast<uint32_t>(seconds) * 1000u) {
            break;
        }
        if (static_cast<int32_t>(now - nextReport) >= 0) {
            PrintProgress(engine, (now - start) / 1000.0);
            nextReport += 1000;
        }
        // The recorder closes the file itself when a write fails (a full
        // disk); going on would report a recording that is no longer made.
        if (!engine.IsRecording()) {
            why = engine.GetRecordingErrorText();
            if (why.empty()) {
                why = "the recording stopped";
            }
            status = 1;
            break;
        }
        // A refused login after a reconnection ends the session's thread:
        // nothing more can come.
        if (notifier.Refused() != 0 || !engine.GetNetClient()->HasThread()) {
            why = engine.GetNetClient()->GetLastErrorText();
            why = "the recorder refused to log in again" + (why.empty() ? "" : " (" + why + ")");
            status = 1;
            break;
        }
        if (!lost && (!engine.IsConnected() || notifier.Disconnects() != disconnectsAtStart)) {
            lost = true;
        }
        tv::Sleep(20);
    }
    const uint32_t elapsedMs = tv::GetTickCount() - start;
    measure(tv::GetTickCount());
    const bool stillConnected = engine.IsConnected() != 0;
    const std::string lastError = engine.GetNetClient()->GetLastErrorText();
    engine.StopRecording();
    engine.Disconnect();
    PrintProgress(engine, elapsedMs / 1000.0);
    if (status == 0 && engine.GetBytesRecorded() == 0) {
        why = "the recorder sent no picture to record";
        status = 1;
        drop();
    } else if (status == 0 && lost) {
        why = stillConnected ? "the recorder broke the session off"
                             : "the recorder went away and did not come back";
        if (!lastError.empty()) {
            why += " (" + lastError + ")";
        }
        status = 1;
    }
    if (status != 0) {
        std::fprintf(stderr, "qzftool record: %s; recorded %.1f s of the %.1f s asked into %s\n",
                     why.c_str(), recordedMs / 1000.0,
                     (seconds > 0 && !tv::qzf::StopRequested()) ? seconds * 1.0
                                                                : elapsedMs / 1000.0,
                     out.c_str());
        return 1;
    }
    std::fprintf(stderr, "recorded %.1f s into %s\n", recordedMs / 1000.0, out.c_str());
    return 0;
}

} // namespace

#else // the engine is not part of this build

namespace {
int RunRecord(int, char**) {
    std::fprintf(stderr, "qzftool record: this build has no player engine\n");
    return 2;
}
} // namespace

#endif

QZF_STOPPABLE_COMMAND("record", "a recorder's live stream into a QZF file, headless", RunRecord);

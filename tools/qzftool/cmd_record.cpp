// record: a recorder's live stream into a QZF file, headless, through the
// player engine's network path (pictures are decoded, not drawn).

#include "qzftool/command.h"

#include <cstdio>

#ifdef TV_HAVE_ENGINE

#include "engine/player_engine.h"
#include "net/net_client.h"

#include <QApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kHelp =
    "usage: qzftool record --ip ADDR --port P [--password PW] [--seconds S] OUT.QZF\n"
    "       qzftool record --dynamic --ddns-ip ADDR --ddns-port Q --name NAME\n"
    "                      [--password PW] [--seconds S] OUT.QZF\n"
    "Logs in to a recorder and records its live stream into OUT.QZF until S seconds\n"
    "have passed (default: until SIGINT or SIGTERM). Progress goes to stderr once a\n"
    "second. The file is closed and padded to a whole block on every way out.\n"
    "--timeout MS is the session's receive time-out (default 5000). With --dynamic\n"
    "the recorder's address is asked from the dynamic-IP service first.\n";

std::atomic<int> g_stop{0};

void OnSignal(int) {
    g_stop.store(1);
}

// Remembers the session's failures; the client calls it on its own thread.
class RecordNotifier : public tv::INetNotifier {
public:
    void PostNetMessage(int msg, intptr_t, intptr_t) override {
        if (msg == tv::kWmNetLoginRefused || msg == tv::kWmNetNoResponse) {
            m_failed.store(msg);
        } else if (msg == tv::kWmNetDisconnected) {
            m_disconnected.fetch_add(1);
        }
    }
    int Failed() const { return m_failed.load(); }
    int Disconnects() const { return m_disconnected.load(); }

private:
    std::atomic<int> m_failed{0};
    std::atomic<int> m_disconnected{0};
};

bool ParseInt(const char* text, long lo, long hi, long* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

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
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool record: %s\n", why.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--dynamic") {
            dynamic = true;
        } else if (a == "--ip" && hasValue) {
            ip = argv[++i];
        } else if (a == "--ddns-ip" && hasValue) {
            ddnsIp = argv[++i];
        } else if (a == "--name" && hasValue) {
            name = argv[++i];
        } else if (a == "--password" && hasValue) {
            password = argv[++i];
        } else if (a == "--port" && hasValue) {
            if (!ParseInt(argv[++i], 1, 65535, &port)) {
                return bad("--port takes 1 to 65535");
            }
        } else if (a == "--ddns-port" && hasValue) {
            if (!ParseInt(argv[++i], 1, 65535, &ddnsPort)) {
                return bad("--ddns-port takes 1 to 65535");
            }
        } else if (a == "--seconds" && hasValue) {
            if (!ParseInt(argv[++i], 1, 100L * 24 * 3600, &seconds)) {
                return bad("--seconds takes a whole number of seconds, at least 1");
            }
        } else if (a == "--timeout" && hasValue) {
            if (!ParseInt(argv[++i], 100, 600000, &timeoutMs)) {
                return bad("--timeout takes 100 to 600000 milliseconds");
            }
        } else if (!a.empty() && a[0] == '-') {
            return bad("unknown option " + a + " (see --help)");
        } else if (out.empty()) {
            out = a;
        } else {
            return bad("one output file only");
        }
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

    // Headless: no screen and no sound for a scheduled recording.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    static int qtArgc = 1;
    static char qtName[] = "qzftool";
    static char* qtArgv[] = {qtName, nullptr};
    QApplication app(qtArgc, qtArgv);

    tv::CPlayerEngine engine;
    engine.Init(nullptr, tv::RECT{0, 0, 640, 480}, 4, 5, 8, 8000, 8);
    engine.SetMode(2, -1);
    engine.SetPictureSink([](int, const tv::SYSTEMTIME&, const uint8_t*, int, int) {});
    RecordNotifier notifier;
    engine.GetNetClient()->SetNotifier(&notifier);
    engine.SetTimeout(static_cast<int>(timeoutMs));

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    const int started =
        dynamic ? engine.ConnectDynamic(ddnsIp, static_cast<int>(ddnsPort), name, password)
                : engine.Connect(ip, static_cast<int>(port), "", password);
    if (!started) {
        std::fprintf(stderr, "qzftool record: %s\n", engine.GetLastErrorText().c_str());
        return 1;
    }
    // The session connects and logs in on its own thread; it gets two
    // time-outs (and the dynamic-IP exchange) to succeed.
    const uint32_t loginStart = tv::GetTickCount();
    const uint32_t loginBound = static_cast<uint32_t>(timeoutMs) * (dynamic ? 3 : 2) + 1000;
    while (!engine.IsConnected()) {
        if (notifier.Failed() != 0 || tv::GetTickCount() - loginStart > loginBound ||
            g_stop.load()) {
            std::string why = engine.GetNetClient()->GetLastErrorText();
            engine.Disconnect();
            if (g_stop.load() && why.empty()) {
                why = "stopped before the login";
            }
            std::fprintf(stderr, "qzftool record: %s\n",
                         why.empty() ? "No response server." : why.c_str());
            return 1;
        }
        tv::Sleep(20);
    }
    if (!engine.StartRecording(out)) {
        engine.Disconnect();
        std::fprintf(stderr, "qzftool record: cannot create %s\n", out.c_str());
        return 2;
    }
    std::fprintf(stderr, "recording %s\n", out.c_str());

    const uint32_t start = tv::GetTickCount();
    uint32_t nextReport = start + 1000;
    while (!g_stop.load()) {
        const uint32_t now = tv::GetTickCount();
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
            const std::string why = engine.GetRecordingErrorText();
            engine.Disconnect();
            std::fprintf(stderr, "qzftool record: %s\n",
                         why.empty() ? "the recording stopped" : why.c_str());
            std::signal(SIGINT, SIG_DFL);
            std::signal(SIGTERM, SIG_DFL);
            return 1;
        }
        tv::Sleep(20);
    }
    engine.StopRecording();
    engine.Disconnect();
    PrintProgress(engine, (tv::GetTickCount() - start) / 1000.0);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
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

QZF_COMMAND("record", "a recorder's live stream into a QZF file, headless", RunRecord);

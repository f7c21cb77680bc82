#include "cli/options.h"
#include "dvrsim/dvr_sim.h"

#include <string>

namespace tv {

namespace {

const char kDescription[] =
    "A recorder (and dynamic-IP service) on TCP for trying the viewer's client mode and for\n"
    "tests; events go to stdout as JSON lines. Port 0 takes any free port; the first line\n"
    "printed says which.\n";

// A whole number within lo..hi; the error line names the option and the value.
template <typename Int>
CLI::Option* Number(CLI::App& app, const std::string& name, const std::string& valueName, Int* out,
                    long lo, long hi, const std::string& help) {
    return cli::AddValue(app, name, valueName, help, [=](const std::string& v) {
        long long n = 0;
        if (!cli::ParseWhole(v, lo, hi, &n)) {
            return "bad value for " + name + ": " + v + " (" + std::to_string(lo) + " to " +
                   std::to_string(hi) + ")";
        }
        *out = static_cast<Int>(n);
        return std::string();
    });
}

} // namespace

int ParseDvrSimArgs(int argc, char** argv, DvrSimOptions& opt) {
    CLI::App app;
    cli::Prepare(app, "dvrsim", kDescription);
    Number(app, "--port", "P", &opt.port, 0, 65535, "the recorder's port (default 0)");
    cli::AddText(app, "--bind", "ADDR", &opt.bind, "the address to listen on (default 127.0.0.1)");
    cli::AddText(app, "--password", "PW", &opt.password, "the login password");
    cli::AddText(app, "--source", "FILE.QZF", &opt.source,
                 "stream the pictures and sound of a recording, round and round");
    Number(app, "--source-format", "F", &opt.sourceFormat, 0, 6,
           "the video format code of --source (default the reader's)");
    Number(app, "--channels", "N", &opt.channels, 1, 16, "test-pattern channels (default 1)");
    Number(app, "--fps", "F", &opt.fps, 1, 100, "pictures per second (default 25)");
    Number(app, "--max-clients", "N", &opt.maxClients, 0, 1000,
           "refuse logins past N sessions (default 4)");
    CLI::Option* name = cli::AddText(app, "--name", "NAME", &opt.name,
                                     "the recorder's name at the dynamic-IP service");
    CLI::Option* ddns = Number(app, "--ddns-port", "Q", &opt.ddnsPort, 0, 65535,
                               "also be the dynamic-IP service, on port Q")
                            ->needs(name);
    cli::AddText(app, "--ddns-answer", "ADDR", &opt.ddnsAnswer,
                 "the address the service gives out (default the --bind address)");
    cli::AddChoice(app, "--ddns-reply", &opt.ddnsReply,
                   {{"answer", SimDdnsReply::Answer},
                    {"garbage", SimDdnsReply::Garbage},
                    {"none", SimDdnsReply::None}},
                   "bad value for --ddns-reply: {}",
                   "how the service answers: garbage has no magic, none is silence");
    cli::AddChoice(app, "--login-reply", &opt.loginReply,
                   {{"accept", SimLoginReply::Accept},
                    {"refuse", SimLoginReply::Refuse},
                    {"refuse4", SimLoginReply::Refuse4},
                    {"garbage", SimLoginReply::Garbage},
                    {"none", SimLoginReply::None}},
                   "bad value for --login-reply: {}",
                   "how logins are answered (refuse and refuse4 with --refuse-reason)");
    Number(app, "--refuse-reason", "R", &opt.refuseReason, 0, 65535,
           "the reason a refusal gives (default 2)");
    Number(app, "--pending", "MS", &opt.pendingMs, 0, 3600000,
           "answer \"pending\" first and the login MS later");
    Number(app, "--stall-after", "MS", &opt.stallAfterMs, 0, 86400000,
           "stop sending MS after each login, keeping the connection");
    Number(app, "--drop-after", "MS", &opt.dropAfterMs, 0, 86400000,
           "close each connection MS after its login");
    Number(app, "--disconnect-after", "MS", &opt.disconnectAfterMs, 0, 86400000,
           "send the disconnect message MS after each login");
    app.add_flag("--garbage", opt.garbage, "stray bytes and broken messages between packets");
    app.add_flag_callback(
        "--no-audio", [&opt] { opt.audio = false; }, "send no sound");
    app.add_flag_callback(
        "--no-stream", [&opt] { opt.stream = false; }, "send no live stream");
    Number(app, "--status-every", "MS", &opt.statusEveryMs, 1, 3600000,
           "a status message every MS (default 1000)");
    Number(app, "--quant", "Q", &opt.quant, 1, 14,
           "the test patterns' quantiser scale, 1 (finest) to 14 (default 4)");
    Number(app, "--cycle", "N", &opt.cycle, 1, 1000,
           "test-pattern pictures per channel before they repeat (default 25)");
    Number(app, "--audio-format", "A", &opt.audioFormat, 1, 6,
           "the tone's audio format, 1 QZ_UPCM8 to 6 QZ_MLAW (default 1)");
    app.add_flag("--plain", opt.plain, "made-up pictures of an exact size, no real picture");
    Number(app, "--picture-bytes", "N", &opt.pictureBytes, 64, 131000,
           "the size of a made-up picture (default 12000)");
    Number(app, "--key-interval", "N", &opt.keyInterval, 1, 100000,
           "every N-th picture of a channel is a key picture (default 25)");
    if (const int status = cli::Parse(app, argc, argv); status >= 0) {
        return status;
    }
    opt.ddns = ddns->count() > 0;
    return -1;
}

} // namespace tv

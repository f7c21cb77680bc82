// dvrsim: a recorder (and dynamic-IP service) on TCP for trying the viewer's
// client mode and for tests. Events go to stdout as JSON lines.

#include "dvrsim/dvr_sim.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_quit = 0;

void OnSignal(int) {
    g_quit = 1;
}

const char kUsage[] =
    "usage: dvrsim --port P [--bind 127.0.0.1] [--password PW]\n"
    "              [--source FILE.QZF | --channels N] [--fps F] [--max-clients N]\n"
    "              [--ddns-port Q --name NAME [--ddns-answer ADDR]\n"
    "               [--ddns-reply answer|garbage|none]]\n"
    "              [--login-reply accept|refuse|refuse4|garbage|none] [--refuse-reason R]\n"
    "              [--pending MS] [--stall-after MS] [--drop-after MS]\n"
    "              [--disconnect-after MS] [--garbage] [--no-audio] [--no-stream]\n"
    "              [--status-every MS] [--quant Q] [--cycle N] [--audio-format A]\n"
    "              [--source-format F] [--plain [--picture-bytes N] [--key-interval N]]\n"
    "Port 0 takes any free port; the first line printed says which.\n";

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    tv::DvrSimOptions opt;
    std::string message;
    if (!tv::ParseDvrSimArgs(argc, argv, opt, message)) {
        std::fprintf(stderr, "dvrsim: %s\n%s", message.c_str(), kUsage);
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    tv::CDvrSim sim(opt);
    if (!sim.Start()) {
        std::fprintf(stderr, "dvrsim: %s\n", sim.GetError().c_str());
        return 1;
    }
    std::printf("{\"event\":\"listening\",\"bind\":\"%s\",\"port\":%u,\"ddns_port\":%u,"
                "\"pictures\":\"%s\"}\n",
                opt.bind.c_str(), sim.GetPort(), sim.GetDdnsPort(), sim.GetPictureKind());
    std::fflush(stdout);
    sim.SetLogFile(stdout);
    while (!g_quit) {
        pause();
    }
    sim.Stop();
    std::printf("{\"event\":\"stopped\"}\n");
    return 0;
}

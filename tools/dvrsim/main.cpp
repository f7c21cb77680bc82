// dvrsim: a recorder (and dynamic-IP service) on TCP for trying the viewer's
// client mode and for tests. Events go to stdout as JSON lines.

#include "dvrsim/dvr_sim.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_quit = 0;

void OnSignal(int) {
    g_quit = 1;
}

} // namespace

int main(int argc, char** argv) {
    tv::DvrSimOptions opt;
    if (const int status = tv::ParseDvrSimArgs(argc, argv, opt); status >= 0) {
        return status;
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

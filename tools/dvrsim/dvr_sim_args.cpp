#include "dvrsim/dvr_sim.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tv {

namespace {

bool ToInt(const char* s, long lo, long hi, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

} // namespace

bool ParseDvrSimArgs(int argc, char** argv, DvrSimOptions& opt, std::string& message) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() {
            if (!v) {
                message = "missing value after " + a;
                return false;
            }
            ++i;
            return true;
        };
        auto intValue = [&](long lo, long hi, int& out) {
            if (!needValue()) {
                return false;
            }
            if (!ToInt(v, lo, hi, out)) {
                message = "bad value for " + a + ": " + v;
                return false;
            }
            return true;
        };
        int n = 0;
        if (a == "--port" || a == "--ddns-port") {
            if (!intValue(0, 65535, n)) {
                return false;
            }
            (a == "--port" ? opt.port : opt.ddnsPort) = static_cast<uint16_t>(n);
            if (a == "--ddns-port") {
                opt.ddns = true;
            }
        } else if (a == "--bind" || a == "--password" || a == "--source" || a == "--name" ||
                   a == "--ddns-answer") {
            if (!needValue()) {
                return false;
            }
            std::string& dst = a == "--bind"       ? opt.bind
                               : a == "--password" ? opt.password
                               : a == "--source"   ? opt.source
                               : a == "--name"     ? opt.name
                                                   : opt.ddnsAnswer;
            dst = v;
        } else if (a == "--channels") {
            if (!intValue(1, 16, opt.channels)) {
                return false;
            }
        } else if (a == "--fps") {
            if (!intValue(1, 100, opt.fps)) {
                return false;
            }
        } else if (a == "--max-clients") {
            if (!intValue(0, 1000, opt.maxClients)) {
                return false;
            }
        } else if (a == "--key-interval") {
            if (!intValue(1, 100000, opt.keyInterval)) {
                return false;
            }
        } else if (a == "--picture-bytes") {
            if (!intValue(64, 131000, opt.pictureBytes)) {
                return false;
            }
        } else if (a == "--status-every") {
            if (!intValue(1, 3600000, opt.statusEveryMs)) {
                return false;
            }
        } else if (a == "--pending") {
            if (!intValue(0, 3600000, opt.pendingMs)) {
                return false;
            }
        } else if (a == "--stall-after") {
            if (!intValue(0, 86400000, opt.stallAfterMs)) {
                return false;
            }
        } else if (a == "--drop-after") {
            if (!intValue(0, 86400000, opt.dropAfterMs)) {
                return false;
            }
        } else if (a == "--disconnect-after") {
            if (!intValue(0, 86400000, opt.disconnectAfterMs)) {
                return false;
            }
        } else if (a == "--refuse-reason") {
            if (!intValue(0, 65535, opt.refuseReason)) {
                return false;
            }
        } else if (a == "--login-reply") {
            if (!needValue()) {
                return false;
            }
            const std::string r = v;
            if (r == "accept") {
                opt.loginReply = SimLoginReply::Accept;
            } else if (r == "refuse") {
                opt.loginReply = SimLoginReply::Refuse;
            } else if (r == "refuse4") {
                opt.loginReply = SimLoginReply::Refuse4;
            } else if (r == "garbage") {
                opt.loginReply = SimLoginReply::Garbage;
            } else if (r == "none") {
                opt.loginReply = SimLoginReply::None;
            } else {
                message = "bad value for --login-reply: " + r;
                return false;
            }
        } else if (a == "--ddns-reply") {
            if (!needValue()) {
                return false;
            }
            const std::string r = v;
            if (r == "answer") {
                opt.ddnsReply = SimDdnsReply::Answer;
            } else if (r == "garbage") {
                opt.ddnsReply = SimDdnsReply::Garbage;
            } else if (r == "none") {
                opt.ddnsReply = SimDdnsReply::None;
            } else {
                message = "bad value for --ddns-reply: " + r;
                return false;
            }
        } else if (a == "--quant") {
            if (!intValue(1, 14, opt.quant)) {
                return false;
            }
        } else if (a == "--cycle") {
            if (!intValue(1, 1000, opt.cycle)) {
                return false;
            }
        } else if (a == "--audio-format") {
            if (!intValue(1, 6, opt.audioFormat)) {
                return false;
            }
        } else if (a == "--source-format") {
            if (!intValue(0, 6, opt.sourceFormat)) {
                return false;
            }
        } else if (a == "--plain") {
            opt.plain = true;
        } else if (a == "--garbage") {
            opt.garbage = true;
        } else if (a == "--no-audio") {
            opt.audio = false;
        } else if (a == "--no-stream") {
            opt.stream = false;
        } else {
            message = "unknown option " + a;
            return false;
        }
    }
    if (opt.ddns && opt.name.empty()) {
        message = "--ddns-port needs --name";
        return false;
    }
    return true;
}

} // namespace tv

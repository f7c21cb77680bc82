// package and verify-package: evidence packages of a time range.

#include "audio/audio_converter.h"
#include "evidence/evidence_package.h"
#include "evidence/package_verify.h"
#include "media/qzf_block.h"
#include "platform/notifier.h"
#include "platform/system.h"
#include "qzftool/command.h"
#include "qzftool/options.h"
#include "qzftool/stop_signal.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Set from the tool's stop signals (Ctrl+C, SIGTERM, SIGHUP) by a watcher
// thread, so that a step that reports no progress for a while still stops.
std::atomic<bool> g_cancel{false};

const char* kPackageHelp =
    "Makes an evidence package of the range in DIR (new, or empty): master.QZF, the\n"
    "recording's own blocks covering the range byte for byte, starting where every\n"
    "chosen channel opens with a key picture; working.avi, the chosen channels (all\n"
    "when none are named) as the split view shows them, with labels, time and sound;\n"
    "with --stills a bitmap per channel at the start of the range; report.txt; and\n"
    "manifest.json, written last, with the SHA-256 of every file; its seal is printed\n"
    "at the end: keep it apart from the package. Times are local standard time, or\n"
    "UTC with --utc. Ctrl+C cancels and removes what was made.\n";

const char* kVerifyHelp =
    "Recomputes every hash of an evidence package and checks the master's\n"
    "blocks; one line per file, then the manifest's seal; exit status 0 only\n"
    "when all hold. The seal lives in the folder and is rewritten with it: keep\n"
    "a copy apart and give it with --seal (either case) to have it compared.\n";

bool ParseChannels(const std::string& s, uint32_t* mask) {
    *mask = 0;
    size_t i = 0;
    while (i < s.size()) {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(s.c_str() + i, &end, 10);
        if (errno || end == s.c_str() + i || n < 1 || n > 16) {
            return false;
        }
        *mask |= 1u << (n - 1);
        i = size_t(end - s.c_str());
        if (i < s.size()) {
            if (s[i] != ',') {
                return false;
            }
            ++i;
        }
    }
    return *mask != 0;
}

int RunPackage(int argc, char** argv) {
    tv::evidence::PackageOptions o;
    std::string from, to;
    auto bad = [](const std::string& why) {
        std::fprintf(stderr, "qzftool package: %s\n", why.c_str());
        return 2;
    };
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool package", kPackageHelp);
    cli.add_option("FILE", o.source, "the recording")->required();
    tv::qzf::AddDisk(cli, &o.disk);
    tv::qzf::AddFormat(cli, &o.videoFormat);
    tv::qzf::AddAudio(cli, &o.audioFormat);
    tv::cli::AddText(cli, "--from", "\"YYYY-MM-DD hh:mm:ss\"", &from, "the start of the range")
        ->required();
    tv::cli::AddText(cli, "--to", "\"YYYY-MM-DD hh:mm:ss\"", &to, "the end of the range")
        ->required();
    tv::qzf::AddUtc(cli, &o.utc);
    tv::cli::AddValue(cli, "--channels", "1,2,...",
                      "the channels of the working copy (default all)",
                      [&o](const std::string& list) {
                          return ParseChannels(list, &o.channels)
                                     ? std::string()
                                     : "--channels takes channel numbers 1 to 16, such as 1,2,5";
                      });
    tv::cli::AddChoice(cli, "--working", &o.working, {{"avi", true}, {"none", false}},
                       "--working takes avi or none", "the working copy (default avi)");
    tv::cli::AddText(cli, "--codec", "NAME", &o.codec, "the working copy's video encoder");
    cli.add_flag("--stills", o.stills, "a bitmap per channel at the start of the range");
    cli.add_flag("--hash-source", o.hashSource, "the SHA-256 of the whole recording too");
    tv::cli::AddText(cli, "--out", "DIR", &o.outDir, "the package's folder, new or empty")
        ->required();
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
        return status;
    const long bias = o.utc ? 0 : tv::GetTimeZoneBias();
    o.fromUtc = tv::evidence::ParsePackageTime(from, bias);
    o.toUtc = tv::evidence::ParsePackageTime(to, bias);
    if (o.fromUtc < 0 || o.toUtc < 0)
        return bad("times take the form \"YYYY-MM-DD hh:mm:ss\"");
    if (o.fromUtc >= o.toUtc)
        return bad("--to must come after --from");

    // A file-size limit must fail the write, with a message, not kill the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    tv::SetMessageBoxHandler([](const std::string& text, const std::string&) {
        std::fprintf(stderr, "\nqzftool package: %s\n", text.c_str());
    });

    std::string lastStage;
    int lastPercent = -1;
    g_cancel = tv::qzf::StopRequested();
    std::atomic<bool> finished{false};
    std::thread watcher([&finished] {
        while (!finished) {
            if (tv::qzf::StopRequested()) {
                g_cancel = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    auto progress = [&](const std::string& stage, uint64_t done, uint64_t total) {
        const int p = total ? int(done * 100 / total) : 100;
        if (stage != lastStage || p != lastPercent) {
            std::fprintf(stderr, "%s%s: %3d%%",
                         stage != lastStage && !lastStage.empty() ? "\n" : "\r", stage.c_str(), p);
            lastStage = stage;
            lastPercent = p;
        }
    };
    tv::evidence::PackageResult r;
    const int ok = tv::evidence::MakeEvidencePackage(o, progress, &g_cancel, &r);
    finished = true;
    watcher.join();
    if (!lastStage.empty())
        std::fprintf(stderr, "\n");
    if (!ok) {
        std::fprintf(stderr, "qzftool package: no package made: %s\n", r.error.c_str());
        return r.error == "cancelled" ? 130 : 1;
    }
    std::fputs(r.summary.c_str(), stdout);
    return 0;
}

int RunVerifyPackage(int argc, char** argv) {
    std::string dir, kept;
    CLI::App cli;
    tv::cli::Prepare(cli, "qzftool verify-package", kVerifyHelp);
    cli.add_option("DIR", dir, "the package's folder")->required();
    tv::cli::AddValue(cli, "--seal", "HEX", "the seal kept apart, to compare",
                      [&kept](const std::string& seal) {
                          if (!tv::evidence::IsSealText(seal))
                              return std::string("--seal takes the 64 hex digits of the seal");
                          kept = seal;
                          return std::string();
                      });
    if (const int status = tv::cli::Parse(cli, argc, argv); status >= 0)
        return status;
    std::vector<tv::evidence::VerifyLine> lines;
    std::string seal;
    const int ok = tv::evidence::VerifyPackage(dir, kept, &seal, &lines);
    for (const tv::evidence::VerifyLine& l : lines)
        std::printf("%-8s %s: %s\n", l.ok ? "OK" : "FAILED", l.name.c_str(), l.text.c_str());
    if (!seal.empty())
        std::printf("seal: %s%s\n", seal.c_str(),
                    kept.empty() ? " (compare it with the copy kept apart, or give it with --seal)"
                                 : "");
    std::printf(ok ? "the package holds: nothing changed\n" : "the package does NOT hold\n");
    return ok ? 0 : 1;
}

} // namespace

QZF_STOPPABLE_COMMAND("package",
                      "an evidence package of a time range: master, working copy, manifest",
                      RunPackage);
QZF_COMMAND("verify-package", "recompute an evidence package's hashes; exit 1 on any change",
            RunVerifyPackage);

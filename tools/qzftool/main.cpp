// qzftool: inspects, checks, copies and makes QZF recordings from the command
// line. Commands register themselves (command.h); this file only dispatches.

#include "qzftool/command.h"
#include "qzftool/stop_signal.h"

#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE* out) {
    std::vector<tv::qzf::Command> list = tv::qzf::Commands();
    std::sort(list.begin(), list.end(),
              [](const tv::qzf::Command& a, const tv::qzf::Command& b) { return a.name < b.name; });
    std::fprintf(out, "usage: qzftool COMMAND [ARGS...]\n"
                      "       qzftool COMMAND --help\n\ncommands:\n");
    for (const tv::qzf::Command& c : list) {
        std::fprintf(out, "  %-12s %s\n", c.name.c_str(), c.summary.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    // First of all: a stop signal must never find the tool with no handler
    // while a command is starting up (its output not yet made or closed).
    tv::qzf::InstallStopHandlers();
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const tv::qzf::Command& c : tv::qzf::Commands()) {
        if (c.name == argv[1]) {
            if (!c.stoppable) {
                tv::qzf::RestoreDefaultStopHandlers();
            }
            return c.fn(argc - 1, argv + 1);
        }
    }
    std::fprintf(stderr, "qzftool: unknown command '%s' (qzftool --help lists them)\n", argv[1]);
    return 2;
}

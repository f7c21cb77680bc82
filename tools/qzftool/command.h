#pragma once

// The qzftool command registry. A command lives in its own cmd_*.cpp file and
// registers itself; main() dispatches by name and builds --help from the list:
//
//   static int RunInfo(int argc, char** argv);   // argv[0] is the command name
//   QZF_COMMAND("info", "size, blocks, channels and times of a recording", RunInfo);
//
// A command that ends its output cleanly when stopped registers with
// QZF_STOPPABLE_COMMAND and polls tv::qzf::StopRequested() (stop_signal.h);
// the others end at a stop signal as any program does.
//
// A command returns the process exit status: 0 for success, 1 for a negative
// answer (a check that failed), 2 for bad arguments or unreadable input, after
// one line on stderr saying why.

#include <algorithm>
#include <string>
#include <vector>

namespace tv::qzf {

using CommandFn = int (*)(int argc, char** argv);

struct Command {
    std::string name;
    std::string summary;
    CommandFn fn = nullptr;
    bool stoppable = false;
};

inline std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

struct CommandRegistrar {
    CommandRegistrar(const char* name, const char* summary, CommandFn fn, bool stoppable = false) {
        Commands().push_back({name, summary, fn, stoppable});
    }
};

} // namespace tv::qzf

#define QZF_COMMAND_CAT2(a, b) a##b
#define QZF_COMMAND_CAT(a, b) QZF_COMMAND_CAT2(a, b)
#define QZF_COMMAND(name, summary, fn)                                                             \
    static ::tv::qzf::CommandRegistrar QZF_COMMAND_CAT(qzfCommandRegistrar, __LINE__)(name,        \
                                                                                      summary, fn)
#define QZF_STOPPABLE_COMMAND(name, summary, fn)                                                   \
    static ::tv::qzf::CommandRegistrar QZF_COMMAND_CAT(qzfCommandRegistrar,                        \
                                                       __LINE__)(name, summary, fn, true)

#pragma once

#include <QStringList>
#include <string>

namespace tv {

// What the command line asks for.
struct CommandLineArgs {
    std::string filePath;    // the recording to open, empty for none
    std::string wholeLine;   // program name and every argument, for "/IP:" and "/PORT:"
    std::string profilePath; // --profile PATH, empty for the default
    bool help = false;
    bool version = false;
    std::string error; // an option the viewer does not know
};

CommandLineArgs ParseCommandLine(const QStringList& arguments);

// The text after an option such as "/IP:" up to the next space or the end of
// the line, at most 31 characters; empty when the option is absent.
std::string CommandLineOption(const std::string& line, const char* option);

} // namespace tv

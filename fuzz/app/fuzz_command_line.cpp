// Arbitrary command lines (words split at NUL bytes) through the viewer's
// parser and the "/IP:" and "/PORT:" option reader.
#include "app/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList words;
    words << QStringLiteral("tessavin-viewer");
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words << QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    words << QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
    const tv::CommandLineArgs args = tv::ParseCommandLine(words);
    const std::string ip = tv::CommandLineOption(args.wholeLine, "/IP:");
    const std::string port = tv::CommandLineOption(args.wholeLine, "/PORT:");
    if (ip.size() > 31 || port.size() > 31 || ip.find(' ') != std::string::npos) {
        std::abort(); // the option reader must cut at a space and at 31 characters
    }
    return 0;
}

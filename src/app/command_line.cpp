#include "app/command_line.h"

#include <algorithm>
#include <string>

namespace tv {

CommandLineArgs ParseCommandLine(const QStringList& arguments) {
    CommandLineArgs args;
    QStringList words;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (!args.wholeLine.empty()) {
            args.wholeLine += ' ';
        }
        args.wholeLine += a.toStdString();
        if (i == 0) {
            continue;
        }
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            args.help = true;
        } else if (a == QLatin1String("--version")) {
            args.version = true;
        } else if (a == QLatin1String("--profile")) {
            if (i + 1 >= arguments.size()) {
                args.error = "--profile needs a file name";
            } else {
                args.profilePath = arguments[++i].toStdString();
                args.wholeLine += ' ' + args.profilePath;
            }
        } else if (a.startsWith(QLatin1String("/IP:"), Qt::CaseSensitive) ||
                   a.startsWith(QLatin1String("/PORT:"), Qt::CaseSensitive)) {
            // Connection options, read from the whole line.
        } else if (a.startsWith(QLatin1String("--"))) {
            args.error = "unknown option " + a.toStdString();
        } else {
            words << a;
        }
    }
    // The rest of the line is the recording, spaces and all, as a shell that
    // does not quote would have split it.
    args.filePath = words.join(QLatin1Char(' ')).toStdString();
    return args;
}

std::string CommandLineOption(const std::string& line, const char* option) {
    const size_t at = line.find(option);
    if (at == std::string::npos) {
        return {};
    }
    const size_t start = at + std::char_traits<char>::length(option);
    size_t end = line.find(' ', start);
    if (end == std::string::npos) {
        end = line.size();
    }
    return line.substr(start, std::min<size_t>(end - start, 31));
}

} // namespace tv

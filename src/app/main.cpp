#include "app/viewer_app.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessavin-viewer"));
    QApplication::setApplicationVersion(QStringLiteral("2.81"));
    const tv::CommandLineArgs args = tv::ParseCommandLine(QApplication::arguments());
    if (args.version) {
        std::printf("Tessavin Viewer 2.81\n");
        return 0;
    }
    if (args.help || !args.error.empty()) {
        if (!args.error.empty()) {
            std::fprintf(stderr, "tessavin-viewer: %s\n", args.error.c_str());
        }
        std::fprintf(args.help ? stdout : stderr,
                     "Usage: tessavin-viewer [--profile FILE] [FILE.QZF] [/IP:ADDRESS /PORT:PORT]\n"
                     "Plays QZF recordings and recorder disks, and shows a recorder's live view.\n"
                     "  FILE.QZF         open this recording\n"
                     "  /IP:A /PORT:P    connect to the recorder at address A, port P\n"
                     "  --profile FILE   keep the settings in FILE\n"
                     "  --help           show this text\n"
                     "  --version        show the version\n");
        return args.help ? 0 : 2;
    }
    tv::CViewerApp viewer;
    return viewer.Run(args);
}

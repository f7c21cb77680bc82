#pragma once

#include <QObject>
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

// The Windows virtual-key code for a Qt key, 0 when there is none.
int VirtualKeyFromQt(int qtKey);

// The application object: remembers the last key pressed anywhere in the
// application (the main window forwards it to a connected recorder) and runs
// the main window.
class CViewerApp : public QObject {
    Q_OBJECT
public:
    CViewerApp();
    ~CViewerApp() override;

    // Runs the main window modally; returns the process exit code.
    int Run(const CommandLineArgs& args);

    static int PendingKey();
    static void SetPendingKey(int code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace tv

#pragma once

#include "app/command_line.h"

#include <QObject>
#include <QStringList>
#include <string>

namespace tv {

// The Windows virtual-key code for a Qt key, 0 when there is none or the key
// is not one the recorder takes.
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

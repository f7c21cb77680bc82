// The viewer's window while the player engine is not part of the build: the
// skinned frame alone, so that the application still starts.
#include "skin/skin_dialog.h"
#include "skin/skin_resources.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tv::CSkinDialog window;
    window.setWindowTitle(QStringLiteral("Tessavin Viewer 2.81"));
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.SetBackground(tv::kBmpBackground);
    window.SetDragByClient(1);
    window.resize(645, 548);
    window.SetCornerEllipse(12, 12);
    window.show();
    return app.exec();
}

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tessavin Viewer 2.81"));
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.resize(800, 600);
    window.show();
    return app.exec();
}

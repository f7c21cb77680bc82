#include "app/viewer_app.h"

#include "app/signal_exit.h"
#include "app/viewer_dlg.h"
#include "platform/notifier.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>

namespace tv {

namespace {
// Written and read on the user-interface thread only.
int g_pendingKey = 0;
} // namespace

int VirtualKeyFromQt(int key) {
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) {
        return key; // the same codes
    }
    // F1 to F4 are recorder keys. The codes of F5 and above fall where the
    // key forwarding reads lower-case letters, so they would reach the
    // recorder as T, U, V ...: they are kept back.
    if (key >= Qt::Key_F1 && key <= Qt::Key_F4) {
        return 0x70 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
    case Qt::Key_Alt:
        return 0x12;
    case Qt::Key_Pause:
        return 0x13;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    case Qt::Key_Asterisk:
        return 0x6A;
    case Qt::Key_Plus:
        return 0x6B;
    case Qt::Key_Minus:
        return 0xBD;
    case Qt::Key_Slash:
        return 0xBF;
    default:
        return 0;
    }
}

CViewerApp::CViewerApp() {
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
    }
}

CViewerApp::~CViewerApp() {
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

int CViewerApp::PendingKey() {
    return g_pendingKey;
}

void CViewerApp::SetPendingKey(int code) {
    g_pendingKey = code;
}

bool CViewerApp::eventFilter(QObject* watched, QEvent* event) {
    // Only keys typed into the main window are for the recorder: what the
    // user types into a dialog or a menu (a password, a port, the Enter that
    // confirms it) must never reach it.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        qobject_cast<CViewerDlg*>(static_cast<QWidget*>(watched)->window())) {
        const int vk = VirtualKeyFromQt(static_cast<QKeyEvent*>(event)->key());
        if (vk != 0) {
            g_pendingKey = vk;
        }
    }
    return QObject::eventFilter(watched, event);
}

int CViewerApp::Run(const CommandLineArgs& args) {
    SetMessageBoxHandler([](const std::string& text, const std::string& caption) {
        auto show = [text, caption] {
            QMessageBox box(QMessageBox::NoIcon,
                            QString::fromStdString(caption.empty() ? "Tessavin Viewer" : caption),
                            QString::fromStdString(text), QMessageBox::Ok,
                            QApplication::activeWindow());
            box.exec();
        };
        if (QThread::currentThread() == qApp->thread()) {
            show();
        } else {
            // Worker threads must not touch widgets, nor wait for the user
            // interface, which may itself be waiting for them.
            QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
        }
    });
    auto dlg = std::make_unique<CViewerDlg>();
    if (!args.profilePath.empty()) {
        dlg->SetProfilePath(args.profilePath);
    }
    dlg->SetCommandLinePath(args.filePath);
    dlg->SetCommandLine(args.wholeLine);
    dlg->InitDialog();
    // Told to end by the session or the system: as if the close button was
    // pressed, then every window still open (a message box, a file dialog)
    // is closed so that the main window's loop can return.
    CSignalExit onSignal([&dlg](int) {
        if (dlg) {
            dlg->CloseButtonExit();
        }
        QApplication::closeAllWindows();
    });
    dlg->show();
    dlg->exec();
    dlg.reset();
    SetMessageBoxHandler(nullptr);
    return 0;
}

} // namespace tv

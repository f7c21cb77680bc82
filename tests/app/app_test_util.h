#pragma once

#include "app/app_message.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <vector>

namespace tv::test {

// The widgets need one application object for the whole test binary.
inline void EnsureApp() {
    if (!QApplication::instance()) {
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

struct Posted {
    int message;
    intptr_t wParam;
    intptr_t lParam;
};

// A parent window that records the private messages posted to it.
class MessageSink : public QWidget {
public:
    std::vector<Posted> posted;

    std::vector<Posted> Take() {
        QCoreApplication::sendPostedEvents(this);
        std::vector<Posted> out;
        out.swap(posted);
        return out;
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(kMsgSliderMoving) ||
            e->type() == static_cast<QEvent::Type>(kMsgSliderSet)) {
            auto* m = static_cast<CPostedMessage*>(e);
            posted.push_back({static_cast<int>(e->type()), m->WParam(), m->LParam()});
            return true;
        }
        return QWidget::event(e);
    }
};

} // namespace tv::test

// Shows a 9-way split of moving sample pictures with labels, fed from a worker
// thread at 25 pictures per second per channel, for a person to look at.
// Usage: display_wall_demo [seconds] [plain]

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "display/video_wnd.h"
#include "sample_pictures.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const bool plain = argc > 2 && std::strcmp(argv[2], "plain") == 0;

    QWidget top;
    top.setWindowTitle("video wall");
    top.resize(1200, 900);
    top.move(0, 0);
    tv::CVideoWnd wnd(&top);
    wnd.setGeometry(0, 0, 1200, 900);
    wnd.SetChannelCount(9);
    wnd.SetShowLabels(1);
    wnd.SetLabelFont(16, 0, 500, 0, "Arial");
    wnd.SetTextColour(0x80FFFF);
    wnd.SetOutlineColour(0);
    top.show();
    wnd.SetSplit(9, 0);
    wnd.SetUseDirectDraw(plain ? 0 : 1);

    std::vector<std::vector<std::vector<uint8_t>>> frames(9);
    for (int ch = 0; ch < 9; ++ch) {
        const int w = ch == 7 ? 320 : 640;
        const int h = ch % 3 == 2 ? 224 : 272;
        for (int f = 0; f < 25; ++f) {
            frames[ch].push_back(tv::bench::SamplePicture(w, h, ch, f * 4));
        }
    }
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        int n = 0;
        while (!stop.load()) {
            for (int ch = 0; ch < 9; ++ch) {
                const auto now = std::chrono::system_clock::now();
                const std::time_t tt = std::chrono::system_clock::to_time_t(now);
                std::tm lt{};
                localtime_r(&tt, &lt);
                tv::SYSTEMTIME t;
                t.wYear = static_cast<uint16_t>(lt.tm_year + 1900);
                t.wMonth = static_cast<uint16_t>(lt.tm_mon + 1);
                t.wDay = static_cast<uint16_t>(lt.tm_mday);
                t.wHour = static_cast<uint16_t>(lt.tm_hour);
                t.wMinute = static_cast<uint16_t>(lt.tm_min);
                t.wSecond = static_cast<uint16_t>(lt.tm_sec);
                const int w = ch == 7 ? 320 : 640;
                const int h = ch % 3 == 2 ? 224 : 272;
                wnd.Render(ch, t, frames[ch][n % 25].data(), w, h);
            }
            ++n;
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    int rc = app.exec();
    stop = true;
    worker.join();
    return rc;
}

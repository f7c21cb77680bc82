// The main window connected to recorders that misbehave: it must keep
// answering the user (its event loop never stalls for long), keep working
// when told to change split or send keys, and end the session promptly when
// the user presses Disconnect. A timer in the window's thread measures the
// longest gap between its ticks.

#include "net/hostile_peer.h"
#include "viewer_fixture.h"

#include <QDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace tv {
namespace {

using namespace tv::test;

// The longest pause of the window's event loop while it is measured.
class LoopGapMeter {
public:
    LoopGapMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
    }
    void Start() {
        m_clock.start();
        m_last = 0;
        m_worst = 0;
        m_timer.start(10);
    }
    qint64 Stop() {
        m_timer.stop();
        return m_worst;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

struct Misbehaviour {
    const char* name;
    std::function<void(int fd, const std::atomic<bool>& done)> script; // empty: use dvrsim
    DvrSimOptions sim;
};

DvrSimOptions PictureFlood() {
    // Eight channels at 200 pictures a second each, garbage between them.
    DvrSimOptions o;
    o.channels = 8;
    o.fps = 200;
    o.garbage = true;
    o.audio = true;
    return o;
}

DvrSimOptions Stalls() {
    DvrSimOptions o;
    o.channels = 4;
    o.fps = 25;
    o.stallAfterMs = 300;
    return o;
}

DvrSimOptions Drops() {
    DvrSimOptions o;
    o.channels = 4;
    o.fps = 25;
    o.dropAfterMs = 200;
    return o;
}

void FloodWithoutStartCodes(int fd, const std::atomic<bool>& done) {
    if (ReadLogin(fd) && SendAll(fd, kAccept)) {
        Flood(fd, done, Bytes(65536, 0xFF));
    }
}

void HugeControlsByteByByte(int fd, const std::atomic<bool>& done) {
    if (!ReadLogin(fd) || !SendAll(fd, kAccept)) {
        return;
    }
    const Bytes claim = Msg("FFFF0007");
    while (!done.load()) {
        for (uint8_t b : claim) {
            if (!SendAll(fd, &b, 1)) {
                return;
            }
        }
        const Bytes filler(512, 0x55);
        for (uint8_t b : filler) {
            if (!SendAll(fd, &b, 1)) {
                return;
            }
        }
    }
}

class ViewerUnderAttack : public ViewerWithRecorder {};

TEST_F(ViewerUnderAttack, WindowAnswersAndDisconnectsPromptlyWhateverTheRecorderDoes) {
    const Misbehaviour cases[] = {
        {"pictures at 8 x 200/s with garbage", {}, PictureFlood()},
        {"stalls after the login", {}, Stalls()},
        {"drops the connection again and again", {}, Drops()},
        {"endless bytes without a start code", FloodWithoutStartCodes, {}},
        {"0xFFFF control lengths, one byte per send", HugeControlsByteByByte, {}},
    };
    CViewerDlg& d = Make();
    Show();
    d.MutableSettings().timeoutSeconds = 1;
    d.SetViewMode(2);
    for (const Misbehaviour& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<HostilePeer> peer;
        uint16_t port = 0;
        if (c.script) {
            peer = std::make_unique<HostilePeer>(c.script);
            port = peer->Port();
        } else {
            sim = std::make_unique<CDvrSim>(c.sim);
            ASSERT_EQ(sim->Start(), 1) << sim->GetError();
            port = sim->GetPort();
        }
        LoginValues v;
        v.ipAddress = "127.0.0.1";
        v.port = port;
        loginAnswer.assign(1, v);
        messages.clear();

        LoopGapMeter meter;
        meter.Start();
        d.OnCommand(kCommandConnect);
        ASSERT_TRUE(d.SessionOpen());
        ASSERT_TRUE(WaitFor([&] { return d.Engine().IsConnected() != 0; }));
        const uint64_t shownBefore = d.Engine().GetPicturesShown();
        // The user goes on working while the recorder misbehaves.
        const int splits[] = {kCommandSplit16, kCommandSplit1, kCommandSplit4, kCommandSplit9};
        for (int i = 0; i < 12; ++i) {
            d.OnCommand(splits[i % 4]);
            CViewerApp::SetPendingKey(0x26);
            QTest::qWait(250);
        }
        QElapsedTimer stop;
        stop.start();
        d.OnCommand(kCommandConnect);
        const qint64 stopMs = stop.elapsed();
        const qint64 worst = meter.Stop();
        std::printf("%-44s longest pause of the window %4lld ms, disconnect %4lld ms, %llu "
                    "pictures shown\n",
                    c.name, static_cast<long long>(worst), static_cast<long long>(stopMs),
                    static_cast<unsigned long long>(d.Engine().GetPicturesShown() - shownBefore));
        EXPECT_FALSE(d.SessionOpen());
        EXPECT_EQ(d.Engine().IsConnected(), 0);
        // Generous bounds for a loaded machine and the sanitizers; a window
        // that waits on the network would show seconds here.
        EXPECT_LT(worst, 1500);
        EXPECT_LT(stopMs, 2500);
        for (const std::string& m : messages) {
            // Nothing may claim the password was wrong: none was refused.
            EXPECT_NE(m, "Incorrect password.");
        }
        peer.reset();
        if (sim) {
            sim->Stop();
            sim.reset();
        }
    }
    // And the window still plays a recording afterwards.
    const std::string path = MakeSample(dir.filePath("after.qzf"), 2);
    ASSERT_FALSE(path.empty());
    d.SetCommandLinePath(path);
    d.OnCommand(kCommandPlayerMode);
    ASSERT_EQ(d.Engine().OpenStream(path, 0), 1);
    d.Engine().Play(1);
    EXPECT_TRUE(WaitFor([&] { return d.Engine().GetPicturesShown() > 5; }));
}

} // namespace
} // namespace tv

namespace tv {
namespace {

using namespace tv::test;

// A profile another program (or a broken disk) filled with rubbish: binary
// lines, values far outside any range, a 10,000-character time format and
// a megabyte-long line. The viewer must start, clamp what it applies, play
// and draw its labels, and write back a profile it can read again.
TEST_F(Viewer, AProfileFullOfGarbageStartsPlaysAndIsWrittenBackSane) {
    std::string text = "\x01\x02garbage\xff\xfe\n[Tessavin Viewer\n[Tessavin Viewer]\n";
    text += "Volume=99999999999\nTimeout=2147483647\nPort=-70000\nDdns Port=99999999\n";
    text += "Show Time=-1\nUse DDraw=7\nRepeat=3\nMute=-9\n";
    text += "Enable && Hidden cusor on DVR side=12345\nAuto Reconnection=-1\n";
    std::string format;
    while (format.size() < 10000) {
        format += "%Y%%%c%n%";
    }
    text += "Time Format=" + format + "\n";
    text += "IP Address=" + std::string(5000, '9') + "\n";
    text += "Capture Path=" + std::string("\0\0x", 3) + "\n";
    text += std::string(1 << 20, 'A') + "\n=\n==\n[]\n[\n";
    for (int i = 0; i < 256; ++i) {
        text += static_cast<char>(i);
        if (i % 17 == 0) {
            text += '\n';
        }
    }
    QDir().mkpath(dir.filePath("cfg"));
    {
        QFile f(QString::fromStdString(profile));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
    }
    const std::string path = MakeSample(dir.filePath("rec.qzf"), 2);
    ASSERT_FALSE(path.empty());
    CViewerDlg& d = Make(path);
    Show();
    // What is applied lies inside what the engine and the network accept.
    EXPECT_GE(d.Engine().GetVolume(), 0);
    EXPECT_LE(d.Engine().GetVolume(), 0xFFFF);
    EXPECT_GT(d.Engine().GetTimeout(), 0);
    d.Engine().Play(4);
    ASSERT_TRUE(WaitFor([&] { return d.Engine().GetPicturesShown() > 10; }));
    d.OnCommand(kCommandSplit1);
    QTest::qWait(200);
    d.ExitViewer();

    // Read back as the next start would: the same values, applied the same way.
    CProfile written;
    ASSERT_TRUE(written.Load(profile));
    ViewerSettings again;
    LoadSettings(written, &again);
    EXPECT_EQ(again.timeoutSeconds * 1000LL, d.Engine().GetTimeout());
    EXPECT_EQ(again.volume, d.Engine().GetVolume());
    EXPECT_EQ(again.timeFormat, d.Settings().timeFormat);
    const int timeout = d.Engine().GetTimeout();
    const int volume = d.Engine().GetVolume();
    dlg.reset();
    CViewerDlg& next = Make();
    EXPECT_EQ(next.Engine().GetTimeout(), timeout);
    EXPECT_EQ(next.Engine().GetVolume(), volume);
}

} // namespace
} // namespace tv

#include "skin/profile.h"
#include "skin/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tv {
namespace {

std::string ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll().toStdString();
}

TEST(Profile, ReadingRulesOfThePlatform) {
    CProfile p;
    p.SetText("; written by hand\n"
              "[Other]\n"
              "Port=1\n"
              "[tessavin VIEWER]\r\n"
              "  port =  8841 \n"
              "Volume=abc\n"
              "Mute=12xyz\n"
              "Repeat=-3\n"
              "Huge=99999999999999\n"
              "Quoted=\"  padded  \"\n"
              "Empty=\n"
              "[Later]\n"
              "Volume=5\n");
    const std::string s = "Tessavin Viewer";
    EXPECT_EQ(p.GetInt(s, "PORT", 0), 8841);
    EXPECT_EQ(p.GetInt(s, "Volume", 77), 0); // not a number: 0, not the default
    EXPECT_EQ(p.GetInt(s, "Mute", 0), 12);   // the leading number counts
    EXPECT_EQ(p.GetInt(s, "Repeat", 0), -3);
    EXPECT_EQ(p.GetInt(s, "Huge", 0), 2147483647);
    EXPECT_EQ(p.GetInt(s, "Missing", 42), 42);
    EXPECT_EQ(p.GetInt("Nowhere", "Port", 9), 9);
    EXPECT_EQ(p.GetString(s, "Quoted", "d"), "  padded  ");
    EXPECT_EQ(p.GetString(s, "Empty", "d"), "");
    EXPECT_EQ(p.GetString(s, "Missing", "def"), "def");

    p.SetText("[A]\nLong=" + std::string(5000, 'x') + "\n");
    EXPECT_EQ(p.GetString("A", "Long", "").size(), 4095u);
}

TEST(Profile, WritingKeepsUnknownLinesAndAddsWhereItBelongs) {
    CProfile p;
    p.SetText(
        "; keep me\n[Tessavin Viewer]\nUnknown thing without equals\nPort=1\n\n[Other]\nX=1\n");
    p.WriteInt("Tessavin Viewer", "port", 8841);
    p.WriteString("Tessavin Viewer", "DvrName", "DVR001");
    p.WriteString("Other", "Y", "line\nbreak");
    p.WriteString("New", "Z", "z");
    EXPECT_EQ(p.Text(), "; keep me\n[Tessavin Viewer]\nUnknown thing without equals\nport=8841\n"
                        "DvrName=DVR001\n\n[Other]\nX=1\nY=line break\n\n[New]\nZ=z\n");
    EXPECT_EQ(p.GetString("Other", "Y", ""), "line break");
}

TEST(Settings, FirstRunDefaultsAndTheTable) {
    CProfile empty;
    ViewerSettings s;
    s.volume = 999;
    LoadSettings(empty, &s);
    EXPECT_EQ(s.volume, 0);
    EXPECT_EQ(s.showTime, 1);
    EXPECT_EQ(s.useDirectDraw, 1);
    EXPECT_EQ(s.autoReconnection, 1);
    EXPECT_EQ(s.timeoutSeconds, 7);
    EXPECT_EQ(s.port, 8841);
    EXPECT_EQ(s.dvrName, "DVR000");
    EXPECT_EQ(s.ipAddress, "192.168.11.138");
    EXPECT_EQ(s.ddnsIp, "192.168.11.138");
    EXPECT_EQ(s.ddnsPort, 1800);
    EXPECT_EQ(s.timeFormat, "%Y/%m/%d %H:%M:%S");
    EXPECT_EQ(s.mouseRemoteMode, 1);
    EXPECT_EQ(s.alwaysOnTop, 0);
    EXPECT_EQ(s.repeat, 0);
    EXPECT_EQ(s.mute, 0);
    EXPECT_EQ(s.dynamicIp, 0);
    EXPECT_EQ(s.capturePath, QDir::home().filePath("Capture").toStdString());
    EXPECT_EQ(s.localRecordingPath, s.capturePath);
    int count = 0;
    const SettingInfo* table = SettingsTable(&count);
    ASSERT_EQ(count, 18);
    EXPECT_STREQ(table[17].name, "Enable && Hidden cusor on DVR side");
}

TEST(Settings, SavedInTheSystemsOrderAndReadBackTheSame) {
    ViewerSettings s;
    s.capturePath = "/srv/stills";
    s.localRecordingPath = "/srv/rec";
    s.volume = 40000;
    s.timeoutSeconds = 7;
    s.mouseRemoteMode = 2;
    CProfile p;
    SaveSettings(s, &p);
    const std::string text = p.Text();
    EXPECT_EQ(
        text.rfind("[Tessavin Viewer]\nCapture Path=/srv/stills\nLocal Recording Path=/srv/rec\n"
                   "AlwaysOnTop=0\nShow Time=1\n",
                   0),
        0u)
        << text;
    EXPECT_NE(text.find("\nTimeout=7\n"), std::string::npos);
    EXPECT_NE(text.find("\nEnable && Hidden cusor on DVR side=2\n"), std::string::npos);
    EXPECT_EQ(text.find("assword"), std::string::npos);
    ViewerSettings back;
    LoadSettings(p, &back);
    EXPECT_EQ(back.capturePath, "/srv/stills");
    EXPECT_EQ(back.volume, 40000);
    EXPECT_EQ(back.mouseRemoteMode, 2);
}

TEST(Settings, SaveIsAtomicAndCreatesTheFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("cfg/tessavin-viewer/tessavin-viewer.INI");
    CProfile p;
    ASSERT_EQ(p.Load(path.toStdString()), 1); // missing: empty, not an error
    p.WriteInt(kProfileSection, "Port", 1);
    ASSERT_EQ(p.Save(), 1);
    EXPECT_EQ(ReadAll(path), "[Tessavin Viewer]\nPort=1\n");
    // No temporary is left beside it.
    EXPECT_EQ(QDir(dir.filePath("cfg/tessavin-viewer")).entryList(QDir::Files).size(), 1);

    // A profile that cannot be written leaves the old file as it was.
    QFile::setPermissions(dir.filePath("cfg/tessavin-viewer"),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    p.WriteInt(kProfileSection, "Port", 2);
    if (p.Save() == 0) {
        EXPECT_EQ(ReadAll(path), "[Tessavin Viewer]\nPort=1\n");
    }
    QFile::setPermissions(dir.filePath("cfg/tessavin-viewer"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(Settings, ProfileFollowsXdgConfigHome) {
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg-test");
    EXPECT_EQ(DefaultProfilePath(), "/tmp/xdg-test/tessavin-viewer/tessavin-viewer.INI");
    qputenv("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(DefaultProfilePath(),
              QDir::home().filePath(".config/tessavin-viewer/tessavin-viewer.INI").toStdString());
    if (old.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", old);
    }
}

} // namespace
} // namespace tv

#include "app/dialogs.h"
#include "app/disk_select_dlg.h"
#include "app/viewer_dlg.h"
#include "app_test_util.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tv {
namespace {

using test::EnsureApp;

TEST(FolderCheck, SyntaxRulesOnPosixPaths) {
    EXPECT_TRUE(FolderSyntaxValid("/"));
    EXPECT_TRUE(FolderSyntaxValid("/srv/evidence/case 12"));
    EXPECT_FALSE(FolderSyntaxValid("/srv/evidence/")); // trailing separator
    EXPECT_FALSE(FolderSyntaxValid("/srv//evidence")); // empty component
    EXPECT_FALSE(FolderSyntaxValid("/srv/.hidden"));
    EXPECT_FALSE(FolderSyntaxValid("/srv/name."));
    EXPECT_FALSE(FolderSyntaxValid("/srv/name "));
    EXPECT_FALSE(FolderSyntaxValid("/srv/\tname"));
    EXPECT_FALSE(FolderSyntaxValid("/srv/.."));
    EXPECT_FALSE(FolderSyntaxValid("srv/evidence")); // not absolute
    EXPECT_FALSE(FolderSyntaxValid(""));
    for (const char* bad : {"/a\"b", "/a*b", "/a:b", "/a<b", "/a>b", "/a?b", "/a\\b", "/a|b"}) {
        EXPECT_FALSE(FolderSyntaxValid(QString::fromLatin1(bad))) << bad;
    }
}

struct Answers {
    std::vector<QString> warnings;
    std::vector<QString> questions;
    int answer = 1;
    FolderPrompts Prompts() {
        FolderPrompts p;
        p.warn = [this](const QString& t) { warnings.push_back(t); };
        p.ask = [this](const QString& t) {
            questions.push_back(t);
            return answer;
        };
        return p;
    }
};

TEST(FolderCheck, AsksBeforeCreatingLevelByLevel) {
    QTemporaryDir dir;
    Answers a;
    EXPECT_EQ(CheckFolder(dir.path(), a.Prompts()), kFolderAccepted);
    EXPECT_EQ(CheckFolder("/", a.Prompts()), kFolderAccepted);
    EXPECT_TRUE(a.questions.empty());

    const QString deep = dir.filePath("one/two/three");
    a.answer = 0;
    EXPECT_EQ(CheckFolder(deep, a.Prompts()), kFolderRejected);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("one")));
    ASSERT_EQ(a.questions.size(), 1u);
    EXPECT_EQ(a.questions[0], "The folder:\n\n" + deep +
                                  "\n\ndoes not exist. Do you want the folder to be created?");
    a.answer = 1;
    EXPECT_EQ(CheckFolder(deep, a.Prompts()), kFolderAccepted);
    EXPECT_TRUE(QFileInfo(deep).isDir());

    const QString bad = dir.filePath("x") + "/";
    EXPECT_EQ(CheckFolder(bad, a.Prompts()), kFolderRejected);
    ASSERT_EQ(a.warnings.size(), 1u);
    EXPECT_EQ(a.warnings[0], "The folder:\n\n" + bad + "\n\nis invalid. Please reenter.");

    // A file in the way: the level cannot be made.
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString under = dir.filePath("file/sub");
    EXPECT_EQ(CheckFolder(under, a.Prompts()), kFolderRejected);
    ASSERT_EQ(a.warnings.size(), 2u);
    EXPECT_EQ(a.warnings[1],
              "The folder:\n\n" + under + "\n\ncan not be created. Please double check.");
}

TEST(LoginDialog, DynamicIpSwitchesTheAddressBoxLabelAndPort) {
    EnsureApp();
    CLoginDlg dlg;
    LoginValues in;
    in.ipAddress = "10.0.0.5";
    in.port = 8841;
    in.recorderName = "DVR000";
    dlg.SetValues(in);
    EXPECT_EQ(dlg.AddressBox()->text(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(dlg.AddressLabel()->text(), QStringLiteral("IP address:"));
    EXPECT_FALSE(dlg.PortBox()->isHidden());
    dlg.SetDynamicIp(true);
    EXPECT_EQ(dlg.AddressBox()->text(), QStringLiteral("DVR000"));
    EXPECT_EQ(dlg.AddressLabel()->text(), QStringLiteral("Select DVR"));
    EXPECT_TRUE(dlg.PortBox()->isHidden());
    EXPECT_TRUE(dlg.PortLabel()->isHidden());
    dlg.AddressBox()->setText(QStringLiteral("DVR123"));
    dlg.PasswordBox()->setText(QStringLiteral("pw"));
    LoginValues out;
    ASSERT_EQ(dlg.GetValues(&out), 1);
    EXPECT_EQ(out.dynamicIp, 1);
    EXPECT_EQ(out.recorderName, "DVR123");
    EXPECT_EQ(out.ipAddress, "10.0.0.5");
    EXPECT_EQ(out.password, "pw");
    dlg.SetDynamicIp(false);
    EXPECT_EQ(dlg.AddressBox()->text(), QStringLiteral("10.0.0.5"));
    EXPECT_FALSE(dlg.PortBox()->isHidden());
    dlg.PortBox()->setText(QStringLiteral("80a"));
    EXPECT_EQ(dlg.GetValues(&out), 0); // not a number: refused
    for (const char* port : {"0", "65536", "70000", "-1"}) {
        dlg.PortBox()->setText(QString::fromLatin1(port));
        EXPECT_EQ(dlg.GetValues(&out), 0) << port; // no TCP port: refused, not cut
    }
    dlg.PortBox()->setText(QStringLiteral("65535"));
    EXPECT_EQ(dlg.GetValues(&out), 1);
    EXPECT_EQ(out.port, 65535);
}

TEST(OptionsDialogs, CarryEveryValueAndRefuseNonNumbers) {
    EnsureApp();
    ViewerSettings v;
    v.alwaysOnTop = 1;
    v.showTime = 0;
    v.capturePath = "/srv/stills";
    v.repeat = 1;
    v.useDirectDraw = 0;
    v.timeFormat = "%H:%M";
    COptionsDlg options;
    options.SetValues(v);
    ViewerSettings back;
    options.GetValues(&back);
    EXPECT_EQ(back.alwaysOnTop, 1);
    EXPECT_EQ(back.showTime, 0);
    EXPECT_EQ(back.capturePath, "/srv/stills");
    EXPECT_EQ(back.repeat, 1);
    EXPECT_EQ(back.useDirectDraw, 0);
    EXPECT_EQ(back.timeFormat, "%H:%M");

    v.timeoutSeconds = 7;
    v.mouseRemoteMode = 2;
    v.localRecordingPath = "/srv/rec";
    v.ddnsPort = 1800;
    CNetOptionsDlg net;
    net.SetValues(v);
    EXPECT_EQ(net.TimeoutBox()->text(), QStringLiteral("7"));
    ViewerSettings netBack;
    ASSERT_EQ(net.GetValues(&netBack), 1);
    EXPECT_EQ(netBack.timeoutSeconds, 7);
    EXPECT_EQ(netBack.mouseRemoteMode, 2);
    EXPECT_EQ(netBack.localRecordingPath, "/srv/rec");
    net.TimeoutBox()->setText(QStringLiteral("seven"));
    ViewerSettings untouched;
    untouched.timeoutSeconds = 99;
    EXPECT_EQ(net.GetValues(&untouched), 0);
    EXPECT_EQ(untouched.timeoutSeconds, 99);
    v.ddnsPort = 70000;
    net.SetValues(v);
    EXPECT_EQ(net.GetValues(&untouched), 0);
}

TEST(DiskSelect, FirstEntryByDefaultAndEmptyListGivesNoPath) {
    EnsureApp();
    DiskEntry a;
    a.number = 0;
    a.path = "/dev/sdb";
    a.line = "DISK0  Fixed          476940 MB";
    DiskEntry b = a;
    b.number = 1;
    b.path = "/dev/sdc";
    CDiskSelectDlg dlg(nullptr, {a, b});
    EXPECT_EQ(dlg.List()->count(), 2);
    EXPECT_EQ(dlg.GetDrivePath(), "/dev/sdb");
    dlg.List()->setCurrentRow(1);
    EXPECT_EQ(dlg.GetDrivePath(), "/dev/sdc");
    EXPECT_TRUE(dlg.EmptyNote()->isHidden());
    CDiskSelectDlg empty(nullptr, {}, "No disk can be read (/dev/sda: Permission denied).");
    EXPECT_EQ(empty.GetDrivePath(), "");
    EXPECT_FALSE(empty.EmptyNote()->isHidden());
    EXPECT_EQ(empty.EmptyNote()->text().toStdString(),
              "No disk can be read (/dev/sda: Permission denied).");
}

} // namespace
} // namespace tv

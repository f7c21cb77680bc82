#include "skin/settings.h"

#include "skin/profile.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace tv {

namespace {

struct Row {
    const char* name;
    std::string ViewerSettings::*text;
    int ViewerSettings::*number;
};

// Names exactly as stored, in the order they are read.
const Row kRows[] = {
    {"Local Recording Path", &ViewerSettings::localRecordingPath, nullptr},
    {"Capture Path", &ViewerSettings::capturePath, nullptr},
    {"AlwaysOnTop", nullptr, &ViewerSettings::alwaysOnTop},
    {"Show Time", nullptr, &ViewerSettings::showTime},
    {"Repeat", nullptr, &ViewerSettings::repeat},
    {"Time Format", &ViewerSettings::timeFormat, nullptr},
    {"Volume", nullptr, &ViewerSettings::volume},
    {"Mute", nullptr, &ViewerSettings::mute},
    {"IP Address", &ViewerSettings::ipAddress, nullptr},
    {"Port", nullptr, &ViewerSettings::port},
    {"DynamicIp", nullptr, &ViewerSettings::dynamicIp},
    {"Use DDraw", nullptr, &ViewerSettings::useDirectDraw},
    {"Auto Reconnection", nullptr, &ViewerSettings::autoReconnection},
    {"Timeout", nullptr, &ViewerSettings::timeoutSeconds},
    {"Ddns Ip", &ViewerSettings::ddnsIp, nullptr},
    {"Ddns Port", nullptr, &ViewerSettings::ddnsPort},
    {"DvrName", &ViewerSettings::dvrName, nullptr},
    {"Enable && Hidden cusor on DVR side", nullptr, &ViewerSettings::mouseRemoteMode},
};

// The write order differs from the read order only in the two paths.
const int kWriteOrder[] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

SettingInfo g_info[std::size(kRows)];

} // namespace

ViewerSettings::ViewerSettings()
    : localRecordingPath(DefaultCaptureFolder()), capturePath(DefaultCaptureFolder()) {}

int TimeoutMilliseconds(int seconds) {
    constexpr int kMaxSeconds = std::numeric_limits<int>::max() / 1000;
    return std::clamp(seconds, 0, kMaxSeconds) * 1000;
}

std::string DefaultCaptureFolder() {
    return QDir(QDir::homePath()).filePath(QStringLiteral("Capture")).toStdString();
}

std::string DefaultProfilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir(QDir::homePath()).filePath(QStringLiteral(".config"));
    }
    return QDir(base).filePath(QStringLiteral("tessavin-viewer/tessavin-viewer.INI")).toStdString();
}

void LoadSettings(const CProfile& profile, ViewerSettings* settings) {
    const ViewerSettings defaults;
    for (const Row& row : kRows) {
        if (row.text) {
            settings->*row.text = profile.GetString(kProfileSection, row.name, defaults.*row.text);
        } else {
            settings->*row.number = profile.GetInt(kProfileSection, row.name, defaults.*row.number);
        }
    }
}

void SaveSettings(const ViewerSettings& settings, CProfile* profile) {
    for (int index : kWriteOrder) {
        const Row& row = kRows[index];
        if (row.text) {
            profile->WriteString(kProfileSection, row.name, settings.*row.text);
        } else {
            profile->WriteInt(kProfileSection, row.name, settings.*row.number);
        }
    }
}

const SettingInfo* SettingsTable(int* count) {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        g_info[i] = {kRows[i].name, kRows[i].text != nullptr};
    }
    *count = static_cast<int>(std::size(kRows));
    return g_info;
}

} // namespace tv

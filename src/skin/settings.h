#pragma once

#include <string>

namespace tv {

class CProfile;

constexpr const char* kProfileSection = "Tessavin Viewer";

// The eighteen values kept between runs, as they are stored: the time-out in
// seconds. The login password is not among them.
struct ViewerSettings {
    std::string localRecordingPath;
    std::string capturePath;
    int alwaysOnTop = 0;
    int showTime = 1;
    int repeat = 0;
    std::string timeFormat = "%Y/%m/%d %H:%M:%S";
    int volume = 0;
    int mute = 0;
    std::string ipAddress = "192.168.11.138";
    int port = 8841;
    int dynamicIp = 0;
    int useDirectDraw = 1;
    int autoReconnection = 1;
    int timeoutSeconds = 7;
    std::string ddnsIp = "192.168.11.138";
    int ddnsPort = 1800;
    std::string dvrName = "DVR000";
    int mouseRemoteMode = 1;

    ViewerSettings();
};

// The "Timeout" value (seconds) as the engine takes it (milliseconds). A
// negative value gives 0, which the network session reads as its default;
// one too large for milliseconds in an int stops at the largest that fits.
int TimeoutMilliseconds(int seconds);

// Where "C:\Capture" went: the Capture folder in the user's home.
std::string DefaultCaptureFolder();

// $XDG_CONFIG_HOME/tessavin-viewer/tessavin-viewer.INI, or under ~/.config.
std::string DefaultProfilePath();

// Reads every value, in the order of the table, with its default when missing.
void LoadSettings(const CProfile& profile, ViewerSettings* settings);
// Writes all eighteen, in the order the system writes them.
void SaveSettings(const ViewerSettings& settings, CProfile* profile);

// One row of the settings table, for tools and tests that walk it.
struct SettingInfo {
    const char* name;
    bool isString;
};
const SettingInfo* SettingsTable(int* count);

} // namespace tv

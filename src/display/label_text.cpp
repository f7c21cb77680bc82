#include "display/label_text.h"

#include <cstdio>
#include <ctime>

namespace tv {

std::string FormatLabelTime(const SYSTEMTIME& time, const std::string& format) {
    if (time.wYear < 1900 || format.empty()) {
        return std::string();
    }
    std::tm tm{};
    tm.tm_year = time.wYear - 1900;
    tm.tm_mon = time.wMonth - 1;
    tm.tm_mday = time.wDay;
    tm.tm_hour = time.wHour;
    tm.tm_min = time.wMinute;
    tm.tm_sec = time.wSecond;
    tm.tm_isdst = -1; // the system decides daylight saving
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return std::string();
    }
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return std::string();
    }
    char buf[128];
    size_t n = std::strftime(buf, sizeof(buf), format.c_str(), &local);
    return std::string(buf, n);
}

std::string MakeLabelText(int channel, const SYSTEMTIME& time, bool showTime, bool hasPicture,
                          const std::string& format) {
    char head[16];
    std::snprintf(head, sizeof(head), "CH%d ", channel + 1);
    std::string text(head);
    if (showTime && hasPicture && time.wYear != 0) {
        text += FormatLabelTime(time, format);
    }
    return text;
}

} // namespace tv

#include "media/qzf_block.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace tv {

namespace {

constexpr std::array<uint8_t, 256> MakeCrc8Table() {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint8_t r = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            r = static_cast<uint8_t>((r & 0x80) ? ((r << 1) ^ 0x07) : (r << 1));
        }
        t[static_cast<size_t>(i)] = r;
    }
    return t;
}

constexpr std::array<uint8_t, 256> kCrc8 = MakeCrc8Table();
static_assert(kCrc8[1] == 0x07 && kCrc8[2] == 0x0E && kCrc8[0x80] == 0x89);

constexpr int64_t kDay = 86400;
constexpr int64_t kFourYears = 126230400;          // 1461 days
constexpr int kYearDays[4] = {365, 365, 366, 365}; // 1970, 1971, 1972, 1973
constexpr int kMonthStart[2][13] = {{0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
                                    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

const char* const kFormatNames[VF_COUNT] = {"QZ_QZF",  "QZ_QZE",  "QZ_QZD", "QZ_QZB",
                                            "QZ_QZB2", "QZ_QZB3", "QZ_QZA"};

} // namespace

const char* FormatName(int code) {
    return (code >= 0 && code < VF_COUNT) ? kFormatNames[code] : nullptr;
}

int FormatFromName(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    for (int i = 0; i < VF_COUNT; ++i) {
        if (std::strcmp(name, kFormatNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

uint8_t QzfBlockChecksum(const uint8_t* bytes7) {
    uint8_t c = 0xFF;
    for (int i = 0; i < 7; ++i) {
        c = static_cast<uint8_t>(c ^ kCrc8[static_cast<uint8_t>(bytes7[i] ^ c)]);
    }
    return static_cast<uint8_t>(~c);
}

void EncodeBlockHeader(const QzfBlockHeader& h, bool bigEndian, uint8_t out[kQzfHeaderSize]) {
    if (bigEndian) {
        out[0] = static_cast<uint8_t>(h.time >> 24);
        out[1] = static_cast<uint8_t>(h.time >> 16);
        out[2] = static_cast<uint8_t>(h.time >> 8);
        out[3] = static_cast<uint8_t>(h.time);
        out[4] = static_cast<uint8_t>(h.channelMask >> 8);
        out[5] = static_cast<uint8_t>(h.channelMask);
    } else {
        PutLe32(out, h.time);
        PutLe16(out + 4, h.channelMask);
    }
    out[6] = static_cast<uint8_t>(h.frameGap & 0x7F);
    out[7] = QzfBlockChecksum(out);
}

void EncodeCalendarHeader(const SYSTEMTIME& local, bool audioBlock, uint8_t frameGap,
                          uint8_t out[kQzfHeaderSize]) {
    out[0] = static_cast<uint8_t>((local.wYear + 48) & 0xFF);
    out[1] = static_cast<uint8_t>(local.wMonth | (audioBlock ? 0x80 : 0));
    out[2] = static_cast<uint8_t>(local.wDay);
    out[3] = static_cast<uint8_t>(local.wHour);
    out[4] = static_cast<uint8_t>(local.wMinute);
    out[5] = static_cast<uint8_t>(local.wSecond);
    out[6] = static_cast<uint8_t>(frameGap & 0x7F);
    out[7] = QzfBlockChecksum(out);
}

int DecodeBlockHeader(const uint8_t in[kQzfHeaderSize], bool bigEndian, QzfBlockHeader* out) {
    if (bigEndian) {
        out->time = GetBe32(in);
        out->channelMask = GetBe16(in + 4);
    } else {
        out->time = GetLe32(in);
        out->channelMask = GetLe16(in + 4);
    }
    out->frameGap = static_cast<uint8_t>(in[6] & 0x7F);
    return QzfBlockChecksum(in) == in[7] ? 1 : 0;
}

int DecodeRecordingHeader(const uint8_t in[kQzfHeaderSize], int videoFormat, long biasSeconds,
                          QzfBlockHeader* out) {
    const int ok = DecodeBlockHeader(in, videoFormat == VF_QZA, out);
    if (videoFormat == VF_QZF) {
        // Format-0 writers differ: some store the local calendar fields, others
        // seconds since 1970 as every other format does. A seconds value after
        // 1982 cannot pass as a calendar date (its top byte is above 23, the
        // hour), so the calendar form is taken only where it is a real date.
        SYSTEMTIME local;
        local.wYear = static_cast<uint16_t>(2000 + in[0]);
        local.wMonth = static_cast<uint16_t>(in[1] & 0x7F);
        local.wDay = in[2];
        local.wHour = in[3];
        local.wMinute = in[4];
        local.wSecond = in[5];
        const int64_t t = LocalToBlockTime(local, biasSeconds);
        if (IsCalendarDate(local) && t >= 0 && t <= 0xFFFFFFFFll) {
            out->time = static_cast<uint32_t>(t);
        }
    }
    return ok;
}

void SwapWords(uint8_t* data, size_t n) {
    for (size_t i = 0; i + 1 < n; i += 2) {
        const uint8_t t = data[i];
        data[i] = data[i + 1];
        data[i + 1] = t;
    }
}

std::string FormatBlockTime(uint32_t utcSeconds, long biasSeconds) {
    const SYSTEMTIME s = BlockTimeToLocal(utcSeconds, biasSeconds);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%04u-%02u-%02u %02u:%02u:%02u", s.wYear, s.wMonth, s.wDay,
                  s.wHour, s.wMinute, s.wSecond);
    return buf;
}

SYSTEMTIME BlockTimeToLocal(uint32_t utcSeconds, long biasSeconds) {
    const int64_t local = static_cast<int64_t>(utcSeconds) - biasSeconds;
    SYSTEMTIME st;
    const int64_t days = FloorDiv(local, kDay);
    st.wDayOfWeek = static_cast<uint16_t>(((days + 4) % 7 + 7) % 7);
    const int64_t cycle = FloorDiv(local, kFourYears);
    int64_t rest = local - cycle * kFourYears;
    int year = static_cast<int>(1970 + 4 * cycle);
    int leap = 0;
    for (int y = 0; y < 4; ++y) {
        const int64_t len = kYearDays[y] * kDay;
        if (rest < len || y == 3) {
            leap = (kYearDays[y] == 366) ? 1 : 0;
            year += y;
            break;
        }
        rest -= len;
    }
    const int yday = static_cast<int>(rest / kDay);
    int month = 1;
    while (month < 12 && yday >= kMonthStart[leap][month]) {
        ++month;
    }
    const int secs = static_cast<int>(rest % kDay);
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(yday - kMonthStart[leap][month - 1] + 1);
    st.wHour = static_cast<uint16_t>(secs / 3600);
    st.wMinute = static_cast<uint16_t>(secs / 60 % 60);
    st.wSecond = static_cast<uint16_t>(secs % 60);
    st.wMilliseconds = 0;
    return st;
}

int64_t LocalToBlockTime(const SYSTEMTIME& local, long biasSeconds) {
    const int64_t y = local.wYear;
    // Leap years are the multiples of four, as in the forward conversion.
    const int64_t leaps = FloorDiv(y - 1, 4) - FloorDiv(1969, 4);
    int64_t days = (y - 1970) * 365 + leaps;
    const int leap = (y % 4 == 0) ? 1 : 0;
    const int month = (local.wMonth >= 1 && local.wMonth <= 12) ? local.wMonth : 1;
    days += kMonthStart[leap][month - 1] + local.wDay - 1;
    return days * kDay + local.wHour * 3600 + local.wMinute * 60 + local.wSecond + biasSeconds;
}

bool ParseBlockTime(const std::string& text, SYSTEMTIME* out) {
    // Digit positions of "YYYY-MM-DD hh:mm:ss"; the others are separators.
    static const char kForm[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != sizeof(kForm) - 1) {
        return false;
    }
    const char dateSep = text[4];
    if (dateSep != '-' && dateSep != '/') {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char want = kForm[i] == '-' ? dateSep : kForm[i];
        if (want == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != want) {
            return false;
        }
    }
    auto number = [&](size_t at, size_t len) {
        unsigned v = 0;
        for (size_t i = at; i < at + len; ++i) {
            v = v * 10 + unsigned(text[i] - '0');
        }
        return static_cast<uint16_t>(v);
    };
    SYSTEMTIME t{};
    t.wYear = number(0, 4);
    t.wMonth = number(5, 2);
    t.wDay = number(8, 2);
    t.wHour = number(11, 2);
    t.wMinute = number(14, 2);
    t.wSecond = number(17, 2);
    if (t.wYear < 1970 || t.wYear > 2099 || !IsCalendarDate(t)) {
        return false;
    }
    t.wDayOfWeek = BlockTimeToLocal(static_cast<uint32_t>(LocalToBlockTime(t, 0)), 0).wDayOfWeek;
    *out = t;
    return true;
}

bool IsCalendarDate(const SYSTEMTIME& t) {
    if (!IsValidBlockTime(t)) {
        return false;
    }
    const int leap = (t.wYear % 4 == 0) ? 1 : 0;
    return t.wDay <= kMonthStart[leap][t.wMonth] - kMonthStart[leap][t.wMonth - 1];
}

bool IsValidBlockTime(const SYSTEMTIME& t) {
    return t.wYear >= 1900 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 &&
           t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59;
}

} // namespace tv

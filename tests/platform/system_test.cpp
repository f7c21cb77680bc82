#include "platform/system.h"
#include "platform/win_types.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace tv;

TEST(TimeZoneBias, FollowsTheStandardOffsetOfTz) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(GetTimeZoneBias(), 0);
    // Central Europe: one hour ahead of UTC in winter; summer time is ignored.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    EXPECT_EQ(GetTimeZoneBias(), -3600);
    setenv("TZ", "EST5EDT", 1);
    EXPECT_EQ(GetTimeZoneBias(), 5 * 3600);
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    GetTimeZoneBias();
}

TEST(TimeZoneBias, CallsFromManyThreadsAgree) {
    // With TZ unset every call re-reads the zone; readers on several threads
    // at once must all see the same offset (the thread sanitizer build
    // checks that the calls are ordered).
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    unsetenv("TZ");
    const long expected = GetTimeZoneBias();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                mismatches[t] += GetTimeZoneBias() != expected;
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(mismatches[t], 0) << t;
    }
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    }
    GetTimeZoneBias();
}

TEST(CpuFeatures, X86_64AlwaysHasSse2) {
    CpuFeatures f = GetCpuFeatures();
#if defined(__x86_64__)
    EXPECT_TRUE(f.mmx && f.sse && f.sse2);
#else
    EXPECT_FALSE(f.mmx || f.sse || f.sse2);
#endif
}

TEST(WinTypes, HresultFromErrorMapsPositiveCodes) {
    EXPECT_EQ(static_cast<uint32_t>(HresultFromError(8)), 0x80070008u);
    EXPECT_EQ(static_cast<uint32_t>(HresultFromError(0x12345)), 0x80072345u);
    EXPECT_EQ(HresultFromError(-5), -5);
}

TEST(WinTypes, BitmapHeadersSerializeLittleEndian) {
    BITMAPFILEHEADER fh;
    fh.bfSize = 0x01020304;
    fh.bfOffBits = 54;
    uint8_t out[14];
    SerializeFileHeader(fh, out);
    const uint8_t expect[14] = {'B', 'M', 4, 3, 2, 1, 0, 0, 0, 0, 54, 0, 0, 0};
    EXPECT_EQ(0, memcmp(out, expect, 14));
    BITMAPINFOHEADER ih;
    ih.biWidth = 640;
    ih.biHeight = -480;
    ih.biBitCount = 24;
    uint8_t info[40];
    SerializeInfoHeader(ih, info);
    EXPECT_EQ(GetLe32(info), 40u);
    EXPECT_EQ(GetLe32(info + 4), 640u);
    EXPECT_EQ(static_cast<int32_t>(GetLe32(info + 8)), -480);
    EXPECT_EQ(GetLe16(info + 12), 1);
    EXPECT_EQ(GetLe16(info + 14), 24);
}

TEST(WinTypes, Windows1252Encoding) {
    EXPECT_EQ(ToWindows1252("abc123"), "abc123");
    EXPECT_EQ(ToWindows1252("caf\xC3\xA9"), "caf\xE9");  // é
    EXPECT_EQ(ToWindows1252("\xE2\x82\xAC"), "\x80");    // €
    EXPECT_EQ(ToWindows1252("\xE4\xB8\xAD"), "?");       // CJK: not in the code page
    EXPECT_EQ(ToWindows1252("a\xC3"), "a?");             // truncated sequence
    EXPECT_EQ(ToWindows1252("\xF0\x9F\x98\x80x"), "?x"); // outside the BMP
}

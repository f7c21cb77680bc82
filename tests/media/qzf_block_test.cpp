#include "media/block_writer.h"
#include "media/qzf_block.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <unistd.h>
#include <vector>

using namespace tv;

TEST(QzfBlock, ChecksumMatchesTheRecorders) {
    const uint8_t zeros[7] = {0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(QzfBlockChecksum(zeros), 0x0C);
    const uint8_t sample[7] = {0, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(QzfBlockChecksum(sample), 0x67);
}

TEST(QzfBlock, HeaderRoundTripsInBothByteOrders) {
    QzfBlockHeader h;
    h.time = 0x5F123456;
    h.channelMask = 0x00A5;
    h.frameGap = 0x7F;
    uint8_t le[8];
    uint8_t be[8];
    EncodeBlockHeader(h, false, le);
    EncodeBlockHeader(h, true, be);
    EXPECT_EQ(le[0], 0x56);
    EXPECT_EQ(be[0], 0x5F);
    EXPECT_EQ(be[5], 0xA5);
    for (const uint8_t* b : {static_cast<const uint8_t*>(le), static_cast<const uint8_t*>(be)}) {
        QzfBlockHeader d;
        ASSERT_EQ(DecodeBlockHeader(b, b == be, &d), 1);
        EXPECT_EQ(d.time, h.time);
        EXPECT_EQ(d.channelMask, h.channelMask);
        EXPECT_EQ(d.frameGap, h.frameGap);
    }
    // Bit 7 of the gap byte is not part of the gap.
    le[6] |= 0x80;
    le[7] = QzfBlockChecksum(le);
    QzfBlockHeader d;
    ASSERT_EQ(DecodeBlockHeader(le, false, &d), 1);
    EXPECT_EQ(d.frameGap, 0x7F);
    le[2] ^= 1;
    EXPECT_EQ(DecodeBlockHeader(le, false, &d), 0);
}

TEST(QzfBlock, BlockTimeConversionAgreesWithTheCalendar) {
    // 2000-02-29 12:34:56 UTC, a Tuesday.
    SYSTEMTIME st = BlockTimeToLocal(951827696u, 0);
    EXPECT_EQ(st.wYear, 2000);
    EXPECT_EQ(st.wMonth, 2);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(st.wDayOfWeek, 2);
    EXPECT_EQ(st.wHour, 12);
    EXPECT_EQ(st.wMinute, 34);
    EXPECT_EQ(st.wSecond, 56);
    // The bias is subtracted: one hour east of UTC shows an hour later.
    st = BlockTimeToLocal(0, -3600);
    EXPECT_EQ(st.wYear, 1970);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wDayOfWeek, 4);
    // Against the C library for every day from 1970 to 2099, and back.
    for (int64_t t = 0; t < 4102444800LL; t += 86400 + 3661) {
        const time_t tt = static_cast<time_t>(t);
        struct tm g;
        gmtime_r(&tt, &g);
        st = BlockTimeToLocal(static_cast<uint32_t>(t), 0);
        ASSERT_EQ(st.wYear, g.tm_year + 1900) << t;
        ASSERT_EQ(st.wMonth, g.tm_mon + 1) << t;
        ASSERT_EQ(st.wDay, g.tm_mday) << t;
        ASSERT_EQ(st.wDayOfWeek, g.tm_wday) << t;
        ASSERT_EQ(st.wHour, g.tm_hour) << t;
        ASSERT_EQ(st.wMinute, g.tm_min) << t;
        ASSERT_EQ(st.wSecond, g.tm_sec) << t;
        ASSERT_EQ(LocalToBlockTime(st, 0), t);
        ASSERT_EQ(LocalToBlockTime(BlockTimeToLocal(static_cast<uint32_t>(t), 18000), 18000), t);
    }
}

TEST(QzfBlock, ValidityCheck) {
    SYSTEMTIME unset;
    unset.wYear = 2000;
    unset.wMonth = 1;
    unset.wDay = 0;
    unset.wHour = 1;
    EXPECT_FALSE(IsValidBlockTime(unset));
    unset.wDay = 1;
    EXPECT_TRUE(IsValidBlockTime(unset));
    unset.wSecond = 60;
    EXPECT_FALSE(IsValidBlockTime(unset));
}

TEST(QzfBlock, TypedTimesAreReadOnlyWhenTheyExist) {
    SYSTEMTIME t{};
    ASSERT_TRUE(ParseBlockTime("2024-02-29 23:59:59", &t));
    EXPECT_EQ(LocalToBlockTime(t, 0), 1709251199);
    ASSERT_TRUE(ParseBlockTime("2023/11/14 22:20:45", &t));
    EXPECT_EQ(FormatBlockTime(uint32_t(LocalToBlockTime(t, 0)), 0), "2023-11-14 22:20:45");
    for (const char* no : {"2024-02-30 00:00:00", "2023-02-29 00:00:00", "2024-04-31 12:00:00",
                           "2024-13-01 00:00:00", "2024-01-01 24:00:00", "1969-12-31 23:59:59",
                           "2024-01-01 00:00:00x", " 2024-01-01 00:00:00", "2024-1-01 00:00:00",
                           "+024-01-01 00:00:00", "2024-01/01 00:00:00"}) {
        EXPECT_FALSE(ParseBlockTime(no, &t)) << no;
    }
}

TEST(QzfBlock, FormatNames) {
    EXPECT_STREQ(FormatName(4), "QZ_QZB2");
    EXPECT_EQ(FormatFromName("QZ_QZA"), 6);
    EXPECT_EQ(FormatFromName("qz_qza"), -1);
    EXPECT_EQ(FormatName(7), nullptr);
}

namespace {

// The stream bytes of a block sequence, headers left out.
std::vector<uint8_t> StreamOf(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> s;
    for (size_t b = 0; b + kQzfBlockSize <= file.size(); b += kQzfBlockSize) {
        s.insert(s.end(), file.begin() + static_cast<long>(b + kQzfHeaderSize),
                 file.begin() + static_cast<long>(b + kQzfBlockSize));
    }
    return s;
}

} // namespace

TEST(BlockWriter, PutsAValidHeaderAtEveryBoundary) {
    std::vector<uint8_t> out;
    CQzfBlockWriter w;
    w.AttachVector(&out);
    w.SetTime(static_cast<time_t>(1000));
    w.SetFrameGap(3);
    std::vector<uint8_t> payload(10000);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7);
    }
    ASSERT_EQ(w.WritePacket(0xF9, payload.data(), payload.size()), 1);
    w.SetTime(static_cast<time_t>(2000));
    ASSERT_EQ(w.WritePacket(0xF8, payload.data(), 5000), 1);
    ASSERT_EQ(w.Pad(), 1);
    ASSERT_EQ(out.size() % kQzfBlockSize, 0u);
    EXPECT_EQ(w.GetBytesWritten(), out.size());
    // 15,008 stream bytes need four blocks; the fourth starts after the time change.
    ASSERT_EQ(out.size(), 4u * kQzfBlockSize);
    for (size_t b = 0; b < out.size(); b += kQzfBlockSize) {
        QzfBlockHeader h;
        ASSERT_EQ(DecodeBlockHeader(&out[b], false, &h), 1);
        EXPECT_EQ(h.time, b < 3 * kQzfBlockSize ? 1000u : 2000u);
        EXPECT_EQ(h.frameGap, 3);
    }
    std::vector<uint8_t> s = StreamOf(out);
    EXPECT_EQ(std::memcmp(s.data() + 4, payload.data(), payload.size()), 0);
    EXPECT_EQ(s[10004 + 3], 0xF8);
}

TEST(BlockWriter, DiskByteOrderSwapsWholeBlocks) {
    std::vector<uint8_t> plain;
    std::vector<uint8_t> swapped;
    CQzfBlockWriter a;
    CQzfBlockWriter b;
    a.AttachVector(&plain);
    b.AttachVector(&swapped);
    b.SetDiskByteOrder(true);
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    for (CQzfBlockWriter* w : {&a, &b}) {
        w->SetTime(static_cast<time_t>(77));
        w->WritePacket(0xF8, data, 5);
        w->Flush(); // an odd fill: the swapped writer holds the last byte back
        w->WritePacket(0xF8, data, 5);
        w->Pad();
    }
    ASSERT_EQ(plain.size(), swapped.size());
    SwapWords(swapped.data(), swapped.size());
    EXPECT_EQ(plain, swapped);
}

TEST(BlockWriter, CalendarHeadersForFormatZero) {
    std::vector<uint8_t> out;
    CQzfBlockWriter w;
    w.SetFormat(VF_QZF);
    w.SetTimeZoneBias(0);
    w.AttachVector(&out);
    w.SetTime(static_cast<time_t>(951827696)); // 2000-02-29 12:34:56
    w.SetAudioBlock(true);
    const uint8_t x = 0;
    w.Write(&x, 1);
    w.Pad();
    ASSERT_EQ(out.size(), static_cast<size_t>(kQzfBlockSize));
    EXPECT_EQ(out[0], 0); // year - 2000
    EXPECT_EQ(out[1], 0x82);
    EXPECT_EQ(out[2], 29);
    EXPECT_EQ(out[5], 56);
    EXPECT_EQ(out[7], QzfBlockChecksum(out.data()));
}

TEST(QzfBlock, FormatZeroHeadersInCalendarOrSecondsForm) {
    QzfBlockHeader h;
    // Calendar fields, as format-0 recorders write them.
    SYSTEMTIME local = BlockTimeToLocal(951827696u, 3600); // 2000-02-29
    uint8_t cal[kQzfHeaderSize];
    EncodeCalendarHeader(local, true, 3, cal);
    ASSERT_EQ(DecodeRecordingHeader(cal, VF_QZF, 3600, &h), 1);
    EXPECT_EQ(h.time, 951827696u);
    // Seconds since 1970, as the layout itself has them.
    QzfBlockHeader secs;
    secs.time = 1700000000u; // 2023-11-14
    secs.channelMask = 1;
    uint8_t raw[kQzfHeaderSize];
    EncodeBlockHeader(secs, false, raw);
    ASSERT_EQ(DecodeRecordingHeader(raw, VF_QZF, 3600, &h), 1);
    EXPECT_EQ(h.time, 1700000000u);
    // Calendar bytes that name no day (2001-02-29) are read as seconds.
    const uint8_t noDay[kQzfHeaderSize] = {1, 2, 29, 10, 0, 0, 1, 0};
    DecodeRecordingHeader(noDay, VF_QZF, 0, &h);
    EXPECT_EQ(h.time, 0x0A1D0201u);
}

TEST(BlockWriter, AFailedWriteIsReportedAndSticks) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    CQzfBlockWriter w;
    w.AttachFd(fds[1]);
    std::vector<uint8_t> big(3 * kQzfBlockSize);
    EXPECT_EQ(w.Write(big.data(), big.size()), 0);
    EXPECT_TRUE(w.HasFailed());
    EXPECT_FALSE(w.GetErrorText().empty());
    EXPECT_EQ(w.Write(big.data(), 1), 0);
    close(fds[1]);
}

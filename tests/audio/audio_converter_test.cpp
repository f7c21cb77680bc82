#include <gtest/gtest.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "audio/audio_converter.h"

namespace tv {
namespace {

// Decodes the 256 possible code bytes with FFmpeg's own G.711 decoder.
std::vector<int16_t> DecodeAllCodesWithFfmpeg(AVCodecID id) {
    std::vector<int16_t> out;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) {
        return out;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (avcodec_open2(ctx, codec, nullptr) == 0 && av_new_packet(pkt, 256) == 0) {
        for (int i = 0; i < 256; ++i) {
            pkt->data[i] = static_cast<uint8_t>(i);
        }
        if (avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, frame) == 0 &&
            frame->format == AV_SAMPLE_FMT_S16 && frame->nb_samples == 256) {
            const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
            out.assign(s, s + 256);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return out;
}

TEST(AudioTables, AlawMatchesFfmpegEntryByEntry) {
    const std::vector<int16_t> ref = DecodeAllCodesWithFfmpeg(AV_CODEC_ID_PCM_ALAW);
    ASSERT_EQ(ref.size(), 256u) << "FFmpeg's pcm_alaw decoder did not decode";
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(kAlawToLinear[i], ref[i]) << "A-law code 0x" << std::hex << i;
    }
    EXPECT_EQ(kAlawToLinear[0x00], -5504);
    EXPECT_EQ(kAlawToLinear[0x80], 5504);
    EXPECT_EQ(kAlawToLinear[0x55], -8);
    EXPECT_EQ(kAlawToLinear[0xD5], 8);
}

TEST(AudioTables, MulawMatchesFfmpegEntryByEntry) {
    const std::vector<int16_t> ref = DecodeAllCodesWithFfmpeg(AV_CODEC_ID_PCM_MULAW);
    ASSERT_EQ(ref.size(), 256u) << "FFmpeg's pcm_mulaw decoder did not decode";
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(kMulawToLinear[i], ref[i]) << "mu-law code 0x" << std::hex << i;
    }
    EXPECT_EQ(kMulawToLinear[0x00], -32124);
    EXPECT_EQ(kMulawToLinear[0x80], 32124);
    EXPECT_EQ(kMulawToLinear[0x7F], 0);
    EXPECT_EQ(kMulawToLinear[0xFF], 0);
}

TEST(AudioConverter, ConfigureDescribesMonoPcmForEachCode) {
    CAudioConverter conv;
    WAVEFORMATEX w;
    ASSERT_EQ(conv.Configure(kAudioAlaw, 8000, &w), 1);
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w.nChannels, 1);
    EXPECT_EQ(w.nSamplesPerSec, 8000u);
    EXPECT_EQ(w.wBitsPerSample, 16);
    EXPECT_EQ(w.nBlockAlign, 2);
    EXPECT_EQ(w.nAvgBytesPerSec, 16000u);
    EXPECT_EQ(w.cbSize, 0);

    ASSERT_EQ(conv.Configure(kAudioSpcm8, 8000, &w), 1);
    EXPECT_EQ(w.wBitsPerSample, 8);
    EXPECT_EQ(w.nBlockAlign, 1);
    EXPECT_EQ(w.nAvgBytesPerSec, 8000u);

    for (int code = 1; code <= 6; ++code) {
        ASSERT_EQ(conv.Configure(code, 11025, &w), 1);
        EXPECT_EQ(w.wBitsPerSample, code >= 3 ? 16 : 8) << code;
        EXPECT_EQ(w.nAvgBytesPerSec, 11025u * w.nBlockAlign) << code;
    }

    // A null out pointer still stores the configuration.
    EXPECT_EQ(conv.Configure(kAudioMlaw, 16000, nullptr), 0);
    EXPECT_EQ(conv.GetFormat(), kAudioMlaw);
    EXPECT_EQ(conv.GetSampleRate(), 16000);
}

TEST(AudioConverter, ConvertsEachCodeAsStored) {
    CAudioConverter conv;
    const uint8_t in[4] = {0x00, 0x7F, 0x80, 0xFF};
    uint8_t out[8];
    int len = -1;

    conv.Configure(kAudioSpcm8, 8000, nullptr);
    ASSERT_EQ(conv.Convert(in, 4, out, &len), 1);
    EXPECT_EQ(len, 4);
    const uint8_t flipped[4] = {0x80, 0xFF, 0x00, 0x7F};
    EXPECT_EQ(std::memcmp(out, flipped, 4), 0);

    for (int code : {kAudioUpcm8, kAudioUpcm16, kAudioSpcm16}) {
        std::memset(out, 0xAA, sizeof out);
        conv.Configure(code, 8000, nullptr);
        ASSERT_EQ(conv.Convert(in, 4, out, &len), 1);
        EXPECT_EQ(len, 4) << code;
        EXPECT_EQ(std::memcmp(out, in, 4), 0) << code;
        EXPECT_EQ(out[4], 0xAA) << "wrote past the output";
    }
}

TEST(AudioConverter, LawCodesExpandToLittleEndianWords) {
    CAudioConverter conv;
    const uint8_t alaw[3] = {0xD5, 0x00, 0x80};
    uint8_t out[8] = {};
    int len = 0;
    conv.Configure(kAudioAlaw, 8000, nullptr);
    ASSERT_EQ(conv.Convert(alaw, 3, out, &len), 1);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(out)), 8);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(out + 2)), -5504);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(out + 4)), 5504);

    const uint8_t mulaw[2] = {0xFF, 0x00};
    conv.Configure(kAudioMlaw, 8000, nullptr);
    ASSERT_EQ(conv.Convert(mulaw, 2, out, &len), 1);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(out)), 0);
    EXPECT_EQ(static_cast<int16_t>(GetLe16(out + 2)), -32124);
}

TEST(AudioConverter, UnknownCodeAndBadArguments) {
    CAudioConverter conv;
    const uint8_t in[2] = {1, 2};
    uint8_t out[4] = {9, 9, 9, 9};
    int len = 77;
    conv.Configure(7, 8000, nullptr);
    EXPECT_EQ(conv.Convert(in, 2, out, &len), 1);
    EXPECT_EQ(len, 77);
    EXPECT_EQ(out[0], 9);

    conv.Configure(kAudioAlaw, 8000, nullptr);
    EXPECT_EQ(conv.Convert(in, -1, out, &len), 0);
    EXPECT_EQ(conv.Convert(nullptr, 2, out, &len), 0);
    EXPECT_EQ(conv.Convert(in, 2, nullptr, &len), 0);
    EXPECT_EQ(conv.Convert(in, 2, out, nullptr), 0);
    EXPECT_EQ(len, 77);
    EXPECT_EQ(conv.Convert(nullptr, 0, nullptr, &len), 1);
    EXPECT_EQ(len, 0);
}

TEST(AudioConverter, FormatNamesMapExactly) {
    EXPECT_EQ(AudioFormatFromName("QZ_ALAW"), 5);
    EXPECT_EQ(AudioFormatFromName("QZ_UPCM8"), 1);
    EXPECT_EQ(AudioFormatFromName("QZ_MLAW"), 6);
    EXPECT_EQ(AudioFormatFromName("qz_alaw"), 0);
    EXPECT_EQ(AudioFormatFromName("QZ_ALAW "), 0);
    EXPECT_EQ(AudioFormatFromName(""), 0);
    for (int code = 1; code <= 6; ++code) {
        EXPECT_EQ(AudioFormatFromName(AudioFormatName(code)), code);
    }
    EXPECT_EQ(AudioFormatName(0), nullptr);
    EXPECT_EQ(AudioFormatName(7), nullptr);
}

} // namespace
} // namespace tv

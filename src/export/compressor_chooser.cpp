#include "export/compressor_chooser.h"

#include <algorithm>
#include <cstring>

#include "export/encoder_setup.h"

extern "C" {
#include <libavutil/hwcontext.h>
}

namespace tv {

CNamedCompressorChooser::CNamedCompressorChooser(CompressorOptions options)
    : m_options(std::move(options)) {}

int CNamedCompressorChooser::Choose(const CompressorRequest&, CompressorOptions& options) {
    options = m_options;
    if (options.codec.empty()) {
        options.codec = kDefaultVideoCodec;
    }
    return 1;
}

// A hardware encoder is worth trying only where its device exists; some leak
// or stall when opened without one.
static bool HardwareAvailable(const AVCodec* codec) {
    const AVCodecHWConfig* config = avcodec_get_hw_config(codec, 0);
    if (!config) {
        return true;
    }
    for (int i = 0; (config = avcodec_get_hw_config(codec, i)) != nullptr; ++i) {
        if (config->device_type == AV_HWDEVICE_TYPE_NONE) {
            continue;
        }
        AVBufferRef* device = nullptr;
        if (av_hwdevice_ctx_create(&device, config->device_type, nullptr, nullptr, 0) >= 0) {
            av_buffer_unref(&device);
            return true;
        }
    }
    return false;
}

static bool OpensFor(const AVCodec* codec, int width, int height, AVPixelFormat source,
                     bool* lossless) {
    if (!HardwareAvailable(codec)) {
        return false;
    }
    const AVPixelFormat fmt = ChooseEncoderPixelFormat(codec, source, lossless);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        return false;
    }
    const int ok = ConfigureAndOpenEncoder(ctx, codec, CompressorOptions{}, width, height, 25, fmt);
    if (ok) {
        // Some encoder libraries wait at close for an end of stream they never got.
        DrainEncoder(ctx);
    }
    avcodec_free_context(&ctx);
    return ok == 1;
}

std::vector<EncoderInfo> ListAviVideoEncoders(int width, int height, int bitsPerPixel) {
    std::vector<EncoderInfo> list;
    const AVPixelFormat source = DibPixelFormat(bitsPerPixel);
    if (width <= 0 || height <= 0 || source == AV_PIX_FMT_NONE) {
        return list;
    }
    QuietFfmpegLog();
    void* it = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&it)) {
        if (!av_codec_is_encoder(codec) || codec->type != AVMEDIA_TYPE_VIDEO) {
            continue;
        }
        if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) {
            continue;
        }
        // AV1 in AVI plays almost nowhere, and one of its encoder libraries
        // hangs when closed without having encoded a frame.
        if (codec->id == AV_CODEC_ID_AV1 || !AviCarries(codec)) {
            continue;
        }
        bool lossless = false;
        if (!OpensFor(codec, width, height, source, &lossless)) {
            continue;
        }
        list.push_back(
            EncoderInfo{codec->name, codec->long_name ? codec->long_name : codec->name, lossless});
    }
    std::sort(list.begin(), list.end(), [](const EncoderInfo& a, const EncoderInfo& b) {
        const bool ad = a.name == kDefaultVideoCodec;
        const bool bd = b.name == kDefaultVideoCodec;
        if (ad != bd) {
            return ad;
        }
        return a.name < b.name;
    });
    return list;
}

} // namespace tv

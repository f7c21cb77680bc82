#include "export/encoder_setup.h"

#include <mutex>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace tv {

void QuietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

AVPixelFormat DibPixelFormat(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 16:
        return AV_PIX_FMT_RGB555LE;
    case 24:
        return AV_PIX_FMT_BGR24;
    case 32:
        return AV_PIX_FMT_BGR0;
    default:
        return AV_PIX_FMT_NONE;
    }
}

AVPixelFormat ChooseEncoderPixelFormat(const AVCodec* codec, AVPixelFormat source, bool* lossless) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
    const bool losslessCodec =
        desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY);
    if (!codec->pix_fmts) {
        if (lossless) {
            *lossless = losslessCodec;
        }
        return source;
    }
    int loss = 0;
    const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, 0, &loss);
    const bool exact = best != AV_PIX_FMT_NONE && loss == 0;
    if (lossless) {
        *lossless = losslessCodec && exact;
    }
    return exact ? best : codec->pix_fmts[0];
}

static bool TakesQuantiser(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_H261:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_H263P:
    case AV_CODEC_ID_FLV1:
        return true;
    default:
        return false;
    }
}

int ConfigureAndOpenEncoder(AVCodecContext* ctx, const AVCodec* codec,
                            const CompressorOptions& options, int width, int height, int frameRate,
                            AVPixelFormat encoderFormat) {
    ctx->width = width;
    ctx->height = height;
    ctx->pix_fmt = encoderFormat;
    ctx->time_base = AVRational{1, frameRate};
    ctx->framerate = AVRational{frameRate, 1};
    ctx->sample_aspect_ratio = AVRational{1, 1};
    ctx->thread_count = 1;
    const AVPixFmtDescriptor* pd = av_pix_fmt_desc_get(encoderFormat);
    if (pd && !(pd->flags & AV_PIX_FMT_FLAG_RGB)) {
        const bool full = encoderFormat == AV_PIX_FMT_YUVJ420P ||
                          encoderFormat == AV_PIX_FMT_YUVJ422P ||
                          encoderFormat == AV_PIX_FMT_YUVJ444P;
        ctx->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        ctx->colorspace = AVCOL_SPC_BT470BG;
    }
    if (options.keyFrameInterval > 0) {
        ctx->gop_size = options.keyFrameInterval;
    }
    if (options.dataRateKbps > 0) {
        ctx->bit_rate = static_cast<int64_t>(options.dataRateKbps) * 1000;
    } else if (TakesQuantiser(codec->id)) {
        // FFmpeg's default of 200 kbit/s smears a 640 x 448 split view; a fixed
        // fine quantiser keeps faces and number plates readable.
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 3;
    }
    if (ctx->priv_data) {
        // An I picture the caller asks for must be a real entry point, not
        // only an intra picture behind later references.
        av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
    }
    AVDictionary* opts = nullptr;
    const int ret = avcodec_open2(ctx, codec, &opts);
    av_dict_free(&opts);
    return ret >= 0 ? 1 : 0;
}

void DrainEncoder(AVCodecContext* ctx) {
    if (avcodec_send_frame(ctx, nullptr) < 0) {
        return;
    }
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) {
        return;
    }
    while (avcodec_receive_packet(ctx, pkt) >= 0) {
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
}

bool AviCarries(const AVCodec* codec) {
    const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
    return avi && avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) == 1;
}

} // namespace tv

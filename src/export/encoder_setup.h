#pragma once

// FFmpeg glue shared by the writer and the encoder list; not for other subsystems.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
}

#include "export/compressor_chooser.h"

namespace tv {

// Keeps FFmpeg's own log down to errors; the writer reports its failures itself.
void QuietFfmpegLog();

// The packed pixel format of a bottom-up DIB of the given depth, or
// AV_PIX_FMT_NONE for a depth the writer does not take.
AVPixelFormat DibPixelFormat(int bitsPerPixel);

// The encoder's input format: the DIB's own layout when the encoder takes an
// RGB format without loss, else the encoder's first (most widely decodable) one.
AVPixelFormat ChooseEncoderPixelFormat(const AVCodec* codec, AVPixelFormat source, bool* lossless);

// Fills a fresh context for frames of width x height at frameRate and opens it.
// Returns 1 when the encoder opened.
int ConfigureAndOpenEncoder(AVCodecContext* ctx, const AVCodec* codec,
                            const CompressorOptions& options, int width, int height, int frameRate,
                            AVPixelFormat encoderFormat);

// Signals the end of the stream and discards what the encoder still holds.
void DrainEncoder(AVCodecContext* ctx);

// Whether the AVI muxer can carry the codec.
bool AviCarries(const AVCodec* codec);

} // namespace tv

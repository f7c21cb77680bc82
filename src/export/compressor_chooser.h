#pragma once

#include <string>
#include <vector>

namespace tv {

// The encoder a headless export uses when the caller names none: Motion JPEG at
// a high fixed quality. Every export frame is a key frame, so an intra-only
// codec costs nothing against an inter codec, encodes fast, and MJPEG-in-AVI
// plays in practically every player and editor.
inline constexpr const char* kDefaultVideoCodec = "mjpeg";

// What the writer asks the compressor choice about: the frames it will be given.
struct CompressorRequest {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 24;
    int frameRate = 0;
};

// The user's choice. keyFrameInterval 0 keeps the encoder's own interval (the
// writer still forces key frames when the caller asks for them); dataRateKbps 0
// keeps the encoder's quality-based default.
struct CompressorOptions {
    std::string codec;
    int keyFrameInterval = 0;
    int dataRateKbps = 0;
};

// The system's compression dialog. The application shows a Qt dialog; headless
// callers name the codec.
class ICompressorChooser {
public:
    virtual ~ICompressorChooser() = default;
    // Fills options and returns 1, or returns 0 when the user cancels.
    virtual int Choose(const CompressorRequest& request, CompressorOptions& options) = 0;
};

// Never asks: returns the options it was built with (empty codec: the default).
class CNamedCompressorChooser : public ICompressorChooser {
public:
    explicit CNamedCompressorChooser(CompressorOptions options = {});
    int Choose(const CompressorRequest& request, CompressorOptions& options) override;

private:
    CompressorOptions m_options;
};

struct EncoderInfo {
    std::string name;     // the encoder's name, what CompressorOptions::codec takes
    std::string longName; // for people
    bool lossless = false;
};

// The video encoders the AVI container can carry that actually open on this
// machine for frames of the given size and depth (each is tried; hardware
// encoders without a device fail and are left out). Sorted by name, the
// default codec first. Trying every encoder takes a moment: call it once per
// dialog, not per frame.
std::vector<EncoderInfo> ListAviVideoEncoders(int width, int height, int bitsPerPixel = 24);

} // namespace tv

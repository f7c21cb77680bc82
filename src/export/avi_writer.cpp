#include "export/avi_writer.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/audio_converter.h"
#include "export/encoder_setup.h"
#include "platform/notifier.h"
#include "video/color_convert.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace tv {

namespace {

// The checks a failed teardown reports. Releasing the frame reader and the
// stream objects cannot fail here; draining the encoder and finishing the file can.
constexpr const char* kCheckCompressed =
    "AVIStreamRelease( m_pAviCompressedStream ) != 0 (不該發生的錯誤)";
constexpr const char* kCheckFile = "AVIFileRelease( m_pAVIFileInterface ) != 0 (不該發生的錯誤)";

// Audio packets are at most this long; code 2 is converted through a buffer
// of this size, allocated once per export.
constexpr int kAudioChunk = 131072;

AVCodecID AudioCodecFor(int audioFormat) {
    switch (audioFormat) {
    case 3:
    case 4:
        return AV_CODEC_ID_PCM_S16LE;
    case 5:
        return AV_CODEC_ID_PCM_ALAW;
    case 6:
        return AV_CODEC_ID_PCM_MULAW;
    default:
        return AV_CODEC_ID_PCM_U8;
    }
}

// The byte of one silent sample in each stream format (16-bit silence is two
// zero bytes).
uint8_t SilenceByteFor(int audioFormat) {
    switch (AudioCodecFor(audioFormat)) {
    case AV_CODEC_ID_PCM_U8:
        return 0x80;
    case AV_CODEC_ID_PCM_ALAW:
        return 0xD5;
    case AV_CODEC_ID_PCM_MULAW:
        return 0xFF;
    default:
        return 0x00;
    }
}

// The AVI muxer refuses to fill a gap of more than 60000 slots with held
// frames on its own; longer gaps are filled in steps of this many.
constexpr int64_t kMaxHeldSlots = 50000;

} // namespace

CAviWriter::CAviWriter() {
    QuietFfmpegLog();
}

CAviWriter::~CAviWriter() {
    Close();
    // A close handed to a slow write finishes when that write returns; the
    // object must outlive it.
    std::unique_lock lk(m_lock);
    m_idle.wait(lk, [&] { return m_writesInProgress == 0 && !m_closePending; });
}

void CAviWriter::SetRecorderFormats(int videoFormat, int audioFormat, int channelCount,
                                    int sampleRate) {
    std::lock_guard lk(m_lock);
    m_videoFormat = videoFormat;
    m_audioFormat = audioFormat;
    m_channelCount = channelCount;
    m_sampleRate = sampleRate;
}

void CAviWriter::SetCompressorChooser(ICompressorChooser* chooser) {
    std::lock_guard lk(m_lock);
    m_chooser = chooser;
}

void CAviWriter::SetClock(ExportClock clock) {
    std::lock_guard io(m_ioLock);
    std::lock_guard lk(m_lock);
    m_clock = std::move(clock);
    m_timeline.SetClock(m_clock.now || m_clock.read ? m_clock.resolutionMs : 0,
                        m_clock.expectedFrameRate);
}

int64_t CAviWriter::ReadClock() {
    std::function<int64_t()> now;
    std::function<int64_t(int*)> read;
    double expected = 0;
    {
        std::lock_guard lk(m_lock);
        now = m_clock.now;
        read = m_clock.read;
        expected = m_clock.expectedFrameRate;
    }
    if (m_rebaseRequested.exchange(false)) {
        m_timeline.Rebase();
    }
    if (read) {
        int resolution = m_timeline.Resolution();
        const int64_t t = read(&resolution);
        if (resolution != m_timeline.Resolution()) {
            m_timeline.SetClock(resolution, expected);
        }
        return t;
    }
    return now ? now() : -1;
}

int CAviWriter::CheckWrite(int ret) {
    int error = ret < 0 ? ret : 0;
    const AVIOContext* pb = m_pAVIFileInterface ? m_pAVIFileInterface->pb : nullptr;
    if (pb && pb->error < 0) {
        error = pb->error;
    }
    if (error == 0) {
        return 1;
    }
    std::string full;
    {
        std::lock_guard lk(m_lock);
        if (m_writeError == 0) {
            // FFmpeg's own error tags are no errno values.
            m_writeError = error > -4096 ? AVUNERROR(error) : EIO;
            if (IsDiskFull(m_writeError)) {
                full = DiskFullText(m_shownPath.empty() ? m_path : m_shownPath);
            }
        }
    }
    if (!full.empty()) {
        ShowMessageBox(full);
    }
    return 0;
}

std::string CAviWriter::DiskFullText(const std::string& path) {
    return "Disk full: could not write " + path;
}

void CAviWriter::SetShownPath(const std::string& path) {
    std::lock_guard lk(m_lock);
    m_shownPath = path;
}

int CAviWriter::GetWriteError() const {
    std::lock_guard lk(m_lock);
    return m_writeError;
}

bool CAviWriter::IsDiskFull(int error) {
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

WAVEFORMATEX CAviWriter::AudioStreamFormat(int audioFormat, int sampleRate) {
    WAVEFORMATEX w;
    w.nChannels = 1;
    w.nSamplesPerSec = static_cast<uint32_t>(sampleRate);
    switch (audioFormat) {
    case kAudioUpcm16:
    case kAudioSpcm16:
        w.wFormatTag = WAVE_FORMAT_PCM;
        w.wBitsPerSample = 16;
        w.nBlockAlign = 2;
        break;
    case kAudioAlaw:
        w.wFormatTag = WAVE_FORMAT_ALAW;
        w.wBitsPerSample = 8;
        w.nBlockAlign = 1;
        break;
    case kAudioMlaw:
        w.wFormatTag = WAVE_FORMAT_MULAW;
        w.wBitsPerSample = 8;
        w.nBlockAlign = 1;
        break;
    default: // 8-bit (signed after its conversion to unsigned) and anything unknown
        w.wFormatTag = WAVE_FORMAT_PCM;
        w.wBitsPerSample = 8;
        w.nBlockAlign = 1;
        break;
    }
    w.nAvgBytesPerSec = w.nBlockAlign * w.nSamplesPerSec;
    w.cbSize = 0;
    return w;
}

int CAviWriter::Open(const std::string& path, int bitsPerPixel, int /*ignored1*/, int width,
                     int height, int /*ignored2*/, const BITMAPINFOHEADER* header, int frameRate) {
    if (path.empty()) {
        return AVI_ERR_EMPTY_PATH;
    }
    {
        std::lock_guard lk(m_lock);
        if (m_state == AVI_STATE_CLOSING || m_closePending) {
            return AVI_ERR_CLOSING;
        }
        if (m_state == AVI_STATE_OPENING) {
            return AVI_ERR_OPENING;
        }
    }
    if (GetState() != AVI_STATE_CLOSED) {
        Close();
    }
    {
        std::lock_guard lk(m_lock);
        if (m_state == AVI_STATE_OPENING) {
            return AVI_ERR_OPENING;
        }
        if (m_state != AVI_STATE_CLOSED) {
            // The previous export's close is still waiting for a slow write.
            return AVI_ERR_CLOSING;
        }
        if (width <= 0 || height <= 0 || bitsPerPixel <= 0 || frameRate <= 0) {
            return AVI_ERR_BAD_PARAMS;
        }
        m_state = AVI_STATE_OPENING;
        m_writeError = 0;
        m_rebaseRequested.store(false);
    }
    int result;
    {
        std::lock_guard io(m_ioLock);
        result = OpenLocked(path, bitsPerPixel, width, height, header, frameRate);
    }
    std::lock_guard lk(m_lock);
    m_state = result == AVI_OK ? AVI_STATE_IDLE : AVI_STATE_CLOSED;
    return result;
}

int CAviWriter::OpenLocked(const std::string& path, int bitsPerPixel, int width, int height,
                           const BITMAPINFOHEADER* header, int frameRate) {
    const bool useHeader = header && header->biSize != 0;
    m_topDown = false;
    if (useHeader) {
        const int64_t hw = header->biWidth;
        const int64_t hh = header->biHeight < 0 ? -static_cast<int64_t>(header->biHeight)
                                                : static_cast<int64_t>(header->biHeight);
        if (hw != width || hh != height || header->biBitCount != bitsPerPixel) {
            return AVI_ERR_BAD_PARAMS;
        }
        m_topDown = header->biHeight < 0;
    }
    const int64_t frameBytes = static_cast<int64_t>(width) * height * bitsPerPixel / 8;
    if (frameBytes <= 0 || frameBytes > INT_MAX || bitsPerPixel > 0xFFFF) {
        return AVI_ERR_BAD_PARAMS;
    }
    m_width = width;
    m_height = height;
    m_bitsPerPixel = static_cast<uint16_t>(bitsPerPixel);
    m_frameSize = static_cast<int>(frameBytes);

    // Create the file without truncating one that is there: a cancelled or
    // refused export must not cost the user an earlier file of that name.
    struct stat st;
    const bool existed = ::stat(path.c_str(), &st) == 0;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return AVI_ERR_CREATE_FILE;
    }
    ::close(fd);
    m_createdFile = !existed;
    m_path = path;
    m_headerWritten = false;

    if (avformat_alloc_output_context2(&m_pAVIFileInterface, nullptr, "avi", path.c_str()) < 0 ||
        !m_pAVIFileInterface) {
        Release(false);
        return AVI_ERR_CREATE_FILE;
    }
    m_pStreamInterface = avformat_new_stream(m_pAVIFileInterface, nullptr);
    if (!m_pStreamInterface) {
        Release(false);
        return AVI_ERR_CREATE_STREAM;
    }

    CompressorOptions options;
    CNamedCompressorChooser fallback;
    ICompressorChooser* chooser = m_chooser ? m_chooser : &fallback;
    const CompressorRequest request{width, height, bitsPerPixel, frameRate};
    if (!chooser->Choose(request, options)) {
        Release(false);
        return AVI_ERR_CANCELLED;
    }
    if (options.codec.empty()) {
        options.codec = kDefaultVideoCodec;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(options.codec.c_str());
    if (codec && codec->type == AVMEDIA_TYPE_VIDEO) {
        m_pAviCompressedStream = avcodec_alloc_context3(codec);
    }
    if (!m_pAviCompressedStream) {
        Release(false);
        return AVI_ERR_COMPRESSED_STREAM;
    }
    bool formatRefused = false;
    if (!OpenVideoEncoder(options, frameRate, &formatRefused)) {
        Release(false);
        if (formatRefused) {
            ShowMessageBox(kInvalidCodecText);
            return AVI_ERR_FORMAT;
        }
        return AVI_ERR_COMPRESSED_STREAM;
    }

    const int audio = AddAudioStream();
    if (audio != AVI_OK) {
        Release(false);
        return audio;
    }

    if (avio_open(&m_pAVIFileInterface->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
        Release(false);
        return AVI_ERR_CREATE_FILE;
    }
    m_createdFile = true; // truncated now: what is there is ours
    if (avformat_write_header(m_pAVIFileInterface, nullptr) < 0) {
        Release(false);
        return AVI_ERR_FORMAT;
    }
    m_headerWritten = true;

    m_videoFrames = 0;
    m_audioSamples = 0;
    m_lastSlot = -1;
    m_timeline.Start(frameRate, m_sampleRate);
    m_opened = 1;
    m_hasExportHeader = useHeader;
    if (useHeader) {
        m_exportHeader = *header;
    }
    return AVI_OK;
}

int CAviWriter::OpenVideoEncoder(const CompressorOptions& options, int frameRate,
                                 bool* formatRefused) {
    AVCodecContext* ctx = m_pAviCompressedStream;
    const AVCodec* codec = ctx->codec;
    const AVPixelFormat source = DibPixelFormat(m_bitsPerPixel);
    *formatRefused = true;
    if (source == AV_PIX_FMT_NONE || !AviCarries(codec)) {
        return 0;
    }
    const AVPixelFormat target = ChooseEncoderPixelFormat(codec, source, nullptr);
    if (!ConfigureAndOpenEncoder(ctx, codec, options, m_width, m_height, frameRate, target)) {
        return 0;
    }
    m_sws = sws_getContext(m_width, m_height, source, m_width, m_height, target, SWS_BICUBIC,
                           nullptr, nullptr, nullptr);
    if (!m_sws) {
        return 0;
    }
    const AVPixFmtDescriptor* pd = av_pix_fmt_desc_get(target);
    if (pd && !(pd->flags & AV_PIX_FMT_FLAG_RGB)) {
        // Our pixels are full-range RGB; the encoder gets the range its format names.
        const int* coeffs = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(m_sws, coeffs, 1, coeffs,
                                 ctx->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet) {
        *formatRefused = false;
        return 0;
    }
    m_frame->format = target;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        *formatRefused = false;
        return 0;
    }
    if (avcodec_parameters_from_context(m_pStreamInterface->codecpar, ctx) < 0) {
        return 0;
    }
    m_pStreamInterface->time_base = ctx->time_base;
    m_pStreamInterface->avg_frame_rate = AVRational{frameRate, 1};
    m_pStreamInterface->r_frame_rate = AVRational{frameRate, 1};
    *formatRefused = false;
    return 1;
}

int CAviWriter::AddAudioStream() {
    m_pAudioStreamInterface = avformat_new_stream(m_pAVIFileInterface, nullptr);
    if (!m_pAudioStreamInterface) {
        return AVI_ERR_CREATE_STREAM;
    }
    if (m_sampleRate <= 0) {
        return AVI_ERR_FORMAT;
    }
    const WAVEFORMATEX wf = AudioStreamFormat(m_audioFormat, m_sampleRate);
    AVCodecParameters* par = m_pAudioStreamInterface->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AudioCodecFor(m_audioFormat);
    par->codec_tag = wf.wFormatTag;
    par->sample_rate = m_sampleRate;
    av_channel_layout_default(&par->ch_layout, 1);
    par->bits_per_coded_sample = wf.wBitsPerSample;
    par->block_align = wf.nBlockAlign;
    par->bit_rate = static_cast<int64_t>(wf.nAvgBytesPerSec) * 8;
    m_pAudioStreamInterface->time_base = AVRational{1, m_sampleRate};
    m_audioBlockSize = wf.nBlockAlign;
    if (m_audioFormat == kAudioSpcm8) {
        m_audioBuffer.resize(kAudioChunk);
        m_audioConverter.Configure(kAudioSpcm8, m_sampleRate, nullptr);
    }
    m_silence.assign(kAudioChunk, SilenceByteFor(m_audioFormat));
    return AVI_OK;
}

int CAviWriter::GetState() const {
    std::lock_guard lk(m_lock);
    return m_state;
}

int CAviWriter::IsOpen() const {
    std::lock_guard lk(m_lock);
    return m_state == AVI_STATE_IDLE || m_state == AVI_STATE_WRITING;
}

int CAviWriter::GetVideoFramesWritten() const {
    std::lock_guard lk(m_lock);
    return m_videoFrames;
}

int64_t CAviWriter::GetVideoLength() const {
    std::lock_guard lk(m_lock);
    return m_lastSlot + 1;
}

int CAviWriter::GetAudioSamplesWritten() const {
    std::lock_guard lk(m_lock);
    return m_audioSamples;
}

std::string CAviWriter::GetPath() const {
    std::lock_guard lk(m_lock);
    return m_path;
}

const BITMAPINFOHEADER* CAviWriter::GetExportFrameHeader() const {
    std::lock_guard lk(m_lock);
    return m_hasExportHeader ? &m_exportHeader : nullptr;
}

int CAviWriter::StateRefusal(int state, bool video) {
    switch (state) {
    case AVI_STATE_CLOSED:
        return AVI_ERR_NOT_OPEN;
    case AVI_STATE_OPENING:
        return AVI_ERR_OPENING;
    case AVI_STATE_CLOSING:
        return AVI_ERR_CLOSING;
    case AVI_STATE_REFUSING:
        return AVI_ERR_STATE4;
    case AVI_STATE_WRITING:
        // Audio shares the file with a video write in progress; the I/O lock
        // puts it after that write.
        return video ? AVI_ERR_BUSY : 0;
    default:
        return 0;
    }
}

int CAviWriter::BeginWrite(bool video) {
    std::lock_guard lk(m_lock);
    if (const int refused = StateRefusal(m_state, video)) {
        return refused;
    }
    if (!m_opened) {
        return AVI_ERR_NEVER_OPENED;
    }
    if (video && !m_pAviCompressedStream) {
        return AVI_ERR_NO_COMPRESSED_STREAM;
    }
    m_state = AVI_STATE_WRITING;
    ++m_writesInProgress;
    return 0;
}

void CAviWriter::EndWrite() {
    bool finish = false;
    {
        std::lock_guard lk(m_lock);
        if (--m_writesInProgress == 0) {
            if (m_state == AVI_STATE_WRITING) {
                m_state = AVI_STATE_IDLE;
            }
            finish = m_closePending;
        }
    }
    if (finish) {
        FinishClose();
    }
    m_idle.notify_all();
}

int CAviWriter::MuxPendingPackets() {
    int ok = 1;
    for (;;) {
        const int ret = avcodec_receive_packet(m_pAviCompressedStream, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) {
            break;
        }
        if (ret < 0) {
            return 0;
        }
        av_packet_rescale_ts(m_packet, m_pAviCompressedStream->time_base,
                             m_pStreamInterface->time_base);
        m_packet->stream_index = m_pStreamInterface->index;
        if (!MuxVideoPacket(m_packet)) {
            ok = 0;
        }
        av_packet_unref(m_packet);
    }
    return ok;
}

int CAviWriter::MuxVideoPacket(AVPacket* packet) {
    int ok = 1;
    while (m_lastSlot >= 0 && packet->dts != AV_NOPTS_VALUE &&
           packet->dts - m_lastSlot > kMaxHeldSlots) {
        if (!MuxHeldSlots(m_lastSlot + kMaxHeldSlots)) {
            ok = 0;
            break;
        }
    }
    if (!CheckWrite(av_write_frame(m_pAVIFileInterface, packet))) {
        return 0;
    }
    if (packet->dts != AV_NOPTS_VALUE) {
        std::lock_guard lk(m_lock);
        m_lastSlot = std::max(m_lastSlot, packet->dts);
    }
    return ok;
}

int CAviWriter::MuxHeldSlots(int64_t slot) {
    // An empty chunk: the AVI way of holding the previous picture. The muxer
    // puts empty chunks in the slots before it too.
    AVPacket* held = av_packet_alloc();
    if (!held) {
        return 0;
    }
    held->pts = held->dts = slot;
    held->stream_index = m_pStreamInterface->index;
    const int ret = av_write_frame(m_pAVIFileInterface, held);
    av_packet_free(&held);
    if (!CheckWrite(ret)) {
        return 0;
    }
    std::lock_guard lk(m_lock);
    m_lastSlot = slot;
    return 1;
}

int CAviWriter::EncodeAndMux(const AVFrame* frame) {
    if (avcodec_send_frame(m_pAviCompressedStream, frame) < 0) {
        return 0;
    }
    return MuxPendingPackets();
}

int CAviWriter::WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag) {
    int refused = BeginWrite(true);
    if (refused) {
        return refused;
    }
    if (!pixels) {
        EndWrite();
        return AVI_ERR_NO_DATA;
    }
    int ok = 0;
    {
        std::lock_guard io(m_ioLock);
        const bool key = (keyFrameFlag & 0xFF) != 0 || m_videoFrames == 0;
        const int stride = m_width * m_bitsPerPixel / 8;
        // Rows arrive bottom-up: start at the last row and walk backwards.
        const uint8_t* src =
            m_topDown ? pixels : pixels + static_cast<size_t>(stride) * (m_height - 1);
        const int srcStride = m_topDown ? stride : -stride;
        const int64_t slot = m_timeline.PlaceFrame(ReadClock());
        if (GetWriteError() != 0) {
            // The file cannot take more; encoding on would only cost time.
        } else if (slot < 0) {
            // Behind its moment by more than the stream can absorb: a later
            // picture takes its place.
            ok = 1;
        } else if (av_frame_make_writable(m_frame) >= 0) {
            sws_scale(m_sws, &src, &srcStride, 0, m_height, m_frame->data, m_frame->linesize);
            m_frame->pts = slot;
            m_frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
            m_frame->key_frame = key ? 1 : 0;
            ok = EncodeAndMux(m_frame);
        }
        std::lock_guard lk(m_lock);
        ++m_videoFrames; // counted whether or not the write succeeded
    }
    EndWrite();
    return ok ? AVI_WRITTEN : 0;
}

int CAviWriter::WriteAudio(const uint8_t* samples, int byteCount) {
    if (!samples || byteCount <= 0) {
        return 0;
    }
    if (BeginWrite(false)) {
        return 0;
    }
    int ok = 1;
    {
        std::lock_guard io(m_ioLock);
        const int block = m_audioBlockSize ? m_audioBlockSize : 1;
        int64_t silence = m_timeline.SilenceBefore(ReadClock(), GetAudioSamplesWritten());
        ok = GetWriteError() == 0 ? 1 : 0;
        const int64_t chunk = static_cast<int64_t>(m_silence.size()) / block;
        while (silence > 0 && ok && chunk > 0) {
            const int count = static_cast<int>(std::min(silence, chunk));
            ok = MuxAudio(m_silence.data(), count * block, count);
            silence -= count;
        }
        int remaining = byteCount / block * block;
        const uint8_t* p = samples;
        while (remaining > 0 && ok) {
            const int n =
                m_audioFormat == kAudioSpcm8 ? std::min(remaining, kAudioChunk) : remaining;
            const uint8_t* data = p;
            if (m_audioFormat == kAudioSpcm8) {
                // Stored signed; the stream declares unsigned 8-bit, converted
                // exactly as playback converts it.
                int converted = 0;
                m_audioConverter.Convert(p, n, m_audioBuffer.data(), &converted);
                data = m_audioBuffer.data();
            }
            if (!MuxAudio(data, n, n / block)) {
                ok = 0;
            }
            p += n;
            remaining -= n;
        }
        if (byteCount < block) {
            ok = 0;
        }
    }
    EndWrite();
    return ok ? AVI_WRITTEN : 0;
}

int CAviWriter::MuxAudio(const uint8_t* data, int size, int count) {
    AVPacket pkt{};
    pkt.data = const_cast<uint8_t*>(data);
    pkt.size = size;
    int64_t pts;
    {
        std::lock_guard lk(m_lock);
        pts = m_audioSamples;
        m_audioSamples += count;
    }
    pkt.pts = pkt.dts = pts;
    pkt.duration = count;
    pkt.stream_index = m_pAudioStreamInterface->index;
    av_packet_rescale_ts(&pkt, AVRational{1, m_sampleRate}, m_pAudioStreamInterface->time_base);
    return CheckWrite(av_write_frame(m_pAVIFileInterface, &pkt));
}

int CAviWriter::Close() {
    {
        std::unique_lock lk(m_lock);
        if (m_state == AVI_STATE_CLOSED) {
            return AVI_OK;
        }
        if (m_state == AVI_STATE_OPENING) {
            return AVI_ERR_OPENING;
        }
        if (m_state == AVI_STATE_CLOSING) {
            return AVI_ERR_CLOSING;
        }
        m_state = AVI_STATE_CLOSING;
        if (!m_idle.wait_for(lk, std::chrono::seconds(1),
                             [&] { return m_writesInProgress == 0; })) {
            // Tearing the encoder down under a running write would crash it;
            // the write finishes the close when it returns.
            m_closePending = true;
            return AVI_OK;
        }
    }
    FinishClose();
    m_idle.notify_all();
    return AVI_OK;
}

void CAviWriter::FinishClose() {
    {
        std::lock_guard io(m_ioLock);
        Release(true);
    }
    std::lock_guard lk(m_lock);
    m_path.clear();
    m_shownPath.clear();
    m_closePending = false;
    m_state = AVI_STATE_CLOSED;
}

void CAviWriter::Release(bool showChecks) {
    bool deleteFile = !showChecks && m_createdFile; // a failed open leaves nothing
    if (m_pGetFrame) {
        m_pGetFrame = nullptr;
    }
    if (m_pAviCompressedStream) {
        if (showChecks && m_headerWritten) {
            // Drain what an encoder with look-ahead still holds.
            // A full disk was told in words already; it is no fault of the
            // writer's.
            if ((avcodec_send_frame(m_pAviCompressedStream, nullptr) < 0 || !MuxPendingPackets()) &&
                !IsDiskFull(GetWriteError())) {
                ShowMessageBox(kCheckCompressed);
            }
            // The last picture lasts its own interval, and the video as long
            // as the sound beside it.
            const int64_t end = m_timeline.EndSlot(m_audioSamples);
            while (m_lastSlot >= 0 && end - 1 > m_lastSlot) {
                if (!MuxHeldSlots(std::min(end - 1, m_lastSlot + kMaxHeldSlots))) {
                    break;
                }
            }
        }
        avcodec_free_context(&m_pAviCompressedStream);
    }
    m_pStreamInterface = nullptr;      // owned by the format context
    m_pAudioStreamInterface = nullptr; // likewise
    if (m_pAVIFileInterface) {
        if (showChecks) {
            bool ok = true;
            if (m_headerWritten) {
                ok = CheckWrite(av_write_trailer(m_pAVIFileInterface)) != 0;
            }
            if (m_pAVIFileInterface->pb) {
                // What the buffer still holds meets a full disk here.
                avio_flush(m_pAVIFileInterface->pb);
                ok = CheckWrite(0) != 0 && ok;
                ok = CheckWrite(avio_closep(&m_pAVIFileInterface->pb)) != 0 && ok;
            }
            if (!ok && !IsDiskFull(GetWriteError())) {
                ShowMessageBox(kCheckFile);
            }
        } else if (m_pAVIFileInterface->pb) {
            avio_closep(&m_pAVIFileInterface->pb);
        }
        avformat_free_context(m_pAVIFileInterface);
        m_pAVIFileInterface = nullptr;
    }
    sws_freeContext(m_sws);
    m_sws = nullptr;
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    m_silence.clear();
    m_silence.shrink_to_fit();
    m_audioBuffer.clear();
    m_audioBuffer.shrink_to_fit();
    if (showChecks && m_opened && m_videoFrames == 0) {
        deleteFile = true;
    }
    // Only a regular file is ours to remove: an export aimed at a device or a
    // pipe must never unlink the node.
    struct stat st;
    if (deleteFile && !m_path.empty() && ::lstat(m_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::unlink(m_path.c_str());
    }
    m_headerWritten = false;
    m_createdFile = false;
}

void CAviWriter::ConvertLiveFrame(uint8_t* dst, const uint8_t* picture, int width, int height) {
    if (!dst || !picture || width <= 0 || height <= 0) {
        return;
    }
    const size_t pitch = static_cast<size_t>(width) * 3;
    YuvToDib24Doubled(dst, static_cast<int>(pitch), picture, width, height);
    for (int r = 1; r <= 2 * height - 3; r += 2) {
        const uint8_t* above = dst + (r - 1) * pitch;
        const uint8_t* below = dst + (r + 1) * pitch;
        uint8_t* row = dst + r * pitch;
        for (size_t i = 0; i < pitch; ++i) {
            row[i] = static_cast<uint8_t>((above[i] + below[i]) >> 1);
        }
    }
}

} // namespace tv

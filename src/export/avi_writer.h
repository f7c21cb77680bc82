#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_converter.h"
#include "export/compressor_chooser.h"
#include "export/export_timeline.h"
#include "platform/audio_format.h"
#include "platform/video_format.h"
#include "platform/win_types.h"

struct AVFormatContext;
struct AVStream;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace tv {

// Result codes of the writer's operations.
enum AviResult : int {
    AVI_OK = 0,
    AVI_ERR_NOT_OPEN = 100,
    AVI_ERR_OPENING = 101,
    AVI_ERR_CLOSING = 102,
    AVI_ERR_STATE4 = 103,
    AVI_ERR_BUSY = 105,
    AVI_WRITTEN = 200,
    AVI_ERR_NO_DATA = 206,
    AVI_ERR_EMPTY_PATH = 302,
    AVI_ERR_CANCELLED = 402,
    AVI_ERR_NEVER_OPENED = 403,
    AVI_ERR_BAD_PARAMS = 404,
    AVI_ERR_CREATE_FILE = 600,
    AVI_ERR_CREATE_STREAM = 602,
    AVI_ERR_COMPRESSED_STREAM = 603,
    AVI_ERR_FORMAT = 606,
    AVI_ERR_NO_COMPRESSED_STREAM = 607,
};

// Writer states.
enum AviState : int {
    AVI_STATE_CLOSED = 0,
    AVI_STATE_IDLE = 1,
    AVI_STATE_OPENING = 2,
    AVI_STATE_CLOSING = 3,
    AVI_STATE_REFUSING = 4,
    AVI_STATE_WRITING = 5,
};

// The message shown when the chosen codec cannot take the export frames.
inline constexpr const char* kInvalidCodecText = "Invalid codec!";

// One AVI export: a video stream compressed with the encoder the compressor
// choice names, fed with bottom-up DIB frames, and one audio stream carrying the
// recorder's audio packets as they are stored. Open and Close come from the
// user-interface thread, writes from the engine's or the drawing thread.
class CAviWriter {
public:
    CAviWriter();
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // The recorder's formats, as the engine configured them at start-up.
    void SetRecorderFormats(int videoFormat, int audioFormat, int channelCount, int sampleRate);
    // Not owned; null gives the headless default (kDefaultVideoCodec).
    void SetCompressorChooser(ICompressorChooser* chooser);
    // Where the time of each frame and sound block comes from; may be set
    // before or after Open, before the first write. With a clock, frames go to
    // the slots of their moments at the stream's rate (the slots between hold
    // the previous picture) and gaps in the sound are filled with silence, so
    // that the export lasts as long as what it shows. Without one (an empty
    // now), frames simply follow each other.
    void SetClock(ExportClock clock);
    // The user jumped (a seek, a step, an event): the next frame and sound go
    // on from the next free slot, whatever their clock says. Any thread.
    void Rebase() { m_rebaseRequested.store(true); }

    // Creates the file and both streams. ignored1 and ignored2 are kept for the
    // callers' sake (they pass 6750 and 300). header, when given with a non-zero
    // size, describes the frames (its height negative for top-down rows).
    int Open(const std::string& path, int bitsPerPixel, int ignored1, int width, int height,
             int ignored2, const BITMAPINFOHEADER* header, int frameRate);
    // One frame of width x height x bits / 8 bytes, rows packed, bottom-up
    // unless the header said otherwise.
    int WriteVideoFrame(const uint8_t* pixels, int keyFrameFlag);
    // Samples of audio packets as the recorder stores them; returns 200 or 0.
    int WriteAudio(const uint8_t* samples, int byteCount);
    // Finishes the file; an export that received no video frame leaves none.
    int Close();

    // A W x 2H export frame of 24-bit bottom-up rows from a W x H YUV 4:2:0
    // picture: picture rows on the even rows, each odd row the average of its
    // neighbours, the last row untouched.
    static void ConvertLiveFrame(uint8_t* dst, const uint8_t* picture, int width, int height);

    int GetState() const;
    int IsOpen() const;
    int GetVideoFramesWritten() const;
    // The video stream's length in frame slots, held pictures included.
    int64_t GetVideoLength() const;
    int GetAudioSamplesWritten() const;
    // The errno of the first write to the file that failed in this export
    // (ENOSPC, EFBIG, EIO ...), 0 while none did; kept after Close.
    int GetWriteError() const;
    // A write failed for want of room: the disk or the file size limit.
    static bool IsDiskFull(int error);
    // The message a full disk gives, once per export, naming the file.
    static std::string DiskFullText(const std::string& path);
    // The name the user knows the file by, for messages, when it is written
    // under a temporary one; cleared by Close.
    void SetShownPath(const std::string& path);
    int GetFrameSize() const { return m_frameSize; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetAudioBlockSize() const { return m_audioBlockSize; }
    std::string GetPath() const;
    // The frame description given to Open, or null when none was given.
    const BITMAPINFOHEADER* GetExportFrameHeader() const;
    // The refusal a write meets in a state (0: the write may go ahead).
    static int StateRefusal(int state, bool video);
    // The wave format the audio stream declares for an audio format code.
    static WAVEFORMATEX AudioStreamFormat(int audioFormat, int sampleRate);

private:
    int OpenLocked(const std::string& path, int bitsPerPixel, int width, int height,
                   const BITMAPINFOHEADER* header, int frameRate);
    int OpenVideoEncoder(const CompressorOptions& options, int frameRate, bool* formatRefused);
    int AddAudioStream();
    int EncodeAndMux(const AVFrame* frame);
    int MuxPendingPackets();
    // Writes a video packet at its slot, the slots before it holding the
    // previous picture.
    int MuxVideoPacket(AVPacket* packet);
    int MuxHeldSlots(int64_t slot);
    // The clock's reading for the next frame or sound; takes a jump the
    // user asked for. Under the I/O lock.
    int64_t ReadClock();
    // Notes the file's first failed write; 0 when ret or the file says so.
    int CheckWrite(int ret);
    int MuxAudio(const uint8_t* data, int size, int count);
    void Release(bool showChecks);
    void FinishClose();
    int BeginWrite(bool video);
    void EndWrite();

    BITMAPINFOHEADER m_exportHeader{};
    bool m_hasExportHeader = false;

    AVFormatContext* m_pAVIFileInterface = nullptr;
    AVStream* m_pStreamInterface = nullptr;
    AVCodecContext* m_pAviCompressedStream = nullptr;
    AVStream* m_pAudioStreamInterface = nullptr;
    void* m_pGetFrame = nullptr; // never opened by this system

    int m_state = AVI_STATE_CLOSED;
    uint8_t m_opened = 0;
    int m_width = 0;
    int m_height = 0;
    uint16_t m_bitsPerPixel = 0;
    int m_frameSize = 0;
    int m_videoFrames = 0;
    int m_audioSamples = 0;
    uint16_t m_audioBlockSize = 0;
    std::string m_path;

    int m_videoFormat = VF_QZF;
    int m_audioFormat = kAudioUpcm8;
    int m_channelCount = 0;
    int m_sampleRate = 8000;

    ICompressorChooser* m_chooser = nullptr;
    bool m_forceKeyFrames = false;
    bool m_topDown = false;
    bool m_createdFile = false; // the file did not exist before Open
    bool m_headerWritten = false;
    int m_srcPixelFormat = 0;

    SwsContext* m_sws = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    int64_t m_lastSlot = -1;
    CExportTimeline m_timeline;
    ExportClock m_clock;
    std::atomic<bool> m_rebaseRequested{false};
    int m_writeError = 0; // under m_lock
    std::string m_shownPath;
    std::vector<uint8_t> m_silence;
    std::vector<uint8_t> m_audioBuffer;
    CAudioConverter m_audioConverter;

    // m_lock guards the state and counters; m_ioLock keeps encoder and muxer
    // calls on one thread at a time. A close that finds a write still running
    // after a second leaves the teardown to that write.
    mutable std::mutex m_lock;
    std::condition_variable m_idle;
    int m_writesInProgress = 0;
    bool m_closePending = false;
    std::mutex m_ioLock;
};

} // namespace tv

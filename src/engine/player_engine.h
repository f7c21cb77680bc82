#pragma once

#include "audio/audio_converter.h"
#include "audio/wave_out.h"
#include "engine/avi_export_sink.h"
#include "engine/channel_pictures.h"
#include "engine/headless_output.h"
#include "engine/navigator.h"
#include "engine/playback_rules.h"
#include "engine/video_output.h"
#include "export/avi_writer.h"
#include "media/stream_file.h"
#include "media/stream_recorder.h"
#include "net/net_client.h"
#include "platform/audio_format.h"
#include "platform/event.h"
#include "platform/video_format.h"
#include "platform/win_types.h"
#include "video/video_decoder.h"
#include "worker/frame_queue.h"
#include "worker/worker_thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tv {

// The dual-picture fields of the decoder's last header parse.
DualInfo DualInfoOf(const CVideoDecoder& decoder);

// Hands the video output's mouse events to the network client for remote
// control; the client asks on its own thread.
class CVideoMouseSource : public INetMouseSource {
public:
    explicit CVideoMouseSource(IVideoOutput* output) : m_output(output) {}
    int TakeMouseEvent(NetMouseEvent& event) override;
    void SetOutput(IVideoOutput* output) { m_output.store(output); }

private:
    std::atomic<IVideoOutput*> m_output;
};

// Where decoded pictures go instead of the video output when a headless
// caller (the recording tool) wants them counted but not drawn.
using PictureSink = std::function<void(int channel, const SYSTEMTIME& time, const uint8_t* picture,
                                       int width, int height)>;

// Sees every picture handed to the video output (or the sink) with the
// offset of its packet in the recording; for headless tools and tests.
using PictureObserver = std::function<void(int channel, uint64_t offset, const SYSTEMTIME& time,
                                           const uint8_t* picture, int width, int height)>;

// Export kinds: one export frame per tick of the main window's 40 ms timer, or
// one per decoded picture.
constexpr int kExportPerTick = 6;
constexpr int kExportPerPicture = 7;

// Samples converted and written to the wave output at a time: converted, even
// doubled by A-law or mu-law, a chunk always fits the wave ring.
constexpr int kAudioChunk = 2048;

// The one object that plays video and sound. Owns the reader, the network
// client, the decoder, the AVI writer, the audio converter, the wave output
// and the stream recorder, draws through the video output it is given, and
// runs one worker thread: the local playback loop in engine mode 1, the
// network loop otherwise.
//
// Every public operation is called from the user-interface thread. Play
// commands only store their values and signal the command event; the worker
// thread takes them on its next pass.
class CPlayerEngine : public CWorkerThread {
public:
    CPlayerEngine();
    ~CPlayerEngine() override;

    int Run() override;

    // Configuration, once, before anything plays. output is where pictures
    // are drawn (null: nowhere, the layout kept headless) and notifier hears
    // the network client (null: nobody); both are not owned and outlive the
    // engine.
    int Init(IVideoOutput* output, INetNotifier* notifier, int videoFormat, int audioFormat,
             int channels, int sampleRate, int reserved);
    int SetMode(int mode, int slotCount);
    int GetMode() const { return m_mode.load(); }

    // Local playback.
    int OpenStream(const std::string& path, int diskMode);
    int StopPlayback();
    int IsStreamOpen();
    std::string GetStreamPath();
    uint64_t GetStreamSize();
    uint64_t GetPosition() const { return m_position.load(); }
    int GetFrameTime(SYSTEMTIME* out);
    int Pause();
    int Play(double speed);
    int PlayBackward(double speed);
    int FastForward();
    int FastBackward();
    int StepForward();
    int StepBackward();
    int Seek(uint64_t position);
    int GetPlayState() const { return m_playState.load(); }
    double GetSpeed() const { return m_speed.load(); }
    int SetRepeat(int flag);
    int GetRepeat() const { return m_repeat.load(); }
    int ExportRange(uint64_t start, uint64_t end, const std::string& path);
    // What the recording's blocks said last: channel mask and frame gap.
    uint32_t GetChannelMask() const { return m_channelMask.load(); }
    int GetFrameGap() const { return m_frameGap.load(); }
    int SetChannelEnable(int channel, int enabled);
    int GetChannelEnable(int channel) const;

    // Navigation in the open recording, for the main window while it plays.
    // They run on the calling (user-interface) thread and lock only the
    // navigator's own mutex: the navigator reads and decodes with a reader,
    // a decoder and picture buffers of its own, so the worker's reader,
    // decoder, pictures and play state are never touched (the seeks among
    // them only post a seek, as Seek does) and never waited for.
    //
    // Whether a file or disk holds a recording in that byte order.
    static int HoldsRecording(const std::string& path, int diskMode, int videoFormat);
    // The channels the recording's first valid block names (0: none).
    uint32_t GetFirstChannelMask();
    // Where the recording reaches a local standard time, with its earliest
    // time; 0 when it cannot be searched.
    int FindTime(const SYSTEMTIME& local, TimePlace* out);
    // Seeks to the first block at or after a time (seconds since 1970 UTC);
    // 1 when there is one. out (may be null) tells where.
    int SeekToTime(uint32_t utc, TimePlace* out);
    // Seeks to channel's own first picture in the second given, looked for
    // from offset on, or to offset when there is none; *sought is where.
    int SeekToChannelPicture(int channel, uint64_t offset, uint32_t second, uint64_t* sought);
    // What a seek to offset would show of the channels in mask, without
    // seeking (see CNavigator::PicturesAt).
    int GetPicturesAt(uint64_t offset, uint16_t mask, int budgetMs, std::vector<NavPicture>* out);

    // Audio, both modes.
    int SetVolume(int volume);
    int GetVolume();
    int SetMute(int flag);
    int GetMute();

    // Video output pass-throughs.
    int SetSplit(int split, int page);
    int GetSplit(int* split, int* page);
    int SetTimeFormat(const std::string& format);
    int SetShowTime(int flag);
    int GetShowTime();
    int SetTextColour(COLORREF colour);
    int SetOutlineColour(COLORREF colour);
    int SetLabelFont(int height, int width, int weight, int italic, const std::string& face);
    int SetUseDirectDraw(int flag);
    int GetUseDirectDraw();
    int SaveImage(const std::string& path);

    // Network live view and local recording.
    int Connect(const std::string& host, int port, const std::string& user,
                const std::string& password);
    int ConnectDynamic(const std::string& server, int serverPort, const std::string& name,
                       const std::string& password);
    int Disconnect();
    int IsConnected();
    int SendRemoteKey(int code);
    int SetTimeout(int ms);
    int GetTimeout();
    int GetNetworkState();
    std::string GetLastErrorText();
    int StartRecording(const std::string& path);
    int StopRecording();
    int IsRecording();
    // Why the recording stopped on its own (a full disk, a write error); empty
    // while it runs or after StopRecording.
    std::string GetRecordingErrorText();
    // How the open recording ends when playing reached a cut end (bytes after
    // the last whole block, or a packet the recording stops in the middle
    // of); empty while none was met. Found at most once per open; the count
    // tells a caller that polls whether it is new.
    std::string GetCutEndText();
    // The same in a few words, for a status line.
    std::string GetCutEndBrief();
    uint64_t GetCutEndCount() const { return m_cutEndCount.load(); }
    int SetAutoReconnect(int flag);
    int GetAutoReconnect() const { return m_autoReconnect.load(); }

    // AVI export: the main window opens and closes the writer and tells the
    // engine which kind of export runs; the 40 ms tick signals SignalExportTick.
    CAviWriter* GetAviWriter() { return &m_aviWriter; }
    int SetExport(int active, int kind);
    int IsExporting() const { return m_exportActive.load(); }
    int SignalExportTick();

    // Configuration as stored by Init.
    int GetVideoFormat() const { return m_videoFormat; }
    int GetAudioFormat() const { return m_audioFormat; }
    int GetChannelCount() const { return m_channels; }
    int GetSampleRate() const { return m_sampleRate; }
    int GetSlotCount() const { return m_slotCount.load(); }

    // Headless use: pictures go to the sink instead of the video output.
    void SetPictureSink(PictureSink sink);
    void SetPictureObserver(PictureObserver observer);
    // No pacing waits (every other decision the same): how fast the loop can go.
    void SetUnpaced(int flag) { m_unpaced.store(flag); }
    // Commands the worker thread has taken, so a caller knows its last one ran.
    uint64_t GetCommandsTaken() const { return m_commandsTaken.load(); }
    // Bytes held for playing backward.
    uint64_t GetReverseCacheBytes() const { return m_reverseCacheBytes.load(); }
    // Counters for monitoring and tests; the worker thread writes them.
    uint64_t GetPicturesShown() const { return m_picturesShown.load(); }
    uint64_t GetAudioPacketsPlayed() const { return m_audioPlayed.load(); }
    // Audio packets taken from the network client's queue.
    uint64_t GetAudioPacketsReceived() const { return m_audioReceived.load(); }
    uint64_t GetPacingWaits() const { return m_pacingWaits.load(); }
    // Video packets whose header parse or decode failed.
    uint64_t GetRefusedPictures() const { return m_refusedPictures.load(); }
    CNetClient* GetNetClient() { return &m_netClient; }
    CWaveOut* GetWaveOut() { return &m_waveOut; }
    // Passes that ended in the pacing tail while playing forward or backward.
    uint64_t GetPacedPasses() const { return m_pacedPasses.load(); }
    uint64_t GetBytesRecorded();
    // Current frame period in microseconds (set per decoded picture).
    int GetFramePeriod() const { return m_framePeriod.load(); }

private:
    struct LocalBuffers;
    struct LocalPlace;

    int RunLocalLoop();
    int RunNetworkLoop();

    // Engine's wrapper of the forward read: notes audio seen and clears the
    // audio kind after a failed read.
    int ReadForwardWrapped(uint8_t* dest);
    void NoteReaderState();
    // At the end of the recording: what is cut off there, once per open.
    void NoteCutEnd();
    // Converts and writes sound in chunks that fit the wave ring, retrying a
    // full ring until giveUp says so; a missing device drops it. 1 when any
    // of it was written.
    int WriteSound(const uint8_t* samples, int length, uint8_t* buffer, bool wakeOnCommand,
                   const std::function<bool()>& giveUp);
    // Audio packet at speed 1 while playing forward. 1 when written.
    int PlayLocalAudio(const uint8_t* samples, int length, LocalBuffers& b);
    // Decodes the packet just parsed into its stream's buffer when that gives
    // a true picture; true when it did.
    bool DecodeTrue(const uint8_t* packet, int length, const PictureInfo& info);
    void ShowStreamPicture(const PictureInfo& info, const uint8_t* picture, LocalBuffers& b);
    bool StreamVisible(const PictureInfo& info);
    // Notes that a step has moved stream on by one picture; true when every
    // visible channel has moved.
    bool StepDone(const PictureInfo& info, int stream, LocalPlace& place);
    // Makes every stream's buffer true at the last packet before target by
    // decoding forward from the stream's key picture before it.
    void PrimeBefore(uint64_t target, LocalBuffers& b);
    // Decodes stream's run of pictures from its key picture up to the packet
    // at offset into the reverse cache. 1 when that picture is now there.
    int FillReverse(int stream, uint64_t offset, bool isKey, LocalBuffers& b);
    void PlayForward(int state, LocalBuffers& b, LocalPlace& place);
    void PlayBackwardPass(int state, LocalBuffers& b, LocalPlace& place);
    void SeekPass(LocalBuffers& b, LocalPlace& place);
    // Holds the picture on screen until the recording's time for it has
    // passed at the current speed.
    void Pace(const PictureInfo& info, double speed, LocalPlace& place);
    void RenderPicture(int channel, const SYSTEMTIME& time, const uint8_t* picture, int width,
                       int height);
    void PostCommand(int command);
    bool StopRequested() const;
    void ReopenWaveOut();
    // WaveWrite: 1 taken, 0 refused for now (retry), -1 never to be taken.
    int WaveWrite(const uint8_t* data, int length);
    void WavePump();
    void WaveStart();
    void StopWorker();
    // Starts the worker for the loop given, unless a thread already runs.
    void StartLoop(int loop);
    // The loop the worker thread runs: an engine mode, or 0 with no thread.
    int RunningLoop() const;
    // The network loop serving a session that is logged in or reconnecting.
    bool LiveLoopRunning();
    // After a login: the network loop, then the network client's thread.
    void StartNetworkLoop();

    // Members, in the order the parts are built and torn down.
    CStreamFile m_file;
    CNetClient m_netClient;
    CVideoDecoder m_decoder;
    CAviWriter m_aviWriter;
    CAviExportSink m_aviSink{&m_aviWriter};
    // The output until Init is given one, and for a caller with no screen.
    CHeadlessOutput m_headless;
    // Set by Init before any loop runs; the loops only read it.
    IVideoOutput* m_output = &m_headless;
    CAudioConverter m_audioConverter;
    CWaveOut m_waveOut;
    CStreamRecorder m_recorder;
    CVideoMouseSource m_mouseSource{&m_headless};
    // Serves the navigation calls above; its mutex is its own.
    CNavigator m_navigator;

    std::atomic<int> m_mode{kEngineModeNetwork};
    // Which loop the worker was started for; it can differ from the mode
    // while a connection made in player mode is live.
    std::atomic<int> m_loop{0};
    std::atomic<int> m_exportActive{0};
    std::atomic<int> m_exportKind{0};
    Event m_exportTickEvent;
    std::atomic<double> m_speed{1.0};
    std::atomic<int> m_repeat{0};
    std::atomic<int> m_framePeriod{33333};
    std::atomic<int> m_slotCount{4};
    std::atomic<int> m_channelEnable[16];

    int m_videoFormat = VF_QZB2;
    int m_audioFormat = kAudioAlaw;
    int m_channels = 8;
    int m_sampleRate = 8000;
    int m_reserved = 8;

    Event m_commandEvent;
    std::atomic<uint64_t> m_seekPosition{0};
    std::atomic<int> m_command{0};
    std::atomic<int> m_playState{kStateReady};

    std::atomic<int> m_autoReconnect{1};

    // The worker thread reads through the reader while the user-interface
    // thread copies a range of it.
    std::mutex m_readerLock;
    // Opening and closing the recorder never overlaps a write.
    std::mutex m_recorderLock;
    // The block time the worker saw last, for GetFrameTime.
    mutable std::mutex m_timeLock;
    SYSTEMTIME m_frameTime{};
    std::string m_cutEndText;
    std::string m_cutEndBrief;
    bool m_cutEndNoted = false;
    SYSTEMTIME m_blockTime{};
    bool m_blockTimeValid = false;

    std::atomic<uint64_t> m_position{0};
    std::atomic<uint64_t> m_streamSize{0};
    std::atomic<uint32_t> m_channelMask{0};
    std::atomic<int> m_frameGap{0};
    std::atomic<uint64_t> m_picturesShown{0};
    std::atomic<uint64_t> m_audioPlayed{0};
    std::atomic<uint64_t> m_audioReceived{0};
    std::atomic<uint64_t> m_pacingWaits{0};
    std::atomic<uint64_t> m_pacedPasses{0};
    std::atomic<uint64_t> m_refusedPictures{0};
    std::atomic<uint64_t> m_cutEndCount{0};

    std::mutex m_sinkLock;
    PictureSink m_sink;
    std::atomic<bool> m_hasSink{false};
    PictureObserver m_observer;
    std::atomic<bool> m_hasObserver{false};
    // The packet of the picture being handed on, for the observer.
    uint64_t m_renderOffset = 0;
    std::atomic<int> m_unpaced{0};
    std::atomic<uint64_t> m_commandsTaken{0};
    std::atomic<uint64_t> m_reverseCacheBytes{0};

    // Pictures decoded ahead for playing backward, kept for the engine's life.
    CReverseCache m_reverseCache;
    // The packet each stream's cell shows, kNoPicture when none.
    static constexpr uint64_t kNoPicture = ~0ull;
    uint64_t m_shownOffset[CChannelPictures::kStreams] = {};

    // One decoding buffer per channel, used by whichever loop runs; kept
    // for the engine's life and blanked when a loop starts.
    CChannelPictures m_pictures;

    // Size of the network loop's last decoded picture, for the export tick.
    int m_liveWidth = 0;
    int m_liveHeight = 0;

    // Worker thread only: where the play position stood when the device was
    // found not to be draining; sound is dropped at once until it moves.
    bool m_soundStalled = false;
    uint32_t m_stallPosition = 0;
};

} // namespace tv

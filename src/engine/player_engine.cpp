#include "engine/player_engine.h"

#include "platform/clock.h"
#include "platform/system.h"

#include "export/frame_rate.h"

namespace tv {

namespace {

std::mutex g_engineCountLock;
int g_engineCount = 0;

bool TimeIsValid(const SYSTEMTIME& t) {
    return t.wYear >= 1900 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 &&
           t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59;
}

} // namespace

int CVideoMouseSource::TakeMouseEvent(NetMouseEvent& event) {
    MouseRecord r;
    IVideoOutput* output = m_output.load();
    if (output == nullptr || !output->TakeMouseEvent(&r)) {
        return 0;
    }
    event.code = r.eventCode;
    event.x = r.x;
    event.y = r.y;
    event.width = r.clientWidth;
    event.height = r.clientHeight;
    return 1;
}

CPlayerEngine::CPlayerEngine() {
    for (auto& e : m_channelEnable) {
        e.store(1);
    }
    m_output->SetExportSink(&m_aviSink);
    m_netClient.SetMouseSource(&m_mouseSource);
    std::lock_guard<std::mutex> lock(g_engineCountLock);
    if (g_engineCount == 0) {
        StartMediaClock();
    }
    ++g_engineCount;
}

CPlayerEngine::~CPlayerEngine() {
    // The network client first: its thread feeds the queues the loop reads.
    // Both stops are bounded; the stop event wakes a loop that is waiting, and
    // the full stop after them makes sure no thread outlives its object.
    m_netClient.StopBounded();
    m_netClient.StopFull();
    m_stopEvent.Set();
    StopBounded();
    StopFull();
    // The output outlives the engine; it must not keep composing into the
    // writer that goes with it.
    m_output->SetExportSink(nullptr);
    {
        std::lock_guard<std::mutex> lock(m_recorderLock);
        m_recorder.Close();
    }
    std::lock_guard<std::mutex> lock(g_engineCountLock);
    if (--g_engineCount == 0) {
        StopMediaClock();
    }
}

int CPlayerEngine::Run() {
    if (m_loop.load() == kEngineModeLocal) {
        return RunLocalLoop();
    }
    return RunNetworkLoop();
}

int CPlayerEngine::Init(IVideoOutput* output, INetNotifier* notifier, int videoFormat,
                        int audioFormat, int channels, int sampleRate, int reserved) {
    if (output != nullptr && output != m_output) {
        m_output->SetExportSink(nullptr);
        m_output = output;
        m_output->SetExportSink(&m_aviSink);
        m_mouseSource.SetOutput(output);
    }
    m_slotCount.store(ChannelSlotsFor(channels));
    m_videoFormat = videoFormat;
    m_audioFormat = audioFormat;
    m_channels = channels;
    m_sampleRate = sampleRate;
    m_reserved = reserved;
    m_output->SetChannelCount(m_slotCount.load());
    m_output->SetUseDirectDraw(0);
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        m_file.SetFormat(videoFormat);
    }
    m_netClient.SetNotifier(notifier);
    m_decoder.SetMode(videoFormat);
    m_aviWriter.SetRecorderFormats(videoFormat, audioFormat, channels, sampleRate);
    m_recorder.Configure(2, videoFormat, m_slotCount.load());
    ReopenWaveOut();
    m_output->SetChannelCount(1);
    m_output->SetShowLabels(0);
    // Choosing the mode the engine starts in changes nothing, so the window
    // learns it here.
    m_output->SetEngineMode(m_mode.load());
    return 1;
}

void CPlayerEngine::ReopenWaveOut() {
    WAVEFORMATEX wf;
    m_audioConverter.Configure(m_audioFormat, m_sampleRate, &wf);
    m_waveOut.Open(wf);
    // A freshly opened device plays only once started; a loop that goes on
    // writing would otherwise fill the ring for good.
    if (HasThread()) {
        m_waveOut.Start();
    }
}

int CPlayerEngine::WaveWrite(const uint8_t* data, int length) {
    if (m_waveOut.Write(data, length)) {
        return 1;
    }
    // Without a device, or with more than the ring holds, no retry can succeed.
    const int why = m_waveOut.GetLastRefusal();
    return why == kWaveNoDevice || why == kWaveTooLarge ? -1 : 0;
}

void CPlayerEngine::WavePump() {
    m_waveOut.Pump();
}

void CPlayerEngine::WaveStart() {
    m_soundStalled = false;
    m_waveOut.Start();
}

void CPlayerEngine::StopWorker() {
    StopFull();
}

void CPlayerEngine::StartLoop(int loop) {
    if (!HasThread()) {
        m_loop.store(loop);
    }
    Start(THREAD_PRIORITY_NORMAL);
}

int CPlayerEngine::RunningLoop() const {
    return HasThread() ? m_loop.load() : 0;
}

bool CPlayerEngine::LiveLoopRunning() {
    return RunningLoop() == kEngineModeNetwork &&
           (m_netClient.IsConnected() || m_netClient.HasThread());
}

int CPlayerEngine::SetMode(int mode, int slotCount) {
    if (mode != kEngineModeLocal && mode != kEngineModeNetwork) {
        return 0;
    }
    const bool slotsGiven = static_cast<unsigned>(slotCount) <= 16u;
    if (mode == m_mode.load()) {
        // The mode in force chosen again: whatever plays goes on untouched.
        if (mode == kEngineModeLocal && slotsGiven && slotCount != m_slotCount.load()) {
            m_slotCount.store(slotCount);
            m_output->SetChannelCount(slotCount);
        }
        return 1;
    }
    // The stops come before the wave output is reopened, so that no loop
    // writes to a device being replaced.
    if (mode == kEngineModeLocal) {
        if (m_netClient.IsConnected() || m_netClient.HasThread() ||
            RunningLoop() == kEngineModeNetwork) {
            m_netClient.Disconnect();
            StopWorker();
        }
    } else if (IsStreamOpen()) {
        // A live view connected from player mode keeps its loop.
        if (!LiveLoopRunning()) {
            StopWorker();
        }
        m_playState.store(kStateReady);
    }
    ReopenWaveOut();
    if (mode == kEngineModeLocal) {
        if (slotsGiven) {
            m_slotCount.store(slotCount);
        }
        m_decoder.SetMode(m_videoFormat);
        m_output->SetChannelCount(m_slotCount.load());
        m_output->SetShowLabels(1);
    } else {
        m_decoder.SetMode(VF_QZD);
        m_output->SetChannelCount(1);
        m_output->SetShowLabels(0);
    }
    m_output->Clear();
    m_mode.store(mode);
    m_output->SetEngineMode(mode);
    return 1;
}

int CPlayerEngine::OpenStream(const std::string& path, int diskMode) {
    // A local loop must not read while the reader reopens; the network loop
    // never reads it and stays with its session.
    if (!LiveLoopRunning()) {
        StopWorker();
    }
    int ok;
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        ok = m_file.Open(path, diskMode);
        m_streamSize.store(ok ? m_file.GetSize() : 0);
        m_position.store(ok ? m_file.GetPosition() : 0);
    }
    m_navigator.SetSource(ok ? path : std::string(), diskMode, m_videoFormat);
    if (!ok) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_timeLock);
        m_blockTimeValid = false;
        m_cutEndText.clear();
        m_cutEndBrief.clear();
        m_cutEndNoted = false;
    }
    m_output->Clear();
    // The loop plays forward at once; the command is posted before the thread
    // starts so that a command given right after the open is not overwritten.
    PostCommand(kCmdPlay);
    StartLoop(m_mode.load());
    return 1;
}

int CPlayerEngine::StopPlayback() {
    if (IsStreamOpen()) {
        if (!LiveLoopRunning()) {
            StopWorker();
        }
        m_playState.store(kStateReady);
    }
    return 1;
}

// The reader is opened and closed only here on the user-interface thread,
// with the worker stopped, so its open state and path can be read without the
// reader lock (which the worker holds while it waits for the sound device).
int CPlayerEngine::IsStreamOpen() {
    return m_file.IsOpen() ? 1 : 0;
}

std::string CPlayerEngine::GetStreamPath() {
    return m_file.GetPath();
}

uint64_t CPlayerEngine::GetStreamSize() {
    return m_streamSize.load();
}

int CPlayerEngine::GetFrameTime(SYSTEMTIME* out) {
    if (out == nullptr || m_playState.load() == kStateReady) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_timeLock);
    if (!m_blockTimeValid || !TimeIsValid(m_blockTime)) {
        return 0;
    }
    *out = m_blockTime;
    return 1;
}

void CPlayerEngine::PostCommand(int command) {
    m_command.store(command);
    m_commandEvent.Set();
}

int CPlayerEngine::Pause() {
    m_speed.store(SpeedAfterPause(m_speed.load()));
    PostCommand(kCmdPause);
    return 1;
}

int CPlayerEngine::Play(double speed) {
    m_speed.store(ClampPlaySpeed(speed));
    PostCommand(kCmdPlay);
    return 1;
}

int CPlayerEngine::PlayBackward(double speed) {
    m_speed.store(ClampPlaySpeed(speed));
    PostCommand(kCmdPlayBackward);
    return 1;
}

int CPlayerEngine::FastForward() {
    m_speed.store(
        NextFastSpeed(m_speed.load(), m_command.load(), m_playState.load(), kCmdPlay, kStatePlay));
    PostCommand(kCmdPlay);
    return 1;
}

int CPlayerEngine::FastBackward() {
    m_speed.store(NextFastSpeed(m_speed.load(), m_command.load(), m_playState.load(),
                                kCmdPlayBackward, kStatePlayBackward));
    PostCommand(kCmdPlayBackward);
    return 1;
}

int CPlayerEngine::StepForward() {
    m_aviWriter.Rebase();
    PostCommand(kCmdStepForward);
    return 1;
}

int CPlayerEngine::StepBackward() {
    m_aviWriter.Rebase();
    PostCommand(kCmdStepBackward);
    return 1;
}

int CPlayerEngine::Seek(uint64_t position) {
    // Every jump (the slider, Go to Time, the timeline, an event) goes on in
    // an export from where it stands: the stretch skipped is not the export's.
    m_aviWriter.Rebase();
    m_seekPosition.store(position);
    PostCommand(kCmdSeek);
    return 1;
}

int CPlayerEngine::HoldsRecording(const std::string& path, int diskMode, int videoFormat) {
    return CNavigator::HoldsRecording(path, diskMode, videoFormat);
}

uint32_t CPlayerEngine::GetFirstChannelMask() {
    return m_navigator.FirstChannelMask();
}

int CPlayerEngine::FindTime(const SYSTEMTIME& local, TimePlace* out) {
    return m_navigator.FindTime(local, out);
}

int CPlayerEngine::SeekToTime(uint32_t utc, TimePlace* out) {
    TimePlace place;
    const int ok = m_navigator.FindTime(utc, &place) && place.offset >= 0;
    if (out != nullptr) {
        *out = place;
    }
    if (!ok) {
        return 0;
    }
    return Seek(static_cast<uint64_t>(place.offset));
}

int CPlayerEngine::SeekToChannelPicture(int channel, uint64_t offset, uint32_t second,
                                        uint64_t* sought) {
    const int64_t at = m_navigator.FindChannelPicture(channel, offset, second);
    const uint64_t target = at >= 0 ? static_cast<uint64_t>(at) : offset;
    if (sought != nullptr) {
        *sought = target;
    }
    return Seek(target);
}

int CPlayerEngine::GetPicturesAt(uint64_t offset, uint16_t mask, int budgetMs,
                                 std::vector<NavPicture>* out) {
    return m_navigator.PicturesAt(offset, mask, budgetMs, out);
}

int CPlayerEngine::SetRepeat(int flag) {
    m_repeat.store(flag);
    return 1;
}

int CPlayerEngine::ExportRange(uint64_t start, uint64_t end, const std::string& path) {
    std::lock_guard<std::mutex> lock(m_readerLock);
    return m_file.CopyRange(start, end, path);
}

int CPlayerEngine::SetChannelEnable(int channel, int enabled) {
    if (channel < 0 || channel >= 16) {
        return 0;
    }
    m_channelEnable[channel].store(enabled ? 1 : 0);
    return 1;
}

int CPlayerEngine::GetChannelEnable(int channel) const {
    if (channel < 0 || channel >= 16) {
        return 0;
    }
    return m_channelEnable[channel].load();
}

int CPlayerEngine::SetVolume(int volume) {
    m_waveOut.SetVolume(static_cast<unsigned>(volume));
    return 1;
}

int CPlayerEngine::GetVolume() {
    return static_cast<int>(m_waveOut.GetVolume() & 0xFFFF);
}

int CPlayerEngine::SetMute(int flag) {
    m_waveOut.SetMute(flag);
    return 1;
}

int CPlayerEngine::GetMute() {
    return m_waveOut.GetMute();
}

int CPlayerEngine::SetSplit(int split, int page) {
    return m_output->SetSplit(split, page);
}

int CPlayerEngine::GetSplit(int* split, int* page) {
    return m_output->GetSplit(split, page);
}

int CPlayerEngine::SetTimeFormat(const std::string& format) {
    return m_output->SetTimeFormat(format);
}

int CPlayerEngine::SetShowTime(int flag) {
    return m_output->SetShowTime(flag);
}

int CPlayerEngine::GetShowTime() {
    return m_output->GetShowTime();
}

int CPlayerEngine::SetTextColour(COLORREF colour) {
    return m_output->SetTextColour(colour == 0 ? 0x050505 : colour);
}

int CPlayerEngine::SetOutlineColour(COLORREF colour) {
    return m_output->SetOutlineColour(colour == 0 ? 0x050505 : colour);
}

int CPlayerEngine::SetLabelFont(int height, int width, int weight, int italic,
                                const std::string& face) {
    return m_output->SetLabelFont(height, width, weight, italic, face);
}

int CPlayerEngine::SetUseDirectDraw(int flag) {
    return m_output->SetUseDirectDraw(flag);
}

int CPlayerEngine::GetUseDirectDraw() {
    return m_output->GetUseDirectDraw();
}

int CPlayerEngine::SaveImage(const std::string& path) {
    return m_output->SaveImage(path);
}

int CPlayerEngine::SetExport(int active, int kind) {
    if (active) {
        // The export keeps the time of what it shows: a recording's block
        // times while playing one, the clock while live pictures arrive.
        ExportClock clock;
        if (m_mode.load() == kEngineModeLocal) {
            // At x1 forward the file keeps the recording's time; at any other
            // speed or direction it keeps the time the user watched, so that
            // fast play is not stretched back into hours of held pictures.
            clock.read = [this](int* resolutionMs) -> int64_t {
                if (m_playState.load() != kStatePlay || m_speed.load() != 1.0) {
                    *resolutionMs = 1;
                    return static_cast<int64_t>(MediaClockNow());
                }
                SYSTEMTIME t;
                {
                    std::lock_guard<std::mutex> lock(m_timeLock);
                    t = m_frameTime;
                }
                *resolutionMs = 1000;
                return BlockTimeMs(t);
            };
            clock.resolutionMs = 1000;
            const int period = m_framePeriod.load();
            clock.expectedFrameRate =
                PlayerCycleRate(m_channelMask.load(), m_frameGap.load(), m_videoFormat,
                                period == 25000 || period == 12500);
        } else {
            clock.now = [] { return static_cast<int64_t>(MediaClockNow()); };
            clock.resolutionMs = 1;
        }
        m_aviWriter.SetClock(std::move(clock));
    }
    m_exportKind.store(kind);
    m_exportActive.store(active ? 1 : 0);
    return 1;
}

int CPlayerEngine::SignalExportTick() {
    m_exportTickEvent.Set();
    return 1;
}

void CPlayerEngine::SetPictureSink(PictureSink sink) {
    std::lock_guard<std::mutex> lock(m_sinkLock);
    m_sink = std::move(sink);
    m_hasSink.store(static_cast<bool>(m_sink));
}

void CPlayerEngine::SetPictureObserver(PictureObserver observer) {
    std::lock_guard<std::mutex> lock(m_sinkLock);
    m_observer = std::move(observer);
    m_hasObserver.store(static_cast<bool>(m_observer));
}

void CPlayerEngine::RenderPicture(int channel, const SYSTEMTIME& time, const uint8_t* picture,
                                  int width, int height) {
    m_picturesShown.fetch_add(1);
    if (m_hasObserver.load()) {
        std::lock_guard<std::mutex> lock(m_sinkLock);
        if (m_observer) {
            m_observer(channel, m_renderOffset, time, picture, width, height);
        }
    }
    if (m_hasSink.load()) {
        std::lock_guard<std::mutex> lock(m_sinkLock);
        if (m_sink) {
            m_sink(channel, time, picture, width, height);
            return;
        }
    }
    m_output->Render(channel, time, picture, width, height);
}

// Network live view and local recording.

int CPlayerEngine::Connect(const std::string& host, int port, const std::string& user,
                           const std::string& password) {
    m_decoder.SetMode(VF_QZD);
    if (!m_netClient.Connect(host, static_cast<uint16_t>(port), user, password)) {
        return 0;
    }
    StartNetworkLoop();
    return 1;
}

int CPlayerEngine::ConnectDynamic(const std::string& server, int serverPort,
                                  const std::string& name, const std::string& password) {
    m_decoder.SetMode(VF_QZD);
    if (!m_netClient.ConnectDynamic(server, static_cast<uint16_t>(serverPort), name, password)) {
        return 0;
    }
    StartNetworkLoop();
    return 1;
}

void CPlayerEngine::StartNetworkLoop() {
    // The session's packets are read by the network loop alone: a local
    // loop still running from player mode gives way to it.
    if (RunningLoop() == kEngineModeLocal) {
        StopWorker();
    }
    StartLoop(kEngineModeNetwork);
    m_netClient.Start(THREAD_PRIORITY_NORMAL);
}

int CPlayerEngine::Disconnect() {
    m_netClient.Disconnect();
    StopWorker();
    return 1;
}

int CPlayerEngine::IsConnected() {
    return m_netClient.IsConnected();
}

int CPlayerEngine::SendRemoteKey(int code) {
    return m_netClient.SendRemoteKey(code);
}

int CPlayerEngine::SetTimeout(int ms) {
    m_netClient.SetTimeout(static_cast<uint32_t>(ms));
    return 1;
}

int CPlayerEngine::GetTimeout() {
    return static_cast<int>(m_netClient.GetTimeout());
}

int CPlayerEngine::GetNetworkState() {
    return m_netClient.GetNetworkState();
}

// One text with the client: its thread writes why a login or a dynamic-IP
// look-up failed, after Connect has long returned.
std::string CPlayerEngine::GetLastErrorText() {
    return m_netClient.GetLastErrorText();
}

int CPlayerEngine::StartRecording(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_recorderLock);
    if (m_recorder.IsOpen()) {
        m_recorder.Close();
    }
    return m_recorder.Open(path);
}

int CPlayerEngine::StopRecording() {
    std::lock_guard<std::mutex> lock(m_recorderLock);
    if (!m_recorder.IsOpen()) {
        return 0;
    }
    m_recorder.Close();
    return 1;
}

int CPlayerEngine::IsRecording() {
    std::lock_guard<std::mutex> lock(m_recorderLock);
    return m_recorder.IsOpen() ? 1 : 0;
}

std::string CPlayerEngine::GetRecordingErrorText() {
    std::lock_guard<std::mutex> lock(m_recorderLock);
    return m_recorder.GetErrorText();
}

std::string CPlayerEngine::GetCutEndText() {
    std::lock_guard<std::mutex> lock(m_timeLock);
    return m_cutEndText;
}

std::string CPlayerEngine::GetCutEndBrief() {
    std::lock_guard<std::mutex> lock(m_timeLock);
    return m_cutEndBrief;
}

uint64_t CPlayerEngine::GetBytesRecorded() {
    std::lock_guard<std::mutex> lock(m_recorderLock);
    return m_recorder.GetBytesWritten();
}

int CPlayerEngine::SetAutoReconnect(int flag) {
    m_autoReconnect.store(flag);
    return 1;
}

} // namespace tv

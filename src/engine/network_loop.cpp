// The network loop: draws and plays what the network client's thread puts
// into its two frame queues, records it locally and feeds an AVI export.

#include "engine/player_engine.h"

#include "platform/clock.h"

#include <cstring>

namespace tv {

namespace {

// The queues' events wake the loop; the time-out only keeps the wave output
// pumped while nothing arrives.
constexpr uint32_t kNetWaitMs = 20;

SYSTEMTIME TimeFromMetadata(const FrameRecord& r) {
    SYSTEMTIME t;
    std::memcpy(&t, r.metadata, sizeof t);
    return t;
}

} // namespace

int CPlayerEngine::RunNetworkLoop() {
    m_pictures.Reset();
    const uint8_t* lastPicture = nullptr; // the export tick's picture
    m_liveWidth = 0;
    m_liveHeight = 0;
    std::unique_ptr<uint8_t[]> exportFrame(new uint8_t[kLiveExportFrameSize]);
    std::unique_ptr<uint8_t[]> audio(new uint8_t[kEngineNetAudioSize]);
    FrameRecord videoRecord(kNetVideoRecordSize);
    FrameRecord audioRecord(kNetAudioRecordSize);
    IFrameSource* videoQueue = m_netClient.GetVideoSource();
    IFrameSource* audioQueue = m_netClient.GetAudioSource();
    Event* events[4] = {&m_stopEvent, videoQueue->GetReadyEvent(), audioQueue->GetReadyEvent(),
                        &m_exportTickEvent};
    WaveStart();

    auto writeLiveFrame = [&]() {
        if (lastPicture == nullptr || m_liveWidth <= 0 || m_liveHeight <= 0) {
            return;
        }
        m_aviWriter.ConvertLiveFrame(exportFrame.get(), lastPicture, m_liveWidth, m_liveHeight);
        m_aviWriter.WriteVideoFrame(exportFrame.get(), 1);
    };

    while (m_running.load()) {
        const int woke = WaitAny(events, 4, kNetWaitMs);
        if (woke == 0) {
            break;
        }
        if (woke == kWaitTimeout) {
            WavePump();
            continue;
        }
        // Both queues are served on every wake, so a busy video queue never
        // starves the sound.
        if (events[1]->IsSet() && videoQueue->Get(videoRecord)) {
            const uint8_t* p = videoRecord.data;
            const int n = static_cast<int>(videoRecord.length);
            uint8_t* picture = nullptr;
            if (m_decoder.ParseHeader(p, n) != 0 &&
                (picture = m_pictures.For(m_decoder)) != nullptr &&
                m_decoder.Decode(p, n, picture, kEnginePictureSize) != 0) {
                lastPicture = picture;
                m_liveWidth = m_decoder.GetWidth();
                m_liveHeight = m_decoder.GetHeight();
                m_framePeriod.store(FramePeriodUs(m_liveHeight, m_decoder.GetMode()));
                RenderPicture(m_decoder.GetChannel(), TimeFromMetadata(videoRecord), picture,
                              m_liveWidth, m_liveHeight);
                {
                    std::lock_guard<std::mutex> lock(m_recorderLock);
                    if (m_recorder.IsOpen()) {
                        m_recorder.WriteVideo(videoRecord.data, n);
                    }
                }
                if (m_exportActive.load() && m_exportKind.load() == kExportPerPicture) {
                    writeLiveFrame();
                }
            } else {
                m_refusedPictures.fetch_add(1);
            }
        }
        if (events[2]->IsSet() && audioQueue->Get(audioRecord)) {
            m_audioReceived.fetch_add(1);
            const int n = static_cast<int>(audioRecord.length);
            // Commands are not read here: a stop, or a device that has stopped
            // draining, ends the wait for room. So does a picture waiting: a
            // recorder whose sound runs ahead of the sound card would
            // otherwise hold the pictures back until their queue overflows,
            // and a picture lost there is lost to the local recording too.
            // The sound that does not fit is the surplus; it is still recorded.
            Event* videoReady = events[1];
            if (WriteSound(audioRecord.data, n, audio.get(), false,
                           [this, videoReady] { return StopRequested() || videoReady->IsSet(); })) {
                m_audioPlayed.fetch_add(1);
            }
            if (m_exportActive.load()) {
                m_aviWriter.WriteAudio(audioRecord.data, n);
                Sleep(10);
            }
            std::lock_guard<std::mutex> lock(m_recorderLock);
            if (m_recorder.IsOpen()) {
                m_recorder.WriteAudio(audioRecord.data, n);
            }
        }
        if (events[3]->IsSet()) {
            m_exportTickEvent.Reset();
            if (m_exportActive.load() && m_exportKind.load() == kExportPerTick) {
                writeLiveFrame();
                Sleep(10);
            }
        }
        WavePump();
    }

    std::lock_guard<std::mutex> lock(m_recorderLock);
    if (m_recorder.IsOpen()) {
        m_recorder.Close();
    }
    return 1;
}

} // namespace tv

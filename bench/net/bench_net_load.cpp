// Load run: the simulator sends 8 channels of 640 x 272 pictures at 25 fps
// (about 20 Mbit/s) to a client whose consumer keeps up. Counts packets sent
// and received (none may be lost) and the client thread's CPU time per
// megabyte. Usage: bench_net_load [seconds] (default 30).

#include "dvrsim/dvr_sim.h"
#include "net/net_client.h"
#include "platform/event.h"
#include "worker/frame_queue.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace tv;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    DvrSimOptions o;
    o.password = "load";
    o.channels = 8;
    o.fps = 25;
    o.quant = 2; // about 12 KB a picture
    o.statusEveryMs = 1000;
    o.stallAfterMs = seconds * 1000; // then silence, the connection kept
    CDvrSim sim(o);
    std::printf("encoding the pictures...\n");
    sim.PreparePictures();
    if (!sim.Start()) {
        std::fprintf(stderr, "dvrsim: %s\n", sim.GetError().c_str());
        return 1;
    }

    CNetClient client;
    client.SetTimeout(static_cast<uint32_t>(seconds + 60) * 1000);
    client.Connect("127.0.0.1", sim.GetPort(), "", "load");

    // The consumer: waits on both ready events like the engine's network loop.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> gotVideo{0}, gotAudio{0}, gotBytes{0};
    std::thread consumer([&] {
        FrameRecord video(CNetClient::kVideoRecordSize);
        FrameRecord audio(CNetClient::kAudioRecordSize);
        Event* events[2] = {client.GetVideoSource()->GetReadyEvent(),
                            client.GetAudioSource()->GetReadyEvent()};
        while (!stop.load()) {
            const int which = WaitAny(events, 2, 50);
            if (which == 0 && client.GetVideoSource()->Get(video)) {
                gotVideo.fetch_add(1);
                gotBytes.fetch_add(video.length);
            } else if (which == 1 && client.GetAudioSource()->Get(audio)) {
                gotAudio.fetch_add(1);
                gotBytes.fetch_add(audio.length);
            }
        }
    });
    client.Start();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    // Let the last packets through: the simulator has gone quiet.
    for (int i = 0; i < 200; ++i) {
        const DvrSimStats s = sim.GetStats();
        // A picture ends only at the next picture's start code and a sound
        // packet at the next start code of any kind: the last of each stays
        // in the client's assemblies when the stream goes quiet.
        if (gotVideo.load() + 1 >= s.videoPackets && gotAudio.load() + 1 >= s.audioPackets) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const NetStats cs = client.GetStats();
    client.Disconnect();
    stop.store(true);
    consumer.join();
    sim.Stop();

    const DvrSimStats ss = sim.GetStats();
    const double mb = static_cast<double>(cs.bytesReceived) / 1e6;
    std::printf("sent:     %llu video, %llu audio packets, %.1f MB (%.1f Mbit/s over %d s)\n",
                static_cast<unsigned long long>(ss.videoPackets),
                static_cast<unsigned long long>(ss.audioPackets),
                static_cast<double>(ss.bytesSent) / 1e6,
                static_cast<double>(ss.bytesSent) * 8 / 1e6 / seconds, seconds);
    std::printf(
        "received: %llu video, %llu audio packets, %.1f MB; dropped %llu video, %llu audio\n",
        static_cast<unsigned long long>(gotVideo.load()),
        static_cast<unsigned long long>(gotAudio.load()), mb,
        static_cast<unsigned long long>(cs.videoDropped),
        static_cast<unsigned long long>(cs.audioDropped));
    std::printf("client queued %llu video, %llu audio; bytes received %llu, sent %llu\n",
                static_cast<unsigned long long>(cs.videoPackets),
                static_cast<unsigned long long>(cs.audioPackets),
                static_cast<unsigned long long>(cs.bytesReceived),
                static_cast<unsigned long long>(ss.bytesSent));
    std::printf("stream bytes that came with the login answer (not looked at): %llu\n",
                static_cast<unsigned long long>(cs.bytesAfterAnswer));
    std::printf("client thread CPU: %.3f s for %.1f MB = %.2f ms per MB (%.1f%% of one core)\n",
                static_cast<double>(cs.threadCpuMicros) / 1e6, mb,
                static_cast<double>(cs.threadCpuMicros) / 1e3 / mb,
                100.0 * static_cast<double>(cs.threadCpuMicros) / 1e6 / wall);
    const bool lost = gotVideo.load() + 1 < ss.videoPackets ||
                      gotAudio.load() + 1 < ss.audioPackets || cs.videoDropped != 0 ||
                      cs.audioDropped != 0;
    std::printf(
        "%s\n",
        lost ? "LOST PACKETS"
             : "none lost (the last picture and the last sound packet wait in the assemblies)");
    return lost ? 1 : 0;
}

#pragma once

#include "platform/thread_pool.h"
#include "video/video_decoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tv {

// Decodes runs of video packets of many channels on several threads. Each of
// the 16 picture slots has its own decoder and picture buffer, kept from run
// to run as the player keeps a channel's picture; the packets of one slot are
// decoded in the order they were added, and different slots at the same time.
// The pictures are exactly those of one decoder working through the packets
// in order with one buffer per slot, whatever the number of threads.
class CParallelDecoder {
public:
    static constexpr int kSlots = 16;

    // threads as for CThreadPool (0: one per processor); variant as for
    // CVideoDecoder::ForceVariant.
    CParallelDecoder(int threads, int videoFormat, int variant = -1);

    int Threads() const { return m_pool.Threads(); }

    // Queues a copy of a packet for slot (0..15; taken modulo 16). Returns
    // its index in the run.
    size_t Add(const uint8_t* packet, int length, int slot);
    size_t Size() const { return m_count; }

    // Parses and decodes every queued packet, then calls done(index, decoder,
    // picture, result) on the same thread, after that packet and before the
    // next packet of its slot: decoder holds the packet's parse, picture the
    // slot's buffer, result is Decode's (0 also when the parse refused it).
    // done runs on several threads at once for different slots. Empties the
    // queue.
    using Done = std::function<void(size_t index, const CVideoDecoder& decoder,
                                    const uint8_t* picture, int result)>;
    void Run(const Done& done);

private:
    struct Item {
        std::vector<uint8_t> packet;
        int length = 0;
        int slot = 0;
    };
    struct Slot {
        CVideoDecoder decoder;
        std::vector<uint8_t> picture;
        std::vector<size_t> items;
    };

    CThreadPool m_pool;
    std::unique_ptr<Slot> m_slots[kSlots];
    std::vector<Item> m_items; // reused from run to run
    size_t m_count = 0;
};

} // namespace tv

#include "video/parallel_decoder.h"

#include <cstring>

namespace tv {

CParallelDecoder::CParallelDecoder(int threads, int videoFormat, int variant) : m_pool(threads) {
    for (auto& s : m_slots) {
        s = std::make_unique<Slot>();
        s->decoder.SetMode(videoFormat);
        if (variant >= 0)
            s->decoder.ForceVariant(variant);
    }
}

size_t CParallelDecoder::Add(const uint8_t* packet, int length, int slot) {
    if (m_count == m_items.size())
        m_items.emplace_back();
    Item& item = m_items[m_count];
    item.packet.assign(packet, packet + (length > 0 ? length : 0));
    item.length = length;
    item.slot = slot & (kSlots - 1);
    m_slots[item.slot]->items.push_back(m_count);
    return m_count++;
}

void CParallelDecoder::Run(const Done& done) {
    int busy[kSlots];
    int n = 0;
    for (int s = 0; s < kSlots; ++s) {
        if (!m_slots[s]->items.empty())
            busy[n++] = s;
    }
    m_pool.Run(n, [&](int task) {
        Slot& slot = *m_slots[busy[task]];
        if (slot.picture.empty())
            slot.picture.assign(CVideoDecoder::kMaxPictureBytes, 0);
        for (const size_t i : slot.items) {
            const Item& item = m_items[i];
            const uint8_t* p = item.packet.data();
            int result = 0;
            if (slot.decoder.ParseHeader(p, item.length))
                result =
                    slot.decoder.Decode(p, item.length, slot.picture.data(), slot.picture.size());
            done(i, slot.decoder, slot.picture.data(), result);
        }
        slot.items.clear();
    });
    m_count = 0;
}

} // namespace tv

#include "worker/frame_queue.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tv {

FrameRecord::FrameRecord(uint32_t cap) {
    AllocateData(cap);
}

bool FrameRecord::AllocateData(uint32_t cap) {
    m_storage.reset(new (std::nothrow) uint8_t[cap]);
    data = m_storage.get();
    capacity = data ? cap : 0;
    length = 0;
    return data != nullptr;
}

void CFrameQueue::RecordList::Reserve(size_t n) {
    std::vector<FrameRecord*> slots(n);
    for (size_t i = 0; i < m_count; ++i) {
        slots[i] = m_slots[(m_head + i) % m_slots.size()];
    }
    m_slots.swap(slots);
    m_head = 0;
}

void CFrameQueue::RecordList::PushBack(FrameRecord* r) {
    m_slots[(m_head + m_count) % m_slots.size()] = r;
    ++m_count;
}

void CFrameQueue::RecordList::PushFront(FrameRecord* r) {
    m_head = (m_head + m_slots.size() - 1) % m_slots.size();
    m_slots[m_head] = r;
    ++m_count;
}

FrameRecord* CFrameQueue::RecordList::PopFront() {
    FrameRecord* r = m_slots[m_head];
    m_head = (m_head + 1) % m_slots.size();
    --m_count;
    return r;
}

CFrameQueue::CFrameQueue(std::string name) : m_name(std::move(name)) {}

CFrameQueue::~CFrameQueue() = default;

int CFrameQueue::Allocate(uint32_t capacity, uint32_t count) {
    CsLock lock(m_lock);
    const uint32_t recordCap = std::max<uint32_t>(capacity, 16);
    const size_t total = m_records.size() + count;
    m_ready.Reserve(total);
    m_free.Reserve(total);
    int result = 1;
    for (uint32_t i = 0; i < count; ++i) {
        auto rec = std::unique_ptr<FrameRecord>(new (std::nothrow) FrameRecord());
        if (!rec || !rec->AllocateData(recordCap)) {
            result = 0;
            break;
        }
        rec->creationTick = GetTickCount();
        m_free.PushBack(rec.get());
        m_records.push_back(std::move(rec));
    }
    m_recordCount = static_cast<uint32_t>(m_records.size());
    m_spaceEvent.Set();
    return result;
}

int CFrameQueue::Put(const FrameRecord& source) {
    CsLock lock(m_lock);
    if (m_free.Empty()) {
        return 0;
    }
    FrameRecord* rec = m_free.PopFront();
    if (rec->capacity < source.length) {
        m_free.PushFront(rec);
        return 0;
    }
    if (source.length > 0) {
        std::memcpy(rec->data, source.data, source.length);
    }
    std::memcpy(rec->metadata, source.metadata, kFrameMetadataSize);
    rec->word = source.word;
    rec->length = source.length;
    m_ready.PushBack(rec);
    m_readyEvent.Set();
    if (m_ready.Size() == m_recordCount) {
        m_spaceEvent.Reset();
    }
    m_lastPutTick = GetTickCount();
    return 1;
}

int CFrameQueue::Get(FrameRecord& dest) {
    CsLock lock(m_lock);
    if (m_ready.Empty()) {
        return 0;
    }
    FrameRecord* rec = m_ready.PopFront();
    if (m_ready.Empty()) {
        m_readyEvent.Reset();
    }
    // The destination is sized for the queue's records; never write past it.
    const uint32_t n = std::min(rec->length, dest.capacity);
    if (n > 0) {
        std::memcpy(dest.data, rec->data, n);
    }
    std::memcpy(dest.metadata, rec->metadata, kFrameMetadataSize);
    dest.length = n;
    m_free.PushBack(rec);
    m_spaceEvent.Set();
    return 1;
}

uint32_t CFrameQueue::GetRecordCapacity() const {
    CsLock lock(m_lock);
    return m_records.empty() ? 0 : m_records.front()->capacity;
}

uint32_t CFrameQueue::GetReadyCount() const {
    CsLock lock(m_lock);
    return static_cast<uint32_t>(m_ready.Size());
}

uint32_t CFrameQueue::GetFreeCount() const {
    CsLock lock(m_lock);
    return static_cast<uint32_t>(m_free.Size());
}

} // namespace tv

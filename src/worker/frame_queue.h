#pragma once

#include "platform/critical_section.h"
#include "platform/event.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tv {

constexpr uint32_t kFrameMetadataSize = 32;

// One frame packet in memory. The first 16 metadata bytes hold the frame's
// time stamp as a SYSTEMTIME.
struct FrameRecord {
    FrameRecord() = default;
    explicit FrameRecord(uint32_t cap);
    FrameRecord(const FrameRecord&) = delete;
    FrameRecord& operator=(const FrameRecord&) = delete;

    // (Re)allocates the data buffer; false when memory is short.
    bool AllocateData(uint32_t cap);

    uint8_t* data = nullptr;
    uint32_t word = 0; // copied by Put, not handed out by Get
    uint32_t capacity = 0;
    uint32_t length = 0;
    uint32_t unused[2] = {0, 0};
    uint8_t metadata[kFrameMetadataSize] = {};
    uint32_t creationTick = 0;
    uint32_t reserved[2] = {0, 0};

private:
    std::unique_ptr<uint8_t[]> m_storage;
};

// What the network loop consumes: a ready event to wait on and Get.
class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    virtual Event* GetReadyEvent() = 0;
    virtual int Get(FrameRecord& dest) = 0;
};

// Bounded queue of preallocated records between one producer and one
// consumer. A full queue drops new packets instead of blocking the producer.
class CFrameQueue : public IFrameSource {
public:
    explicit CFrameQueue(std::string name = "Default");
    ~CFrameQueue() override;

    Event* GetReadyEvent() override { return &m_readyEvent; }
    int Get(FrameRecord& dest) override;

    int Allocate(uint32_t capacity, uint32_t count);
    int Put(const FrameRecord& source);

    Event* GetSpaceEvent() { return &m_spaceEvent; }
    const std::string& GetName() const { return m_name; }
    uint32_t GetRecordCount() const { return m_recordCount; }
    uint32_t GetRecordCapacity() const;
    uint32_t GetReadyCount() const;
    uint32_t GetFreeCount() const;

private:
    // A ring of record pointers sized once in Allocate; no allocation while frames flow.
    class RecordList {
    public:
        void Reserve(size_t n);
        bool Empty() const { return m_count == 0; }
        size_t Size() const { return m_count; }
        void PushBack(FrameRecord* r);
        void PushFront(FrameRecord* r);
        FrameRecord* PopFront();

    private:
        std::vector<FrameRecord*> m_slots;
        size_t m_head = 0;
        size_t m_count = 0;
    };

    std::string m_name;
    mutable CriticalSection m_lock;
    Event m_readyEvent;
    Event m_spaceEvent;
    RecordList m_ready;
    RecordList m_free;
    std::vector<std::unique_ptr<FrameRecord>> m_records;
    uint32_t m_recordCount = 0;
    uint32_t m_lastPutTick = 0;
};

} // namespace tv

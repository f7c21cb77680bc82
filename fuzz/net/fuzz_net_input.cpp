// Arbitrary recorder bytes, in arbitrary receive sizes, through the live-stream
// demultiplexer and the login and dynamic-IP answer handling. The first input
// byte seeds the receive sizes.

#include "net/net_message.h"
#include "net/stream_demuxer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace tv;

void Require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

// Checks every packet and folds it into a running hash, so that two ways of
// feeding the same bytes can be compared.
struct CheckingSink : IDemuxSink {
    uint64_t hash = 1469598103934665603ull;
    uint64_t count = 0;
    void Fold(int kind, const uint8_t* p, size_t n) {
        hash = (hash ^ static_cast<uint64_t>(kind)) * 1099511628211ull;
        for (size_t i = 0; i < n; ++i) {
            hash = (hash ^ p[i]) * 1099511628211ull;
        }
        ++count;
    }
    void OnVideoPacket(const FrameRecord& p) override {
        Fold(1, p.data, p.length);
        Require(p.length > 4 && p.length <= CStreamDemuxer::kVideoCapacity);
        Require(p.data[0] == 0 && p.data[1] == 0 && p.data[2] == 1);
        Require(p.data[3] == 0xF8 || p.data[3] == 0xF9);
    }
    void OnAudioPacket(const FrameRecord& p) override {
        Fold(2, p.data, p.length);
        Require(p.length > 0 && p.length <= CStreamDemuxer::kAudioCapacity);
    }
    void OnControlMessage(const uint8_t* m, uint32_t n) override {
        Fold(3, m, n);
        Require(n >= kControlHeaderSize && n <= kControlMaxSize);
        Require(m[0] == 0 && m[1] == 0 && m[2] == 1 && m[3] == kControlStartByte);
        Require(GetHex16(m + 4) == n);
    }
};

class Chunker {
public:
    explicit Chunker(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    size_t Next(size_t left) {
        m_state = m_state * 1103515245u + 12345u;
        const size_t pick = (m_state >> 16) % 8;
        // Mostly tiny receives, which split start codes and fields, now and
        // then big ones.
        const size_t n = pick < 5 ? 1 + pick : 1 + (m_state >> 8) % 4096;
        return n < left ? n : left;
    }

private:
    uint32_t m_state;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint32_t seed = data[0];
    ++data;
    --size;

    static CheckingSink sink;
    static CStreamDemuxer demuxer(&sink);
    static CheckingSink refSink;
    static CStreamDemuxer reference(&refSink);
    sink = CheckingSink();
    refSink = CheckingSink();
    demuxer.Reset();
    reference.Reset();
    Chunker chunks(seed);
    for (size_t pos = 0; pos < size;) {
        const size_t n = chunks.Next(size - pos);
        demuxer.Feed(data + pos, n);
        pos += n;
    }
    // Byte by byte, all in one receive: the same packets.
    reference.FeedBytewise(data, size);
    Require(sink.count == refSink.count && sink.hash == refSink.hash);

    // The login answer, gathered as the client gathers it.
    static std::vector<uint8_t> buf(32768);
    size_t have = 0;
    Chunker loginChunks(seed + 1);
    for (size_t pos = 0; pos < size;) {
        size_t n = loginChunks.Next(size - pos);
        n = n < buf.size() - have ? n : buf.size() - have;
        if (n == 0) {
            break;
        }
        std::memcpy(buf.data() + have, data + pos, n);
        have += n;
        pos += n;
        const size_t before = have;
        const LoginAnswerResult r = TakeLoginAnswer(buf.data(), have);
        Require(have <= before);
        if (r.answer == LoginAnswer::Refused) {
            Require(std::strlen(RefusalText(r.reason)) > 0);
        }
        if (r.answer != LoginAnswer::NeedMore) {
            break;
        }
    }

    // The dynamic-IP answer.
    std::string host;
    uint16_t port = 0;
    for (size_t n = 0; n <= size && n <= 16; ++n) {
        if (ParseDdnsAnswer(data, n, host, port) == DdnsAnswer::Ok) {
            uint32_t addr = 0;
            Require(ParseIpv4(host, addr));
            break;
        }
    }
    return 0;
}

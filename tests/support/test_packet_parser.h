// A small start-code format of our own that drives the packet assembler by itself, for tests,
// benchmarks and fuzzing of the base parser:
//   00 00 01 E1 (video) or 00 00 01 E2 (audio), the payload length n (24 bits, little-endian),
//   a flags byte (bit 0: depends on earlier frames), then n payload bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "demux/stream_parser.h"

namespace tavix::test {

class TestPacketParser : public StreamParser {
  public:
    static constexpr uint32_t kVideoCode = 0x000001E1;
    static constexpr uint32_t kAudioCode = 0x000001E2;
    static constexpr int kHeaderBytes = 4;

    // Without `searchHint` the assembler calls IsStartCode at every byte.
    explicit TestPacketParser(uint8_t* buffer, bool searchHint = true) : StreamParser(buffer) {
        if (searchHint) SetSearchHint(0x01, 2);
    }

    bool IsStartCode(uint32_t value) const override {
        return value == kVideoCode || value == kAudioCode;
    }

    int ParseHeader() override {
        if (avail < kHeaderBytes) return 0;
        FrameInfo* frame = TakeRecord();
        uint32_t n = cursor[0] | cursor[1] << 8 | cursor[2] << 16;
        frame->packet = cursor - 4;
        frame->payload = cursor + kHeaderBytes;
        frame->packetLength = static_cast<int32_t>(n) + 4 + kHeaderBytes;
        frame->payloadLength = static_cast<int32_t>(n);
        frame->kind = code == kVideoCode ? kKindVideo : kKindAudio;
        frame->dependent = cursor[3] & 1;
        frame->codec = kCodecH264;
        need = n;
        cursor += kHeaderBytes;
        avail -= kHeaderBytes;
        current = frame;
        return 1;
    }

    int CheckNext() override {
        static constexpr uint32_t kCodes[] = {kVideoCode, kAudioCode};
        return MatchNextStartCode(kCodes);
    }
};

// One packet of the test format.
inline std::vector<uint8_t> TestPacket(uint32_t startCode, const std::vector<uint8_t>& payload,
                                       bool dependent = false) {
    constexpr size_t kHeader = 8;
    auto n = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> packet(kHeader + payload.size());
    const uint8_t header[kHeader] = {0,
                                     0,
                                     1,
                                     static_cast<uint8_t>(startCode),
                                     static_cast<uint8_t>(n),
                                     static_cast<uint8_t>(n >> 8),
                                     static_cast<uint8_t>(n >> 16),
                                     static_cast<uint8_t>(dependent ? 1 : 0)};
    std::copy(header, header + kHeader, packet.begin());
    std::copy(payload.begin(), payload.end(), packet.begin() + kHeader);
    return packet;
}

}  // namespace tavix::test

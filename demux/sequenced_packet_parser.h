// The device's sequenced packets (format type 5): video packets 00 00 01 F2 that each carry the
// next 1024 bytes of an MPEG-4 Visual elementary stream with a sequence number and the picture
// size and rate, and audio packets 00 00 01 F0.
//
// The packets are cut in a buffer of the parser's own; the video slices of an unbroken sequence
// are fed to an inner Mpeg4EsParser (sequenced mode, on the work buffer it is given), which cuts
// the pictures and gives them the size and rate of the packet in which each one began. A gap in
// the sequence or a damaged packet drops the picture being gathered; the sequence restarts with
// the next packet. Audio packets are handed on as they are.
//
// Frames come from the inner parser: a frame and its bytes stay valid until the next Feed or
// Reset; frames not fetched by then are discarded, as with every parser.
#pragma once

#include <cstdint>
#include <memory>

#include "demux/mpeg4_es_parser.h"
#include "demux/stream_parser.h"

namespace tavix {

class SequencedPacketParser : public StreamParser {
  public:
    static constexpr uint32_t kOwnBufferSize = 655360;

    // `innerBuffer`: the work buffer (kWorkBufferSize bytes) lent to the inner parser.
    explicit SequencedPacketParser(uint8_t* innerBuffer);
    ~SequencedPacketParser() override;

    bool IsStartCode(uint32_t code) const override;
    int ParseHeader() override;
    int CheckNext() override;

    int Feed(const uint8_t* data, int length) override;
    FrameInfo* NextFrame() override;
    FrameInfo* NextKeyFrame() override;
    int ReadyCount() const override;
    int Reset(int mode) override;

  private:
    SequencedPacketParser(uint8_t* innerBuffer, std::unique_ptr<uint8_t[]> ownBuffer);

    std::unique_ptr<uint8_t[]> ownBuffer;  // the packets' work buffer, kOwnBufferSize bytes
    std::unique_ptr<Mpeg4EsParser> inner;
    // A video packet was taken since the start, a gap or a Reset: lastSequence holds its number
    // (0 is a number like any other).
    bool sequenceStarted = false;
};

}  // namespace tavix

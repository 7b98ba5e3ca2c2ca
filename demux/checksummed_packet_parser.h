// The device's checksummed packets (format type 8): the magic "ZQMF", a 20-byte header with the
// packet type, a sequence number, the packet length and a checksum, an extension, the payload and
// an 8-byte trailer. Key video packets say in their extension the picture size, rate and codec.
//
// What the stream says is checked before it is used: a header whose checksum fails gives a
// damaged frame of other data and its bytes are scanned again; a packet length shorter than its
// own header or with more than kMaxFrameBytes behind it, or an extension too short for the fields
// of its packet type, or an extension layout or codec this parser does not know gives a damaged
// frame (payloadLength 0). Text payloads ("TEXT") are bounded by payloadLength; no terminating zero
// is written into the fed bytes. Frames and their bytes stay valid as StreamParser says.
#pragma once

#include <cstdint>

#include "demux/stream_parser.h"

namespace tavix {

class ChecksummedPacketParser : public StreamParser {
  public:
    explicit ChecksummedPacketParser(uint8_t* buffer);

    bool IsStartCode(uint32_t code) const override { return code == kMagic; }
    int ParseHeader() override;
    int CheckNext() override;

    static constexpr uint32_t kMagic = 0x5A514D46;  // "ZQMF"

  private:
    // Reads the fields of the packet type into `frame`; false when the packet cannot be read.
    bool ReadKeyVideo(FrameInfo* frame, const uint8_t* h, int extension);

    int32_t videoCodec = kCodecMpeg4;  // codec of the dependent packets, from the last key packet
    bool damaged = false;              // the packet being gathered comes out damaged
};

}  // namespace tavix

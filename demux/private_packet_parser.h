// The device's private start-code packets (format types 4 and 6, and the stream an ASF file
// carries): key video 00 00 01 FD (H.264), FB (MPEG-4 Visual) and FE (a codec not decoded) with
// a 12-byte header holding size, rate and time; dependent video FC (H.264) and FA (MPEG-4) with
// a 4-byte header and a sequence counter; audio F0; other data F1.
//
// A dependent packet whose counter is neither the previous one, the next one, nor 0 after 255
// comes out damaged (payloadLength 0), and its payload is scanned again for packets. Frames and
// their bytes stay valid as StreamParser says.
#pragma once

#include <cstdint>

#include "demux/stream_parser.h"

namespace tavix {

class PrivatePacketParser : public StreamParser {
  public:
    // `buffer`: the work buffer of `bufferSize` bytes, lent.
    explicit PrivatePacketParser(uint8_t* buffer, uint32_t bufferSize = kWorkBufferSize);

    bool IsStartCode(uint32_t code) const override;
    int ParseHeader() override;
    int CheckNext() override;

  private:
    bool damaged =
        false;  // the packet being gathered comes out damaged (sequence gap, lying length)
};

}  // namespace tavix

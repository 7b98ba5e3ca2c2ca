// The device's checksummed packets: "ZQMF", a 20-byte header (type FD key / FC dependent,
// 32-bit sequence number, packet length from the magic to the trailer, packed time, extension
// length, checksum of the header), an extension (key frames: size, structure, codec 8 = H.264
// or 1 = MPEG-4 Visual, and rate in two 4-byte items tagged 0x80 and 0x81), the payload and an
// 8-byte trailer.
#pragma once

#include "tools/sim/container_writer.h"

namespace tavix::sim {

class ChecksummedPacketWriter : public ContainerWriter {
  public:
    void Write(const VideoFrame& frame, Bytes& out) override;

    static constexpr size_t kHeader = 24;  // magic and header
    static constexpr size_t kTrailer = 8;
    static constexpr size_t kKeyExtension = 8;

  private:
    uint32_t sequence = 1;  // 0 would read as "none seen yet"
};

// (sum of the 19 header bytes after the magic + 35) modulo 256.
uint8_t ChecksummedHeaderSum(const uint8_t* headerAfterMagic);

}  // namespace tavix::sim

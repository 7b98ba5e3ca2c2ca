// The device's private packets: a key frame as 00 00 01 FD (H.264) or FB (MPEG-4 Visual) with a
// 12-byte header (rate, size in 8-pixel units, packed time, 24-bit length, sequence counter),
// every other frame as 00 00 01 FC or FA with a 4-byte header (24-bit length, counter). The counter
// goes up by one per packet and wraps from 255 to 0.
#pragma once

#include "tools/sim/container_writer.h"

namespace tavix::sim {

class PrivatePacketWriter : public ContainerWriter {
  public:
    void Write(const VideoFrame& frame, Bytes& out) override;

    // Longest payload the 24-bit length can state.
    static constexpr size_t kMaxPayload = 0xFFFFFF;

  private:
    uint8_t sequence = 0;
};

}  // namespace tavix::sim

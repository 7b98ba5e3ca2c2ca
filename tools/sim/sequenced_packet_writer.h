// The device's sequenced packets, which carry MPEG-4 Visual only: the elementary stream cut into
// slices of 1024 bytes, each in a video packet 00 00 01 F2 with a 12-byte header (frame rate,
// size in 16-pixel units, packed time, a 32-bit sequence number counting from 1). Slices do not
// follow picture boundaries: the bytes of a picture that do not fill a slice go out with the
// next picture's.
#pragma once

#include "tools/sim/container_writer.h"

namespace tavix::sim {

class SequencedPacketWriter : public ContainerWriter {
  public:
    void Write(const VideoFrame& frame, Bytes& out) override;

    static constexpr size_t kSlice = 1024;
    static constexpr size_t kHeader = 16;  // start code and header

  private:
    Bytes pending;  // elementary stream bytes not yet in a slice
    uint32_t sequence = 1;
};

// Whether the header can state the size: multiples of 16, at most 1008 x 2032.
bool SequencedSizeFits(int width, int height);

}  // namespace tavix::sim

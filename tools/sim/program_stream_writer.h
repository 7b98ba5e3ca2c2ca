// MPEG-2 program stream as the device writes it: one pack per frame, the frame in one video PES
// packet (stream id E0, with its PTS). Packs that begin a key frame also carry a system header
// and a program stream map; the map's first descriptor is the device's own and holds, 80 and 81
// bytes behind the pack start code (bytes 84 and 85 of the pack), the picture-size code and the
// frame rate.
//
// A frame too large for one PES packet is split as the device splits it: a first packet of
// length 65532, then packets straight after it (no pack header; PTS and DTS) carrying middle
// pieces of 65510, 65512 or 65522 bytes, and a last piece of any other length.
//
// The frames are H.264 or MPEG-4 Visual, as the map's stream type says; both are split alike.
#pragma once

#include "tools/sim/container_writer.h"

namespace tavix::sim {

class ProgramStreamWriter : public ContainerWriter {
  public:
    void Write(const VideoFrame& frame, Bytes& out) override;

    // Payload of one PES packet at most: its 16-bit length also counts the 3 flag bytes and
    // the 5-byte PTS.
    static constexpr size_t kMaxPesPayload = 0xFFFF - 8;
    static constexpr size_t kSplitLength = 65532;  // PES length that says "continued"
    static constexpr size_t kMiddlePieces[] = {65510, 65512, 65522};
    static constexpr size_t kSizeCodeAt = 84;  // in a key frame's pack, from its first byte

  private:
    void WritePack(uint64_t scr, Bytes& out);
    void WriteSystemHeader(Bytes& out);
    void WriteMap(int sizeCode, int frameRate, uint8_t streamType, Bytes& out);
    // `stuffing` bytes of 0xFF after the PTS move the PES length off a value that means more.
    void WritePes(uint64_t pts, const uint8_t* data, size_t size, size_t stuffing, Bytes& out);
    void WriteContinuation(uint64_t pts, const uint8_t* data, size_t size, Bytes& out);
};

// The device's picture-size code for a size, or -1 when the program stream cannot state it.
int ProgramStreamSizeCode(int width, int height);
// The sizes it can state, as "WxH, WxH, ...", for messages.
std::string ProgramStreamSizes();

// CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, initial value all ones, no final xor).
uint32_t MpegCrc32(const uint8_t* data, size_t length);

}  // namespace tavix::sim

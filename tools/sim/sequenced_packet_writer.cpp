#include "tools/sim/sequenced_packet_writer.h"

namespace tavix::sim {

void SequencedPacketWriter::Write(const VideoFrame& frame, Bytes& out) {
    pending.insert(pending.end(), frame.data, frame.data + frame.size);
    size_t at = 0;
    for (; pending.size() - at >= kSlice; at += kSlice) {
        out.insert(out.end(), {0x00, 0x00, 0x01, 0xF2, 0x00});
        out.push_back(static_cast<uint8_t>((frame.frameRate & 0x1F) << 3));
        PutLe16(out, static_cast<uint16_t>((frame.width / 16) << 3 | (frame.height / 16) << 9));
        PutLe32(out, PackedTime(frame.time));
        PutLe32(out, sequence++);
        out.insert(out.end(), pending.begin() + static_cast<ptrdiff_t>(at),
                   pending.begin() + static_cast<ptrdiff_t>(at + kSlice));
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(at));
}

bool SequencedSizeFits(int width, int height) {
    return width > 0 && height > 0 && width % 16 == 0 && height % 16 == 0 && width / 16 < 64 &&
           height / 16 < 128;
}

}  // namespace tavix::sim

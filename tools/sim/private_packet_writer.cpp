#include "tools/sim/private_packet_writer.h"

#include <algorithm>

namespace tavix::sim {

void PrivatePacketWriter::Write(const VideoFrame& frame, Bytes& out) {
    size_t length = std::min(frame.size, kMaxPayload);
    out.insert(out.end(), {0x00, 0x00, 0x01, static_cast<uint8_t>(frame.key ? 0xFD : 0xFC)});
    if (frame.key) {
        out.push_back(0);  // variant
        out.push_back(static_cast<uint8_t>(frame.frameRate & 0x1F));
        out.push_back(static_cast<uint8_t>(frame.width / 8));
        out.push_back(static_cast<uint8_t>(frame.height / 8));
        PutLe32(out, PackedTime(frame.time));
    }
    PutLe24(out, static_cast<uint32_t>(length));
    out.push_back(sequence++);
    out.insert(out.end(), frame.data, frame.data + length);
}

}  // namespace tavix::sim

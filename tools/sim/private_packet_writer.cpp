#include "tools/sim/private_packet_writer.h"

#include <algorithm>

namespace tavix::sim {

void PrivatePacketWriter::Write(const VideoFrame& frame, Bytes& out) {
    size_t length = std::min(frame.size, kMaxPayload);
    const bool mpeg4 = frame.codec == VideoCodec::kMpeg4;
    const uint8_t id = frame.key ? (mpeg4 ? 0xFB : 0xFD) : (mpeg4 ? 0xFA : 0xFC);
    out.insert(out.end(), {0x00, 0x00, 0x01, id});
    if (frame.key) {
        out.push_back(0);  // variant
        out.push_back(static_cast<uint8_t>(frame.frameRate & 0x1F));
        out.push_back(SizeByte(frame.width));
        out.push_back(SizeByte(frame.height));
        PutLe32(out, PackedTime(frame.time));
    }
    PutLe24(out, static_cast<uint32_t>(length));
    out.push_back(sequence++);
    out.insert(out.end(), frame.data, frame.data + length);
}

}  // namespace tavix::sim

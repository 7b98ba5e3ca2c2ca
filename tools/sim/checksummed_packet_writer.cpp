#include "tools/sim/checksummed_packet_writer.h"

namespace tavix::sim {
namespace {

constexpr uint8_t kCodecH264 = 8;
constexpr uint8_t kCodecMpeg4 = 1;
constexpr uint8_t kStructureFrame = 0;

}  // namespace

uint8_t ChecksummedHeaderSum(const uint8_t* headerAfterMagic) {
    unsigned sum = 35;
    for (int i = 0; i < 19; ++i)
        sum += headerAfterMagic[i];
    return static_cast<uint8_t>(sum);
}

void ChecksummedPacketWriter::Write(const VideoFrame& frame, Bytes& out) {
    size_t extension = frame.key ? kKeyExtension : 0;
    uint32_t length = static_cast<uint32_t>(kHeader + extension + frame.size + kTrailer);
    size_t start = out.size();
    out.insert(out.end(), {'Z', 'Q', 'M', 'F'});
    out.push_back(frame.key ? 0xFD : 0xFC);
    out.insert(out.end(), {0, 0, 0});  // sub-type, reserved
    PutLe32(out, sequence++);
    PutLe32(out, length);
    PutLe32(out, PackedTime(frame.time));
    out.insert(out.end(), {0, 0});
    out.push_back(static_cast<uint8_t>(extension));
    out.push_back(ChecksummedHeaderSum(&out[start + 4]));
    if (frame.key) {
        out.insert(out.end(),
                   {0x80, kStructureFrame, SizeByte(frame.width), SizeByte(frame.height), 0x81, 0,
                    frame.codec == VideoCodec::kMpeg4 ? kCodecMpeg4 : kCodecH264,
                    static_cast<uint8_t>(frame.frameRate)});
    }
    out.insert(out.end(), frame.data, frame.data + frame.size);
    out.insert(out.end(), kTrailer, 0);
}

}  // namespace tavix::sim

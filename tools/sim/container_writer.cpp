#include "tools/sim/container_writer.h"

#include "tools/sim/checksummed_packet_writer.h"
#include "tools/sim/private_packet_writer.h"
#include "tools/sim/program_stream_writer.h"
#include "tools/sim/sequenced_packet_writer.h"

namespace tavix::sim {

std::unique_ptr<ContainerWriter> MakeContainerWriter(ContainerFormat format) {
    switch (format) {
        case ContainerFormat::kChecksummed:
            return std::make_unique<ChecksummedPacketWriter>();
        case ContainerFormat::kProgramStream:
            return std::make_unique<ProgramStreamWriter>();
        case ContainerFormat::kSequenced:
            return std::make_unique<SequencedPacketWriter>();
        case ContainerFormat::kPrivate:
            break;
    }
    return std::make_unique<PrivatePacketWriter>();
}

const char* ContainerName(ContainerFormat format) {
    switch (format) {
        case ContainerFormat::kChecksummed:
            return "checksummed";
        case ContainerFormat::kProgramStream:
            return "ps";
        case ContainerFormat::kSequenced:
            return "sequenced";
        case ContainerFormat::kPrivate:
            break;
    }
    return "private";
}

bool ParseContainerName(const std::string& name, ContainerFormat& format) {
    for (ContainerFormat candidate :
         {ContainerFormat::kPrivate, ContainerFormat::kChecksummed, ContainerFormat::kProgramStream,
          ContainerFormat::kSequenced}) {
        if (name == ContainerName(candidate)) {
            format = candidate;
            return true;
        }
    }
    return false;
}

const char* CodecName(VideoCodec codec) {
    return codec == VideoCodec::kMpeg4 ? "mpeg4" : "h264";
}

bool ParseCodecName(const std::string& name, VideoCodec& codec) {
    for (VideoCodec candidate : {VideoCodec::kH264, VideoCodec::kMpeg4}) {
        if (name == CodecName(candidate)) {
            codec = candidate;
            return true;
        }
    }
    return false;
}

uint32_t PackedTime(const WallTime& time) {
    return static_cast<uint32_t>(time.second & 0x3F) |
           static_cast<uint32_t>(time.minute & 0x3F) << 6 |
           static_cast<uint32_t>(time.hour & 0x1F) << 12 |
           static_cast<uint32_t>(time.day & 0x1F) << 17 |
           static_cast<uint32_t>(time.month & 0x0F) << 22 |
           static_cast<uint32_t>((time.year - 2000) & 0x3F) << 26;
}

void PutLe16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe24(Bytes& out, uint32_t value) {
    for (int i = 0; i < 3; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace tavix::sim

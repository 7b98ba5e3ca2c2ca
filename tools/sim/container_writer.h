// The recorder's containers for its live video (H.264 or MPEG-4 Visual): each writer wraps one
// encoded frame at a time into the packets of its format. Pure byte code, written apart from the
// client's parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavix::sim {

using Bytes = std::vector<uint8_t>;

struct WallTime {
    int year = 2000;  // 2000..2063 fit the packed form
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

enum class VideoCodec { kH264, kMpeg4 };

// One encoded picture and what the containers say about it.
struct VideoFrame {
    const uint8_t* data = nullptr;  // H.264 access unit (Annex B), or MPEG-4 Visual VOP
    size_t size = 0;
    VideoCodec codec = VideoCodec::kH264;
    bool key = false;  // an IDR picture with its parameter sets; an I-VOP with its layer headers
    int width = 0;     // multiples of 8
    int height = 0;
    int frameRate = 25;
    uint32_t frameNumber = 0;  // counts from 0 at the stream's start
    WallTime time;
};

enum class ContainerFormat { kPrivate, kChecksummed, kProgramStream, kSequenced };

class ContainerWriter {
  public:
    virtual ~ContainerWriter() = default;
    // Appends the packets carrying `frame` to `out`.
    virtual void Write(const VideoFrame& frame, Bytes& out) = 0;
};

std::unique_ptr<ContainerWriter> MakeContainerWriter(ContainerFormat format);

// "private", "checksummed", "ps", "sequenced".
const char* ContainerName(ContainerFormat format);
bool ParseContainerName(const std::string& name, ContainerFormat& format);

// "h264", "mpeg4".
const char* CodecName(VideoCodec codec);
bool ParseCodecName(const std::string& name, VideoCodec& codec);

// Date and time as the device packs them: second in bits 0-5, minute 6-11, hour 12-16, day
// 17-21, month 22-25, year - 2000 in 26-31.
uint32_t PackedTime(const WallTime& time);

// A size in the one-byte units of 8 pixels of the packet headers; a larger size says the
// largest the byte holds (the picture's own headers tell the rest).
inline uint8_t SizeByte(int pixels) {
    return static_cast<uint8_t>(pixels / 8 < 255 ? pixels / 8 : 255);
}

void PutLe16(Bytes& out, uint16_t value);
void PutLe24(Bytes& out, uint32_t value);
void PutLe32(Bytes& out, uint32_t value);

}  // namespace tavix::sim

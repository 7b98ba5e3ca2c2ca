// The frame record that every stream parser hands to its caller, and the codes it carries.
#pragma once

#include <cstdint>

namespace tavix {

// Frame kinds (FrameInfo::kind). Only video frames are decoded.
constexpr int32_t kKindVideo = 1;
constexpr int32_t kKindAudio = 2;
constexpr int32_t kKindOther = 3;  // private data, text, filler

// Bytes of one frame's payload at most: a 4K key picture takes up to about 2 MB. The parsers
// give a packet that says it holds more as a damaged frame, and cut the packets behind it.
constexpr uint32_t kMaxFrameBytes = 8u << 20;

// Video codecs (FrameInfo::codec of a video frame). Audio frames carry their format's own code.
constexpr int32_t kCodecMpeg4 = 1;
constexpr int32_t kCodecH264Announced = 2;  // H.264 as the checksummed format announces it
constexpr int32_t kCodecUnsupported = 3;    // a third video codec, not decoded
constexpr int32_t kCodecH264 = 4;

// One frame: a video picture or a block of audio or other data. Two pointers, then 32-bit
// numbers, in this order. The bytes it points to belong to the parser or to the caller's chunk
// (see StreamParser for how long they live). Records are reused without being cleared: a field
// the parser does not set for a frame keeps the value of the frame that used the record before.
struct FrameInfo {
    const uint8_t* packet;   // first byte of the packet holding the frame (start code or magic)
    const uint8_t* payload;  // first byte of the data the decoder gets
    int32_t packetLength;    // bytes from `packet` to the end of the packet
    int32_t payloadLength;   // bytes at `payload`; 0 marks a frame found damaged
    int32_t kind;            // kKindVideo, kKindAudio, kKindOther
    int32_t dependent;       // 0: decodable by itself (key frame); else per format
    int32_t codec;
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t timeOfDay;  // hour * 3600 + minute * 60 + second of an MPEG-4 GOV time code, else 0
    int32_t frameRate;
    int32_t width;
    int32_t height;
    int32_t channels;
    int32_t bitsPerSample;
    uint32_t sampleRate;
    uint32_t attribute;  // format-specific, not read by the decoder
    int32_t variant;     // format-specific, not read by the decoder
};

// The device's audio sample-rate code (one byte in its audio packet headers).
inline uint32_t SampleRateFromCode(uint8_t code) {
    switch (code) {
        case 1:
            return 4000;
        case 3:
            return 11025;
        case 4:
            return 16000;
        case 5:
            return 20000;
        case 6:
            return 22050;
        case 7:
            return 32000;
        case 8:
            return 44100;
        case 9:
            return 48000;
        default:
            return 8000;
    }
}

// Sample width that goes with the device's audio codec code: 8 bits for codecs 7 and 30.
inline int32_t BitsPerSampleForCodec(int32_t codec) {
    return codec == 7 || codec == 30 ? 8 : 16;
}

// The audio fields of a frame from the device's codec code and sample-rate code.
inline void SetAudioFormat(FrameInfo& frame, int32_t codec, uint8_t rateCode) {
    frame.codec = codec;
    frame.sampleRate = SampleRateFromCode(rateCode);
    frame.bitsPerSample = BitsPerSampleForCodec(codec);
}

// The device's packed date and time: bits 0-5 second, 6-11 minute, 12-16 hour, 17-21 day,
// 22-25 month, 26-31 year - 2000.
inline void SetPackedTime(FrameInfo& frame, uint32_t packed) {
    frame.second = static_cast<int32_t>(packed & 0x3F);
    frame.minute = static_cast<int32_t>(packed >> 6 & 0x3F);
    frame.hour = static_cast<int32_t>(packed >> 12 & 0x1F);
    frame.day = static_cast<int32_t>(packed >> 17 & 0x1F);
    frame.month = static_cast<int32_t>(packed >> 22 & 0x0F);
    frame.year = static_cast<int32_t>(packed >> 26) + 2000;
}

}  // namespace tavix

#include "video/frame_stamp.h"

#include <algorithm>

namespace tavix {
namespace {

constexpr int kBits = kStampColumns * kStampRows;  // 4 marker, 20 frame, 24 time, 8 check
constexpr uint32_t kMarker = 0xB;                  // 1011

uint8_t Check(uint32_t frameNumber, uint32_t captureMs) {
    uint32_t sum = 0x5A;
    for (int i = 0; i < 3; ++i)
        sum += (frameNumber >> (8 * i)) + (captureMs >> (8 * i));
    return static_cast<uint8_t>(sum);
}

}  // namespace

StampPlace StampPlaceFor(int width, int height) {
    // Cells of at least 4 pixels survive the encoder; even sizes keep them on chroma samples.
    int cell = std::max(4, std::min(height / 36, width / 40)) & ~1;
    return {cell, 0, height - kStampRows * cell};
}

uint64_t StampWord(const FrameStamp& stamp) {
    const uint32_t frameNumber = stamp.frameNumber & kStampFrameMask;
    const uint32_t captureMs = stamp.captureMs & kStampTimeMask;
    return static_cast<uint64_t>(kMarker) << 52 | static_cast<uint64_t>(frameNumber) << 32 |
           static_cast<uint64_t>(captureMs) << 8 | Check(frameNumber, captureMs);
}

bool ReadStamp(int width, int height, const std::function<int(int x, int y)>& brightness,
               FrameStamp& stamp) {
    StampPlace place = StampPlaceFor(width, height);
    if (place.top < 0 || place.cell * kStampColumns > width) return false;
    uint64_t word = 0;
    for (int i = 0; i < kBits; ++i) {
        int x = place.left + (i % kStampColumns) * place.cell + place.cell / 2;
        int y = place.top + (i / kStampColumns) * place.cell + place.cell / 2;
        word = word << 1 | (brightness(x, y) >= 128 ? 1 : 0);
    }
    uint32_t frameNumber = static_cast<uint32_t>(word >> 32) & kStampFrameMask;
    uint32_t captureMs = static_cast<uint32_t>(word >> 8) & kStampTimeMask;
    if ((word >> 52) != kMarker || static_cast<uint8_t>(word) != Check(frameNumber, captureMs))
        return false;
    stamp.frameNumber = frameNumber;
    stamp.captureMs = captureMs;
    return true;
}

bool ReadPictureStamp(const uint8_t* picture, int width, int height, int bits, FrameStamp& stamp) {
    return ReadStamp(
        width, height,
        [&](int x, int y) {
            if (bits == 16) {
                const uint8_t* p = picture + (static_cast<size_t>(y) * width + x) * 2;
                const int pixel = p[0] | p[1] << 8;
                return ((pixel >> 11 << 3) + ((pixel >> 5 & 63) << 2) + ((pixel & 31) << 3)) / 3;
            }
            const int bytes = bits / 8;
            const uint8_t* p = picture + (static_cast<size_t>(height - 1 - y) * width + x) * bytes;
            return (p[0] + p[1] + p[2]) / 3;
        },
        stamp);
}

}  // namespace tavix

#include "tools/sim/frame_stamp.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tavix::sim {
namespace {

constexpr int kBits = kStampColumns * kStampRows;  // 4 marker, 20 frame, 24 time, 8 check
constexpr uint32_t kMarker = 0xB;                  // 1011
constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

uint8_t Check(uint32_t frameNumber, uint32_t captureMs) {
    uint32_t sum = 0x5A;
    for (int i = 0; i < 3; ++i)
        sum += (frameNumber >> (8 * i)) + (captureMs >> (8 * i));
    return static_cast<uint8_t>(sum);
}

std::array<bool, kBits> Bits(const FrameStamp& stamp) {
    uint32_t frameNumber = stamp.frameNumber & kStampFrameMask;
    uint32_t captureMs = stamp.captureMs & kStampTimeMask;
    // Most significant bit first: marker, frame number, time, check.
    uint64_t word = static_cast<uint64_t>(kMarker) << 52 |
                    static_cast<uint64_t>(frameNumber) << 32 |
                    static_cast<uint64_t>(captureMs) << 8 | Check(frameNumber, captureMs);
    std::array<bool, kBits> bits{};
    for (int i = 0; i < kBits; ++i)
        bits[static_cast<size_t>(i)] = (word >> (kBits - 1 - i)) & 1;
    return bits;
}

}  // namespace

StampPlace StampPlaceFor(int width, int height) {
    // Cells of at least 4 pixels survive the encoder; even sizes keep them on chroma samples.
    int cell = std::max(4, std::min(height / 36, width / 40)) & ~1;
    return {cell, 0, height - kStampRows * cell};
}

void DrawStamp(YuvFrame& frame, const FrameStamp& stamp) {
    StampPlace place = StampPlaceFor(frame.width, frame.height);
    if (place.top < 0 || place.cell * kStampColumns > frame.width) return;
    std::array<bool, kBits> bits = Bits(stamp);
    for (int row = 0; row < kStampRows; ++row) {
        for (int column = 0; column < kStampColumns; ++column) {
            uint8_t value =
                bits[static_cast<size_t>(row * kStampColumns + column)] ? kWhite : kBlack;
            int x0 = place.left + column * place.cell;
            int y0 = place.top + row * place.cell;
            for (int y = y0; y < y0 + place.cell; ++y)
                std::memset(&frame.y[static_cast<size_t>(y) * frame.width + x0], value,
                            static_cast<size_t>(place.cell));
            for (int y = y0 / 2; y < (y0 + place.cell) / 2; ++y) {
                size_t at = static_cast<size_t>(y) * (frame.width / 2) + x0 / 2;
                std::memset(&frame.u[at], 128, static_cast<size_t>(place.cell / 2));
                std::memset(&frame.v[at], 128, static_cast<size_t>(place.cell / 2));
            }
        }
    }
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

}  // namespace tavix::sim

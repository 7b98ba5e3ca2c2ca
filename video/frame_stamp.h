// A machine-readable stamp in the corner of a picture: the frame's number and the monotonic
// millisecond at which it was drawn, as two rows of black and white cells. tavix-sim draws it
// into every live picture; a client on the same machine reads it back from the decoded picture
// to count lost frames and to measure the delay from capture to display (CLOCK_MONOTONIC is
// shared by all processes). Pure code, any thread.
#pragma once

#include <cstdint>
#include <functional>

namespace tavix {

struct FrameStamp {
    uint32_t frameNumber = 0;  // 20 bits kept
    uint32_t captureMs = 0;    // 24 bits kept: wraps after about 4.7 hours
};

constexpr uint32_t kStampFrameMask = (1u << 20) - 1;
constexpr uint32_t kStampTimeMask = (1u << 24) - 1;

// Where the stamp lies in a picture of this size: square cells of `cell` pixels, kStampColumns
// by kStampRows of them, the top-left one at (left, top).
struct StampPlace {
    int cell;
    int left;
    int top;
};
constexpr int kStampColumns = 28;
constexpr int kStampRows = 2;
StampPlace StampPlaceFor(int width, int height);

// The stamp's cells, most significant first, row by row: 1 white, 0 black.
uint64_t StampWord(const FrameStamp& stamp);

// Reads the stamp of an upright picture through `brightness` (0..255 at column x, row y).
// false when the cells do not hold a stamp (a picture from elsewhere, or damaged).
bool ReadStamp(int width, int height, const std::function<int(int x, int y)>& brightness,
               FrameStamp& stamp);

// The same from a picture as the decoder hands it over: `bits` per pixel (16: RGB565 top row
// first; 24, 32: B, G, R(, A) bottom row first), rows packed.
bool ReadPictureStamp(const uint8_t* picture, int width, int height, int bits, FrameStamp& stamp);

// Milliseconds from the stamp's capture to `nowMs` (MonotonicMs).
inline int64_t StampDelayMs(const FrameStamp& stamp, int64_t nowMs) {
    return (static_cast<uint32_t>(nowMs) - stamp.captureMs) & kStampTimeMask;
}

}  // namespace tavix

// A machine-readable stamp in the corner of every simulated picture: the frame's number and the
// monotonic millisecond at which it was drawn, as two rows of black and white cells. A client on
// the same machine reads it back from the decoded picture to count lost frames and to measure
// the delay from capture to display (CLOCK_MONOTONIC is shared by all processes).
#pragma once

#include <cstdint>
#include <functional>

#include "tools/sim/yuv_frame.h"

namespace tavix::sim {

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

// Paints the stamp into the picture (white and black cells, neutral chroma).
void DrawStamp(YuvFrame& frame, const FrameStamp& stamp);

// Reads the stamp of an upright picture through `brightness` (0..255 at column x, row y).
// false when the cells do not hold a stamp (a picture from elsewhere, or damaged).
bool ReadStamp(int width, int height, const std::function<int(int x, int y)>& brightness,
               FrameStamp& stamp);

}  // namespace tavix::sim

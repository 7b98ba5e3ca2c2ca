#include "tools/sim/frame_stamp.h"

#include <cstring>

namespace tavix::sim {
namespace {

constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

}  // namespace

void DrawStamp(YuvFrame& frame, const FrameStamp& stamp) {
    StampPlace place = StampPlaceFor(frame.width, frame.height);
    if (place.top < 0 || place.cell * kStampColumns > frame.width) return;
    const uint64_t word = StampWord(stamp);
    constexpr int kBits = kStampColumns * kStampRows;
    for (int row = 0; row < kStampRows; ++row) {
        for (int column = 0; column < kStampColumns; ++column) {
            const int bit = row * kStampColumns + column;
            uint8_t value = (word >> (kBits - 1 - bit)) & 1 ? kWhite : kBlack;
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

}  // namespace tavix::sim

// One picture in planar YUV 4:2:0, rows packed: what the simulator draws and encodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavix::sim {

struct YuvFrame {
    int width = 0;  // even
    int height = 0;
    std::vector<uint8_t> y;  // width x height
    std::vector<uint8_t> u;  // width / 2 x height / 2
    std::vector<uint8_t> v;

    void Resize(int newWidth, int newHeight) {
        width = newWidth;
        height = newHeight;
        y.assign(static_cast<size_t>(width) * height, 16);
        u.assign(static_cast<size_t>(width / 2) * (height / 2), 128);
        v.assign(u.size(), 128);
    }
};

// A colour as video-range BT.601 samples.
struct Yuv {
    uint8_t y;
    uint8_t u;
    uint8_t v;
};

// Integer BT.601 video-range conversion of an RGB colour.
constexpr Yuv YuvFromRgb(int r, int g, int b) {
    return {static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

}  // namespace tavix::sim

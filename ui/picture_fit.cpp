#include "ui/picture_fit.h"

#include <algorithm>
#include <cstddef>

namespace tavix {

namespace {

struct Pixel24 {
    uint8_t bytes[3];
};

// Output row i is source column i; `fromMemoryRow0` reads it from the first stored row on (the
// picture's bottom row when rows are stored bottom first). Square tiles keep both the reads and
// the writes within a few cache lines.
template <typename Pixel>
void Turn(const Pixel* source, int width, int height, bool fromMemoryRow0, Pixel* out) {
    constexpr int kTile = 32;
    for (int column0 = 0; column0 < width; column0 += kTile) {
        const int columnEnd = std::min(column0 + kTile, width);
        for (int row0 = 0; row0 < height; row0 += kTile) {
            const int rowEnd = std::min(row0 + kTile, height);
            for (int column = column0; column < columnEnd; ++column) {
                Pixel* outRow = out + static_cast<size_t>(column) * height;
                for (int j = row0; j < rowEnd; ++j) {
                    const int memoryRow = fromMemoryRow0 ? j : height - 1 - j;
                    outRow[j] = source[static_cast<size_t>(memoryRow) * width + column];
                }
            }
        }
    }
}

}  // namespace

PictureFit FitPicture(QSize area, QSize picture, bool enlarged) {
    const int W = area.width();
    const int H = area.height();
    const int w = picture.width();
    const int h = picture.height();
    PictureFit fit;
    // Only a tall area turns a picture: on a wide one (a 16:10 or 4:3 screen showing a 16:9
    // picture) turning would shrink the picture, and the arrow keys would not follow it.
    // 64 bits: a 1920 x 1200 picture on a large screen overflows the products in 32.
    fit.turned = enlarged && W < H && int64_t{W} * h < int64_t{H} * w;
    const int dw = fit.turned ? h : w;
    const int dh = fit.turned ? w : h;
    fit.displayed = QSize(dw, dh);
    if (int64_t{dh} * W > int64_t{dw} * H) {
        const int width = static_cast<int>(int64_t{dw} * H / dh);
        fit.destination = QRect((W - width) / 2, 0, width, H);
    } else {
        const int height = static_cast<int>(int64_t{dh} * W / dw);
        fit.destination = QRect(0, (H - height) / 2, W, height);
    }
    return fit;
}

void TurnPicture(const uint8_t* picture, int width, int height, int bits, uint8_t* turned) {
    switch (bits) {
        case 16:
            // Stored top row first: each column is read from the last stored row up.
            Turn(reinterpret_cast<const uint16_t*>(picture), width, height, false,
                 reinterpret_cast<uint16_t*>(turned));
            break;
        case 24:
            Turn(reinterpret_cast<const Pixel24*>(picture), width, height, true,
                 reinterpret_cast<Pixel24*>(turned));
            break;
        case 32:
            Turn(reinterpret_cast<const uint32_t*>(picture), width, height, true,
                 reinterpret_cast<uint32_t*>(turned));
            break;
        default:
            break;
    }
}

}  // namespace tavix

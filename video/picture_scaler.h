// Converts a decoded YUV 4:2:0 picture into a screen image in one pass, scaled to the image's
// size on the way: each output pixel takes the nearest source pixel (as a plain scaled blit
// does), gathered a row pair at a time into a small buffer that the vector colour kernels then
// convert. One thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/libav_decoder.h"
#include "video/picture_screen.h"

namespace tavix {

// The part x, y, width x height of `picture`, moved inside it and to even pixels (so that it
// starts on a chroma sample), at least 2 x 2; the whole picture when the part is empty.
PictureView CropPicture(const PictureView& picture, int x, int y, int width, int height);

class PictureScaler {
  public:
    // The image's width and height are used rounded down to even numbers. false when nothing
    // was written (a size below 2, a depth other than 16, 24 or 32, rows too short).
    bool Convert(const PictureView& picture, const ScreenImage& image);

  private:
    // The source column of each output column, and of each output chroma column, for the
    // sizes last converted.
    std::vector<int32_t> columns;
    std::vector<int32_t> chromaColumns;
    int columnsFrom = 0;
    // One gathered row pair: two luma rows, one chroma row of each plane.
    std::vector<uint8_t> gathered;
};

}  // namespace tavix

// Converts a decoded YUV 4:2:0 picture into a screen image in one pass, scaling it to the
// image's size on the way: the program's own conversion where no scaling is needed,
// libswscale's bilinear scaler where it is. One thread at a time.
#pragma once

#include <cstdint>

#include "video/picture_screen.h"

struct SwsContext;

namespace tavix {

class PictureScaler {
  public:
    PictureScaler() = default;
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // `yuv`: width x height luma, then the quarter-size U and V planes, rows packed. false when
    // nothing was written (a size of 0, a depth other than 16, 24, 32, no scaler).
    bool Convert(const uint8_t* yuv, int width, int height, const ScreenImage& image);

  private:
    SwsContext* context = nullptr;  // kept while the sizes and format stay the same
};

}  // namespace tavix

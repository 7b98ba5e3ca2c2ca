#include "video/picture_scaler.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "video/colour_conversion.h"

namespace tavix {

PictureScaler::~PictureScaler() {
    sws_freeContext(context);
}

bool PictureScaler::Convert(const uint8_t* yuv, int width, int height, const ScreenImage& image) {
    if (yuv == nullptr || image.bytes == nullptr || width <= 0 || height <= 0 || image.width <= 0 ||
        image.height <= 0)
        return false;
    const int bytesPerPixel = image.bits / 8;
    if ((image.bits != 16 && image.bits != 24 && image.bits != 32) ||
        image.stride < image.width * bytesPerPixel)
        return false;
    const size_t area = static_cast<size_t>(width) * height;
    const uint8_t* u = yuv + area;
    const uint8_t* v = u + area / 4;
    if (image.width == width && image.height == height) {
        // The vector kernels; 565 only on packed rows.
        if (image.bits == 24 && image.stride % 3 == 0) {
            ConvertTo24(image.bytes, image.stride / 3, yuv, u, v, width, width / 2, width, height);
            return true;
        }
        if (image.bits == 32 && image.stride % 4 == 0) {
            ConvertTo32(image.bytes, image.stride / 4, yuv, u, v, width, width / 2, width, height);
            return true;
        }
        if (image.bits == 16 && image.stride == width * 2) {
            ConvertTo565(width, height, yuv, image.bytes);
            return true;
        }
    }
    const AVPixelFormat format = image.bits == 16   ? AV_PIX_FMT_RGB565LE
                                 : image.bits == 24 ? AV_PIX_FMT_BGR24
                                                    : AV_PIX_FMT_BGRA;
    // The chroma planes hold width / 2 x height / 2 samples: an odd last column or row is
    // left out, as the program's own conversion does.
    const int evenWidth = width & ~1;
    const int evenHeight = height & ~1;
    if (evenWidth == 0 || evenHeight == 0) return false;
    context =
        sws_getCachedContext(context, evenWidth, evenHeight, AV_PIX_FMT_YUV420P, image.width,
                             image.height, format, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (context == nullptr) return false;
    const uint8_t* const planes[3] = {yuv, u, v};
    const int strides[3] = {width, width / 2, width / 2};
    uint8_t* const destination[1] = {image.bytes};
    const int destinationStrides[1] = {image.stride};
    return sws_scale(context, planes, strides, 0, evenHeight, destination, destinationStrides) > 0;
}

}  // namespace tavix

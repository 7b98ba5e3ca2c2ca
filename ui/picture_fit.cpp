#include "ui/picture_fit.h"

#include <algorithm>
#include <cstddef>

namespace tavix {

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

}  // namespace tavix

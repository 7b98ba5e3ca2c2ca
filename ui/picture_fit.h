// Where a picture goes in the video window: fitted whole into the area and centred (the rest
// stays black), and, in the enlarged view, turned a quarter clockwise when that fills a tall
// area better. Pure arithmetic, any thread.
#pragma once

#include <QRect>
#include <QSize>

#include <cstdint>

namespace tavix {

struct PictureFit {
    bool turned = false;
    QSize displayed;    // the picture as shown: width and height swapped when turned
    QRect destination;  // in the area's coordinates
};

// `area`: the video window's size; `picture`: the decoded size (both positive). Turned only when
// `enlarged`, the area is taller than wide and, relative to its width, taller than the picture.
// Divisions round toward zero.
PictureFit FitPicture(QSize area, QSize picture, bool enlarged);

}  // namespace tavix

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

// Writes `picture` (width x height pixels of `bits` per pixel: 16 stored top row first, 24 and
// 32 bottom row first, rows packed) turned a quarter clockwise into `turned`: height x width
// pixels of the same depth, rows packed, top row first. Row i of `turned` is the picture's
// column i from its bottom edge to its top edge. Other depths leave `turned` as it was.
void TurnPicture(const uint8_t* picture, int width, int height, int bits, uint8_t* turned);

}  // namespace tavix

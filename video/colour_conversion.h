// Planar YUV 4:2:0 to the display's packed RGB: RGB565 (full-range luma, direct arithmetic) and
// BGR / BGRA (video-range luma, five lookup tables).
//
// Pure functions over the caller's buffers: no allocation, no locks. Safe to call from any thread
// once BuildTables has returned (the table routines call it themselves).
#pragma once

#include <cstdint>
#include <vector>

namespace tavix {

// Fills YTable, RvTable, GvTable, GuTable and BuTable; later calls do nothing. Thread-safe.
void BuildTables();

// `yuv`: the Y plane (width x height bytes), then the U plane at yuv + width x height and the V
// plane at U + width x height / 4, chroma rows width / 2 bytes long. Writes width x height
// little-endian 16-bit pixels to `destination`, rows packed, top row first. An odd last column or
// row takes the chroma of its neighbour; a picture narrower or lower than 2 pixels has no chroma
// and is not converted.
void ConvertTo565(int width, int height, const uint8_t* yuv, uint8_t* destination);

// Writes B, G, R bytes per pixel, rows destinationWidth x 3 bytes apart. The source rows are
// yStride (luma) and uvStride (chroma) bytes apart. A negative height reads the source from the
// bottom up (destination row r takes source row |height| - 1 - r), turning the picture upside
// down. Works on 2 x 2 blocks: an odd last column or row is not converted. Nothing is written when
// destinationWidth < width.
void ConvertTo24(uint8_t* destination, int destinationWidth, const uint8_t* y, const uint8_t* u,
                 const uint8_t* v, int yStride, int uvStride, int width, int height);

// As ConvertTo24 with B, G, R, 255 per pixel, rows destinationWidth x 4 bytes apart.
void ConvertTo32(uint8_t* destination, int destinationWidth, const uint8_t* y, const uint8_t* u,
                 const uint8_t* v, int yStride, int uvStride, int width, int height);

// The work of one implementation: converts `pairs` column pairs of two source rows (y0, y1) that
// share the chroma rows u and v into the destination rows d0 and d1.
using RowPairKernel = void (*)(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                               const uint8_t* u, const uint8_t* v, int pairs);

// One implementation of the three routines. The plain one is the reference: every other gives
// the same bytes.
struct ColourConverter {
    const char* name;
    RowPairKernel rows565;
    RowPairKernel rows24;
    RowPairKernel rows32;
};

// The plain table implementation.
const ColourConverter& PlainConverter();

// Every implementation this processor can run, the plain one first and the fastest last. The
// ConvertTo* functions without a converter use the last.
const std::vector<const ColourConverter*>& AvailableConverters();

// The routines above with a chosen implementation (for tests and benchmarks).
void ConvertTo565(const ColourConverter& converter, int width, int height, const uint8_t* yuv,
                  uint8_t* destination);
void ConvertTo24(const ColourConverter& converter, uint8_t* destination, int destinationWidth,
                 const uint8_t* y, const uint8_t* u, const uint8_t* v, int yStride, int uvStride,
                 int width, int height);
void ConvertTo32(const ColourConverter& converter, uint8_t* destination, int destinationWidth,
                 const uint8_t* y, const uint8_t* u, const uint8_t* v, int yStride, int uvStride,
                 int width, int height);

}  // namespace tavix

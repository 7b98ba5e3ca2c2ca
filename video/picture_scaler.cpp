#include "video/picture_scaler.h"

#include <algorithm>
#include <cstddef>

#include "video/colour_conversion.h"

namespace tavix {

namespace {

// The source index nearest to the middle of output index i of `to`, over `from`.
int Nearest(int i, int to, int from) {
    return std::min(from - 1, static_cast<int>((int64_t{2} * i + 1) * from / (int64_t{2} * to)));
}

}  // namespace

PictureView CropPicture(const PictureView& picture, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0 || picture.width < 2 || picture.height < 2) return picture;
    PictureView part = picture;
    part.width = std::clamp(width, 2, picture.width) & ~1;
    part.height = std::clamp(height, 2, picture.height) & ~1;
    const int left = std::clamp(x, 0, picture.width - part.width) & ~1;
    const int top = std::clamp(y, 0, picture.height - part.height) & ~1;
    part.y += static_cast<ptrdiff_t>(top) * picture.yStride + left;
    part.u += static_cast<ptrdiff_t>(top / 2) * picture.uvStride + left / 2;
    part.v += static_cast<ptrdiff_t>(top / 2) * picture.uvStride + left / 2;
    return part;
}

bool PictureScaler::Convert(const PictureView& picture, const ScreenImage& image) {
    const int width = picture.width;
    const int height = picture.height;
    const int outWidth = image.width & ~1;
    const int outHeight = image.height & ~1;
    if (picture.y == nullptr || picture.u == nullptr || picture.v == nullptr ||
        image.bytes == nullptr || width < 2 || height < 2 || outWidth < 2 || outHeight < 2)
        return false;
    BuildTables();
    const ColourConverter& converter = *AvailableConverters().back();
    const RowPairKernel kernel = image.bits == 16   ? converter.rows565
                                 : image.bits == 24 ? converter.rows24
                                 : image.bits == 32 ? converter.rows32
                                                    : nullptr;
    if (kernel == nullptr || image.stride < outWidth * (image.bits / 8)) return false;

    const int chromaWidth = width / 2;
    const int chromaHeight = height / 2;
    // Columns are gathered only when the width changes; rows are picked, never copied.
    const bool sameWidth = outWidth == width;
    if (!sameWidth && (static_cast<int>(columns.size()) != outWidth || columnsFrom != width)) {
        columns.resize(static_cast<size_t>(outWidth));
        chromaColumns.resize(static_cast<size_t>(outWidth / 2));
        for (int x = 0; x < outWidth; ++x)
            columns[static_cast<size_t>(x)] = Nearest(x, outWidth, width);
        for (int pair = 0; pair < outWidth / 2; ++pair)
            chromaColumns[static_cast<size_t>(pair)] =
                std::min(columns[static_cast<size_t>(pair) * 2] / 2, chromaWidth - 1);
        columnsFrom = width;
        gathered.resize(static_cast<size_t>(outWidth) * 3);
    }

    for (int row = 0; row < outHeight; row += 2) {
        const int source0 = Nearest(row, outHeight, height);
        const int source1 = Nearest(row + 1, outHeight, height);
        const int chromaRow = std::min(source0 / 2, chromaHeight - 1);
        const uint8_t* luma0 = picture.y + static_cast<ptrdiff_t>(source0) * picture.yStride;
        const uint8_t* luma1 = picture.y + static_cast<ptrdiff_t>(source1) * picture.yStride;
        const uint8_t* blue = picture.u + static_cast<ptrdiff_t>(chromaRow) * picture.uvStride;
        const uint8_t* red = picture.v + static_cast<ptrdiff_t>(chromaRow) * picture.uvStride;
        if (!sameWidth) {
            uint8_t* const y0 = gathered.data();
            uint8_t* const y1 = y0 + outWidth;
            uint8_t* const u = y1 + outWidth;
            uint8_t* const v = u + outWidth / 2;
            const int32_t* const from = columns.data();
            for (int x = 0; x < outWidth; ++x) {
                const int32_t column = from[x];  // once: the byte stores may alias the table
                y0[x] = luma0[column];
                y1[x] = luma1[column];
            }
            const int32_t* const chromaFrom = chromaColumns.data();
            for (int pair = 0; pair < outWidth / 2; ++pair) {
                const int32_t column = chromaFrom[pair];
                u[pair] = blue[column];
                v[pair] = red[column];
            }
            luma0 = y0;
            luma1 = y1;
            blue = u;
            red = v;
        }
        uint8_t* const out = image.bytes + static_cast<ptrdiff_t>(row) * image.stride;
        kernel(out, out + image.stride, luma0, luma1, blue, red, outWidth / 2);
    }
    return true;
}

}  // namespace tavix

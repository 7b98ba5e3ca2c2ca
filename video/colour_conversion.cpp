#include "video/colour_conversion.h"

#include <cstddef>
#include <mutex>

#include "video/colour_kernels.h"

namespace tavix {
namespace {

// Video-range coefficients scaled by 8192, indexed by the 8-bit sample.
int32_t YTable[256];
int32_t RvTable[256];
int32_t GvTable[256];
int32_t GuTable[256];
int32_t BuTable[256];
std::once_flag tablesBuilt;

inline uint8_t Clamp(int32_t value) {
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Full-range luma with the chroma products of its 2 x 2 block.
inline uint16_t Pixel565(int y, int32_t redV, int32_t greenUv, int32_t blueU) {
    const int32_t c = y * 256;
    const uint32_t r = Clamp((c + redV) >> 8);
    const uint32_t g = Clamp((c + greenUv) >> 8);
    const uint32_t b = Clamp((c + blueU) >> 8);
    return static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

inline void Store565(uint8_t* d, uint16_t pixel) {
    d[0] = static_cast<uint8_t>(pixel);
    d[1] = static_cast<uint8_t>(pixel >> 8);
}

template <int kBytes>
inline void TablePixel(uint8_t* d, int y, int32_t blueU, int32_t greenUv, int32_t redV) {
    const int32_t luma = YTable[y];
    d[0] = Clamp((luma + blueU) >> 13);
    d[1] = Clamp((luma - greenUv) >> 13);
    d[2] = Clamp((luma + redV) >> 13);
    if constexpr (kBytes == 4) d[3] = 255;
}

template <int kBytes>
void PlainTableRows(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                    const uint8_t* u, const uint8_t* v, int pairs) {
    for (int k = 0; k < pairs; ++k) {
        const int32_t blueU = BuTable[u[k]];
        const int32_t greenUv = GuTable[u[k]] + GvTable[v[k]];
        const int32_t redV = RvTable[v[k]];
        const int x = 2 * k;
        TablePixel<kBytes>(d0 + x * kBytes, y0[x], blueU, greenUv, redV);
        TablePixel<kBytes>(d0 + (x + 1) * kBytes, y0[x + 1], blueU, greenUv, redV);
        TablePixel<kBytes>(d1 + x * kBytes, y1[x], blueU, greenUv, redV);
        TablePixel<kBytes>(d1 + (x + 1) * kBytes, y1[x + 1], blueU, greenUv, redV);
    }
}

// The odd last column of a 565 picture: its own luma, the chroma of the last pair.
void Column565(uint8_t* d, int y, int u, int v) {
    Store565(d, Pixel565(y, 359 * (v - 128), -183 * (v - 128) - 88 * (u - 128), 454 * (u - 128)));
}

void ConvertTable(RowPairKernel kernel, int bytes, uint8_t* destination, int destinationWidth,
                  const uint8_t* y, const uint8_t* u, const uint8_t* v, int yStride, int uvStride,
                  int width, int height) {
    if (destination == nullptr || y == nullptr || u == nullptr || v == nullptr || width < 2 ||
        destinationWidth < width || height == 0 || height < -0x7FFFFFFF)
        return;
    BuildTables();
    const int rows = height < 0 ? -height : height;
    const int rowPairs = rows / 2;
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(destinationWidth) * bytes;
    for (int p = 0; p < rowPairs; ++p) {
        // Bottom up, destination row r takes source row rows - 1 - r.
        const int top = height > 0 ? 2 * p : rows - 1 - 2 * p;
        const int next = height > 0 ? top + 1 : top - 1;
        const int chromaRow = height > 0 ? p : rowPairs - 1 - p;
        kernel(destination + 2 * p * pitch, destination + (2 * p + 1) * pitch,
               y + static_cast<ptrdiff_t>(top) * yStride,
               y + static_cast<ptrdiff_t>(next) * yStride,
               u + static_cast<ptrdiff_t>(chromaRow) * uvStride,
               v + static_cast<ptrdiff_t>(chromaRow) * uvStride, width / 2);
    }
}

const ColourConverter kPlainConverter = {"plain", PlainRows565, PlainRows24, PlainRows32};

}  // namespace

void BuildTables() {
    std::call_once(tablesBuilt, [] {
        for (int i = 0; i < 256; ++i) {
            YTable[i] = 9535 * (i - 16);
            RvTable[i] = 13074 * (i - 128);
            GvTable[i] = 6660 * (i - 128);
            GuTable[i] = 3203 * (i - 128);
            BuTable[i] = 16531 * (i - 128);
        }
    });
}

void PlainRows565(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                  const uint8_t* v, int pairs) {
    for (int k = 0; k < pairs; ++k) {
        // The four products of a chroma sample, once per 2 x 2 block.
        const int32_t redV = 359 * (v[k] - 128);
        const int32_t greenUv = -183 * (v[k] - 128) - 88 * (u[k] - 128);
        const int32_t blueU = 454 * (u[k] - 128);
        const int x = 2 * k;
        Store565(d0 + 2 * x, Pixel565(y0[x], redV, greenUv, blueU));
        Store565(d0 + 2 * x + 2, Pixel565(y0[x + 1], redV, greenUv, blueU));
        Store565(d1 + 2 * x, Pixel565(y1[x], redV, greenUv, blueU));
        Store565(d1 + 2 * x + 2, Pixel565(y1[x + 1], redV, greenUv, blueU));
    }
}

void PlainRows24(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                 const uint8_t* v, int pairs) {
    PlainTableRows<3>(d0, d1, y0, y1, u, v, pairs);
}

void PlainRows32(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                 const uint8_t* v, int pairs) {
    PlainTableRows<4>(d0, d1, y0, y1, u, v, pairs);
}

const ColourConverter& PlainConverter() {
    return kPlainConverter;
}

const std::vector<const ColourConverter*>& AvailableConverters() {
    // Never destroyed: decoding threads of objects that live until the process exits (the
    // program's device client) may still convert while static objects are being destroyed.
    static const auto& converters = *new const std::vector<const ColourConverter*>([] {
        std::vector<const ColourConverter*> list{&kPlainConverter};
#if defined(TAVIX_X86_SIMD)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("ssse3")) list.push_back(&kSsse3Converter);
        if (__builtin_cpu_supports("avx2")) list.push_back(&kAvx2Converter);
#endif
        return list;
    }());
    return converters;
}

void ConvertTo565(const ColourConverter& converter, int width, int height, const uint8_t* yuv,
                  uint8_t* destination) {
    if (yuv == nullptr || destination == nullptr || width < 2 || height < 2) return;
    const size_t w = static_cast<size_t>(width);
    const size_t area = w * static_cast<size_t>(height);
    const int chromaWidth = width / 2;
    const uint8_t* uPlane = yuv + area;
    const uint8_t* vPlane = uPlane + area / 4;
    for (int row = 0; row < height; row += 2) {
        // An odd last row shares the last chroma row (written twice over the same row).
        const int next = row + 1 < height ? row + 1 : row;
        const size_t chromaRow = static_cast<size_t>(row / 2 < height / 2 ? row / 2 : row / 2 - 1);
        const uint8_t* u = uPlane + chromaRow * static_cast<size_t>(chromaWidth);
        const uint8_t* v = vPlane + chromaRow * static_cast<size_t>(chromaWidth);
        uint8_t* d0 = destination + row * w * 2;
        uint8_t* d1 = destination + next * w * 2;
        const uint8_t* y0 = yuv + row * w;
        const uint8_t* y1 = yuv + next * w;
        converter.rows565(d0, d1, y0, y1, u, v, chromaWidth);
        if (width % 2 != 0) {
            const int last = width - 1;
            Column565(d0 + 2 * last, y0[last], u[chromaWidth - 1], v[chromaWidth - 1]);
            Column565(d1 + 2 * last, y1[last], u[chromaWidth - 1], v[chromaWidth - 1]);
        }
    }
}

void ConvertTo24(const ColourConverter& converter, uint8_t* destination, int destinationWidth,
                 const uint8_t* y, const uint8_t* u, const uint8_t* v, int yStride, int uvStride,
                 int width, int height) {
    ConvertTable(converter.rows24, 3, destination, destinationWidth, y, u, v, yStride, uvStride,
                 width, height);
}

void ConvertTo32(const ColourConverter& converter, uint8_t* destination, int destinationWidth,
                 const uint8_t* y, const uint8_t* u, const uint8_t* v, int yStride, int uvStride,
                 int width, int height) {
    ConvertTable(converter.rows32, 4, destination, destinationWidth, y, u, v, yStride, uvStride,
                 width, height);
}

void ConvertTo565(int width, int height, const uint8_t* yuv, uint8_t* destination) {
    ConvertTo565(*AvailableConverters().back(), width, height, yuv, destination);
}

void ConvertTo24(uint8_t* destination, int destinationWidth, const uint8_t* y, const uint8_t* u,
                 const uint8_t* v, int yStride, int uvStride, int width, int height) {
    ConvertTo24(*AvailableConverters().back(), destination, destinationWidth, y, u, v, yStride,
                uvStride, width, height);
}

void ConvertTo32(uint8_t* destination, int destinationWidth, const uint8_t* y, const uint8_t* u,
                 const uint8_t* v, int yStride, int uvStride, int width, int height) {
    ConvertTo32(*AvailableConverters().back(), destination, destinationWidth, y, u, v, yStride,
                uvStride, width, height);
}

}  // namespace tavix

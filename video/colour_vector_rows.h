// The vector row-pair kernels, written once over a vector width. Included only by the files of
// the instruction sets (colour_ssse3.cpp, colour_avx2.cpp), each compiled for its own set; all
// of it has internal linkage, so code built for one set never stands in for the other's.
//
// Every channel is computed in 16-bit lanes and gives exactly the plain kernels' bytes:
// - table routines: a product k x s of a coefficient and a centred sample is split as
//   8192 x high + low (0 <= low < 8192) with one high and one low 16-bit multiply, so that
//   (luma + chroma) >> 13 = lumaHigh + chromaHigh + (lumaLow > 8191 - chromaLow ? 1 : 0);
// - 565: (256 x y + k x s) >> 8 = y + ((k x s) >> 8), the chroma part split the same way at 256.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "video/colour_kernels.h"

namespace tavix {
namespace {

// Isa provides, over V (kPixels 16-bit lanes, a GCC vector type):
// - Luma(p): kPixels bytes to lanes; Chroma(p): kPixels / 2 bytes, each to two lanes;
// - ChromaWide(p): kPixels bytes, arranged so that DupLow and DupHigh of the result give the
//   samples of pixels 0 .. kPixels - 1 and kPixels .. 2 kPixels - 1, each twice;
// - MulHi, MulLo (by a constant), Min, Max;
// - StoreBgra, StoreBgr (kPixels pixels from unclamped B, G and R lanes; the byte packing
//   clamps them), Store565.
template <class Isa>
struct VectorRows {
    using V = typename Isa::V;
    static constexpr int kPixels = Isa::kPixels;

    static V Clamp(V value) { return Isa::Min(Isa::Max(value, V{} + 0), V{} + 255); }

    // Per-pixel chroma terms; Dup spreads kPixels samples over 2 kPixels pixels.
    template <int kCount>
    struct Terms {
        V v[kCount];
        template <V (*kF)(V)>
        Terms Map() const {
            Terms t;
#pragma GCC unroll 8
            for (int i = 0; i < kCount; ++i)
                t.v[i] = kF(v[i]);
            return t;
        }
    };

    // ---- table routines ----
    // A chroma product as its high part and the limit 8191 - low: the luma's low part carries
    // into the sum exactly when it exceeds the limit.
    static void Split(V sample, int16_t coefficient, V& high, V& low) {
        high = Isa::MulHi(sample << 3, coefficient);
        low = Isa::MulLo(sample, coefficient) & 0x1FFF;
    }

    // blue high, blue limit, green high, green limit, red high, red limit.
    using TableTerms = Terms<6>;

    static TableTerms TableChroma(V centredU, V centredV) {
        TableTerms t;
        V low;
        Split(centredU, 16531, t.v[0], low);
        t.v[1] = ~low & 0x1FFF;
        V greenUHigh, greenULow, greenVHigh, greenVLow;
        Split(centredU, -3203, greenUHigh, greenULow);
        Split(centredV, -6660, greenVHigh, greenVLow);
        const V greenLow = greenULow + greenVLow;
        t.v[2] = greenUHigh + greenVHigh + (greenLow >> 13);
        t.v[3] = ~greenLow & 0x1FFF;
        Split(centredV, 13074, t.v[4], low);
        t.v[5] = ~low & 0x1FFF;
        return t;
    }

    template <int kBytes>
    static void TablePixels(uint8_t* d, const uint8_t* y, const TableTerms& c) {
        V high, low;
        Split(Isa::Luma(y) - 16, 9535, high, low);
        // A true comparison is -1.
        const V b = high + c.v[0] - (low > c.v[1]);
        const V g = high + c.v[2] - (low > c.v[3]);
        const V r = high + c.v[4] - (low > c.v[5]);
        if constexpr (kBytes == 4)
            Isa::StoreBgra(d, b, g, r);
        else
            Isa::StoreBgr(d, b, g, r);
    }

    // ---- 565 ----
    // (k x s) >> 8 for |s| <= 128.
    static V TimesShift8(V sample, int16_t coefficient) {
        return Isa::MulHi(sample << 8, coefficient);
    }

    // red, green, blue.
    using Terms565 = Terms<3>;

    static Terms565 Chroma565(V centredU, V centredV) {
        // Two products summed before the shift: carry their low bytes.
        const V lowSum = (Isa::MulLo(centredV, -183) & 0xFF) + (Isa::MulLo(centredU, -88) & 0xFF);
        return {{TimesShift8(centredV, 359),
                 TimesShift8(centredV, -183) + TimesShift8(centredU, -88) + (lowSum >> 8),
                 TimesShift8(centredU, 454)}};
    }

    static void Pixels565(uint8_t* d, const uint8_t* y, const Terms565& c) {
        const V luma = Isa::Luma(y);
        const V r = Clamp(luma + c.v[0]);
        const V g = Clamp(luma + c.v[1]);
        const V b = Clamp(luma + c.v[2]);
        Isa::Store565(d, (r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
    }

    // ---- the row-pair walk shared by all three ----
    // Wide steps compute the chroma of 2 kPixels pixels once and spread it; narrow steps finish
    // the row, and the plain kernel a row narrower than one step.
    template <class T, T (*kChroma)(V, V), void (*kPixelsOut)(uint8_t*, const uint8_t*, const T&),
              int kBytes>
    static int Walk(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                    const uint8_t* u, const uint8_t* v, int pairs) {
        const int width = 2 * pairs;
        int x = 0;
        for (; x + 2 * kPixels <= width; x += 2 * kPixels) {
            const T both =
                kChroma(Isa::ChromaWide(u + x / 2) - 128, Isa::ChromaWide(v + x / 2) - 128);
            const T left = both.template Map<Isa::DupLow>();
            const T right = both.template Map<Isa::DupHigh>();
            kPixelsOut(d0 + x * kBytes, y0 + x, left);
            kPixelsOut(d1 + x * kBytes, y1 + x, left);
            kPixelsOut(d0 + (x + kPixels) * kBytes, y0 + x + kPixels, right);
            kPixelsOut(d1 + (x + kPixels) * kBytes, y1 + x + kPixels, right);
        }
        if (x + kPixels <= width) {
            const T c = kChroma(Isa::Chroma(u + x / 2) - 128, Isa::Chroma(v + x / 2) - 128);
            kPixelsOut(d0 + x * kBytes, y0 + x, c);
            kPixelsOut(d1 + x * kBytes, y1 + x, c);
            x += kPixels;
        }
        if (x < width && width >= kPixels) {
            // The rest of the row: one more narrow step that ends where the row ends, over
            // pixels already done (they get the same values again). A scaled row rarely has a
            // width of whole steps, and the plain kernel costs ten times as much a pixel.
            x = width - kPixels;
            const T c = kChroma(Isa::Chroma(u + x / 2) - 128, Isa::Chroma(v + x / 2) - 128);
            kPixelsOut(d0 + x * kBytes, y0 + x, c);
            kPixelsOut(d1 + x * kBytes, y1 + x, c);
            x = width;
        }
        return x;
    }

    template <int kBytes, RowPairKernel kPlain>
    static void TableRows(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                          const uint8_t* u, const uint8_t* v, int pairs) {
        const int done =
            Walk<TableTerms, TableChroma, TablePixels<kBytes>, kBytes>(d0, d1, y0, y1, u, v, pairs);
        if (done < 2 * pairs)
            kPlain(d0 + done * kBytes, d1 + done * kBytes, y0 + done, y1 + done, u + done / 2,
                   v + done / 2, pairs - done / 2);
    }

    static void Rows565(uint8_t* d0, uint8_t* d1, const uint8_t* y0, const uint8_t* y1,
                        const uint8_t* u, const uint8_t* v, int pairs) {
        const int done = Walk<Terms565, Chroma565, Pixels565, 2>(d0, d1, y0, y1, u, v, pairs);
        if (done < 2 * pairs)
            PlainRows565(d0 + 2 * done, d1 + 2 * done, y0 + done, y1 + done, u + done / 2,
                         v + done / 2, pairs - done / 2);
    }

    static constexpr ColourConverter Converter(const char* name) {
        return {name, Rows565, TableRows<3, PlainRows24>, TableRows<4, PlainRows32>};
    }
};

}  // namespace
}  // namespace tavix

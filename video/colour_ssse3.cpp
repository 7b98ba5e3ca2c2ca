// The 128-bit kernels (SSSE3: the byte shuffle packs BGR).
#include <cstring>

#include "video/colour_vector_rows.h"

namespace tavix {
namespace {

struct Ssse3 {
    using V = int16_t __attribute__((vector_size(16)));
    static constexpr int kPixels = 8;

    static V Luma(const uint8_t* p) {
        return V(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                   _mm_setzero_si128()));
    }
    static V Chroma(const uint8_t* p) {
        int32_t samples;
        std::memcpy(&samples, p, sizeof samples);
        const __m128i bytes = _mm_cvtsi32_si128(samples);
        return V(_mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, bytes), _mm_setzero_si128()));
    }
    static V ChromaWide(const uint8_t* p) {
        return V(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                   _mm_setzero_si128()));
    }
    static V DupLow(V a) { return V(_mm_unpacklo_epi16(__m128i(a), __m128i(a))); }
    static V DupHigh(V a) { return V(_mm_unpackhi_epi16(__m128i(a), __m128i(a))); }
    static V MulHi(V a, int16_t b) { return V(_mm_mulhi_epi16(__m128i(a), _mm_set1_epi16(b))); }
    static V MulLo(V a, int16_t b) { return V(_mm_mullo_epi16(__m128i(a), _mm_set1_epi16(b))); }
    static V Min(V a, V b) { return V(_mm_min_epi16(__m128i(a), __m128i(b))); }
    static V Max(V a, V b) { return V(_mm_max_epi16(__m128i(a), __m128i(b))); }

    // Packing clamps to 0..255; low holds pixels 0-3, high 4-7.
    static void Interleave(V b, V g, V r, __m128i& low, __m128i& high) {
        const __m128i blueRed = _mm_packus_epi16(__m128i(b), __m128i(r));
        const __m128i greenAlpha = _mm_packus_epi16(__m128i(g), _mm_set1_epi16(255));
        const __m128i blueGreen = _mm_unpacklo_epi8(blueRed, greenAlpha);
        const __m128i redAlpha = _mm_unpackhi_epi8(blueRed, greenAlpha);
        low = _mm_unpacklo_epi16(blueGreen, redAlpha);
        high = _mm_unpackhi_epi16(blueGreen, redAlpha);
    }
    static void StoreBgra(uint8_t* d, V b, V g, V r) {
        __m128i low, high;
        Interleave(b, g, r, low, high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), high);
    }
    static void StoreBgr(uint8_t* d, V b, V g, V r) {
        const __m128i dropAlpha =
            _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        __m128i low, high;
        Interleave(b, g, r, low, high);
        low = _mm_shuffle_epi8(low, dropAlpha);
        high = _mm_shuffle_epi8(high, dropAlpha);
        // 12 bytes each; the second store covers the first's 4 spare bytes and ends exactly.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), low);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12), high);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
        std::memcpy(d + 20, &last, sizeof last);
    }
    static void Store565(uint8_t* d, V pixels) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), __m128i(pixels));
    }
};

}  // namespace

constinit const ColourConverter kSsse3Converter = VectorRows<Ssse3>::Converter("ssse3");

}  // namespace tavix

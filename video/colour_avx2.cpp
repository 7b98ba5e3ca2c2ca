// The 256-bit kernels (AVX2).
#include <cstring>

#include "video/colour_vector_rows.h"

namespace tavix {
namespace {

struct Avx2 {
    using V = int16_t __attribute__((vector_size(32)));
    static constexpr int kPixels = 16;

    static V Luma(const uint8_t* p) {
        return V(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }
    static V Chroma(const uint8_t* p) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return V(_mm256_cvtepu8_epi16(_mm_unpacklo_epi8(bytes, bytes)));
    }
    // Quarters of four samples ordered 0, 2, 1, 3, so that the in-half interleave of DupLow
    // yields samples 0-7 and that of DupHigh samples 8-15.
    static V ChromaWide(const uint8_t* p) {
        return V(_mm256_permute4x64_epi64(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), 0xD8));
    }
    static V DupLow(V a) { return V(_mm256_unpacklo_epi16(__m256i(a), __m256i(a))); }
    static V DupHigh(V a) { return V(_mm256_unpackhi_epi16(__m256i(a), __m256i(a))); }
    static V MulHi(V a, int16_t b) {
        return V(_mm256_mulhi_epi16(__m256i(a), _mm256_set1_epi16(b)));
    }
    static V MulLo(V a, int16_t b) {
        return V(_mm256_mullo_epi16(__m256i(a), _mm256_set1_epi16(b)));
    }
    static V Min(V a, V b) { return V(_mm256_min_epi16(__m256i(a), __m256i(b))); }
    static V Max(V a, V b) { return V(_mm256_max_epi16(__m256i(a), __m256i(b))); }

    // Packing clamps to 0..255. The interleaves work within 128-bit halves: low holds pixels
    // 0-3 and 8-11, high 4-7 and 12-15; storing the halves apart needs no shuffle across them.
    static void Interleave(V b, V g, V r, __m256i& low, __m256i& high) {
        const __m256i blueRed = _mm256_packus_epi16(__m256i(b), __m256i(r));
        const __m256i greenAlpha = _mm256_packus_epi16(__m256i(g), _mm256_set1_epi16(255));
        const __m256i blueGreen = _mm256_unpacklo_epi8(blueRed, greenAlpha);
        const __m256i redAlpha = _mm256_unpackhi_epi8(blueRed, greenAlpha);
        low = _mm256_unpacklo_epi16(blueGreen, redAlpha);
        high = _mm256_unpackhi_epi16(blueGreen, redAlpha);
    }
    static void StoreBgra(uint8_t* d, V b, V g, V r) {
        __m256i low, high;
        Interleave(b, g, r, low, high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm256_castsi256_si128(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm256_extracti128_si256(low, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm256_extracti128_si256(high, 1));
    }
    static void StoreBgr(uint8_t* d, V b, V g, V r) {
        const __m256i dropAlpha =
            _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                             6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        __m256i low, high;
        Interleave(b, g, r, low, high);
        low = _mm256_shuffle_epi8(low, dropAlpha);
        high = _mm256_shuffle_epi8(high, dropAlpha);
        // Four groups of 12 bytes in pixel order; each store covers the previous one's 4 spare
        // bytes and the last ends exactly.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12), _mm256_castsi256_si128(high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 24), _mm256_extracti128_si256(low, 1));
        const __m128i last = _mm256_extracti128_si256(high, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 36), last);
        const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(last, 8));
        std::memcpy(d + 44, &tail, sizeof tail);
    }
    static void Store565(uint8_t* d, V pixels) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), __m256i(pixels));
    }
};

}  // namespace

constinit const ColourConverter kAvx2Converter = VectorRows<Avx2>::Converter("avx2");

}  // namespace tavix

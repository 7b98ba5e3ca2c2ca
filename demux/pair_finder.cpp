#include "demux/pair_finder.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tavix {
namespace {

static_assert(std::endian::native == std::endian::little, "vector lanes are read as numbers");

using Bytes16 = uint8_t __attribute__((vector_size(16)));

Bytes16 Splat(uint8_t byte) {
    Bytes16 v;
    std::memset(&v, byte, sizeof v);
    return v;
}

#if defined(__x86_64__)
bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

struct Tables256 {
    __m256i firstLow, firstHigh, secondLow, secondHigh;
};

__attribute__((target("avx2"))) __m256i Table(const uint8_t (&table)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

__attribute__((target("avx2"))) __m256i Classes(__m256i bytes, __m256i low, __m256i high) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    return _mm256_and_si256(
        _mm256_shuffle_epi8(low, _mm256_and_si256(bytes, nibble)),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
}

// Bit j set when a pair ends at p + j, j from 0 to 31: with few pairs each compared, else by
// the classes of the bytes.
__attribute__((target("avx2"))) uint32_t PairsAt(const uint8_t* data, int p, const Tables256& t,
                                                 int count, const __m256i* firsts,
                                                 const __m256i* seconds) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p - 1));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + p));
    if (count <= 2) {
        __m256i hits =
            _mm256_and_si256(_mm256_cmpeq_epi8(a, firsts[0]), _mm256_cmpeq_epi8(b, seconds[0]));
        if (count == 2)
            hits = _mm256_or_si256(hits, _mm256_and_si256(_mm256_cmpeq_epi8(a, firsts[1]),
                                                          _mm256_cmpeq_epi8(b, seconds[1])));
        return static_cast<uint32_t>(_mm256_movemask_epi8(hits));
    }
    const __m256i hits = _mm256_and_si256(Classes(a, t.firstLow, t.firstHigh),
                                          Classes(b, t.secondLow, t.secondHigh));
    return ~static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(hits, _mm256_setzero_si256())));
}
#endif

}  // namespace

PairFinder::PairFinder(std::span<const std::pair<uint8_t, uint8_t>> pairs) {
    for (const auto& [a, b] : pairs) {
        if (count == kMaxPairs) break;
        const auto bit = static_cast<uint8_t>(1 << count);
        first[count] = a;
        second[count] = b;
        firstLow[a & 0x0F] |= bit;
        firstHigh[a >> 4] |= bit;
        secondLow[b & 0x0F] |= bit;
        secondHigh[b >> 4] |= bit;
        ++count;
    }
}

int PairFinder::Find(const uint8_t* data, int from, int to, Search search) const {
    if (from >= to) return to;
    switch (search) {
        case Search::kByteByByte:
            return FindByteByByte(data, from, to);
        case Search::kPortable:
            return FindPortable(data, from, to);
        case Search::kFastest:
        default:
#if defined(__x86_64__)
            if (HaveAvx2()) return FindAvx2(data, from, to);
#endif
            return FindPortable(data, from, to);
    }
}

int PairFinder::FindByteByByte(const uint8_t* data, int from, int to) const {
    for (int j = from; j < to; ++j)
        for (int k = 0; k < count; ++k)
            if (data[j - 1] == first[k] && data[j] == second[k]) return j;
    return to;
}

int PairFinder::FindPortable(const uint8_t* data, int from, int to) const {
    Bytes16 firsts[kMaxPairs];
    Bytes16 seconds[kMaxPairs];
    for (int k = 0; k < count; ++k) {
        firsts[k] = Splat(first[k]);
        seconds[k] = Splat(second[k]);
    }
    int j = from;
    for (; j + 16 <= to; j += 16) {
        Bytes16 a;
        Bytes16 b;
        std::memcpy(&a, data + j - 1, sizeof a);
        std::memcpy(&b, data + j, sizeof b);
        decltype(a == b) hits = {};
        for (int k = 0; k < count; ++k)
            hits |= (a == firsts[k]) & (b == seconds[k]);
        uint64_t halves[2];
        std::memcpy(halves, &hits, sizeof halves);
        if (halves[0]) return j + (std::countr_zero(halves[0]) >> 3);
        if (halves[1]) return j + 8 + (std::countr_zero(halves[1]) >> 3);
    }
    return FindByteByByte(data, j, to);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int PairFinder::FindAvx2(const uint8_t* data, int from,
                                                         int to) const {
    const Tables256 tables = {Table(firstLow), Table(firstHigh), Table(secondLow),
                              Table(secondHigh)};
    const __m256i firsts[2] = {_mm256_set1_epi8(static_cast<char>(first[0])),
                               _mm256_set1_epi8(static_cast<char>(first[1]))};
    const __m256i seconds[2] = {_mm256_set1_epi8(static_cast<char>(second[0])),
                                _mm256_set1_epi8(static_cast<char>(second[1]))};
    int j = from;
    for (; j + 32 <= to; j += 32)
        if (uint32_t pairs = PairsAt(data, j, tables, count, firsts, seconds))
            return j + std::countr_zero(pairs);
    // The rest in one step that overlaps what was looked at.
    if (j < to && to - 32 >= 1) {
        const int p = to - 32;
        const int seen = j - p;  // 1 to 31
        if (uint32_t pairs = PairsAt(data, p, tables, count, firsts, seconds) >> seen << seen)
            return p + std::countr_zero(pairs);
        return to;
    }
    return FindByteByByte(data, j, to);
}
#endif

}  // namespace tavix

// A fast search for the places where one of a few two-byte pairs stands, for the scans that look
// for start codes and markers: most bytes of a stream are passed over 32 bytes at a time (AVX2),
// or 16 at a time in portable vector code.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>

namespace tavix {

class PairFinder {
  public:
    static constexpr int kMaxPairs = 8;

    // How Find passes over bytes; all give the same result.
    enum class Search { kFastest, kPortable, kByteByByte };

    // Up to kMaxPairs pairs (first byte, second byte); more are ignored.
    explicit PairFinder(std::span<const std::pair<uint8_t, uint8_t>> pairs);
    PairFinder(std::initializer_list<std::pair<uint8_t, uint8_t>> pairs)
        : PairFinder(std::span(pairs.begin(), pairs.size())) {}

    // The first j in [from, to) where data[j - 1], data[j] is one of the pairs, or `to`. Reads
    // bytes of data[0, to); `from` must be at least 1.
    int Find(const uint8_t* data, int from, int to, Search search = Search::kFastest) const;

  private:
    int FindPortable(const uint8_t* data, int from, int to) const;
    int FindByteByByte(const uint8_t* data, int from, int to) const;
#if defined(__x86_64__)
    int FindAvx2(const uint8_t* data, int from, int to) const;
#endif

    int count = 0;
    uint8_t first[kMaxPairs] = {};
    uint8_t second[kMaxPairs] = {};
    // Bit k of a byte's class is set when it is the first (second) byte of pair k; a class is
    // the AND of a look-up by the byte's low and by its high four bits.
    uint8_t firstLow[16] = {};
    uint8_t firstHigh[16] = {};
    uint8_t secondLow[16] = {};
    uint8_t secondHigh[16] = {};
};

}  // namespace tavix

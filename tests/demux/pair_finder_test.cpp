// The vector searches for byte pairs against the byte-by-byte one, on random bytes where pairs
// and their halves are common, for few pairs (compared one by one) and many (classified).
#include "demux/pair_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tavix {
namespace {

TEST(PairFinderTest, EverySearchFindsWhatTheByteByByteOneFinds) {
    const std::vector<std::vector<std::pair<uint8_t, uint8_t>>> sets = {
        {{0x00, 0x01}},
        {{0x00, 0x01}, {'w', 'b'}},
        {{0x00, 0x01}, {'I', 'F'}, {'Q', 'M'}, {0x26, 0xB2}, {0xEF, 0x19}, {0x9E, 0x69}},
        {{1, 2}, {1, 3}, {2, 1}, {0xF0, 0x0F}, {0x0F, 0xF0}, {0xFF, 0xFF}, {0, 0}, {0x80, 0x80}},
    };
    std::mt19937 random(11);
    for (size_t set = 0; set < sets.size(); ++set) {
        const auto& pairs = sets[set];
        PairFinder finder{std::span(pairs)};
        for (int round = 0; round < 300; ++round) {
            std::vector<uint8_t> data(2 + random() % 200);
            for (uint8_t& byte : data) {  // mostly bytes of the pairs, so near misses abound
                const auto& pair = pairs[random() % pairs.size()];
                byte = random() % 3 ? (random() % 2 ? pair.first : pair.second)
                                    : static_cast<uint8_t>(random());
            }
            const int to = static_cast<int>(data.size()) - static_cast<int>(random() % 2);
            const int from = 1 + static_cast<int>(random() % static_cast<unsigned>(to));
            const int expected =
                finder.Find(data.data(), from, to, PairFinder::Search::kByteByByte);
            EXPECT_EQ(expected, finder.Find(data.data(), from, to, PairFinder::Search::kPortable))
                << "set " << set << ", round " << round;
            EXPECT_EQ(expected, finder.Find(data.data(), from, to, PairFinder::Search::kFastest))
                << "set " << set << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace tavix

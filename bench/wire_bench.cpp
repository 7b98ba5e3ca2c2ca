// Reply parsing cost for the replies the session sees most: media headers and channel lists.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client/wire_messages.h"
#include "platform/bytes.h"

namespace tavix {
namespace {

std::vector<uint8_t> Reply(uint8_t code, const std::string& body) {
    std::vector<uint8_t> m(kHeaderSize + body.size(), 0);
    m[0] = code;
    WriteLe32(&m[4], static_cast<uint32_t>(body.size()));
    std::copy(body.begin(), body.end(), m.begin() + kHeaderSize);
    return m;
}

void BM_ParseMediaReply(benchmark::State& state) {
    auto m = Reply(kReplyMedia, std::string(2016, 'v'));
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseReply(m.data(), m.size()));
}
BENCHMARK(BM_ParseMediaReply);

void BM_ParseChannelNames(benchmark::State& state) {
    std::string body;
    for (int i = 0; i < 32; ++i)
        body += (i ? "&&" : "") + std::string("Camera ") + std::to_string(i);
    auto m = Reply(kReplyChannelNames, body);
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseReply(m.data(), m.size()));
}
BENCHMARK(BM_ParseChannelNames);

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();

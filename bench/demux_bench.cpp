// Feed throughput of the demultiplexer's parsers on a realistic stream, beside a plain memchr
// scan for start codes over the same bytes in the same chunks (the reference for the ratio).
//
// The stream: 704 x 576 MPEG-4 Visual at 25 pictures per second and 2 Mbit/s from FFmpeg's
// mpeg4 encoder, with a device audio packet (320 bytes) after every picture, as a recorder
// sends it. Fed in 2048-byte chunks, every frame drained after each chunk, as the decoder does.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "demux/mpeg4_es_parser.h"
#include "demux/stream_parser.h"
#include "tests/support/test_packet_parser.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

struct Streams {
    Bytes elementary;  // pictures and device audio packets
    Bytes packets;     // the same pieces, each in a packet of the assembler's test format
};

const Streams& TestStreams() {
    static const Streams streams = [] {
        test::VideoOptions options;
        options.width = 704;
        options.height = 576;
        options.frames = 125;
        options.bitRate = 2000000;
        test::EncodedVideo video = test::EncodeMpeg4(options);
        Streams s;
        Bytes audio = {0, 0, 1, 0xF0, 7, 1, 0x40, 0x01};
        audio.resize(8 + 320, 0x80);
        for (const test::EncodedFrame& f : video.frames) {
            Bytes picture(video.bytes.begin() + static_cast<ptrdiff_t>(f.offset),
                          video.bytes.begin() + static_cast<ptrdiff_t>(f.offset + f.size));
            s.elementary.insert(s.elementary.end(), picture.begin(), picture.end());
            s.elementary.insert(s.elementary.end(), audio.begin(), audio.end());
            Bytes wrapped = test::TestPacket(test::TestPacketParser::kVideoCode, picture, !f.key);
            s.packets.insert(s.packets.end(), wrapped.begin(), wrapped.end());
            wrapped = test::TestPacket(test::TestPacketParser::kAudioCode, audio);
            s.packets.insert(s.packets.end(), wrapped.begin(), wrapped.end());
        }
        return s;
    }();
    return streams;
}

template <class Parser>
void FeedStream(benchmark::State& state, Parser& parser, const Bytes& stream) {
    const auto chunk = static_cast<size_t>(state.range(0));
    int64_t frames = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += chunk) {
            size_t n = std::min(chunk, stream.size() - at);
            parser.Feed(stream.data() + at, static_cast<int>(n));
            while (const FrameInfo* frame = parser.NextFrame()) {
                benchmark::DoNotOptimize(frame->payloadLength);
                ++frames;
            }
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_Mpeg4EsFeed(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    Mpeg4EsParser parser(buffer.get(), Mpeg4EsParser::kModePlain);
    FeedStream(state, parser, TestStreams().elementary);
}
BENCHMARK(BM_Mpeg4EsFeed)->Arg(2048)->Arg(65536);

// The reference: every 00 00 01 found with memchr, a code split between chunks included.
void BM_MemchrStartCodeScan(benchmark::State& state) {
    const Bytes& stream = TestStreams().elementary;
    const auto chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        int64_t codes = 0;
        uint32_t carry = 0xFFFFFFFF;  // the last bytes of the previous chunk
        for (size_t at = 0; at < stream.size(); at += chunk) {
            size_t n = std::min(chunk, stream.size() - at);
            const uint8_t* p = stream.data() + at;
            const uint8_t* end = p + n;
            for (const uint8_t* q = p;
                 (q = static_cast<const uint8_t*>(memchr(q, 0x01, static_cast<size_t>(end - q))));
                 ++q) {
                uint8_t before1 = q - p >= 1 ? q[-1] : static_cast<uint8_t>(carry);
                uint8_t before2 =
                    q - p >= 2 ? q[-2] : static_cast<uint8_t>(carry >> (q - p ? 0 : 8));
                if (before1 == 0 && before2 == 0) ++codes;
            }
            carry = n >= 2 ? static_cast<uint32_t>(end[-2]) << 8 | end[-1] : carry << 8 | end[-1];
        }
        benchmark::DoNotOptimize(codes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_MemchrStartCodeScan)->Arg(2048)->Arg(65536);

// The packet assembler on its own: packets of its test format (the payloads are skipped, not
// scanned), and bytes without any of its start codes (all searched), with the search hint and
// byte by byte.
void BM_AssemblerFeed(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    test::TestPacketParser parser(buffer.get(), state.range(1) != 0);
    FeedStream(state, parser, TestStreams().packets);
}
BENCHMARK(BM_AssemblerFeed)->ArgNames({"chunk", "hint"})->Args({2048, 1});

void BM_AssemblerSearch(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    test::TestPacketParser parser(buffer.get(), state.range(1) != 0);
    FeedStream(state, parser, TestStreams().elementary);
}
BENCHMARK(BM_AssemblerSearch)->ArgNames({"chunk", "hint"})->Args({2048, 1})->Args({2048, 0});

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();

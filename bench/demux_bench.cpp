// Feed throughput of the demultiplexer on every format it reads, beside a plain memchr scan for
// start codes over the same bytes in the same chunks (the reference for the ratio) and, for the
// formats it reads too, FFmpeg's libavformat demultiplexing the same bytes from memory.
//
// The streams: 704 x 576 pictures at 25 per second and 2 Mbit/s (H.264 from libx264, MPEG-4
// Visual from FFmpeg's mpeg4 encoder, both through libavcodec) with a 320-byte block of audio
// after every picture, wrapped by the test writers as a recorder sends them. Fed in chunks of
// 2048 bytes (65536 where given), every frame drained after each chunk, as the decoder does.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/format_scan.h"
#include "demux/mpeg4_es_parser.h"
#include "demux/private_packet_parser.h"
#include "demux/stream_demuxer.h"
#include "demux/stream_parser.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_packet_parser.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::Bytes;

enum Stream {
    kElementary,   // MPEG-4 Visual with the device's audio packets
    kTestPackets,  // the same pieces in the assembler's test format
    kPrivate,
    kAudioOnly,
    kSequenced,
    kTagged,
    kProgramStream,
    kChecksummed,
    kAsf,
    kAvi,
};

std::vector<test::MediaUnit> Units(bool h264) {
    test::VideoOptions options;
    options.width = 704;
    options.height = 576;
    options.frames = 125;
    options.bitRate = 2000000;
    return test::MediaUnits(h264 ? test::EncodeH264(options) : test::EncodeMpeg4(options), 1, 320);
}

const Bytes& TestStream(Stream which) {
    static const std::map<Stream, Bytes> streams = [] {
        const auto mpeg4 = Units(false);
        const auto h264 = Units(true);
        test::PictureInfo info;
        info.width = 704;
        info.height = 576;
        std::map<Stream, Bytes> s;
        for (const test::MediaUnit& unit : mpeg4) {
            test::Append(s[kElementary],
                         unit.video ? unit.bytes : test::PrivateAudioPacket(7, 1, unit.bytes));
            test::Append(s[kTestPackets],
                         test::TestPacket(unit.video ? test::TestPacketParser::kVideoCode
                                                     : test::TestPacketParser::kAudioCode,
                                          unit.bytes, unit.video && !unit.key));
        }
        s[kPrivate] = test::WritePrivateStream(h264, info);
        for (size_t i = 0; s[kAudioOnly].size() < s[kPrivate].size(); ++i)
            test::Append(s[kAudioOnly],
                         test::PrivateAudioPacket(14, 2, test::AudioBlock(320, uint8_t(i))));
        s[kSequenced] = test::WriteSequencedStream(mpeg4, info);
        s[kTagged] = test::WriteTaggedStream(mpeg4);
        s[kProgramStream] = test::WriteProgramStream(h264, info);
        s[kChecksummed] = test::WriteChecksummedStream(h264, info);
        s[kAsf] = test::WriteAsf(h264, info, {8192, 1, 2, false});
        s[kAvi] = test::WriteAvi(mpeg4, info);
        return s;
    }();
    return streams.at(which);
}

template <class Source>
int64_t FeedAll(Source& source, const Bytes& stream, size_t chunk) {
    int64_t frames = 0;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        size_t n = std::min(chunk, stream.size() - at);
        source.Feed(stream.data() + at, static_cast<int>(n));
        while (const FrameInfo* frame = source.NextFrame()) {
            benchmark::DoNotOptimize(frame->payloadLength);
            ++frames;
        }
    }
    return frames;
}

void Report(benchmark::State& state, const Bytes& stream, int64_t frames) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// The demultiplexer as the decoder drives it: recognition from the first chunk, then its parser.
// Arg 0: the stream, arg 1: the chunk size.
void BM_DemuxerFeed(benchmark::State& state) {
    const Bytes& stream = TestStream(static_cast<Stream>(state.range(0)));
    const auto chunk = static_cast<size_t>(state.range(1));
    int64_t frames = 0;
    for (auto _ : state) {
        StreamDemuxer demuxer;
        frames += FeedAll(demuxer, stream, chunk);
    }
    Report(state, stream, frames);
}

void BM_Mpeg4EsFeed(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    Mpeg4EsParser parser(buffer.get(), Mpeg4EsParser::kModePlain);
    const Bytes& stream = TestStream(kElementary);
    int64_t frames = 0;
    for (auto _ : state)
        frames += FeedAll(parser, stream, static_cast<size_t>(state.range(0)));
    Report(state, stream, frames);
}
BENCHMARK(BM_Mpeg4EsFeed)->Arg(2048)->Arg(65536);

// The reference: every 00 00 01 found with memchr, a code split between chunks included.
void BM_MemchrStartCodeScan(benchmark::State& state) {
    const Bytes& stream = TestStream(static_cast<Stream>(state.range(0)));
    const auto chunk = static_cast<size_t>(state.range(1));
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

// FFmpeg's demultiplexer on the same bytes, read through a custom I/O context in chunks of
// the same size, every packet taken out.
struct MemoryReader {
    const Bytes* stream;
    size_t at = 0;
    size_t chunk;
};

int ReadChunk(void* opaque, uint8_t* to, int size) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    size_t n =
        std::min({static_cast<size_t>(size), reader->chunk, reader->stream->size() - reader->at});
    if (n == 0) return AVERROR_EOF;
    std::memcpy(to, reader->stream->data() + reader->at, n);
    reader->at += n;
    return static_cast<int>(n);
}

int64_t ReadWithLibavformat(const Bytes& stream, const char* format, size_t chunk) {
    MemoryReader reader{&stream, 0, chunk};
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(chunk));
    AVIOContext* io = avio_alloc_context(ioBuffer, static_cast<int>(chunk), 0, &reader, ReadChunk,
                                         nullptr, nullptr);
    AVFormatContext* context = avformat_alloc_context();
    context->pb = io;
    int64_t packets = 0;
    if (avformat_open_input(&context, nullptr, av_find_input_format(format), nullptr) == 0) {
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(context, packet) >= 0) {
            benchmark::DoNotOptimize(packet->size);
            ++packets;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&context);
    } else {
        avformat_free_context(context);
    }
    av_freep(&io->buffer);
    avio_context_free(&io);
    return packets;
}

void BM_LibavformatRead(benchmark::State& state) {
    static const char* const kNames[] = {"mpeg", "asf", "avi"};
    static const Stream kStreams[] = {kProgramStream, kAsf, kAvi};
    av_log_set_level(AV_LOG_QUIET);
    const auto which = static_cast<size_t>(state.range(0));
    const Bytes& stream = TestStream(kStreams[which]);
    int64_t frames = 0;
    for (auto _ : state)
        frames += ReadWithLibavformat(stream, kNames[which], static_cast<size_t>(state.range(1)));
    Report(state, stream, frames);
}

// The packet assembler on its own: packets of its test format (the payloads are skipped, not
// scanned), and bytes without any of its start codes (all searched), with the search hint and
// byte by byte.
void BM_AssemblerFeed(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    test::TestPacketParser parser(buffer.get(), state.range(1) != 0);
    const Bytes& stream = TestStream(kTestPackets);
    int64_t frames = 0;
    for (auto _ : state)
        frames += FeedAll(parser, stream, static_cast<size_t>(state.range(0)));
    Report(state, stream, frames);
}
BENCHMARK(BM_AssemblerFeed)->ArgNames({"chunk", "hint"})->Args({2048, 1});

void BM_AssemblerSearch(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    test::TestPacketParser parser(buffer.get(), state.range(1) != 0);
    const Bytes& stream = TestStream(kElementary);
    int64_t frames = 0;
    for (auto _ : state)
        frames += FeedAll(parser, stream, static_cast<size_t>(state.range(0)));
    Report(state, stream, frames);
}
BENCHMARK(BM_AssemblerSearch)->ArgNames({"chunk", "hint"})->Args({2048, 1})->Args({2048, 0});

// Audio packets alone (type 6) cost a recognising scan of every chunk on top of the parser: the
// two apart.
void BM_RecognitionScan(benchmark::State& state) {
    const Bytes& stream = TestStream(kAudioOnly);
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += 2048) {
            const int n = static_cast<int>(std::min<size_t>(2048, stream.size() - at));
            benchmark::DoNotOptimize(ScanFormats(stream.data() + at, n));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_RecognitionScan);

void BM_PrivateParserAudio(benchmark::State& state) {
    auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    PrivatePacketParser parser(buffer.get());
    const Bytes& stream = TestStream(kAudioOnly);
    int64_t frames = 0;
    for (auto _ : state)
        frames += FeedAll(parser, stream, 2048);
    Report(state, stream, frames);
}
BENCHMARK(BM_PrivateParserAudio);

// Each format in 2048-byte chunks: the demultiplexer, memchr, and libavformat where it reads it.
void RegisterFormats() {
    struct Format {
        const char* name;
        Stream stream;
        int libavformat;  // index into BM_LibavformatRead's formats, or -1
    } formats[] = {
        {"elementary", kElementary, -1},
        {"private", kPrivate, -1},
        {"audio_only", kAudioOnly, -1},
        {"sequenced", kSequenced, -1},
        {"tagged", kTagged, -1},
        {"program_stream", kProgramStream, 0},
        {"checksummed", kChecksummed, -1},
        {"asf", kAsf, 1},
        {"avi", kAvi, 2},
    };
    for (const Format& f : formats) {
        std::string name = f.name;
        benchmark::RegisterBenchmark(("Feed/" + name).c_str(), BM_DemuxerFeed)
            ->Args({f.stream, 2048});
        benchmark::RegisterBenchmark(("Memchr/" + name).c_str(), BM_MemchrStartCodeScan)
            ->Args({f.stream, 2048});
        if (f.libavformat >= 0)
            benchmark::RegisterBenchmark(("Libavformat/" + name).c_str(), BM_LibavformatRead)
                ->Args({f.libavformat, 2048});
    }
}

}  // namespace
}  // namespace tavix

int main(int argc, char** argv) {
    tavix::RegisterFormats();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// What the demultiplexer's fuzz targets share.
//
// Input: bytes 0-1 seed the chunk sizes (bit 0 also: drain with NextKeyFrame), byte 2 bounds
// them (1 to 4096 bytes; see Chunks), the rest is the stream. The seeds in fuzz/corpus/ are
// streams from the test writers behind such three bytes.
//
// Every frame that comes out must lie in live memory. Under AddressSanitizer each chunk lies in
// a place of its own that is poisoned once the chunk is drained, and a frame's bytes are checked
// as a region: a frame or a parser that reads a dead chunk, or past either end of a buffer, is
// reported as if each chunk were an allocation of its own, at the cost of a copy. The harness is
// kept out of the coverage the fuzzer steers by, so that only the parsers' branches count.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "demux/frame_info.h"
#include "demux/mpeg4_es_parser.h"
#include "demux/stream_parser.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define TAVIX_FUZZ_ASAN 1
#endif
#endif

// Harness code: not part of the coverage that steers the fuzzer.
#define TAVIX_HARNESS __attribute__((no_sanitize("coverage")))

namespace tavix::fuzz {

struct Input {
    uint16_t seed = 0;
    uint8_t bound = 0;
    bool keyFrames = false;
    std::span<const uint8_t> stream;
};

// False when the input is too short for its three leading bytes.
TAVIX_HARNESS inline bool ReadInput(const uint8_t* data, size_t size, Input& input) {
    if (size < 3) return false;
    input.seed = static_cast<uint16_t>(data[0] | data[1] << 8);
    input.bound = data[2];
    input.keyFrames = (input.seed & 1) != 0;
    input.stream = std::span<const uint8_t>(data + 3, size - 3);
    return true;
}

// What a frame showed, for comparing runs.
struct Seen {
    int32_t kind, dependent, packetLength, payloadLength;
    size_t sum;
    bool operator==(const Seen&) const = default;
};

// Traps, with the sanitizer's report, unless [bytes, bytes + length) is live memory. Checks
// nothing without AddressSanitizer.
TAVIX_HARNESS inline void ExpectLive(const uint8_t* bytes, int32_t length) {
#ifdef TAVIX_FUZZ_ASAN
    if (length <= 0) return;
    if (const void* bad =
            __asan_region_is_poisoned(const_cast<uint8_t*>(bytes), static_cast<size_t>(length))) {
        // Read the first dead byte, so that the report says what it is.
        volatile uint8_t byte = *static_cast<const volatile uint8_t*>(bad);
        (void)byte;
        __builtin_trap();
    }
#else
    (void)bytes;
    (void)length;
#endif
}

// Traps unless the frame's lengths are sane and its bytes live; returns what it showed. The
// payload's checksum is read outside the sanitizers' view, once ExpectLive passed.
TAVIX_HARNESS inline Seen Check(const FrameInfo& frame) {
    if (frame.payloadLength < 0 || frame.packetLength < 0) __builtin_trap();
    if (frame.payloadLength > 0 && !frame.payload) __builtin_trap();
    if (frame.packetLength > 0 && !frame.packet) __builtin_trap();
    ExpectLive(frame.payload, frame.payloadLength);
    ExpectLive(frame.packet, frame.packetLength);
    size_t sum = 0;
    if (frame.payloadLength > 0) {
        sum = std::hash<std::string_view>{}(
            std::string_view(reinterpret_cast<const char*>(frame.payload),
                             static_cast<size_t>(frame.payloadLength)));
    }
    return {frame.kind, frame.dependent, frame.packetLength, frame.payloadLength, sum};
}

// Chunk sizes from the input's seed and bound. A stream is cut into kMaxChunks pieces at most:
// a parser's cost grows with its Feeds, and a long stream in one-byte chunks would cost as much
// as hundreds of short inputs while showing little more (short streams still come in one-byte
// chunks).
class Chunks {
  public:
    static constexpr size_t kMaxChunks = 64;

    explicit Chunks(const Input& input)
        : state(input.seed * 2654435761u + 1),
          limit(1u << (input.bound % 13)),
          least(input.stream.size() / kMaxChunks) {}
    TAVIX_HARNESS size_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return std::max<size_t>(1 + state % limit, least);
    }

  private:
    uint32_t state;
    uint32_t limit;
    size_t least;
};

TAVIX_HARNESS inline void Poison(const uint8_t* bytes, size_t count) {
#ifdef TAVIX_FUZZ_ASAN
    ASAN_POISON_MEMORY_REGION(bytes, count);
#else
    (void)bytes;
    (void)count;
#endif
}

TAVIX_HARNESS inline void Unpoison(const uint8_t* bytes, size_t count) {
#ifdef TAVIX_FUZZ_ASAN
    ASAN_UNPOISON_MEMORY_REGION(bytes, count);
#else
    (void)bytes;
    (void)count;
#endif
}

// The block the chunks of a run are placed in, `size` bytes at least: poisoned but for the chunk
// being fed, and kept from run to run.
TAVIX_HARNESS inline uint8_t* ChunkBlock(size_t size) {
    static std::unique_ptr<uint8_t[]> block;
    static size_t capacity = 0;
    if (size > capacity) {
        if (block) Unpoison(block.get(), capacity);
        capacity = std::max(size, 2 * capacity);
        block = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        Poison(block.get(), capacity);
    }
    return block.get();
}

// Feeds `stream` to `source` (a parser or a demultiplexer) in the chunks `chunks` gives, or
// whole, drains it after each chunk and returns what came out. Each chunk is copied to an 8-byte
// aligned place of its own in the chunk block. For a sequenced-mode MPEG-4 parser, `sequenced`
// is that parser: it keeps its frames until Drop(1).
template <class Source>
TAVIX_HARNESS std::vector<Seen> Run(Source& source, std::span<const uint8_t> stream, Chunks* chunks,
                                    bool keyFrames, Mpeg4EsParser* sequenced = nullptr) {
    uint8_t* block = ChunkBlock(stream.size() * 8 + 8);  // room for one-byte chunks, aligned
    std::vector<Seen> seen;
    size_t place = 0;
    for (size_t at = 0; at < stream.size();) {
        const size_t n = chunks ? std::min(chunks->Next(), stream.size() - at) : stream.size();
        uint8_t* chunk = block + place;
        Unpoison(chunk, n);
        std::memcpy(chunk, stream.data() + at, n);
        source.Feed(chunk, static_cast<int>(n));
        while (const FrameInfo* frame = keyFrames ? source.NextKeyFrame() : source.NextFrame())
            seen.push_back(Check(*frame));
        if (sequenced) sequenced->Drop(1);
        Poison(chunk, n);
        place += (n + 7) & ~size_t{7};
        at += n;
    }
    return seen;
}

// The work buffer lent to the parsers, made once.
inline uint8_t* WorkBuffer() {
    static const std::unique_ptr<uint8_t[]> buffer =
        std::make_unique_for_overwrite<uint8_t[]>(kWorkBufferSize);
    return buffer.get();
}

// A new parser on the work buffer (and `arguments`), fed the input in its chunks, then Reset.
template <class Parser, class... Arguments>
TAVIX_HARNESS void RunParser(const Input& input, Arguments... arguments) {
    Parser parser(WorkBuffer(), arguments...);
    Chunks chunks(input);
    Run(parser, input.stream, &chunks, input.keyFrames);
    parser.Reset(0);
}

}  // namespace tavix::fuzz

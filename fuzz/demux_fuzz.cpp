// Arbitrary bytes, cut into arbitrary chunks, through format recognition and every stream parser.
//
// Input: bytes 0-1 seed the chunk sizes (and the ASF packet size), byte 2 bounds them (1 to 4096
// bytes), the rest is the stream. Every frame that comes out is read in full (AddressSanitizer
// watches the bytes); the MPEG-4 parser must cut the same frames whatever the chunking, and the
// fast marker search of recognition must find what a byte-by-byte register finds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "demux/asf_parser.h"
#include "demux/checksummed_packet_parser.h"
#include "demux/format_scan.h"
#include "demux/mpeg4_es_parser.h"
#include "demux/private_packet_parser.h"
#include "demux/program_stream_parser.h"
#include "demux/sequenced_packet_parser.h"
#include "demux/stream_demuxer.h"
#include "demux/stream_parser.h"
#include "demux/tagged_frame_parser.h"
#include "tests/support/test_packet_parser.h"

namespace tavix {
namespace {

struct Seen {
    int32_t kind, dependent, packetLength, payloadLength;
    uint32_t sum;
    bool operator==(const Seen&) const = default;
};

uint32_t Sum(const uint8_t* bytes, int32_t length) {
    uint32_t sum = 0;
    for (int32_t i = 0; i < length; ++i)
        sum = sum * 31 + bytes[i];
    return sum;
}

Seen Check(const FrameInfo& frame) {
    if (frame.payloadLength < 0 || frame.packetLength < 0) __builtin_trap();
    if (frame.payloadLength > 0 && !frame.payload) __builtin_trap();
    if (frame.packetLength > 0 && !frame.packet) __builtin_trap();
    uint32_t sum = frame.payloadLength > 0 ? Sum(frame.payload, frame.payloadLength) : 0;
    if (frame.packetLength > 0) Sum(frame.packet, frame.packetLength);
    return {frame.kind, frame.dependent, frame.packetLength, frame.payloadLength, sum};
}

class Chunks {
  public:
    Chunks(uint16_t seed, uint8_t bound)
        : state(seed * 2654435761u + 1), limit(1u << (bound % 13)) {}
    size_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return 1 + state % limit;
    }

  private:
    uint32_t state;
    uint32_t limit;
};

// Feeds `stream` to `source` in the chunking `chunks` gives (or whole), each chunk a copy that
// dies after draining, and returns what came out.
template <class Source>
std::vector<Seen> Run(Source& source, const std::vector<uint8_t>& stream, Chunks* chunks,
                      bool keyFrames, Mpeg4EsParser* sequenced = nullptr) {
    std::vector<Seen> seen;
    for (size_t at = 0; at < stream.size();) {
        size_t n = chunks ? std::min(chunks->Next(), stream.size() - at) : stream.size();
        std::vector<uint8_t> chunk(stream.begin() + static_cast<ptrdiff_t>(at),
                                   stream.begin() + static_cast<ptrdiff_t>(at + n));
        source.Feed(chunk.data(), static_cast<int>(n));
        while (const FrameInfo* frame = keyFrames ? source.NextKeyFrame() : source.NextFrame())
            seen.push_back(Check(*frame));
        if (sequenced) sequenced->Drop(1);
        at += n;
    }
    return seen;
}

// The markers the byte-by-byte register finds, against the fast search.
void CheckMarkerSearch(const std::vector<uint8_t>& data) {
    static constexpr uint32_t kMarkers[] = {
        0x000001F2, 0x000001FD, 0x000001FB, 0x000001FC, 0x000001FA, 0x000001FE, 0x000001B6,
        0x000001F0, 0x000001BA, 0x52494646, 0x5A514D46, 0x3026B275, 0xC0EF19BC, 0x409E69F8};
    const int length = static_cast<int>(data.size());
    uint32_t reg = 0xFFFFFFFF;
    int found = NextFormatMarker(data.data(), 0, length);
    for (int i = 0; i < length; ++i) {
        reg = reg << 8 | data[static_cast<size_t>(i)];
        bool marker = false;
        for (uint32_t m : kMarkers)
            marker = marker || reg == m;
        if (!marker) continue;
        if (found != i) __builtin_trap();
        found = NextFormatMarker(data.data(), i + 1, length);
    }
    if (found != length) __builtin_trap();
}

uint8_t* WorkBuffer() {
    static const std::unique_ptr<uint8_t[]> buffer =
        std::make_unique_for_overwrite<uint8_t[]>(kWorkBufferSize);
    return buffer.get();
}

}  // namespace
}  // namespace tavix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavix;
    if (size < 3) return 0;
    const uint16_t seed = static_cast<uint16_t>(data[0] | data[1] << 8);
    const uint8_t bound = data[2];
    const std::vector<uint8_t> stream(data + 3, data + size);
    const bool keyFrames = seed & 1;

    for (bool hint : {true, false}) {
        test::TestPacketParser parser(WorkBuffer(), hint);
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
        parser.Reset(0);
    }

    FrameInfo avi{};
    avi.width = 320;
    avi.height = 240;
    avi.frameRate = 25;
    avi.sampleRate = 8000;
    avi.bitsPerSample = 16;
    for (int mode :
         {Mpeg4EsParser::kModePlain, Mpeg4EsParser::kModeSequenced, Mpeg4EsParser::kModeAvi}) {
        std::vector<Seen> whole, chunked;
        {
            Mpeg4EsParser parser(WorkBuffer(), mode, &avi);
            whole = Run(parser, stream, nullptr, false,
                        mode == Mpeg4EsParser::kModeSequenced ? &parser : nullptr);
        }
        {
            Mpeg4EsParser parser(WorkBuffer(), mode, &avi);
            Chunks chunks(seed, bound);
            chunked = Run(parser, stream, &chunks, false,
                          mode == Mpeg4EsParser::kModeSequenced ? &parser : nullptr);
        }
        if (whole != chunked) __builtin_trap();
    }

    {
        PrivatePacketParser parser(WorkBuffer());
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
    }
    {
        SequencedPacketParser parser(WorkBuffer());
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
        parser.Reset(0);
    }
    {
        ChecksummedPacketParser parser(WorkBuffer());
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
    }
    {
        TaggedFrameParser parser(WorkBuffer());
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
    }
    {
        ProgramStreamParser parser(WorkBuffer());
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
        parser.Reset(0);
    }
    {
        AsfParser parser(WorkBuffer(), 20 + seed % 3000, 1 + bound % 3);
        Chunks chunks(seed, bound);
        Run(parser, stream, &chunks, keyFrames);
        parser.Reset(0);
    }

    CheckMarkerSearch(stream);
    // Recognition and the parser it chooses; the typed demultiplexer (its parsers ran above).
    for (int type : {kFormatNone, kFormatMpeg4Es}) {
        StreamDemuxer demuxer(type);
        Chunks chunks(seed, bound);
        Run(demuxer, stream, &chunks, keyFrames);
        demuxer.Reset(1, 0);
        demuxer.Reset(0, 0);
        demuxer.Feed(stream.data(), static_cast<int>(stream.size()));
        while (const FrameInfo* frame = demuxer.NextFrame())
            Check(*frame);
    }
    return 0;
}

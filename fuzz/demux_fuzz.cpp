// The demultiplexer as the decoder drives it: arbitrary bytes in arbitrary chunks are recognised
// as a format and go to the parser chosen (and, typed, to the elementary stream parser). The
// fast marker search of recognition must find what a byte-by-byte register finds. The parser
// families are fuzzed on their own, faster, by demux_packets_fuzz, demux_containers_fuzz and
// demux_mpeg4_fuzz.
#include <cstddef>
#include <cstdint>

#include "demux/format_scan.h"
#include "demux/stream_demuxer.h"
#include "fuzz/demux_fuzz_support.h"

namespace tavix::fuzz {
namespace {

// The markers the byte-by-byte register finds, against the fast search.
TAVIX_HARNESS void CheckMarkerSearch(std::span<const uint8_t> data) {
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

}  // namespace
}  // namespace tavix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavix;
    using namespace tavix::fuzz;
    Input input;
    if (!ReadInput(data, size, input)) return 0;
    CheckMarkerSearch(input.stream);
    for (int type : {kFormatNone, kFormatMpeg4Es}) {
        StreamDemuxer demuxer(type);
        Chunks chunks(input);
        Run(demuxer, input.stream, &chunks, input.keyFrames);
        // Recognised afresh from the whole stream.
        demuxer.Reset(1, 0);
        demuxer.Reset(0, 0);
        Run(demuxer, input.stream, nullptr, false);
    }
    return 0;
}

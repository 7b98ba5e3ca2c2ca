// The MPEG-4 elementary stream parser in its three modes (plain, sequenced slices, AVI): each
// must cut the same frames from a stream whether it comes whole or in arbitrary chunks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "demux/mpeg4_es_parser.h"
#include "fuzz/demux_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavix;
    using namespace tavix::fuzz;
    Input input;
    if (!ReadInput(data, size, input)) return 0;
    FrameInfo avi{};
    avi.width = 320;
    avi.height = 240;
    avi.frameRate = 25;
    avi.sampleRate = 8000;
    avi.bitsPerSample = 16;
    for (int mode :
         {Mpeg4EsParser::kModePlain, Mpeg4EsParser::kModeSequenced, Mpeg4EsParser::kModeAvi}) {
        const bool sequenced = mode == Mpeg4EsParser::kModeSequenced;
        std::vector<Seen> whole, chunked;
        {
            Mpeg4EsParser parser(WorkBuffer(), mode, &avi);
            whole = Run(parser, input.stream, nullptr, false, sequenced ? &parser : nullptr);
        }
        {
            Mpeg4EsParser parser(WorkBuffer(), mode, &avi);
            Chunks chunks(input);
            chunked = Run(parser, input.stream, &chunks, false, sequenced ? &parser : nullptr);
        }
        if (whole != chunked) __builtin_trap();
    }
    return 0;
}

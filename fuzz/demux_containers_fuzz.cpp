// The standard containers: arbitrary bytes in arbitrary chunks through the program stream parser
// and the ASF parser (its packet size and video stream number from the input's leading bytes).
#include <cstddef>
#include <cstdint>

#include "demux/asf_parser.h"
#include "demux/program_stream_parser.h"
#include "fuzz/demux_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavix;
    using namespace tavix::fuzz;
    Input input;
    if (!ReadInput(data, size, input)) return 0;
    RunParser<ProgramStreamParser>(input);
    RunParser<AsfParser>(input, 20 + input.seed % 3000, 1 + input.bound % 3);
    return 0;
}

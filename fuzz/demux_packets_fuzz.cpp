// The packet assembler and the device's own packet formats: arbitrary bytes in arbitrary chunks
// through the assembler driven by the test format (with and without its search hint) and
// through the private, checksummed, tagged and sequenced packet parsers.
#include <cstddef>
#include <cstdint>

#include "demux/checksummed_packet_parser.h"
#include "demux/private_packet_parser.h"
#include "demux/sequenced_packet_parser.h"
#include "demux/tagged_frame_parser.h"
#include "fuzz/demux_fuzz_support.h"
#include "tests/support/test_packet_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavix;
    using namespace tavix::fuzz;
    Input input;
    if (!ReadInput(data, size, input)) return 0;
    RunParser<test::TestPacketParser>(input, true);
    RunParser<test::TestPacketParser>(input, false);
    RunParser<PrivatePacketParser>(input);
    RunParser<ChecksummedPacketParser>(input);
    RunParser<TaggedFrameParser>(input);
    RunParser<SequencedPacketParser>(input);
    return 0;
}

// What one chunk of a media stream tells about its container format: the markers of each format
// found in it, checked where a marker alone would say too little, and the stream properties that
// an ASF or AVI header gives. Pure byte code; the demultiplexer chooses the parser from it.
#pragma once

#include <cstdint>

#include "demux/frame_info.h"
#include "demux/pair_finder.h"

namespace tavix {

struct FormatScan {
    bool sequenced = false;       // 00 00 01 F2 with a plausible size and rate
    bool privatePackets = false;  // 00 00 01 FD or FB with a plausible size and rate; FC, FA, FE
    bool vop = false;             // 00 00 01 B6
    bool audioOnly = false;       // 00 00 01 F0: audio packets, which several formats share
    bool avi = false;             // "RIFF" ... "AVI "
    bool programStream = false;   // 00 00 01 BA
    bool checksummed = false;     // "ZQMF" with a matching header checksum
    bool asf = false;             // the ASF header object
    int32_t vopCount = 0;         // VOP start codes seen
    uint32_t asfPacketSize = 0;   // the header's minimum data packet size
    int32_t asfVideoStream = 1;   // ASF stream number of the video
    FrameInfo aviTemplate{};      // AVI: width, height, frameRate, sampleRate, bitsPerSample
};

// Markers past this many bytes of a chunk end the scan (those of AVI and ASF end it anywhere).
constexpr int kFormatScanLimit = 51200;

// Scans data[0, length) marker by marker, as a register of the last four bytes read would see
// them. AVI and ASF stream properties end the scan at once; any other counted marker ends it
// once more than kFormatScanLimit bytes were read.
FormatScan ScanFormats(const uint8_t* data, int length);

// The offset of the last byte of the first marker the scan looks at that ends at or after
// `from`, or `length` when there is none. Markers lie wholly inside data[0, length). `search`
// chooses how bytes are passed over (for tests: every way finds the same markers).
int NextFormatMarker(const uint8_t* data, int from, int length,
                     PairFinder::Search search = PairFinder::Search::kFastest);

}  // namespace tavix

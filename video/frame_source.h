// Where the decoding thread gets its frames: the demultiplexer's operations as CDecoder uses
// them. The program's decoder reads a StreamDemuxer through it; a test may hand in its own.
#pragma once

#include <cstdint>

#include "demux/frame_info.h"

namespace tavix {

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // One chunk; 0 or -1 as StreamDemuxer::Feed.
    virtual int Feed(const uint8_t* data, int length) = 0;
    // Frames lent until the next Feed or Reset, as StreamDemuxer's.
    virtual FrameInfo* NextFrame() = 0;
    virtual FrameInfo* NextKeyFrame() = 0;
    virtual int Reset(int mode, int kind) = 0;
};

}  // namespace tavix

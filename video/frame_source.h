// Where the decoding thread gets its frames: the demultiplexer's operations as CDecoder uses
// them. The program's decoder reads a StreamDemuxer through it; a test may hand in its own.
#pragma once

#include <cstdint>
#include <memory>

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

// The program's frame source: a demultiplexer that recognises the format itself, or with
// `formatType` one that uses that format's parser at once (as StreamDemuxer's typed
// constructor; tools). After Reset(0, 0) it recognises the format again.
std::unique_ptr<FrameSource> MakeDemuxerSource(int formatType = 0);

}  // namespace tavix

// The simulator's side of the frame stamp (video/frame_stamp.h): drawn into every live picture.
#pragma once

#include "tools/sim/yuv_frame.h"
#include "video/frame_stamp.h"

namespace tavix::sim {

// Paints the stamp into the picture (white and black cells, neutral chroma).
void DrawStamp(YuvFrame& frame, const FrameStamp& stamp);

}  // namespace tavix::sim

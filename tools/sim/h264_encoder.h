// Live H.264: libx264 through libavcodec, baseline profile, parameter sets before every key
// frame (an IDR picture), zero latency.
#pragma once

#include "tools/sim/video_encoder.h"

namespace tavix::sim {

class H264Encoder : public VideoEncoder {
  protected:
    const char* EncoderName() const override;
    void Configure(AVCodecContext* context) const override;
};

}  // namespace tavix::sim

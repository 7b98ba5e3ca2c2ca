// Live MPEG-4 Visual: FFmpeg's own mpeg4 encoder, simple profile, the layer headers (visual
// object sequence, video object, video object layer, group of VOP) before every key frame.
#pragma once

#include "tools/sim/video_encoder.h"

namespace tavix::sim {

class Mpeg4Encoder : public VideoEncoder {
  protected:
    const char* EncoderName() const override;
    void Configure(AVCodecContext* context) const override;
};

}  // namespace tavix::sim

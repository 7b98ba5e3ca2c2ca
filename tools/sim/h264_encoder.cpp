#include "tools/sim/h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace tavix::sim {

const char* H264Encoder::EncoderName() const {
    return "libx264";
}

void H264Encoder::Configure(AVCodecContext* c) const {
    c->keyint_min = c->gop_size;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "profile", "baseline", 0);
    av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
}

}  // namespace tavix::sim

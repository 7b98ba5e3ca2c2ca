#include "tools/sim/mpeg4_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tavix::sim {

const char* Mpeg4Encoder::EncoderName() const {
    return "mpeg4";
}

void Mpeg4Encoder::Configure(AVCodecContext* c) const {
    // Without the encoder's name in user data the layer headers stay short, so a reader looking
    // back a little from a key picture's VOP finds them all.
    c->flags |= AV_CODEC_FLAG_BITEXACT;
}

}  // namespace tavix::sim

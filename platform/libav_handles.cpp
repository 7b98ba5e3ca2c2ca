#include "platform/libav_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tavix {

void CodecContextFree::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void FrameFree::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

void PacketFree::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

void BufferFree::operator()(AVBufferRef* buffer) const {
    av_buffer_unref(&buffer);
}

}  // namespace tavix

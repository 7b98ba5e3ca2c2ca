#include "platform/h264_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <cstring>
#include <memory>

namespace tavix {

struct ContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct H264Decoder {
    std::unique_ptr<AVCodecContext, ContextDeleter> context;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    int width = 0;  // the size the caller's planes are made for
    int height = 0;
};

namespace {

void CopyPlane(uint8_t* destination, int destinationStride, const uint8_t* source, int sourceStride,
               int width, int rows) {
    for (int row = 0; row < rows; ++row)
        std::memcpy(destination + static_cast<size_t>(row) * destinationStride,
                    source + static_cast<ptrdiff_t>(row) * sourceStride, width);
}

}  // namespace

int H264_Dec_Init(int) {
    // The program writes its own debug lines only; libavcodec's messages would go to stderr.
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

H264Handle H264_Dec_Open(const int32_t* parameters) {
    if (parameters == nullptr || parameters[0] <= 0 || parameters[1] <= 0) return nullptr;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) return nullptr;
    auto decoder = std::make_unique<H264Decoder>();
    decoder->context.reset(avcodec_alloc_context3(codec));
    decoder->frame.reset(av_frame_alloc());
    decoder->packet.reset(av_packet_alloc());
    if (!decoder->context || !decoder->frame || !decoder->packet) return nullptr;
    AVCodecContext* context = decoder->context.get();
    // One picture out per frame in: no frame threading (it delays output by a frame per
    // thread) and no reordering delay.
    context->thread_count = 1;
    context->thread_type = 0;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(context, codec, nullptr) < 0) return nullptr;
    decoder->width = parameters[0];
    decoder->height = parameters[1];
    return decoder.release();
}

int H264_Dec_Decode(H264Handle handle, const H264DecodeInput* input, H264DecodeOutput* output,
                    int) {
    if (handle == nullptr || input == nullptr || output == nullptr || input->payload == nullptr ||
        input->payloadLength <= 0 || output->y == nullptr || output->u == nullptr ||
        output->v == nullptr)
        return -1;
    AVPacket* packet = handle->packet.get();
    // Not reference-counted: libavcodec copies the bytes (with its padding) before reading.
    packet->data = const_cast<uint8_t*>(input->payload);
    packet->size = input->payloadLength;
    const int sent = avcodec_send_packet(handle->context.get(), packet);
    packet->data = nullptr;
    packet->size = 0;
    if (sent < 0) {
        // A refused packet leaves no picture pending; anything else left is drained below.
        if (sent != AVERROR(EAGAIN)) return -1;
    }

    AVFrame* frame = handle->frame.get();
    int result = -1;
    // Take every picture that is ready, keep the last; normally there is exactly one.
    while (avcodec_receive_frame(handle->context.get(), frame) == 0) {
        const bool usable =
            (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) &&
            frame->width > 0 && frame->height > 0 && frame->width <= handle->width &&
            frame->height <= handle->height && (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0 &&
            frame->decode_error_flags == 0;
        if (usable) {
            const int width = frame->width;
            const int height = frame->height;
            CopyPlane(output->y, width, frame->data[0], frame->linesize[0], width, height);
            CopyPlane(output->u, width / 2, frame->data[1], frame->linesize[1], width / 2,
                      height / 2);
            CopyPlane(output->v, width / 2, frame->data[2], frame->linesize[2], width / 2,
                      height / 2);
            output->width = width;
            output->height = height;
            result = 0;
        }
        av_frame_unref(frame);
    }
    return result;
}

int H264_Dec_Close(H264Handle handle) {
    delete handle;
    return 0;
}

int H264_Dec_DeInit() {
    return 0;
}

}  // namespace tavix

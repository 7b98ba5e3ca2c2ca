#include "platform/libav_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>
#include <new>

namespace tavix {
namespace {

void CopyPlane(uint8_t* destination, int destinationStride, const uint8_t* source, int sourceStride,
               int width, int rows) {
    for (int row = 0; row < rows; ++row)
        std::memcpy(destination + static_cast<size_t>(row) * destinationStride,
                    source + static_cast<ptrdiff_t>(row) * sourceStride, width);
}

}  // namespace

void CopyPicture(const PictureView& view, DecodedPlanes& planes) {
    const int w = view.width;
    const int h = view.height;
    CopyPlane(planes.y, w, view.y, view.yStride, w, h);
    CopyPlane(planes.u, w / 2, view.u, view.uvStride, w / 2, h / 2);
    CopyPlane(planes.v, w / 2, view.v, view.uvStride, w / 2, h / 2);
    planes.width = w;
    planes.height = h;
}

LibavDecoder::~LibavDecoder() = default;

std::unique_ptr<LibavDecoder> LibavDecoder::Open(const char* name, int32_t width, int32_t height) {
    if (name == nullptr || width <= 0 || height <= 0) return nullptr;
    // The program writes its own debug lines only; libavcodec's messages would go to stderr.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder_by_name(name);
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) return nullptr;
    std::unique_ptr<LibavDecoder> decoder(new (std::nothrow) LibavDecoder);
    if (!decoder) return nullptr;
    decoder->context.reset(avcodec_alloc_context3(codec));
    decoder->frame.reset(av_frame_alloc());
    decoder->lent.reset(av_frame_alloc());
    decoder->packet.reset(av_packet_alloc());
    if (!decoder->context || !decoder->frame || !decoder->lent || !decoder->packet) return nullptr;
    AVCodecContext* context = decoder->context.get();
    // One picture out per frame in: no frame threading (it delays output by a frame per
    // thread) and no reordering delay.
    context->thread_count = 1;
    context->thread_type = 0;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(context, codec, nullptr) < 0) return nullptr;
    decoder->width = width;
    decoder->height = height;
    return decoder;
}

bool LibavDecoder::H264PictureSize(const uint8_t* payload, int32_t length, int32_t& width,
                                   int32_t& height) {
    if (payload == nullptr || length <= 0) return false;
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    CodecContextHandle context(avcodec_alloc_context3(nullptr));
    bool found = false;
    if (parser && context) {
        // The payload is one whole picture: no need to look for where it ends.
        parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        uint8_t* out = nullptr;
        int outLength = 0;
        av_parser_parse2(parser, context.get(), &out, &outLength, payload, length, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        found = parser->width > 0 && parser->height > 0;
        if (found) {
            width = parser->width;
            height = parser->height;
        }
    }
    if (parser) av_parser_close(parser);
    return found;
}

int LibavDecoder::Decode(const uint8_t* payload, int32_t length, DecodedPlanes& planes) {
    if (planes.y == nullptr || planes.u == nullptr || planes.v == nullptr) return -1;
    PictureView view;
    if (Lend(payload, length, view) != 0) return -1;
    CopyPicture(view, planes);
    av_frame_unref(lent.get());
    return 0;
}

int LibavDecoder::Lend(const uint8_t* payload, int32_t length, PictureView& view) {
    av_frame_unref(lent.get());
    if (payload == nullptr || length <= 0) return -1;
    // Handed over in a reference-counted buffer of our own: without one libavcodec would
    // allocate a padded copy for every frame, and the allocator's upkeep for those showed in
    // a wall's profile. The buffer is reused while libavcodec keeps no reference to it.
    const size_t needed = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!payloadBuffer || payloadBuffer->size < needed ||
        !av_buffer_is_writable(payloadBuffer.get())) {
        const size_t had = payloadBuffer ? payloadBuffer->size : 0;
        const size_t grown = needed > had ? std::max(needed, had * 2) : had;
        payloadBuffer.reset(av_buffer_alloc(grown));
        if (!payloadBuffer) return -1;
    }
    std::memcpy(payloadBuffer->data, payload, static_cast<size_t>(length));
    std::memset(payloadBuffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet->buf = payloadBuffer.get();
    packet->data = payloadBuffer->data;
    packet->size = length;
    const int sent = avcodec_send_packet(context.get(), packet.get());  // takes its own reference
    packet->buf = nullptr;
    packet->data = nullptr;
    packet->size = 0;
    // A refused packet leaves no picture pending; anything else left is drained below.
    if (sent < 0 && sent != AVERROR(EAGAIN)) return -1;

    int result = -1;
    // Take every picture that is ready, keep the last; normally there is exactly one.
    while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
        const bool usable =
            (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) &&
            frame->width > 0 && frame->height > 0 && frame->width <= width &&
            frame->height <= height && (frame->flags & AV_FRAME_FLAG_CORRUPT) == 0 &&
            frame->decode_error_flags == 0 && frame->linesize[0] > 0 && frame->linesize[1] > 0 &&
            frame->linesize[1] == frame->linesize[2];
        if (!usable) {
            av_frame_unref(frame.get());
            continue;
        }
        av_frame_unref(lent.get());
        av_frame_move_ref(lent.get(), frame.get());
        view = {lent->data[0],     lent->data[1], lent->data[2], lent->linesize[0],
                lent->linesize[1], lent->width,   lent->height};
        result = 0;
    }
    return result;
}

}  // namespace tavix

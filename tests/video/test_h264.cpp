#include "tests/video/test_h264.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tavix::test {
namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "test H.264: %s\n", what);
    std::abort();
}

void Collect(AVCodecContext* context, AVPacket* packet, std::vector<H264Frame>& frames) {
    while (avcodec_receive_packet(context, packet) == 0) {
        frames.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                          (packet->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(packet);
    }
}

}  // namespace

std::vector<uint8_t> SourcePicture(int width, int height, int index) {
    std::vector<uint8_t> yuv(static_cast<size_t>(width) * height * 3 / 2);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            yuv[y * width + x] = static_cast<uint8_t>(32 + ((x * 3 + y * 2 + index * 4) % 180));
    const int side = height / 4;
    const int left = (index * 5) % (width - side);
    for (int y = side; y < 2 * side; ++y)
        for (int x = left; x < left + side; ++x)
            yuv[y * width + x] = 235;
    uint8_t* chroma = yuv.data() + width * height;
    for (int plane = 1; plane < 3; ++plane, chroma += width * height / 4)
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x)
                chroma[y * (width / 2) + x] =
                    static_cast<uint8_t>(96 + plane * 20 + (x + y + index) % 40);
    return yuv;
}

std::vector<H264Frame> EncodeH264(int width, int height, int count, int keyInterval) {
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) Fail("no libx264 encoder in libavcodec");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (c == nullptr || frame == nullptr || packet == nullptr) Fail("out of memory");
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->gop_size = keyInterval;
    c->max_b_frames = 0;
    c->bit_rate = 600000;
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "profile", "baseline", 0);
    const std::string params = "scenecut=0:keyint=" + std::to_string(keyInterval) +
                               ":min-keyint=" + std::to_string(keyInterval);
    av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(c, codec, nullptr) < 0) Fail("the encoder refused its options");
    frame->format = c->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0) Fail("no picture buffer");

    std::vector<H264Frame> frames;
    for (int i = 0; i < count; ++i) {
        if (av_frame_make_writable(frame) < 0) Fail("picture not writable");
        const std::vector<uint8_t> picture = SourcePicture(width, height, i);
        const uint8_t* plane = picture.data();
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? width : width / 2;
            const int h = p == 0 ? height : height / 2;
            for (int y = 0; y < h; ++y)
                std::memcpy(frame->data[p] + y * frame->linesize[p], plane + y * w, w);
            plane += w * h;
        }
        frame->pts = i;
        frame->pict_type = i % keyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(c, frame) < 0) Fail("encoding failed");
        Collect(c, packet, frames);
    }
    avcodec_send_frame(c, nullptr);
    Collect(c, packet, frames);
    if (static_cast<int>(frames.size()) != count) Fail("the encoder lost frames");
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&c);
    return frames;
}

}  // namespace tavix::test

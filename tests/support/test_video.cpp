#include "tests/support/test_video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace tavix::test {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "test video: %s\n", what.c_str());
    std::abort();
}

struct ContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// A scene with detail everywhere and motion in every frame, so that dependent pictures carry
// real data: a drifting diagonal gradient, a bright square crossing the picture and a fixed
// pseudo-random texture (same seed every time).
void DrawPattern(AVFrame* frame, int index) {
    uint32_t seed = 12345;
    for (int y = 0; y < frame->height; ++y) {
        uint8_t* row = frame->data[0] + y * frame->linesize[0];
        for (int x = 0; x < frame->width; ++x) {
            seed = seed * 1103515245u + 12345u;
            int value = (x * 2 + y + index * 3) & 0xFF;
            value = (value + static_cast<int>((seed >> 16) & 0x1F)) & 0xFF;
            row[x] = static_cast<uint8_t>(value);
        }
    }
    int side = frame->height / 4;
    int left = (index * 5) % (frame->width - side);
    int top = (index * 3) % (frame->height - side);
    for (int y = top; y < top + side; ++y)
        for (int x = left; x < left + side; ++x)
            frame->data[0][y * frame->linesize[0] + x] = 235;
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < frame->height / 2; ++y)
            for (int x = 0; x < frame->width / 2; ++x)
                frame->data[plane][y * frame->linesize[plane] + x] =
                    static_cast<uint8_t>(128 + ((x + y + index) % 32) - 16 + plane * 8);
}

size_t PictureStart(bool h264, const uint8_t* p, size_t size) {
    for (size_t i = 0; i + 3 < size; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
        uint8_t code = p[i + 3];
        bool picture = h264 ? ((code & 0x1F) == 1 || (code & 0x1F) == 5) : code == 0xB6;
        if (picture) return (h264 && i > 0 && p[i - 1] == 0) ? i - 1 : i;
    }
    return 0;
}

void Collect(AVCodecContext* context, AVPacket* packet, bool h264, EncodedVideo& video) {
    while (avcodec_receive_packet(context, packet) == 0) {
        EncodedFrame frame;
        frame.offset = video.bytes.size();
        frame.size = static_cast<size_t>(packet->size);
        frame.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        frame.headerBytes = PictureStart(h264, packet->data, frame.size);
        video.bytes.insert(video.bytes.end(), packet->data, packet->data + packet->size);
        video.frames.push_back(frame);
        av_packet_unref(packet);
    }
}

EncodedVideo Encode(const VideoOptions& options, bool h264) {
    const AVCodec* codec =
        h264 ? avcodec_find_encoder_by_name("libx264") : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec) Fail(h264 ? "no libx264 encoder in libavcodec" : "no mpeg4 encoder in libavcodec");
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    av_log_set_level(AV_LOG_ERROR);
    if (options.frameRate <= 0) Fail("no frame rate");
    int resolution = options.timeResolution > 0 ? options.timeResolution : options.frameRate;
    int ticks = options.frameTicks > 0 ? options.frameTicks : resolution / options.frameRate;
    if (ticks <= 0) Fail("the clock is slower than the frame rate");
    AVCodecContext* c = context.get();
    c->width = options.width;
    c->height = options.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{ticks, resolution};
    c->framerate = AVRational{options.frameRate, 1};
    c->gop_size = options.keyInterval;
    c->max_b_frames = 0;
    c->bit_rate = options.bitRate;
    c->thread_count = 1;
    if (!options.userData) c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (h264) {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set(c->priv_data, "profile", "baseline", 0);
        std::string params = "scenecut=0:keyint=" + std::to_string(options.keyInterval) +
                             ":min-keyint=" + std::to_string(options.keyInterval);
        av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
    }
    if (avcodec_open2(c, codec, nullptr) < 0) Fail("the encoder refused its options");

    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    frame->format = c->pix_fmt;
    frame->width = c->width;
    frame->height = c->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) Fail("no picture buffer");
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());

    EncodedVideo video;
    for (int i = 0; i < options.frames; ++i) {
        if (av_frame_make_writable(frame.get()) < 0) Fail("picture not writable");
        DrawPattern(frame.get(), i);
        frame->pts = static_cast<int64_t>(options.firstSecond) * resolution / ticks + i;
        frame->pict_type = i % options.keyInterval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        if (avcodec_send_frame(c, frame.get()) < 0) Fail("encoding failed");
        Collect(c, packet.get(), h264, video);
    }
    avcodec_send_frame(c, nullptr);
    Collect(c, packet.get(), h264, video);
    if (static_cast<int>(video.frames.size()) != options.frames) Fail("the encoder lost frames");
    return video;
}

}  // namespace

EncodedVideo EncodeMpeg4(const VideoOptions& options) {
    return Encode(options, false);
}

EncodedVideo EncodeH264(const VideoOptions& options) {
    return Encode(options, true);
}

std::vector<std::vector<uint8_t>> ReferenceDecode(const EncodedVideo& video, bool h264) {
    const AVCodec* codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    if (!codec) Fail("no decoder in libavcodec");
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (avcodec_open2(context.get(), codec, nullptr) < 0) Fail("the decoder did not open");
    std::vector<std::vector<uint8_t>> pictures;
    auto take = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            std::vector<uint8_t> yuv;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane == 0 ? frame->width : frame->width / 2;
                const int h = plane == 0 ? frame->height : frame->height / 2;
                for (int y = 0; y < h; ++y) {
                    const uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                    yuv.insert(yuv.end(), row, row + w);
                }
            }
            pictures.push_back(std::move(yuv));
        }
    };
    for (const EncodedFrame& f : video.frames) {
        if (av_new_packet(packet.get(), static_cast<int>(f.size)) < 0) Fail("no packet");
        std::memcpy(packet->data, video.bytes.data() + f.offset, f.size);
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        take();
    }
    avcodec_send_packet(context.get(), nullptr);
    take();
    return pictures;
}

size_t FindStartCode(const std::vector<uint8_t>& bytes, uint8_t code, size_t from, size_t to) {
    for (size_t i = from; i + 4 <= to && i + 4 <= bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code)
            return i;
    return to;
}

}  // namespace tavix::test

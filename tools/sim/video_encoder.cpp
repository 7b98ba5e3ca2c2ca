#include "tools/sim/video_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <cstring>

#include "tools/sim/h264_encoder.h"
#include "tools/sim/mpeg4_encoder.h"

namespace tavix::sim {

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::Open(const Settings& settings, std::string& error) {
    // The simulator's standard output carries its JSON lines only; the encoders' notes would go
    // to standard error, which is kept for real trouble.
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name(EncoderName());
    if (codec == nullptr) {
        error = std::string("libavcodec has no ") + EncoderName() + " encoder";
        return false;
    }
    context.reset(avcodec_alloc_context3(codec));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!context || !frame || !packet) {
        error = "out of memory";
        return false;
    }
    AVCodecContext* c = context.get();
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, settings.frameRate};
    c->framerate = AVRational{settings.frameRate, 1};
    c->gop_size = settings.frameRate;
    c->max_b_frames = 0;
    c->bit_rate = int64_t{settings.bitRateKbit} * 1000;
    c->rc_max_rate = c->bit_rate;
    c->rc_buffer_size = settings.maxFrameBytes * 8;
    // One thread: the simulator may encode several channels at once on a small machine, and
    // a single slice per picture is what a camera sends.
    c->thread_count = 1;
    Configure(c);
    int opened = avcodec_open2(c, codec, nullptr);
    if (opened < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(opened, text, sizeof text);
        error = std::string(codec->name) + " refused the settings: " + text;
        context.reset();
        return false;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = settings.width;
    frame->height = settings.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        error = "out of memory";
        context.reset();
        return false;
    }
    return true;
}

bool VideoEncoder::Encode(const YuvFrame& picture, bool forceKey, std::vector<uint8_t>& out,
                          bool& key) {
    out.clear();
    key = false;
    if (!context || picture.width != context->width || picture.height != context->height)
        return false;
    if (av_frame_make_writable(frame.get()) < 0) return false;
    const uint8_t* planes[3] = {picture.y.data(), picture.u.data(), picture.v.data()};
    const int widths[3] = {picture.width, picture.width / 2, picture.width / 2};
    const int heights[3] = {picture.height, picture.height / 2, picture.height / 2};
    for (int p = 0; p < 3; ++p) {
        for (int row = 0; row < heights[p]; ++row)
            std::memcpy(frame->data[p] + static_cast<ptrdiff_t>(row) * frame->linesize[p],
                        planes[p] + static_cast<size_t>(row) * widths[p],
                        static_cast<size_t>(widths[p]));
    }
    frame->pts = nextPts++;
    frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(context.get(), frame.get()) < 0) return false;
    while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
        out.insert(out.end(), packet->data, packet->data + packet->size);
        key = key || (packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet.get());
    }
    return !out.empty();
}

std::unique_ptr<VideoEncoder> MakeVideoEncoder(VideoCodec codec) {
    if (codec == VideoCodec::kMpeg4) return std::make_unique<Mpeg4Encoder>();
    return std::make_unique<H264Encoder>();
}

}  // namespace tavix::sim

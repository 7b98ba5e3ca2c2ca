#include "tests/video/test_h264.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>

#include "tests/support/test_video.h"

namespace tavix::test {

std::vector<H264Frame> EncodeH264Frames(int width, int height, int count, int keyInterval) {
    VideoOptions options;
    options.width = width;
    options.height = height;
    options.frames = count;
    options.keyInterval = keyInterval;
    const EncodedVideo video = EncodeH264(options);
    std::vector<H264Frame> frames;
    for (const EncodedFrame& f : video.frames)
        frames.push_back({std::vector<uint8_t>(video.bytes.begin() + f.offset,
                                               video.bytes.begin() + f.offset + f.size),
                          f.key});
    return frames;
}

std::vector<std::vector<uint8_t>> ReferenceDecode(const std::vector<H264Frame>& frames) {
    std::vector<std::vector<uint8_t>> pictures;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (avcodec_open2(context, codec, nullptr) < 0) return pictures;
    auto take = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
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
    for (const H264Frame& f : frames) {
        av_new_packet(packet, static_cast<int>(f.bytes.size()));
        std::memcpy(packet->data, f.bytes.data(), f.bytes.size());
        avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        take();
    }
    avcodec_send_packet(context, nullptr);
    take();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return pictures;
}

}  // namespace tavix::test

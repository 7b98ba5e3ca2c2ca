// MPEG-4 Visual playing speed on one thread: the demultiplexer cutting a recorder's stream, the
// decoder library decoding every picture and the colour conversion to 32 bits, as the decoding
// thread does them, beside libavcodec's mpeg4 decoder alone on the same elementary stream with
// one thread (what `ffmpeg -threads 1 -i FILE -f null -` does). items_per_second counts
// pictures.
//
// The streams: 10 s at 25 pictures per second, one key picture per second, from FFmpeg's mpeg4
// encoder: 352 x 288 at 400 kbit/s and 704 x 576 at 2 Mbit/s. With TAVIX_BENCH_STREAMS=DIR the
// elementary streams are also written to DIR/mpeg4-WxH.m4v, for the ffmpeg program itself.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/stream_demuxer.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"
#include "video/colour_conversion.h"
#include "video/picture_decoder.h"

namespace tavix {
namespace {

enum Container { kElementary, kSequenced, kProgramStream };

const test::EncodedVideo& Video(int width) {
    static std::map<int, test::EncodedVideo> videos;
    auto found = videos.find(width);
    if (found != videos.end()) return found->second;
    test::VideoOptions options;
    options.width = width;
    options.height = width == 352 ? 288 : 576;
    options.frames = 250;
    options.keyInterval = 25;
    options.bitRate = width == 352 ? 400000 : 2000000;
    test::EncodedVideo& video = videos[width] = test::EncodeMpeg4(options);
    if (const char* directory = std::getenv("TAVIX_BENCH_STREAMS")) {
        const std::string path = std::string(directory) + "/mpeg4-" + std::to_string(width) + "x" +
                                 std::to_string(options.height) + ".m4v";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(video.bytes.data()),
                   static_cast<std::streamsize>(video.bytes.size()));
    }
    return video;
}

const test::Bytes& Stream(Container container, int width) {
    static std::map<std::pair<Container, int>, test::Bytes> streams;
    test::Bytes& stream = streams[{container, width}];
    if (!stream.empty()) return stream;
    const test::EncodedVideo& video = Video(width);
    const test::PictureInfo info{width, width == 352 ? 288 : 576, 25, {}};
    const auto units = test::MediaUnits(video);
    if (container == kElementary) stream = video.bytes;
    if (container == kSequenced) stream = test::WriteSequencedStream(units, info);
    if (container == kProgramStream) stream = test::WriteProgramStream(units, info);
    return stream;
}

// The decoding thread's work without its queues: feed 2048-byte chunks, wait for a usable key
// picture, copy each video frame, decode it and convert the picture for a 32-bit display.
int64_t Play(const test::Bytes& stream) {
    StreamDemuxer demuxer;
    std::unique_ptr<PictureDecoder> library;
    std::vector<uint8_t> yuv;
    std::vector<uint8_t> picture;
    std::vector<uint8_t> copy;
    bool waitKeyFrame = true;
    int64_t pictures = 0;
    for (size_t at = 0; at < stream.size(); at += 2048) {
        demuxer.Feed(stream.data() + at,
                     static_cast<int>(std::min<size_t>(2048, stream.size() - at)));
        for (;;) {
            FrameInfo* f = waitKeyFrame ? demuxer.NextKeyFrame() : demuxer.NextFrame();
            if (f == nullptr) break;
            if (f->kind != kKindVideo) continue;
            if (f->dependent == 0 && f->width > 0 && f->height > 0 && !library) {
                library = FindPictureDecoder(f->codec)(f->width, f->height);
                yuv.resize(static_cast<size_t>(f->width) * f->height * 3 / 2);
                picture.resize(static_cast<size_t>(f->width) * f->height * 4);
                waitKeyFrame = false;
            }
            if (!library || f->payloadLength <= 0) continue;
            copy.assign(f->payload, f->payload + f->payloadLength);
            const size_t area = yuv.size() * 2 / 3;
            DecodedPlanes planes{yuv.data(), yuv.data() + area, yuv.data() + area * 5 / 4, 0, 0};
            if (library->Decode(copy.data(), static_cast<int32_t>(copy.size()), planes) != 0)
                continue;
            const int w = planes.width;
            const int h = planes.height;
            ConvertTo32(picture.data(), w, planes.y, planes.u, planes.v, w, w / 2, w, -h);
            benchmark::DoNotOptimize(picture.data());
            ++pictures;
        }
    }
    return pictures;
}

// Arg 0: the container, arg 1: the picture width (352 or 704).
void BM_TavixMpeg4(benchmark::State& state) {
    const test::Bytes& stream =
        Stream(static_cast<Container>(state.range(0)), static_cast<int>(state.range(1)));
    int64_t pictures = 0;
    for (auto _ : state)
        pictures += Play(stream);
    state.SetItemsProcessed(pictures);
}
BENCHMARK(BM_TavixMpeg4)
    ->ArgNames({"container", "width"})
    ->Args({kElementary, 352})
    ->Args({kSequenced, 352})
    ->Args({kProgramStream, 352})
    ->Args({kElementary, 704})
    ->Args({kSequenced, 704})
    ->Args({kProgramStream, 704})
    ->Unit(benchmark::kMillisecond);

// libavcodec alone, as ffmpeg runs it with one thread: each picture's packet in, the picture
// out, nothing converted. Arg: the picture width.
void BM_LibavcodecMpeg4(benchmark::State& state) {
    const test::EncodedVideo& video = Video(static_cast<int>(state.range(0)));
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t pictures = 0;
    for (auto _ : state) {
        AVCodecContext* context = avcodec_alloc_context3(codec);
        context->thread_count = 1;
        avcodec_open2(context, codec, nullptr);
        for (const test::EncodedFrame& f : video.frames) {
            av_new_packet(packet, static_cast<int>(f.size));
            std::memcpy(packet->data, video.bytes.data() + f.offset, f.size);
            avcodec_send_packet(context, packet);
            av_packet_unref(packet);
            while (avcodec_receive_frame(context, frame) == 0) {
                ++pictures;
                av_frame_unref(frame);
            }
        }
        avcodec_send_packet(context, nullptr);
        while (avcodec_receive_frame(context, frame) == 0) {
            ++pictures;
            av_frame_unref(frame);
        }
        avcodec_free_context(&context);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    state.SetItemsProcessed(pictures);
}
BENCHMARK(BM_LibavcodecMpeg4)->ArgName("width")->Arg(352)->Arg(704)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavix

BENCHMARK_MAIN();

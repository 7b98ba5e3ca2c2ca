// The floor under a wall of live streams: libavcodec alone decoding COUNT copies of one H.264
// stream, each paced at its frame rate as a live stream comes, for SECONDS; the CPU it takes,
// in percent of one core. Twice: with one thread per stream (as the viewer's decoders run) and
// with a pool of one thread per core taking whichever stream has a frame due.
//
//   decode_floor FILE.h264 COUNT [SECONDS] [FPS]     (defaults 10 s, 25 pictures a second)
//
// Prints one line: "threads per stream N%, pool of K N%".
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Frame = std::vector<uint8_t>;

// The stream cut into access units by libavcodec's parser.
std::vector<Frame> ReadFrames(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    std::vector<Frame> frames;
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    const uint8_t* at = bytes.data();
    int left = static_cast<int>(bytes.size());
    while (left > 0 || at != nullptr) {
        uint8_t* out = nullptr;
        int outLength = 0;
        const int used = av_parser_parse2(parser, context, &out, &outLength, at, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (outLength > 0) frames.emplace_back(out, out + outLength);
        if (left == 0) break;  // the flush above emptied the parser
        at += used;
        left -= used;
    }
    av_parser_close(parser);
    avcodec_free_context(&context);
    return frames;
}

struct Stream {
    AVCodecContext* context = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    size_t next = 0;
    Stream() {
        context = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264));
        context->thread_count = 1;
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(context, context->codec, nullptr);
    }
    ~Stream() {
        avcodec_free_context(&context);
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
    void Decode(const std::vector<Frame>& frames) {
        const Frame& f = frames[next++ % frames.size()];
        packet->data = const_cast<uint8_t*>(f.data());
        packet->size = static_cast<int>(f.size());
        avcodec_send_packet(context, packet);
        while (avcodec_receive_frame(context, frame) == 0)
            av_frame_unref(frame);
    }
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `count` paced streams: frame k of stream i is due at start + (k + i / count) periods.
double Run(const std::vector<Frame>& frames, int count, double seconds, int fps, int pool) {
    std::vector<Stream> streams(static_cast<size_t>(count));
    const auto period = std::chrono::duration<double>(1.0 / fps);
    const auto start = Clock::now() + std::chrono::milliseconds(100);
    const auto end = start + std::chrono::duration<double>(seconds);
    auto due = [&](int stream, size_t k) {
        return start + std::chrono::duration_cast<Clock::duration>(
                           period * (static_cast<double>(k) + static_cast<double>(stream) / count));
    };
    const double before = CpuSeconds();
    std::vector<std::thread> threads;
    if (pool == 0) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([&, i] {
                Stream& s = streams[static_cast<size_t>(i)];
                for (size_t k = 0;; ++k) {
                    const auto at = due(i, k);
                    if (at >= end) return;
                    std::this_thread::sleep_until(at);
                    s.Decode(frames);
                }
            });
    } else {
        // A timer thread queues each stream's frame when it is due; the pool decodes them,
        // one stream at a time.
        std::mutex lock;
        std::condition_variable ready;
        std::deque<int> queue;
        bool done = false;
        std::vector<std::unique_ptr<std::mutex>> busy;
        for (int i = 0; i < count; ++i)
            busy.push_back(std::make_unique<std::mutex>());
        for (int w = 0; w < pool; ++w)
            threads.emplace_back([&] {
                for (;;) {
                    std::unique_lock<std::mutex> hold(lock);
                    ready.wait(hold, [&] { return done || !queue.empty(); });
                    if (queue.empty()) return;
                    const int i = queue.front();
                    queue.pop_front();
                    hold.unlock();
                    std::lock_guard<std::mutex> one(*busy[static_cast<size_t>(i)]);
                    streams[static_cast<size_t>(i)].Decode(frames);
                }
            });
        for (size_t k = 0;; ++k) {
            bool over = false;
            for (int i = 0; i < count; ++i) {
                const auto at = due(i, k);
                if (at >= end) {
                    over = true;
                    break;
                }
                std::this_thread::sleep_until(at);
                {
                    std::lock_guard<std::mutex> hold(lock);
                    queue.push_back(i);
                }
                ready.notify_one();
            }
            if (over) break;
        }
        {
            std::lock_guard<std::mutex> hold(lock);
            done = true;
        }
        ready.notify_all();
        // Before the queue goes.
        for (std::thread& t : threads)
            t.join();
        threads.clear();
    }
    for (std::thread& t : threads)
        t.join();
    return (CpuSeconds() - before) * 100 / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: decode_floor FILE.h264 COUNT [SECONDS] [FPS]\n");
        return 2;
    }
    const std::vector<Frame> frames = ReadFrames(argv[1]);
    const int count = std::max(1, std::atoi(argv[2]));
    const double seconds = argc > 3 ? std::atof(argv[3]) : 10;
    const int fps = argc > 4 ? std::max(1, std::atoi(argv[4])) : 25;
    if (frames.empty()) {
        std::fprintf(stderr, "decode_floor: no H.264 frames in %s\n", argv[1]);
        return 1;
    }
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const double perStream = Run(frames, count, seconds, fps, 0);
    const double pooled = Run(frames, count, seconds, fps, cores);
    std::printf("threads per stream %.1f%%, pool of %d %.1f%%\n", perStream, cores, pooled);
    return 0;
}

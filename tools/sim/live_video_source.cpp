#include "tools/sim/live_video_source.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "demux/frame_info.h"
#include "platform/thread.h"
#include "tools/sim/json_line.h"

namespace tavix::sim {
namespace {

// The largest frame the rate control should let through: a second's worth, and within the
// picture the client's packet assembler takes.
int MaxFrameBytes(int bitRateKbit) {
    return std::min(bitRateKbit * 1000 / 8, static_cast<int>(kMaxFrameBytes));
}

// The replay loops made so far, by channel and stream type.
std::mutex madeLoopsLock;
std::map<std::pair<int, int>, std::vector<LiveVideoSource::LoopFrame>> madeLoops;

WallTime Now(std::string& clockText) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    clockText = text;
    return {std::clamp(local.tm_year + 1900, 2000, 2063),
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec};
}

}  // namespace

LiveVideoSource::LiveVideoSource(const LiveChannel& settings, const std::string& name, int channel,
                                 int connection)
    : settings(settings),
      channel(channel),
      connection(connection),
      pattern(settings.width, settings.height, name),
      encoder(MakeVideoEncoder(settings.codec)),
      writer(MakeContainerWriter(settings.format)),
      replaying(settings.replay) {}

LiveVideoSource::~LiveVideoSource() {
    if (!started) return;
    JsonLine("event", "live-end")
        .Number("connection", connection)
        .Number("channel", channel)
        .Text("stream", settings.streamType == 2 ? "sub" : "main")
        .Number("frames", framesSent)
        .Number("keyFrames", keyFramesSent)
        .Number("keyBytesMax", keyBytesMax)
        .Number("skipped", framesSkipped)
        .Number("bytes", bytesSent)
        .Real("drawEncodeMsMean",
              framesDrawn > 0 ? static_cast<double>(drawingUs) / 1000 / framesDrawn : 0, 2)
        .Print();
}

bool LiveVideoSource::Start() {
    started = true;
    int bitRate = settings.bitRateKbit > 0 ? settings.bitRateKbit
                                           : LiveBitRateKbit(settings.width, settings.height);
    VideoEncoder::Settings encoding;
    encoding.width = settings.width;
    encoding.height = settings.height;
    encoding.frameRate = kFrameRate;
    encoding.bitRateKbit = bitRate;
    encoding.maxFrameBytes = MaxFrameBytes(bitRate);
    std::string error;
    if (!encoder->Open(encoding, error)) {
        JsonLine("event", "error")
            .Number("connection", connection)
            .Number("channel", channel)
            .Text("text", error)
            .Print();
        return false;
    }
    JsonLine("event", "live")
        .Number("connection", connection)
        .Number("channel", channel)
        .Text("stream", settings.streamType == 2 ? "sub" : "main")
        .Text("format", ContainerName(settings.format))
        .Text("codec", CodecName(settings.codec))
        .Number("width", settings.width)
        .Number("height", settings.height)
        .Number("bitrate", bitRate)
        .Flag("replay", replaying)
        .Print();
    return true;
}

std::vector<uint8_t> LiveVideoSource::Next(size_t maxBytes) {
    if (handedOut >= pending.size()) {
        if (failed) return {};
        int64_t now = MonotonicMs();
        bool forceKey = false;
        if (!started) {
            if (!Start()) {
                failed = true;
                return {};
            }
            epochMs = now;
        } else if ((!replaying || loop.size() == kLoopFrames) &&
                   (now - lastAskedMs > kPauseMs ||
                    now - (epochMs + nextFrame * kFrameMs) > kMaxLateMs)) {
            // Resume at the present; what a camera captured meanwhile is gone.
            int64_t present = (now - epochMs) / kFrameMs;
            framesSkipped += std::max<int64_t>(0, present - nextFrame);
            nextFrame = std::max(nextFrame, present);
            forceKey = true;
        }
        int64_t due = epochMs + nextFrame * kFrameMs;
        if (due > now) SleepMs(static_cast<int>(due - now));
        ProduceFrame(MonotonicMs(), forceKey);
        ++nextFrame;
    }
    lastAskedMs = MonotonicMs();
    size_t count = std::min(maxBytes, pending.size() - handedOut);
    std::vector<uint8_t> piece(pending.begin() + static_cast<ptrdiff_t>(handedOut),
                               pending.begin() + static_cast<ptrdiff_t>(handedOut + count));
    handedOut += count;
    bytesSent += static_cast<int64_t>(count);
    return piece;
}

void LiveVideoSource::ProduceFrame(int64_t captureMs, bool forceKey) {
    CameraView current;
    {
        std::lock_guard<std::mutex> hold(viewLock);
        current = view;
        if (replaying && steered) {
            // The client's last picture came from the loop, not from the encoder.
            replaying = false;
            forceKey = true;
            loop = {};
        }
    }
    std::string clockText;
    VideoFrame frame;
    frame.time = Now(clockText);

    pending.clear();
    handedOut = 0;
    bool key = false;
    const std::vector<uint8_t>* data = &encoded;
    if (replaying && loop.empty()) {
        std::lock_guard<std::mutex> hold(madeLoopsLock);
        auto made = madeLoops.find({channel, settings.streamType});
        if (made != madeLoops.end()) loop = made->second;
    }
    if (replaying && loop.size() == kLoopFrames) {
        // Resuming starts at the key frame the current loop frame depends on.
        while (forceKey && !loop[loopAt].key)
            loopAt = (loopAt + kLoopFrames - 1) % kLoopFrames;
        data = &loop[loopAt].data;
        key = loop[loopAt].key;
        loopAt = (loopAt + 1) % kLoopFrames;
    } else {
        // The loop's pictures are numbered by their place in it, so that its end joins its
        // start.
        uint32_t drawn = static_cast<uint32_t>(replaying ? loop.size() : nextFrame);
        FrameStamp stamp{drawn, static_cast<uint32_t>(captureMs)};
        const auto started = std::chrono::steady_clock::now();
        pattern.Render(current, stamp, replaying ? "REPLAY" : clockText, picture, !replaying);
        if (!encoder->Encode(picture, forceKey, encoded, key)) return;
        drawingUs += std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now() - started)
                         .count();
        ++framesDrawn;
        if (replaying) loop.push_back({encoded, key});
        if (replaying && loop.size() == kLoopFrames) {
            std::lock_guard<std::mutex> hold(madeLoopsLock);
            madeLoops.emplace(std::make_pair(channel, settings.streamType), loop);
        }
    }
    frame.data = data->data();
    frame.size = data->size();
    frame.codec = settings.codec;
    frame.key = key;
    frame.width = settings.width;
    frame.height = settings.height;
    frame.frameRate = kFrameRate;
    frame.frameNumber = static_cast<uint32_t>(nextFrame);
    writer->Write(frame, pending);
    ++framesSent;
    if (key) {
        ++keyFramesSent;
        keyBytesMax = std::max(keyBytesMax, static_cast<int64_t>(frame.size));
    }
}

void LiveVideoSource::Steer(int wireAction, int /*speed*/) {
    std::lock_guard<std::mutex> hold(viewLock);
    view.Apply(wireAction);
    steered = true;
}

}  // namespace tavix::sim

// Live generated video for one media connection: the test pattern drawn, encoded and wrapped in
// the channel's container 25 times a second, in real time. Next hands out the current frame's
// packets piece by piece and, once they are gone, waits for the next frame's time; a message
// body therefore never spans two frames, and a frame's last byte leaves as soon as it is made.
// A source that falls more than a second behind (a client that does not read), or is asked
// again after a pause (the channel was stopped), skips to the present with a key frame, as a
// camera would.
//
// A channel set to replay spends that work on its first kLoopFrames frames only: they are
// drawn without the frame stamp and with REPLAY in place of the clock, encoded and kept, and
// then sent again in a loop (the containers' frame numbers and times stay those of the moment
// sent). The loop's length is a whole number of key-frame intervals and of the moving square's
// period, so its end joins its start. Its frames are made one after the other however long
// they take (nothing is skipped meanwhile), and once per channel and run: later media
// connections of the channel replay it from the start at once. The first PTZ command makes the
// source live for good, from a key frame on, with true stamps.
//
// Threads: Next on the media connection's thread; Steer on the control connection's.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "tools/sim/camera_view.h"
#include "tools/sim/container_writer.h"
#include "tools/sim/media_source.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/test_pattern.h"
#include "tools/sim/video_encoder.h"

namespace tavix::sim {

class LiveVideoSource : public MediaSource {
  public:
    // `connection` and `channel` name the source in the output lines.
    LiveVideoSource(const LiveChannel& settings, const std::string& name, int channel,
                    int connection);
    // Prints the live-end line with what was sent.
    ~LiveVideoSource() override;

    std::vector<uint8_t> Next(size_t maxBytes) override;
    bool PacesItself() const override { return true; }
    void Steer(int wireAction, int speed) override;

    static constexpr int kFrameRate = 25;
    static constexpr int64_t kFrameMs = 1000 / kFrameRate;
    static constexpr int64_t kMaxLateMs = 1000;  // further behind: skip to the present
    static constexpr int64_t kPauseMs = 500;     // asked again after this long: resume
    static constexpr size_t kLoopFrames = 100;   // 4 s: four key-frame intervals

    struct LoopFrame {
        std::vector<uint8_t> data;
        bool key;
    };

  private:
    bool Start();
    void ProduceFrame(int64_t captureMs, bool forceKey);

    const LiveChannel settings;
    const int channel;
    const int connection;
    TestPattern pattern;
    std::unique_ptr<VideoEncoder> encoder;
    std::unique_ptr<ContainerWriter> writer;
    bool started = false;
    bool failed = false;
    bool replaying;  // until the first PTZ command, with settings.replay

    // Media connection's thread only.
    YuvFrame picture;
    std::vector<uint8_t> encoded;
    Bytes pending;         // the current frame's packets
    size_t handedOut = 0;  // bytes of `pending` already returned
    int64_t epochMs = 0;   // when frame 0 was due
    int64_t nextFrame = 0;
    int64_t lastAskedMs = 0;
    int64_t framesSent = 0;
    // Time spent drawing and encoding live pictures, which the stamp's delay includes.
    int64_t framesDrawn = 0;
    int64_t drawingUs = 0;
    int64_t keyFramesSent = 0;
    int64_t keyBytesMax = 0;  // the largest key picture sent
    int64_t framesSkipped = 0;
    int64_t bytesSent = 0;
    std::vector<LoopFrame> loop;  // while replaying: the frames encoded so far
    size_t loopAt = 0;            // the next one to send once all are there

    std::mutex viewLock;
    CameraView view;       // guarded by viewLock
    bool steered = false;  // guarded by viewLock
};

}  // namespace tavix::sim

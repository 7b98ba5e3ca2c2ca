// Live generated video for one media connection: the test pattern drawn, encoded and wrapped in
// the channel's container 25 times a second, in real time. Next hands out the current frame's
// packets piece by piece and, once they are gone, waits for the next frame's time; a message
// body therefore never spans two frames, and a frame's last byte leaves as soon as it is made.
// A source that falls more than a second behind (a client that does not read), or is asked
// again after a pause (the channel was stopped), skips to the present with a key frame, as a
// camera would.
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

    // Media connection's thread only.
    YuvFrame picture;
    std::vector<uint8_t> encoded;
    Bytes pending;         // the current frame's packets
    size_t handedOut = 0;  // bytes of `pending` already returned
    int64_t epochMs = 0;   // when frame 0 was due
    int64_t nextFrame = 0;
    int64_t lastAskedMs = 0;
    int64_t framesSent = 0;
    int64_t keyFramesSent = 0;
    int64_t framesSkipped = 0;
    int64_t bytesSent = 0;

    std::mutex viewLock;
    CameraView view;  // guarded by viewLock
};

}  // namespace tavix::sim

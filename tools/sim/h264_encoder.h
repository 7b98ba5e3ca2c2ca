// Live H.264 for the simulator: libx264 through libavcodec, set up as a recorder's camera
// stream is: baseline profile, no B-frames, one key frame per second, parameter sets before
// every key frame, every picture out of the call that took it (zero latency), bit rate capped
// so that no frame outgrows what the containers can carry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/sim/yuv_frame.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tavix::sim {

class H264Encoder {
  public:
    struct Settings {
        int width = 352;
        int height = 288;
        int frameRate = 25;
        int bitRateKbit = 0;    // average and peak rate
        int maxFrameBytes = 0;  // the rate control's buffer: no frame is larger (about)
    };

    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // false with a reason when libavcodec has no libx264 or refuses the settings.
    bool Open(const Settings& settings, std::string& error);

    // Encodes one picture of the opened size; `forceKey` makes it an IDR picture. Fills `out`
    // with the access unit (Annex B, start codes included) and tells whether it is a key
    // frame. false when the encoder failed or produced nothing.
    bool Encode(const YuvFrame& picture, bool forceKey, std::vector<uint8_t>& out, bool& key);

  private:
    struct ContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    std::unique_ptr<AVCodecContext, ContextDeleter> context;
    std::unique_ptr<AVFrame, FrameDeleter> frame;
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    int64_t nextPts = 0;
};

}  // namespace tavix::sim

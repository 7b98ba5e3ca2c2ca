// Live video for the simulator, encoded by libavcodec and set up as a recorder's camera stream
// is: no B-frames, one key frame per second with the stream headers in front of it, every
// picture out of the call that took it, bit rate capped so that no frame outgrows what the
// containers can carry. Each codec (h264_encoder.h, mpeg4_encoder.h) adds its libavcodec
// encoder and its own settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/libav_handles.h"
#include "tools/sim/container_writer.h"
#include "tools/sim/yuv_frame.h"

namespace tavix::sim {

class VideoEncoder {
  public:
    struct Settings {
        int width = 352;
        int height = 288;
        int frameRate = 25;
        int bitRateKbit = 0;    // average and peak rate
        int maxFrameBytes = 0;  // the rate control's buffer: no frame is larger (about)
    };

    VideoEncoder();
    virtual ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // false with a reason when libavcodec lacks the encoder or refuses the settings.
    bool Open(const Settings& settings, std::string& error);

    // Encodes one picture of the opened size; `forceKey` makes it a key frame. Fills `out` with
    // the encoded picture (with the stream headers in front of a key frame) and tells whether
    // it is a key frame. false when the encoder failed or produced nothing.
    bool Encode(const YuvFrame& picture, bool forceKey, std::vector<uint8_t>& out, bool& key);

  protected:
    // The name of the codec's libavcodec encoder.
    virtual const char* EncoderName() const = 0;
    // The codec's own settings, on the context before it is opened.
    virtual void Configure(AVCodecContext* context) const = 0;

  private:
    CodecContextHandle context;
    FrameHandle frame;
    PacketHandle packet;
    int64_t nextPts = 0;
};

// The encoder of a codec, not yet opened.
std::unique_ptr<VideoEncoder> MakeVideoEncoder(VideoCodec codec);

}  // namespace tavix::sim

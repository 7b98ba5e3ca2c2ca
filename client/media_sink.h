// Where the client puts a played channel's media: the decoder of whoever plays it. The client
// holds one sink per channel (DeviceClient::SetMediaSink) and keeps each call apart from the
// others of the same channel.
#pragma once

#include <cstdint>

namespace tavix {

class IMediaSink {
  public:
    virtual ~IMediaSink() = default;
    // A stream of `channel` begins (client thread), of `streamType`: what comes next is
    // recognised afresh.
    virtual void StreamStarted(int channel, int streamType) = 0;
    // The stream ended (the thread that closed it): no media comes until the next start.
    virtual void StreamStopped(int channel) = 0;
    // One chunk of the stream (client thread), valid only during the call; false when the sink
    // had no room for it.
    virtual bool Media(int channel, const uint8_t* data, int length) = 0;
};

}  // namespace tavix

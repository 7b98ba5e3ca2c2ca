// The media connection of one channel: connects to the device like the control connection,
// announces itself with the session identifier, then receives the channel's 0xBC messages and
// hands their bodies to the listener piece by piece, straight from the receive buffer.
#pragma once

#include <cstdint>

#include "client/connection.h"
#include "client/device_events.h"

namespace tavix {

// Client thread only. Owned by the DeviceSession that created it.
class StreamConnection : public Connection {
  public:
    // Allocates the 2048-byte receive buffer at once.
    StreamConnection(int channel, IDeviceEvents& listener);

    // A 0xBC reply that came through the framed receive: its body goes to the listener while
    // streaming; anything else is ignored.
    void OnReply(ReplyInfo& reply) override;

    // One receive step with the media framing, without waiting: kResultReceiveStep,
    // kResultNotConnected, kResultClosedByPeer when the device ended the connection, or
    // kResultNoBuffer when memory ran short. While `streaming` it reads until the socket is
    // empty (a short read) or kPassBytes came, and each body piece received goes to OnMediaData
    // (one call never spans two bodies); otherwise it reads once and throws the bytes away. Bytes
    // that do not start with a 0xBC header are thrown away with everything buffered.
    int ReceiveMedia();

    // The most a streaming connection takes in one step.
    static constexpr int64_t kPassBytes = 512 * 1024;

    int Channel() const { return channel; }
    // The receive buffer's size now (it follows SetBufferSize once the buffer is empty).
    int Capacity() const { return capacity; }

    int streamType = 0;      // stream type of the last start
    bool streaming = false;  // the channel's media is wanted
    // The last wait found nothing to read here: the next step passes it over.
    bool quiet = false;

  private:
    // Hands the buffered bytes on through the framing, keeping a cut header.
    void Walk();
    // A buffer size asked for, applied once the buffer is empty; false when memory ran short.
    bool ApplyPendingCapacity();

    IDeviceEvents& listener;
};

}  // namespace tavix

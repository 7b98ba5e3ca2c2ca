// What the device session reports, and the codes it reports with.
#pragma once

#include <cstdint>

#include "client/wire_messages.h"

namespace tavix {

// Event codes beyond the device's own login refusals (see LoginResultCode).
constexpr int kEventOk = 0;
constexpr int kListNotBuilt = 1;            // OnChannelList: the device reported no channels
constexpr int kListTimedOut = 3;            // OnChannelList: no reply within 15 s
constexpr int kRequestNotSent = 5;          // OnChannelList, OnStreamResult
constexpr int kLoginTimedOut = 4100;        // no login reply within the caller's time-out
constexpr int kLoginNoConnection = 4106;    // the control connection could not be made
constexpr int kLoginNotSent = 4107;         // the login request could not be sent
constexpr int kStreamNoConnection = 4108;   // the media connection failed to connect or announce
constexpr int kLoginUnresolved = 4109;      // the host name has no address
constexpr int kNotLoggedIn = 4112;          // OnChannelList, OnStreamResult
constexpr int kChannelOutOfRange = 4113;    // OnStreamResult
constexpr int kDisconnectedDetail = -1;     // OnDisconnected(0, -1): the heartbeat failed
constexpr int kDisconnectedByPeer = -2;     // OnDisconnected(0, -2): the device closed the link
constexpr int kDisconnectedOutOfStep = -3;  // OnDisconnected(0, -3): replies lost their framing
// Why a link is being brought back (OnReconnecting): the session's link broke for one of the
// OnDisconnected details above, or a heartbeat went unanswered; a channel's media stalled.
constexpr int kReconnectSilent = -4;
constexpr int kReconnectStalled = 1;

// Whether a login result is the device's own refusal (the time-out shares the refusals' range
// but is not one): the credentials will not do, and trying them again is no use.
constexpr bool IsLoginRefusal(int code) {
    return code == kLoginRefusedUnknown ||
           (code >= kLoginRefused && code <= kLoginRefusedLast && code != kLoginTimedOut);
}

// The listener of a DeviceSession. Every call comes on the client thread; data passed in is
// valid only during the call. A listener must return quickly and hand work for the user
// interface to the interface's own thread.
class IDeviceEvents {
  public:
    virtual ~IDeviceEvents() = default;

    // 0 with the device's channel count, or a refusal / failure code.
    virtual void OnLoginResult(int code, int channelCount) = 0;
    // 0 with the list (never null with code 0), or a failure code with null.
    virtual void OnChannelList(int code, const ChannelNameList* list) = 0;
    // A piece of a channel's media; never spans two media messages. The client's own (its
    // media goes to media sinks): an interface's event sink needs no override.
    virtual void OnMediaData(int /*channel*/, const uint8_t* /*data*/, int /*length*/) {}
    // 0 once the stream request is sent, or a failure code.
    virtual void OnStreamResult(int channel, int code) = 0;
    // The session ended: heartbeat not sent or not answered (0, -1), the device closed the
    // control connection (0, -2), or its replies lost their framing (0, -3).
    virtual void OnDisconnected(int code, int detail) = 0;

    // Only from a client that keeps its links (DeviceClient::SetReconnect): the session's link
    // (channel -1) or a channel's stream is being brought back, for `reason` (see above); and
    // the session is back (OnReconnected(-1)) or the channel's media flows again.
    virtual void OnReconnecting(int /*channel*/, int /*reason*/) {}
    virtual void OnReconnected(int /*channel*/) {}
    // The client opened the channel's `streamType` in place of the one asked for, by itself
    // (the device sent no sub stream).
    virtual void OnStreamTypeChanged(int /*channel*/, int /*streamType*/) {}
};

}  // namespace tavix

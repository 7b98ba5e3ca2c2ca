// The device's events as the probe's main thread sees them: the client thread queues each
// event here and returns at once, the main thread takes them in order, as a window takes the
// messages its sink posts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "client/device_client.h"
#include "client/device_events.h"

namespace tavix::probe {

struct ProbeEvent {
    enum Kind { kLogin, kList, kStream, kDisconnected, kReconnecting, kReconnected, kStreamType };
    struct Channel {
        int number;
        std::string name;  // 8-bit, as the device sent it
    };

    Kind kind = kLogin;
    int code = 0;
    // login: channel count; stream, reconnecting, reconnected: channel (-1 the session);
    // disconnected: detail; stream type: channel. `code` of reconnecting: the reason; of
    // stream type: the type the client opened in place of the one asked for.
    int value = 0;
    bool hasList = false;
    std::vector<Channel> channels;  // list only
};

class EventQueue : public IDeviceEvents {
  public:
    // Becomes `client`'s event sink until destroyed.
    explicit EventQueue(DeviceClient& client);
    ~EventQueue() override;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Client thread: each queues one event.
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;
    void OnReconnecting(int channel, int reason) override;
    void OnReconnected(int channel) override;
    void OnStreamTypeChanged(int channel, int streamType) override;

    // Main thread: the oldest event, waiting until the monotonic millisecond `untilMs` at
    // most; false when none came by then.
    bool Take(ProbeEvent& event, int64_t untilMs);
    // The next event of `kind` or a disconnection, whichever comes first, within timeoutMs;
    // other events are passed over. false when neither came.
    bool Await(ProbeEvent::Kind kind, int timeoutMs, ProbeEvent& event);

  private:
    void Push(ProbeEvent event);
    void Push(ProbeEvent::Kind kind, int code, int value);

    DeviceClient& client;

    std::mutex lock;
    std::condition_variable arrived;
    std::deque<ProbeEvent> events;  // guarded by lock
};

}  // namespace tavix::probe

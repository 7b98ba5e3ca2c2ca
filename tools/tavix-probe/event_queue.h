// The device's events as the probe's main thread sees them: the client thread queues each
// event here and returns at once, the main thread takes them in order, as a window takes the
// messages its sink posts. Several clients (one per recorder) may share one queue; each event
// says whose it is.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
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
    int recorder = 0;  // which client's: the order they were listened to in, from 0
    int code = 0;
    // login: channel count; stream, reconnecting, reconnected: channel (-1 the session);
    // disconnected: detail; stream type: channel. `code` of reconnecting: the reason; of
    // stream type: the type the client opened in place of the one asked for.
    int value = 0;
    bool hasList = false;
    std::vector<Channel> channels;  // list only
};

class EventQueue {
  public:
    // Becomes `client`'s event sink (recorder 0) until destroyed.
    explicit EventQueue(DeviceClient& client);
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Becomes the sink of one more client, whose events say `recorder`; `client` must outlive
    // this queue.
    void Listen(DeviceClient& client, int recorder);

    // Main thread: the oldest event, waiting until the monotonic millisecond `untilMs` at
    // most; false when none came by then.
    bool Take(ProbeEvent& event, int64_t untilMs);
    // The next event of `kind` or a disconnection of `recorder`, whichever comes first, within
    // timeoutMs; other events are passed over. false when neither came.
    bool Await(ProbeEvent::Kind kind, int timeoutMs, ProbeEvent& event, int recorder = 0);

  private:
    // One client's sink: each event, on the client thread, is queued with its recorder.
    class Source : public IDeviceEvents {
      public:
        Source(EventQueue& queue, DeviceClient& client, int recorder);
        ~Source() override;
        void OnLoginResult(int code, int channelCount) override;
        void OnChannelList(int code, const ChannelNameList* list) override;
        void OnStreamResult(int channel, int code) override;
        void OnDisconnected(int code, int detail) override;
        void OnReconnecting(int channel, int reason) override;
        void OnReconnected(int channel) override;
        void OnStreamTypeChanged(int channel, int streamType) override;

      private:
        void Push(ProbeEvent::Kind kind, int code, int value);

        EventQueue& queue;
        DeviceClient& client;
        const int recorder;
    };

    void Push(ProbeEvent event);

    std::vector<std::unique_ptr<Source>> sources;  // main thread

    std::mutex lock;
    std::condition_variable arrived;
    std::deque<ProbeEvent> events;  // guarded by lock
};

}  // namespace tavix::probe

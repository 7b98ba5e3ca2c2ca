// DeviceClient: the one object through which the user interface reaches the device. It owns
// the device session and the client thread that drives the session. Its operations only queue
// commands, whose outcomes come back later through the interface's event sink. Its own job
// between the two: each channel's media goes to that channel's media sink (whoever plays it,
// SetMediaSink), which hears its stream start and stop. Channels play side by side; opening
// one leaves the others alone.
//
// Each channel plays one of its streams: the main one or the lighter sub stream (kSubStream).
// A device that sends nothing for a sub stream within kSubStreamWaitMs of its start, or closes
// its media connection, gets the main stream asked for instead, and the client asks no more
// sub streams of that channel until the user's next login; the sink hears
// OnStreamTypeChanged.
//
// With SetReconnect(true) it also keeps the links up, the same way for every user interface,
// as LinkKeeper's rules say and with the last login's credentials. The sink hears OnReconnecting
// and OnReconnected instead of OnDisconnected, and a failed try of the client's own for a
// channel that streamed stays silent (the channel is tried again); a channel whose open had
// failed before the loss hears its new result.
//
// Threads:
// - the user-interface threads: the operations;
// - the client thread, started by the constructor and joined by the destructor: runs the
//   session (commands, connections, heartbeat) and raises every event of the sink.
//
// The program has one instance, made before any window and destroyed after the last one
// (TheDeviceClient); tests make and destroy their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "client/device_events.h"
#include "client/device_session.h"
#include "client/link_keeper.h"
#include "client/media_sink.h"
#include "client/wire_messages.h"
#include "platform/thread.h"

namespace tavix {

// The stream types a device serves.
constexpr int kMainStream = 1;
constexpr int kSubStream = 2;

class DeviceClient : public IDeviceEvents {
  public:
    // Creates the session and starts the client thread; `clock` is the session's (tests: one
    // they move through the heartbeat's 10 and 60 s).
    explicit DeviceClient(DeviceSession::Clock clock = MonotonicMs);
    // Ends every wait of the session, stops the client thread and waits for it, then closes the
    // session (every connection). No thread of this object outlives it; it returns promptly
    // even while a login or channel list is awaited.
    ~DeviceClient() override;
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    // The interface's events from now on; null drops them again. Events that come while no
    // sink is set are dropped. The sink's OnMediaData is never called. The sink must stay
    // alive until it is replaced or this object is destroyed.
    void SetEventSink(IDeviceEvents* sink);

    // These return at once; each queues commands for the client thread.
    // Copies the strings; the outcome arrives as OnLoginResult.
    void Login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs);
    void Logout();
    // Outcome: OnChannelList.
    void RequestChannelList();
    // Where `channel`'s media goes from now on (null: nowhere). A sink that had a stream
    // running hears it stop first. The sink must stay alive until it is replaced or the
    // channel is closed.
    void SetMediaSink(int channel, IMediaSink* media);
    // Plays `channel` (as well as any other that plays). Outcome: OnStreamResult; with 0 the
    // channel's media sink hears the stream start and takes its media. Another stream type
    // than the channel's last opens on a fresh media connection, so that no byte of the old
    // stream follows the new one's start; the old one plays on until then. A result that comes
    // after the channel was closed again (or opened once more) is not the user's any more: it
    // starts nothing and does not reach the event sink.
    void OpenChannel(int channel, int streamType);
    // Queues the close, stops the channel's stream at its media sink at once and forgets the
    // sink (late media is dropped); also when `channel` is not playing. Other channels play on.
    void CloseChannel(int channel);
    void Ptz(int channel, PtzAction action, int speed);

    // Whether the client brings lost links back by itself (see above). Off at construction.
    void SetReconnect(bool on) { reconnect.store(on, std::memory_order_release); }

    static constexpr int kReloginTimeoutMs = 10000;
    static constexpr int64_t kSubStreamWaitMs = 3000;
    // How long the client thread sleeps when nothing is due (logged out, no link to bring
    // back): commands wake it at once.
    static constexpr int kIdleWaitMs = 1000;

    // Whether `channel`'s media goes to its sink now. Any thread.
    bool Playing(int channel);
    // The stream type `channel` plays or is being opened with (after a fall-back from the sub
    // stream: the main one). Any thread.
    int StreamType(int channel);
    // The stream type OpenChannel(channel, streamType) would ask for now. Any thread.
    int ServedType(int channel, int streamType);
    // Media of playing channels that reached their sinks (accepted or refused), and the
    // chunks refused for lack of room, since construction: of one channel, or of all. Any
    // thread.
    int64_t MediaBytes(int channel);
    int64_t RefusedChunks(int channel);
    int64_t MediaBytes() const { return mediaBytes.load(std::memory_order_relaxed); }

    // The session's events (client thread).
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnMediaData(int channel, const uint8_t* data, int length) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;

  private:
    // One channel the user has played.
    struct PlayedChannel {
        // Guarded by `lock`, which also keeps the sink's start (client thread) and stop
        // (interface thread) apart, and a chunk of a channel just stopped out of its sink.
        std::mutex lock;
        IMediaSink* media = nullptr;
        bool wanted = false;           // opened by the user and not closed since
        int pendingOpens = 0;          // opens queued whose result has not come
        bool routed = false;           // its media goes to the sink
        int streamType = kMainStream;  // of the last open (the user's, or a fall-back)
        bool subRefused = false;       // no sub stream came: asked for no more until a login
        bool mediaCame = false;        // since the stream last started

        // The type an open of `type` asks for: the main one where no sub stream came.
        int Served(int type) const { return type == kSubStream && subRefused ? kMainStream : type; }
        std::atomic<int64_t> mediaBytes{0};
        std::atomic<int64_t> refusedChunks{0};
        // Keeping the stream up: when media last came (or the stream last started).
        std::atomic<int64_t> lastMediaMs{0};
    };

    static void ClientThread(void* self);
    void Run();
    // Client thread, after each pass: the reconnection rules, and what they ask for.
    void KeepLinks();
    const LinkKeeper::View& LinkView();
    void Carry(const std::vector<LinkAction>& actions);
    void TryLoginAgain();
    // Client thread: a sub stream that brought nothing is given up for the main one.
    void FallBackFromSub();
    // Opens the channel again (`fresh`: on a new media connection, the old one dropped first);
    // `silent`: as the client's own try, whose failure the sink does not hear.
    void Reopen(int channel, bool fresh, bool silent);
    // The channel's record, made at the first call.
    PlayedChannel& Channel(int channel);

    std::unique_ptr<DeviceSession> session;
    DeviceSession::Clock clock;
    WorkerThread thread;
    std::atomic<bool> running{false};
    std::atomic<IDeviceEvents*> sink{nullptr};

    // Records are added, never removed, until this object goes: a record found once stays
    // valid.
    std::mutex channelsLock;
    std::map<int, std::unique_ptr<PlayedChannel>> channels;  // guarded by channelsLock

    std::atomic<int64_t> mediaBytes{0};

    std::atomic<bool> reconnect{false};
    // The user logged in and has not logged out since (set on the interface's thread).
    std::atomic<bool> sessionWanted{false};
    // The user's logins queued whose result has not come: while there are any, no try of the
    // client's own is made (the user's login decides).
    std::atomic<int> userLogins{0};
    // The user asked for the channel list and no list has come since.
    std::atomic<bool> listOwed{false};
    // The client thread's.
    LinkKeeper keeper;
    LinkKeeper::View view{};
    struct {
        bool inFlight = false;  // our own login is running: its events are ours
        int result = -1;
    } relogin;
    int policyOpen = -1;  // the channel the client itself is opening, while it does
    int64_t subCheckedMs = 0;
};

// The program's instance: made at the first call (the program calls it before it makes any
// window), destroyed at the program's exit, after everything made later.
DeviceClient& TheDeviceClient();

}  // namespace tavix

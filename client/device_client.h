// DeviceClient: the one object through which the user interface reaches the device. It owns
// the device session, the decoder and the client thread that drives the session; its
// operations only queue commands, whose outcomes come back later through the interface's event
// sink. Its own job between the two: the media of the playing channel goes into the decoder,
// and the decoder starts and stops with that channel's stream.
//
// Threads:
// - the user-interface thread (any one thread): the operations, Decoder() for pictures;
// - the client thread, started by the constructor and joined by the destructor: runs the
//   session (commands, connections, heartbeat) and raises every event of the sink.
//
// The program has one instance, made before any window and destroyed after the last one
// (TheDeviceClient); tests make and destroy their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "client/device_events.h"
#include "client/device_session.h"
#include "platform/thread.h"
#include "video/decoder.h"

namespace tavix {

class DeviceClient : public IDeviceEvents {
  public:
    // Creates the session and the decoder (which builds the colour tables) and starts the
    // client thread.
    DeviceClient();
    // The same with a decoder of the caller's (tests: one reading a recording frame source)
    // and the session's clock (tests: one they move through the heartbeat's 10 and 60 s).
    explicit DeviceClient(std::unique_ptr<CDecoder> decoder,
                          DeviceSession::Clock clock = MonotonicMs);
    // Stops the client thread and waits for it, then closes the session (every connection)
    // and destroys the decoder (joining its thread). No thread of this object outlives it.
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
    // Stops the playing channel first (its close is queued, the decoder stopped at once, its
    // late media dropped), then queues the open. Outcome: OnStreamResult; with 0 the decoder
    // starts and takes this channel's media.
    void OpenChannel(int channel, int streamType);
    // Queues the close, stops the decoder at once; also when `channel` is not playing.
    void CloseChannel(int channel);
    // `action` 0..9 as the wire messages map them.
    void Ptz(int channel, int action, int speed);

    // The decoder, for GetPicture / ReleasePicture / SetDisplayBits on the interface thread.
    CDecoder& Decoder() { return *decoder; }

    // The channel whose media goes to the decoder, -1 for none. Any thread.
    int MediaChannel() const { return mediaChannel.load(std::memory_order_acquire); }
    // Media of the playing channel that reached the decoder (accepted or refused), and the
    // chunks it refused for lack of room, since construction. Any thread.
    int64_t MediaBytes() const { return mediaBytes.load(std::memory_order_relaxed); }
    int64_t RefusedChunks() const { return refusedChunks.load(std::memory_order_relaxed); }

    // The session's events (client thread).
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnMediaData(int channel, const uint8_t* data, int length) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;

    // The client thread pauses this long after a pass that moved no media.
    static constexpr int kIdlePauseMs = 10;

  private:
    static void ClientThread(void* self);
    void Run();
    // Under streamLock: stops the decoder and forgets the playing channel.
    void StopPlaying();

    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<CDecoder> decoder;
    WorkerThread thread;
    std::atomic<bool> running{false};
    std::atomic<IDeviceEvents*> sink{nullptr};

    // Written under streamLock (the interface thread clears it, the client thread sets it);
    // read freshly on every media event. The lock also keeps the decoder's Start (client
    // thread) and Stop (interface thread) apart, and a chunk of a channel that has just been
    // stopped out of the decoder.
    std::mutex streamLock;
    std::atomic<int> mediaChannel{-1};

    std::atomic<int64_t> mediaBytes{0};
    std::atomic<int64_t> refusedChunks{0};
    // Media moved in the current pass; the client thread's, atomic only because tests raise
    // events from their own thread.
    std::atomic<int64_t> passMediaBytes{0};
};

// The program's instance: made at the first call (the program calls it before it makes any
// window), destroyed at the program's exit, after everything made later.
DeviceClient& TheDeviceClient();

}  // namespace tavix

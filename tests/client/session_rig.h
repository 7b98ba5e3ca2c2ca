// What the session tests share: a listener that records every event, a clock the tests drive,
// and a session wired to both.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "client/device_session.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace tavix {

struct LoginEvent {
    int code;
    int channelCount;
};
struct ListEvent {
    int code;
    bool hasList;
    std::vector<std::string> names;
};
struct StreamEvent {
    int channel;
    int code;
    bool operator==(const StreamEvent&) const = default;
};
struct DisconnectEvent {
    int code;
    int detail;
    int64_t atMs;  // test clock
};
struct MediaPiece {
    int channel;
    int length;
};

// Whether `done` came true within timeoutMs (looked at every 2 ms).
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const int64_t deadline = MonotonicMs() + timeoutMs;
    while (!done()) {
        if (MonotonicMs() > deadline) return false;
        SleepMs(2);
    }
    return true;
}

// A media file of `size` bytes in the test's temporary folder, each byte telling its position
// (mod 251) plus `salt`.
inline std::string MediaFile(const std::string& name, size_t size, uint8_t salt) {
    std::string path = testing::TempDir() + "tavix_" + std::to_string(getpid()) + "_" + name;
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i)
        out.put(static_cast<char>(i % 251 + salt));
    return path;
}

// A loopback port where nothing listens (it did a moment ago).
inline uint16_t FreePort() {
    SocketHandle probe = SocketListen("127.0.0.1", 0);
    const uint16_t port = SocketLocalPort(probe);
    SocketClose(probe);
    return port;
}

// Records every event. Its fields may be read from another thread than the client thread
// through the accessors (copies under the lock).
class RecordingListener : public IDeviceEvents {
  public:
    explicit RecordingListener(std::function<int64_t()> clock) : clock(std::move(clock)) {}

    void OnLoginResult(int code, int channelCount) override {
        std::lock_guard<std::mutex> hold(lock);
        logins.push_back({code, channelCount});
    }
    void OnChannelList(int code, const ChannelNameList* list) override {
        ListEvent event{code, list != nullptr, {}};
        for (int i = 0; list != nullptr && i < list->count; ++i)
            event.names.emplace_back(list->entries[i].name);
        std::lock_guard<std::mutex> hold(lock);
        lists.push_back(event);
    }
    void OnMediaData(int channel, const uint8_t* data, int length) override {
        std::lock_guard<std::mutex> hold(lock);
        pieces.push_back({channel, length});
        std::vector<uint8_t>& to = media[channel];
        to.insert(to.end(), data, data + length);
    }
    void OnStreamResult(int channel, int code) override {
        std::lock_guard<std::mutex> hold(lock);
        streams.push_back({channel, code});
    }
    void OnDisconnected(int code, int detail) override {
        std::lock_guard<std::mutex> hold(lock);
        disconnects.push_back({code, detail, clock()});
    }
    void OnReconnecting(int channel, int reason) override {
        std::lock_guard<std::mutex> hold(lock);
        reconnecting.push_back({channel, reason});
    }
    void OnReconnected(int channel) override {
        std::lock_guard<std::mutex> hold(lock);
        reconnected.push_back(channel);
    }
    void OnStreamTypeChanged(int channel, int streamType) override {
        std::lock_guard<std::mutex> hold(lock);
        typeChanges.push_back({channel, streamType});
    }

    std::vector<LoginEvent> Logins() const { return Copy(logins); }
    std::vector<ListEvent> Lists() const { return Copy(lists); }
    std::vector<StreamEvent> Streams() const { return Copy(streams); }
    std::vector<DisconnectEvent> Disconnects() const { return Copy(disconnects); }
    std::vector<MediaPiece> Pieces() const { return Copy(pieces); }
    // (channel, reason) of each OnReconnecting; the channel of each OnReconnected.
    std::vector<StreamEvent> Reconnecting() const { return Copy(reconnecting); }
    std::vector<int> Reconnected() const { return Copy(reconnected); }
    // (channel, stream type) of each OnStreamTypeChanged.
    std::vector<StreamEvent> TypeChanges() const { return Copy(typeChanges); }
    std::vector<uint8_t> Media(int channel) const {
        std::lock_guard<std::mutex> hold(lock);
        auto found = media.find(channel);
        return found == media.end() ? std::vector<uint8_t>() : found->second;
    }

  private:
    template <typename T>
    T Copy(const T& field) const {
        std::lock_guard<std::mutex> hold(lock);
        return field;
    }

    std::function<int64_t()> clock;
    mutable std::mutex lock;
    std::vector<LoginEvent> logins;
    std::vector<ListEvent> lists;
    std::vector<StreamEvent> streams;
    std::vector<DisconnectEvent> disconnects;
    std::vector<MediaPiece> pieces;
    std::vector<StreamEvent> reconnecting;
    std::vector<int> reconnected;
    std::vector<StreamEvent> typeChanges;
    std::map<int, std::vector<uint8_t>> media;
};

// Test time: real time times `scale`, moved on by Set. Scale 1 keeps the waits of the session
// real; a large scale lets a 10 s wait pass in milliseconds. It never stands still, so no wait
// can hang on it.
class TestClock {
  public:
    explicit TestClock(int64_t scale = 1) : scale(scale) {}
    int64_t Now() const { return offset.load() + (MonotonicMs() - start) * scale; }
    void Set(int64_t ms) { offset.store(ms - (MonotonicMs() - start) * scale); }
    DeviceSession::Clock Function() {
        return [this] { return Now(); };
    }

  private:
    const int64_t scale;
    const int64_t start = MonotonicMs();
    std::atomic<int64_t> offset{1000000};
};

// A session on a test clock with a recording listener, stepped by the test's own thread.
struct SessionRig {
    explicit SessionRig(int64_t clockScale = 1)
        : clock(clockScale),
          listener([this] { return clock.Now(); }),
          session(listener, clock.Function()) {}

    // Steps until `done` holds or timeoutMs of real time pass; whether it held.
    bool StepUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        int64_t deadline = MonotonicMs() + timeoutMs;
        while (!done()) {
            if (MonotonicMs() > deadline) return false;
            session.Step();
        }
        return true;
    }
    void Steps(int count) {
        for (int i = 0; i < count; ++i)
            session.Step();
    }
    // Logs in at once (the reply wait runs inside); the login event.
    LoginEvent Login(uint16_t port, const std::string& password = "702914", int timeoutMs = 10000) {
        session.Login("127.0.0.1", port, "admin", password, timeoutMs);
        std::vector<LoginEvent> logins = listener.Logins();
        return logins.empty() ? LoginEvent{-99, -99} : logins.back();
    }

    TestClock clock;
    RecordingListener listener;
    DeviceSession session;
};

}  // namespace tavix

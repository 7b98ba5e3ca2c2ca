// What the control connection of a logged-in client shares with that client's media
// connections: the session identifier, the channels the client wants streamed, the sources
// PTZ commands steer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "tools/sim/media_source.h"

namespace tavix::sim {

class SimSession {
  public:
    explicit SimSession(const std::array<uint8_t, 4>& id) : id(id) {}

    // `streamType` 0 counts as the main stream (1), as a device reads it.
    void SetWanted(int channel, bool wanted, int streamType) {
        std::lock_guard<std::mutex> hold(lock);
        if (wanted)
            wantedChannels[channel] = streamType == 0 ? 1 : streamType;
        else
            wantedChannels.erase(channel);
    }
    // The stream type wanted of the channel, 0 when none is.
    int WantedType(int channel) const {
        std::lock_guard<std::mutex> hold(lock);
        auto wanted = wantedChannels.find(channel);
        return wanted != wantedChannels.end() ? wanted->second : 0;
    }

    // A media connection's source, reachable by PTZ commands until detached.
    void Attach(int channel, MediaSource* source) {
        std::lock_guard<std::mutex> hold(lock);
        sources.emplace(channel, source);
    }
    void Detach(int channel, MediaSource* source) {
        std::lock_guard<std::mutex> hold(lock);
        for (auto it = sources.lower_bound(channel); it != sources.upper_bound(channel); ++it) {
            if (it->second == source) {
                sources.erase(it);
                return;
            }
        }
    }
    void Steer(int channel, int wireAction, int speed) {
        std::lock_guard<std::mutex> hold(lock);
        for (auto it = sources.lower_bound(channel); it != sources.upper_bound(channel); ++it)
            it->second->Steer(wireAction, speed);
    }

    const std::array<uint8_t, 4> id;
    // Set when the control connection ends; the media connections end with it.
    std::atomic<bool> closed{false};
    // When the login reply left (monotonic ms), -1 before: the fault timers of the control
    // connection and its media connections count from here.
    std::atomic<int64_t> loginAtMs{-1};

  private:
    mutable std::mutex lock;
    std::map<int, int> wantedChannels;         // stream type by channel; guarded by lock
    std::multimap<int, MediaSource*> sources;  // guarded by lock; non-null
};

}  // namespace tavix::sim

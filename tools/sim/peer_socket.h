// One accepted connection of the simulator: waits that wake up often enough to notice a stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/socket.h"

namespace tavix::sim {

class PeerSocket {
  public:
    // Takes the descriptor over and makes it non-blocking. `stopped` is asked while a write
    // waits for the peer; true gives the write up.
    PeerSocket(SocketHandle handle, std::function<bool()> stopped);
    ~PeerSocket() { Close(); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    // Waits up to waitMs for data and appends what came to `into`. false once the peer has
    // closed or the connection failed.
    bool Read(std::vector<uint8_t>& into, int waitMs);
    // All bytes or false (peer gone, or `stopped`).
    bool Write(const uint8_t* data, size_t length);
    bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }

    void Close();
    bool IsOpen() const { return handle != kNoSocket; }

  private:
    SocketHandle handle;
    std::function<bool()> stopped;
};

}  // namespace tavix::sim

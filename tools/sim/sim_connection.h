// One client connection of the simulator. Its first request decides what it is: a media
// connection announcing itself (0xF1), or else the control connection of a client.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/sim/peer_socket.h"
#include "tools/sim/sim_server.h"

namespace tavix::sim {

class SimConnection {
  public:
    // Takes the accepted socket over. `number` names the connection in the output lines.
    SimConnection(SimServer& server, SocketHandle accepted, int number);

    // Serves the connection until the client closes it, a fault closes it or the server stops.
    void Run();

  private:
    using Bytes = std::vector<uint8_t>;

    // Cuts the next complete request out of `pending`. false when none is complete yet; an
    // oversized request closes the connection.
    bool TakeMessage(Bytes& message);

    void RunControl(const Bytes& first);
    void HandleControl(const Bytes& message);
    void Login(const Bytes& message);
    // The faults of the options that are due; false once the connection is closed.
    bool ApplyFaults();
    // Whether --pause-after holds the connection now; tells when the pause starts and ends.
    bool Paused();
    // Seconds since the session's login reply, or -1 before it.
    double SinceLogin() const;
    // The server stops or restarts: the connection ends.
    bool Ending() const { return server.Stopping() || server.Generation() != generation; }
    bool Reply(const Bytes& bytes);

    void RunMedia(const Bytes& announce);
    // Waits out the pace of --rate after a body of `bytes` bytes; false when stopped.
    bool Pace(size_t bytes);

    void Closed(const char* by);

    SimServer& server;
    const SimOptions& options;
    int number;
    const int generation;  // the server's listening period this connection came in
    PeerSocket peer;
    Bytes pending;  // received bytes not yet cut into requests

    std::shared_ptr<SimSession> session;  // control: set by a successful login; media: announced
    bool control = false;  // the control connection of a client, not a media connection
    bool garbageSent = false;
    enum { kBeforePause, kInPause, kAfterPause } pause = kBeforePause;
    bool heartbeatStallTold = false;
};

}  // namespace tavix::sim

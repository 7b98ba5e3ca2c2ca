// The simulator's listening socket and its clients: one thread per accepted connection. With
// --restart-after the listening socket and every connection are closed for a while and the
// simulator then listens again on the same port: each such listening period is a generation.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_session.h"

namespace tavix::sim {

class SimServer {
  public:
    explicit SimServer(const SimOptions& options);
    // Stops and joins every connection thread.
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and listens; false when that fails.
    bool Listen();
    // The port listened on, also when the system chose it; the same after a restart.
    uint16_t Port() const { return port; }

    // Accepts clients until Stop, restarting as --restart-after asks; then waits for every
    // connection thread to end.
    void Run();
    // Any thread (the signal thread): ends Run and every connection soon.
    void Stop();
    bool Stopping() const { return stopping.load(std::memory_order_acquire); }
    // The current listening period; a connection of an earlier one ends soon.
    int Generation() const { return generation.load(std::memory_order_acquire); }
    // A login was answered: the first one of a listening period starts --restart-after.
    void LoginReplied();
    // Counts a login about to be accepted: how many were before it (for --refuse-after).
    int CountLogin() { return logins.fetch_add(1, std::memory_order_relaxed); }
    // Counts a channel-list request: how many were before it (for --drop-list-requests).
    int CountListRequest() { return listRequests.fetch_add(1, std::memory_order_relaxed); }

    const SimOptions& Options() const { return options; }

    // A new session with a random identifier that no live session has.
    std::shared_ptr<SimSession> NewSession();
    // The live session with this identifier, or null.
    std::shared_ptr<SimSession> FindSession(const std::array<uint8_t, 4>& id);
    std::vector<uint8_t> RandomBytes(size_t count);

  private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void JoinFinished(bool all);
    // Waits up to kPollMs for a client; false when none is there or the listener is gone.
    bool ClientWaiting();
    // --restart-after: down for --down-for, then listening again; false when stopped meanwhile
    // or the port could not be had again.
    bool Restart();

    const SimOptions options;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> generation{0};
    std::atomic<int64_t> firstLoginAtMs{-1};  // of the current listening period
    std::atomic<int> logins{0};               // accepted, over the whole run
    std::atomic<int> listRequests{0};         // over the whole run

    // Held while the listener is shut down (by Stop) or closed and replaced (by Restart).
    std::mutex listenerLock;
    SocketHandle listener = kNoSocket;  // guarded by listenerLock; read freely by Run's thread
    std::atomic<int> connections{0};
    std::vector<Worker> workers;  // accept thread only

    std::mutex lock;
    std::mt19937 random;                                     // guarded by lock
    std::map<uint32_t, std::weak_ptr<SimSession>> sessions;  // guarded by lock
};

}  // namespace tavix::sim

// The simulator's listening socket and its clients: one thread per accepted connection.
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
    uint16_t Port() const { return SocketLocalPort(listener); }

    // Accepts clients until Stop; then waits for every connection thread to end.
    void Run();
    // Any thread (the signal thread): ends Run and every connection soon.
    void Stop();
    bool Stopping() const { return stopping.load(std::memory_order_acquire); }

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

    const SimOptions options;
    SocketHandle listener = kNoSocket;
    std::atomic<bool> stopping{false};
    std::atomic<int> connections{0};
    std::vector<Worker> workers;  // accept thread only

    std::mutex lock;
    std::mt19937 random;                                     // guarded by lock
    std::map<uint32_t, std::weak_ptr<SimSession>> sessions;  // guarded by lock
};

}  // namespace tavix::sim

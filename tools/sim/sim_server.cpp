#include "tools/sim/sim_server.h"

#include "platform/thread.h"
#include "tools/sim/json_line.h"
#include "tools/sim/sim_connection.h"
#include "tools/sim/sim_replies.h"

namespace tavix::sim {
namespace {

constexpr int kPollMs = 10;

}  // namespace

SimServer::SimServer(const SimOptions& options)
    : options(options), random(options.seeded ? options.seed : std::random_device{}()) {}

SimServer::~SimServer() {
    Stop();
    JoinFinished(true);
    std::lock_guard<std::mutex> hold(listenerLock);
    SocketClose(listener);
}

bool SimServer::Listen() {
    // Again after a restart: the port it had, also when the system chose it.
    SocketHandle opened =
        SocketListen(options.bind, port != 0 ? port : static_cast<uint16_t>(options.port));
    std::lock_guard<std::mutex> hold(listenerLock);
    listener = opened;
    if (listener != kNoSocket) port = SocketLocalPort(listener);
    return listener != kNoSocket;
}

void SimServer::LoginReplied() {
    int64_t none = -1;
    firstLoginAtMs.compare_exchange_strong(none, MonotonicMs());
}

bool SimServer::ClientWaiting() {
    return SocketWaitReadable(listener, kPollMs * 1000);
}

bool SimServer::Restart() {
    JsonLine("event", "fault")
        .Text("fault", "restart")
        .Number("port", port)
        .Real("seconds", options.downFor, 3)
        .Print();
    {
        std::lock_guard<std::mutex> hold(listenerLock);
        SocketShutdown(listener);
        SocketClose(listener);
        listener = kNoSocket;
    }
    // Every connection sees the new generation within its short waits and closes.
    generation.fetch_add(1, std::memory_order_acq_rel);
    JoinFinished(true);
    firstLoginAtMs.store(-1);
    for (int64_t due = MonotonicMs() + static_cast<int64_t>(options.downFor * 1000);
         MonotonicMs() < due;) {
        if (Stopping()) return false;
        SleepMs(kPollMs);
    }
    if (!Listen()) {
        JsonLine("event", "error").Text("text", "cannot listen again").Number("port", port).Print();
        return false;
    }
    // A Stop that came while no listener was there had none to wake.
    if (Stopping()) return false;
    JsonLine("event", "listening").Text("address", options.bind).Number("port", port).Print();
    return true;
}

void SimServer::Run() {
    while (!Stopping()) {
        if (options.restartAfter >= 0) {
            int64_t loginAt = firstLoginAtMs.load();
            if (loginAt >= 0 && MonotonicMs() - loginAt >= options.restartAfter * 1000) {
                if (!Restart()) break;
                continue;
            }
            // Short waits, so that the restart comes on time.
            if (!ClientWaiting()) continue;
        }
        SocketHandle accepted = SocketAccept(listener);
        if (accepted == kNoSocket) break;
        if (Stopping()) {
            SocketClose(accepted);
            break;
        }
        JoinFinished(false);
        int number = ++connections;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([this, accepted, number, done] {
            SimConnection(*this, accepted, number).Run();
            done->store(true, std::memory_order_release);
        });
        workers.push_back({std::move(thread), done});
    }
    Stop();
    JoinFinished(true);
}

void SimServer::Stop() {
    if (stopping.exchange(true, std::memory_order_acq_rel)) return;
    // Wakes the accept; the connection threads notice the flag within their short waits.
    std::lock_guard<std::mutex> hold(listenerLock);
    if (listener != kNoSocket) SocketShutdown(listener);
}

void SimServer::JoinFinished(bool all) {
    for (auto it = workers.begin(); it != workers.end();) {
        if (all || it->done->load(std::memory_order_acquire)) {
            it->thread.join();
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
}

std::shared_ptr<SimSession> SimServer::NewSession() {
    std::lock_guard<std::mutex> hold(lock);
    for (auto it = sessions.begin(); it != sessions.end();)
        it = it->second.expired() ? sessions.erase(it) : std::next(it);
    uint32_t key = 0;
    do {
        key = static_cast<uint32_t>(random());
    } while (key == 0 || sessions.count(key) != 0);
    std::array<uint8_t, 4> id{};
    for (size_t i = 0; i < 4; ++i)
        id[i] = static_cast<uint8_t>(key >> (8 * i));
    auto session = std::make_shared<SimSession>(id);
    sessions[key] = session;
    return session;
}

std::shared_ptr<SimSession> SimServer::FindSession(const std::array<uint8_t, 4>& id) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = sessions.find(Le32(id.data()));
    if (found == sessions.end()) return nullptr;
    auto session = found->second.lock();
    if (session && session->closed.load()) return nullptr;
    return session;
}

std::vector<uint8_t> SimServer::RandomBytes(size_t count) {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

}  // namespace tavix::sim

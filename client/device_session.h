// The client's side of one conversation with the device: the control connection (this object
// is that Connection), login, heartbeat, one media connection per opened channel, and the queue
// of commands the user interface asks for.
//
// Threads: Enqueue and Interrupt may be called on any thread. Everything else, and every
// listener call, runs on the one client thread that calls Step.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/device_events.h"
#include "client/session_command.h"
#include "client/stream_connection.h"
#include "platform/thread.h"

namespace tavix {

class DeviceSession : public Connection {
  public:
    // Milliseconds, monotonic. Tests put in a clock they drive to cover the 10 s and 60 s rules.
    using Clock = std::function<int64_t()>;

    // `listener` must outlive the session.
    explicit DeviceSession(IDeviceEvents& listener, Clock clock = MonotonicMs);
    // Closes the control connection and every media connection.
    ~DeviceSession() override;

    // Any thread. Appends to the command queue and wakes the client thread; a null command is
    // dropped.
    void Enqueue(std::unique_ptr<SessionCommand> command);

    // Any thread, for the owner's shutdown: every wait of the session (a reply, a connect, a
    // send) ends at once and none lasts from then on; WaitForWork returns at once.
    void Interrupt();

    // One pass of the client thread: runs the queued commands one by one, then polls once.
    // Returns kResultReceiveStep when nothing was run and the poll found nothing to do, else 0.
    // Blocks at most for the waits of the commands it runs.
    int Step();

    // Waits until a connection has something to read, a command is queued, a timer of the
    // session falls due, or maxMs pass (kLongestWaitMs at most while logged in). For the
    // client thread between passes that found nothing to do.
    void WaitForWork(int64_t maxMs);

    // Receives what has arrived on the control connection and on every media connection, and
    // keeps the heartbeat: 0 when it moved bytes or sent a heartbeat, 1 when it ended the
    // session, else kResultReceiveStep.
    int Poll();

    // Polls until the reply (kind, code) arrives or timeoutMs passes: 0 (arrived), 3 (time-out)
    // or 4 (the control connection ended meanwhile, or the owner stops). Heartbeat and media go
    // on; queued commands wait.
    int WaitForReply(int kind, int code, int timeoutMs);

    // Closes the control connection and every media connection; forgets the login record.
    void Close() override;
    void OnReply(ReplyInfo& reply) override;

    // The commands. Each reports through the listener, except Logout, CloseStream and Ptz.
    void Login(const std::string& host, int port, const std::string& user,
               const std::string& password, int timeoutMs);
    void Logout();
    void RequestChannelList();
    void OpenStream(int channel, int streamType);
    void CloseStream(int channel);
    void Ptz(int channel, int action, int speed);

    bool LoggedIn() const { return loggedIn && loginRecord; }
    // The media connection of a channel, or null when it has none.
    const StreamConnection* Stream(int channel) const;
    // Closes the channel's media connection, so that its next open connects and announces
    // anew; nothing is sent.
    void DropStream(int channel);

    // What the last login used: its host, port, user and password (also after the session
    // ended), and when the last heartbeat went out and its last reply came (session clock).
    LoginParameters LastLogin() const { return {host, port, userName, password}; }
    int64_t LastHeartbeatSent() const { return lastHeartbeatSent; }
    int64_t LastHeartbeatReply() const { return lastHeartbeatReply; }

    static constexpr int64_t kHeartbeatIntervalMs = 10000;
    static constexpr int64_t kHeartbeatTimeoutMs = 60000;  // since the last heartbeat reply
    static constexpr int kChannelListTimeoutMs = 15000;
    static constexpr int kSendTimeoutMs = 5000;
    // A streaming channel's receive buffer (and its socket's) holds a good part of a picture,
    // so that a stream of tens of Mbit/s is taken in a few reads a pass.
    static constexpr int kStreamingCapacity = 128 * 1024;
    static constexpr int kStreamingSendBuffer = 64;
    // A stopped channel's buffers shrink so that TCP flow control holds its data back.
    static constexpr int kStoppedCapacity = 32;
    // Timers run on the session's clock, which tests may run fast: a wait never outlasts this,
    // so that the clock is looked at again soon.
    static constexpr int kLongestWaitMs = 50;
    // The control connection takes at most this many reads a pass, so that media gets its turn.
    static constexpr int kControlReadsPerPass = 64;
    // The system gives the control connection up after this much silence of a peer that has
    // gone without closing (power cut, cable pulled): keepalive probes after 5 s of silence,
    // 2 s apart, 3 of them; sent data unacknowledged for 10 s.
    static constexpr int kKeepAliveIdleS = 5;
    static constexpr int kKeepAliveIntervalS = 2;
    static constexpr int kKeepAliveProbes = 3;
    static constexpr int kUnacknowledgedMs = 10000;

  private:
    void Execute(SessionCommand& command);
    // Closes everything and forgets the login and any wait; the caller raises the event.
    void EndSession();
    // The control connection broke (closed by the device, or its byte stream out of step):
    // a logged-in session ends with OnDisconnected(0, detail); 1. Before a login the
    // connection just closes, and the login's wait ends.
    int LoseLink(int detail);
    StreamConnection* OpenedStream(int channel);

    IDeviceEvents& listener;
    Clock clock;
    WaitBreaker breaker;

    // Client thread only.
    std::vector<std::unique_ptr<StreamConnection>> streams;  // one slot per channel
    std::string userName;
    std::string password;
    std::string host;  // media connections connect here
    int port = -1;
    int64_t lastHeartbeatSent = 0;
    int64_t lastHeartbeatReply = 0;
    std::unique_ptr<LoginRecord> loginRecord;
    int awaitedKind = kReplyKindPlain;
    int awaitedCode = -1;  // -1: not waiting
    bool awaitedArrived = false;
    bool loggedIn = false;
    std::vector<SocketWait> waits;          // WaitForWork's, kept between passes
    std::vector<StreamConnection*> waited;  // the streams among them, in their order

    // Guarded by commandLock; oldest first.
    std::mutex commandLock;
    std::deque<std::unique_ptr<SessionCommand>> commands;
};

}  // namespace tavix

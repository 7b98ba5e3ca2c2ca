// A descriptor that other threads make readable, so that a thread waiting in SocketWaitAny on
// its sockets also wakes for work handed to it. Signal from any thread; the waiting thread
// clears it once it has looked for that work.
#pragma once

#include "platform/socket.h"

namespace tavix {

class WakeEvent {
  public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Any thread: the descriptor becomes readable (and stays so until Clear).
    void Signal();
    // The waiting thread: readable no more.
    void Clear();
    // For a SocketWait entry (kWaitReadable); kNoSocket when the system had no descriptor
    // left, and the waits then end only by their time-outs.
    SocketHandle Handle() const { return handle; }

  private:
    SocketHandle handle = kNoSocket;
};

}  // namespace tavix

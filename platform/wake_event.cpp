#include "platform/wake_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace tavix {

WakeEvent::WakeEvent() {
    const int created = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    handle = created < 0 ? kNoSocket : created;
}

WakeEvent::~WakeEvent() {
    if (handle != kNoSocket) ::close(handle);
}

void WakeEvent::Signal() {
    if (handle == kNoSocket) return;
    const uint64_t one = 1;
    // Fails only when the counter is full, and then the descriptor is readable already.
    [[maybe_unused]] ssize_t written = ::write(handle, &one, sizeof one);
}

void WakeEvent::Clear() {
    if (handle == kNoSocket) return;
    uint64_t count = 0;
    [[maybe_unused]] ssize_t read = ::read(handle, &count, sizeof count);
}

}  // namespace tavix

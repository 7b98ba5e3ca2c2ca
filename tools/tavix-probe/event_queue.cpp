#include "tools/tavix-probe/event_queue.h"

#include <chrono>
#include <cstring>

#include "platform/thread.h"

namespace tavix::probe {

EventQueue::EventQueue(DeviceClient& client) : client(client) {
    client.SetEventSink(this);
}

EventQueue::~EventQueue() {
    client.SetEventSink(nullptr);
}

void EventQueue::Push(ProbeEvent event) {
    std::lock_guard<std::mutex> hold(lock);
    events.push_back(std::move(event));
    arrived.notify_one();
}

void EventQueue::OnLoginResult(int code, int channelCount) {
    ProbeEvent event;
    event.kind = ProbeEvent::kLogin;
    event.code = code;
    event.value = channelCount;
    Push(std::move(event));
}

void EventQueue::OnChannelList(int code, const ChannelNameList* list) {
    ProbeEvent event;
    event.kind = ProbeEvent::kList;
    event.code = code;
    event.hasList = list != nullptr;
    // The list is valid during the call only.
    for (int i = 0; list != nullptr && i < list->count && i < kMaxChannelEntries; ++i) {
        const ChannelNameEntry& entry = list->entries[i];
        event.channels.push_back(
            {entry.number, std::string(entry.name, strnlen(entry.name, kChannelNameBytes))});
    }
    Push(std::move(event));
}

void EventQueue::OnMediaData(int, const uint8_t*, int) {}

void EventQueue::OnStreamResult(int channel, int code) {
    ProbeEvent event;
    event.kind = ProbeEvent::kStream;
    event.code = code;
    event.value = channel;
    Push(std::move(event));
}

void EventQueue::OnDisconnected(int code, int detail) {
    ProbeEvent event;
    event.kind = ProbeEvent::kDisconnected;
    event.code = code;
    event.value = detail;
    Push(std::move(event));
}

bool EventQueue::Take(ProbeEvent& event, int64_t untilMs) {
    std::unique_lock<std::mutex> hold(lock);
    while (events.empty()) {
        int64_t left = untilMs - MonotonicMs();
        if (left <= 0) return false;
        arrived.wait_for(hold, std::chrono::milliseconds(left));
    }
    event = std::move(events.front());
    events.pop_front();
    return true;
}

bool EventQueue::Await(ProbeEvent::Kind kind, int timeoutMs, ProbeEvent& event) {
    int64_t until = MonotonicMs() + timeoutMs;
    while (Take(event, until)) {
        if (event.kind == kind || event.kind == ProbeEvent::kDisconnected) return true;
    }
    return false;
}

}  // namespace tavix::probe

#include "tools/tavix-probe/event_queue.h"

#include <chrono>
#include <cstring>

#include "platform/thread.h"

namespace tavix::probe {

EventQueue::EventQueue(DeviceClient& client) {
    Listen(client, 0);
}

// The sources go first: no event is queued while the queue goes.
EventQueue::~EventQueue() {
    sources.clear();
}

void EventQueue::Listen(DeviceClient& client, int recorder) {
    sources.push_back(std::make_unique<Source>(*this, client, recorder));
}

void EventQueue::Push(ProbeEvent event) {
    std::lock_guard<std::mutex> hold(lock);
    events.push_back(std::move(event));
    arrived.notify_one();
}

EventQueue::Source::Source(EventQueue& queue, DeviceClient& client, int recorder)
    : queue(queue), client(client), recorder(recorder) {
    client.SetEventSink(this);
}

EventQueue::Source::~Source() {
    client.SetEventSink(nullptr);
}

void EventQueue::Source::Push(ProbeEvent::Kind kind, int code, int value) {
    ProbeEvent event;
    event.kind = kind;
    event.recorder = recorder;
    event.code = code;
    event.value = value;
    queue.Push(std::move(event));
}

void EventQueue::Source::OnLoginResult(int code, int channelCount) {
    Push(ProbeEvent::kLogin, code, channelCount);
}

void EventQueue::Source::OnChannelList(int code, const ChannelNameList* list) {
    ProbeEvent event;
    event.kind = ProbeEvent::kList;
    event.recorder = recorder;
    event.code = code;
    event.hasList = list != nullptr;
    // The list is valid during the call only.
    for (int i = 0; list != nullptr && i < list->count && i < kMaxChannelEntries; ++i) {
        const ChannelNameEntry& entry = list->entries[i];
        event.channels.push_back(
            {entry.number, std::string(entry.name, strnlen(entry.name, kChannelNameBytes))});
    }
    queue.Push(std::move(event));
}

void EventQueue::Source::OnStreamResult(int channel, int code) {
    Push(ProbeEvent::kStream, code, channel);
}

void EventQueue::Source::OnDisconnected(int code, int detail) {
    Push(ProbeEvent::kDisconnected, code, detail);
}

void EventQueue::Source::OnReconnecting(int channel, int reason) {
    Push(ProbeEvent::kReconnecting, reason, channel);
}

void EventQueue::Source::OnReconnected(int channel) {
    Push(ProbeEvent::kReconnected, 0, channel);
}

void EventQueue::Source::OnStreamTypeChanged(int channel, int streamType) {
    Push(ProbeEvent::kStreamType, streamType, channel);
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

bool EventQueue::Await(ProbeEvent::Kind kind, int timeoutMs, ProbeEvent& event, int recorder) {
    int64_t until = MonotonicMs() + timeoutMs;
    while (Take(event, until)) {
        if (event.recorder == recorder &&
            (event.kind == kind || event.kind == ProbeEvent::kDisconnected))
            return true;
    }
    return false;
}

}  // namespace tavix::probe

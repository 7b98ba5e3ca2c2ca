#include "ui/device_event_relay.h"

#include <QCoreApplication>

#include <future>

#include "ui/dlg_main.h"

namespace tavix {

DeviceEventRelay& DeviceEventRelay::Instance() {
    static DeviceEventRelay* relay = new DeviceEventRelay;
    return *relay;
}

void DeviceEventRelay::Attach(CDlgMain* newWindow) {
    std::lock_guard<std::mutex> hold(lock);
    window = newWindow;
}

void DeviceEventRelay::Detach(CDlgMain* oldWindow) {
    {
        std::lock_guard<std::mutex> hold(lock);
        if (window != oldWindow) return;
        window = nullptr;
    }
    // Messages posted before the detach and not yet taken go; so does a channel list still
    // waiting for the window's thread, which releases the client thread that waits for it.
    QCoreApplication::removePostedEvents(oldWindow);
    oldWindow->DropPosted();
}

void DeviceEventRelay::OnLoginResult(int code, int channelCount) {
    std::lock_guard<std::mutex> hold(lock);
    if (window != nullptr) window->OnLoginResult(code, channelCount);
}

void DeviceEventRelay::OnChannelList(int code, const ChannelNameList* list) {
    std::future<void> filled;
    {
        std::lock_guard<std::mutex> hold(lock);
        if (window == nullptr) return;
        filled = window->PostChannelList(code, list);
    }
    // Waited for outside the lock: the window's thread may be detaching meanwhile.
    filled.wait();
}

void DeviceEventRelay::OnStreamResult(int channel, int code) {
    std::lock_guard<std::mutex> hold(lock);
    if (window != nullptr) window->OnStreamResult(channel, code);
}

void DeviceEventRelay::OnDisconnected(int code, int detail) {
    std::lock_guard<std::mutex> hold(lock);
    if (window != nullptr) window->OnDisconnected(code, detail);
}

void DeviceEventRelay::OnReconnecting(int channel, int reason) {
    std::lock_guard<std::mutex> hold(lock);
    if (window != nullptr) window->OnReconnecting(channel, reason);
}

void DeviceEventRelay::OnReconnected(int channel) {
    std::lock_guard<std::mutex> hold(lock);
    if (window != nullptr) window->OnReconnected(channel);
}

}  // namespace tavix

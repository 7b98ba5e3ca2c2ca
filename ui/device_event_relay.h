// The main window's event sink as the device client sees it. The device client may raise an
// event on its own thread at any moment, also while the window is being destroyed; the relay
// forwards events only while a window is attached, and Detach returns only when no forwarding
// call is in flight, so that none reaches a window that is gone.
//
// The relay lives as long as the process (see Instance), so that the device client can keep a
// plain pointer to it whatever the order of destruction at exit.
#pragma once

#include <mutex>

#include "client/device_events.h"

namespace tavix {

class CDlgMain;

class DeviceEventRelay : public IDeviceEvents {
  public:
    // The process's relay; never destroyed.
    static DeviceEventRelay& Instance();

    // User-interface thread. Events go to `window` from now on.
    void Attach(CDlgMain* window);
    // User-interface thread. No event reaches `window` after this returns; a channel list that
    // waits for it is given up (its caller is released).
    void Detach(CDlgMain* window);

    // Client thread.
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;
    void OnReconnecting(int channel, int reason) override;
    void OnReconnected(int channel) override;

  private:
    DeviceEventRelay() = default;

    std::mutex lock;
    CDlgMain* window = nullptr;  // guarded by lock
};

}  // namespace tavix

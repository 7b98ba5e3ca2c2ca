// RecorderLink: one more recorder the desktop's wall plays from, beside the one logged in to
// through the login dialog: a DeviceClient of its own (its own session, media connections and
// reconnection), logged in with the recorder list's password, and its state as the tree shows
// it. The client's events come on its thread; the link hands each to the window's thread,
// tagged with the link's id, so that an event still queued when the link is gone finds no link
// and is dropped.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "client/device_client.h"
#include "ui/desktop_settings.h"

namespace tavix {

enum class LinkState { kOffline, kConnecting, kConnected, kLost, kRefused };

// What the client reported, for the window's thread.
struct LinkEvent {
    enum Kind { kLogin, kChannels, kStream, kReconnecting, kReconnected, kDisconnected };
    Kind kind = kLogin;
    int channel = -1;
    int code = 0;
    std::vector<QString> names;  // kChannels: the channel names, by channel
};

class RecorderLink : private IDeviceEvents {
  public:
    using Post = std::function<void(std::function<void()>)>;
    // Window's thread: event `event` of the link with id `id`.
    using Handler = std::function<void(int id, const LinkEvent& event)>;

    // Logs in to `login` with `password` at once (state kConnecting).
    RecorderLink(int id, const RecorderLogin& login, const QString& password, Post post,
                 Handler handler);
    // Logs out; the client's thread ends before the link goes.
    ~RecorderLink() override;
    RecorderLink(const RecorderLink&) = delete;
    RecorderLink& operator=(const RecorderLink&) = delete;

    // Logs in again (a login that did not reach the recorder).
    void LogIn();
    // How long after a login that did not reach the recorder the next one starts.
    static constexpr int kRetryMs = 5000;

    int Id() const { return id; }
    QString Key() const { return key; }
    DeviceClient& Client() { return *client; }
    LinkState State() const { return state; }
    void SetState(LinkState to) { state = to; }
    // The channel names of its last list; empty before.
    const std::vector<QString>& Channels() const { return channels; }
    void SetChannels(std::vector<QString> names) { channels = std::move(names); }

  private:
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;
    void OnReconnecting(int channel, int reason) override;
    void OnReconnected(int channel) override;
    void Send(LinkEvent event);

    const int id;
    const RecorderLogin login;
    const QString password;
    const QString key;
    const Post post;
    const Handler handler;
    LinkState state = LinkState::kConnecting;
    std::vector<QString> channels;
    std::unique_ptr<DeviceClient> client;  // last: it goes first, and its events with it
};

}  // namespace tavix

#include "ui/recorder_link.h"

#include <algorithm>
#include <cstring>

#include "ui/system_code_page.h"

namespace tavix {

namespace {

constexpr int kLinkLoginTimeoutMs = 10000;

}  // namespace

RecorderLink::RecorderLink(int id, const RecorderLogin& login, const QString& password, Post post,
                           Handler handler)
    : id(id),
      login(login),
      password(password),
      key(RecorderKey(login.address, login.port)),
      post(std::move(post)),
      handler(std::move(handler)),
      client(std::make_unique<DeviceClient>()) {
    client->SetEventSink(this);
    client->SetReconnect(true);
    LogIn();
}

void RecorderLink::LogIn() {
    client->Logout();
    client->Login(ToSystemCodePage(login.address.toStdU16String()), login.port,
                  ToSystemCodePage(login.user.toStdU16String()),
                  ToSystemCodePage(password.toStdU16String()), kLinkLoginTimeoutMs);
}

RecorderLink::~RecorderLink() {
    client->Logout();
    client.reset();
}

void RecorderLink::Send(LinkEvent event) {
    // The handler is copied in: the link may be gone when the work runs.
    post([handler = handler, id = id, event = std::move(event)] { handler(id, event); });
}

void RecorderLink::OnLoginResult(int code, int) {
    Send({LinkEvent::kLogin, -1, code, {}});
}

void RecorderLink::OnChannelList(int code, const ChannelNameList* list) {
    LinkEvent event{LinkEvent::kChannels, -1, code, {}};
    // The list lives only during this call.
    const int count = list != nullptr ? std::clamp<int>(list->count, 0, kMaxChannelEntries) : 0;
    for (int i = 0; i < count; ++i) {
        const char* name = list->entries[i].name;
        event.names.push_back(QString::fromUtf8(name, strnlen(name, kChannelNameBytes)));
    }
    Send(std::move(event));
}

void RecorderLink::OnStreamResult(int channel, int code) {
    Send({LinkEvent::kStream, channel, code, {}});
}

void RecorderLink::OnDisconnected(int code, int) {
    Send({LinkEvent::kDisconnected, -1, code, {}});
}

void RecorderLink::OnReconnecting(int channel, int reason) {
    Send({LinkEvent::kReconnecting, channel, reason, {}});
}

void RecorderLink::OnReconnected(int channel) {
    Send({LinkEvent::kReconnected, channel, 0, {}});
}

}  // namespace tavix

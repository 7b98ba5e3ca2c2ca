// One request of the user interface for the client thread, queued with DeviceSession::Enqueue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavix {

// Copies of what a login needs; the user interface's strings may change while it is queued.
struct LoginParameters {
    std::string host;  // 8-bit, as the user typed it
    int port = 0;
    std::string user;
    std::string password;
};

struct SessionCommand {
    enum Command : int32_t {
        kLogin = 0,
        kLogout = 1,
        kOpenStream = 2,
        kCloseStream = 3,
        kChannelList = 4,
        kPtz = 5,
    };

    int32_t command = kLogout;
    int32_t a = 0;  // login: reply time-out in ms; stream and PTZ: channel index
    int32_t b = 0;  // open stream: stream type; PTZ: action
    int32_t c = 0;  // PTZ: speed; open stream: 1 on a fresh media connection
    std::unique_ptr<LoginParameters> login;  // login only

    static std::unique_ptr<SessionCommand> Login(const std::string& host, int port,
                                                 const std::string& user,
                                                 const std::string& password, int timeoutMs);
    static std::unique_ptr<SessionCommand> Logout();
    static std::unique_ptr<SessionCommand> OpenStream(int channel, int streamType,
                                                      bool fresh = false);
    static std::unique_ptr<SessionCommand> CloseStream(int channel);
    static std::unique_ptr<SessionCommand> ChannelList();
    static std::unique_ptr<SessionCommand> Ptz(int channel, int action, int speed);
};

}  // namespace tavix

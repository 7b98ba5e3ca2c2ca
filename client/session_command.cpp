#include "client/session_command.h"

namespace tavix {
namespace {

std::unique_ptr<SessionCommand> Make(SessionCommand::Command command, int a = 0, int b = 0,
                                     int c = 0) {
    auto made = std::make_unique<SessionCommand>();
    made->command = command;
    made->a = a;
    made->b = b;
    made->c = c;
    return made;
}

}  // namespace

std::unique_ptr<SessionCommand> SessionCommand::Login(const std::string& host, int port,
                                                      const std::string& user,
                                                      const std::string& password, int timeoutMs) {
    auto made = Make(kLogin, timeoutMs);
    made->login = std::make_unique<LoginParameters>(LoginParameters{host, port, user, password});
    return made;
}

std::unique_ptr<SessionCommand> SessionCommand::Logout() {
    return Make(kLogout);
}

std::unique_ptr<SessionCommand> SessionCommand::OpenStream(int channel, int streamType,
                                                           bool fresh) {
    return Make(kOpenStream, channel, streamType, fresh ? 1 : 0);
}

std::unique_ptr<SessionCommand> SessionCommand::CloseStream(int channel) {
    return Make(kCloseStream, channel);
}

std::unique_ptr<SessionCommand> SessionCommand::ChannelList() {
    return Make(kChannelList);
}

std::unique_ptr<SessionCommand> SessionCommand::Ptz(int channel, int action, int speed) {
    return Make(kPtz, channel, action, speed);
}

}  // namespace tavix

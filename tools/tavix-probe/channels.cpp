// tavix-probe channels: logs in through the client facade, prints the login result and the
// device's channel list, logs out.
#include <cstdio>
#include <string>
#include <vector>

#include "client/device_client.h"
#include "platform/thread.h"
#include "tools/tavix-probe/commands.h"
#include "tools/tavix-probe/device_command.h"
#include "tools/tavix-probe/event_queue.h"

namespace tavix::probe {
namespace {

void PrintHelp() {
    std::printf(
        "Usage: tavix-probe channels HOST PORT USER PASSWORD [--json]\n"
        "\n"
        "Logs in to the recorder at HOST:PORT as the player does, prints the login result and\n"
        "the channel list (index, number, name), and logs out.\n"
        "PASSWORD - reads the password from the first line of standard input.\n"
        "\n"
        "Options:\n"
        "  --json  one object: {\"login\": CODE, \"channelCount\": N, \"list\": CODE or null,\n"
        "          \"channels\": [{\"index\": I, \"number\": N, \"name\": \"...\"}]}; names are\n"
        "          read as UTF-8 (a byte that is not becomes U+FFFD)\n"
        "  --help  show this help\n"
        "\n"
        "Exit status: 0 the list was read, 1 the list could not be read, 2 usage error,\n"
        "3 login refused or failed (the code is printed), 6 the device dropped the session.\n");
}

void Print(bool json, int login, int channelCount, const ProbeEvent* list) {
    if (!json) {
        std::printf("login: %d, %d channels\n", login, channelCount);
        if (list == nullptr) return;
        std::printf("channel list: %d\n", list->code);
        for (size_t i = 0; i < list->channels.size(); ++i)
            std::printf("%3zu %3d  %s\n", i, list->channels[i].number,
                        list->channels[i].name.c_str());
        return;
    }
    std::string text = "{\"login\": " + std::to_string(login) +
                       ", \"channelCount\": " + std::to_string(channelCount) +
                       ", \"list\": " + (list != nullptr ? std::to_string(list->code) : "null") +
                       ", \"channels\": [";
    for (size_t i = 0; list != nullptr && i < list->channels.size(); ++i) {
        if (i > 0) text += ", ";
        text += "{\"index\": " + std::to_string(i) +
                ", \"number\": " + std::to_string(list->channels[i].number) +
                ", \"name\": " + JsonText(list->channels[i].name) + "}";
    }
    std::printf("%s]}\n", text.c_str());
}

}  // namespace

int RunChannels(int argc, char** argv) {
    std::vector<std::string> positional;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") {
            PrintHelp();
            return kExitOk;
        }
        if (argument == "--json")
            json = true;
        else if (argument.rfind("--", 0) == 0)
            return UsageError("channels", "unknown option " + argument);
        else
            positional.push_back(argument);
    }
    DeviceArguments device;
    std::string error;
    if (!ParseDeviceArguments(positional, 0, device, error)) return UsageError("channels", error);
    if (positional.size() > 4) return UsageError("channels", "too many arguments");

    DeviceClient& client = TheDeviceClient();
    EventQueue events(client);
    client.Login(device.host, device.port, device.user, device.password, kLoginTimeoutMs);
    ProbeEvent login;
    if (!events.Await(ProbeEvent::kLogin, kLoginWaitMs, login) || login.code != 0) {
        int code = login.kind == ProbeEvent::kLogin ? login.code : -1;
        Print(json, code, 0, nullptr);
        return kExitLogin;
    }

    client.RequestChannelList();
    ProbeEvent list;
    bool answered = events.Await(ProbeEvent::kList, kListWaitMs, list);
    client.Logout();
    SleepMs(kDrainMs);
    if (answered && list.kind == ProbeEvent::kDisconnected) {
        Print(json, 0, login.value, nullptr);
        std::fprintf(stderr, "tavix-probe channels: disconnected (%d, %d)\n", list.code,
                     list.value);
        return kExitDisconnected;
    }
    Print(json, 0, login.value, answered ? &list : nullptr);
    return answered && list.code == 0 ? kExitOk : kExitFailure;
}

}  // namespace tavix::probe

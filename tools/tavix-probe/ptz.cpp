// tavix-probe ptz: logs in, opens a channel, sends one PTZ command for it, closes the channel
// and logs out.
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

// The actions by the live view's controls, in action order 0..9.
constexpr const char* kActionNames[] = {"up",        "down",       "left",       "right",
                                        "zoom-plus", "zoom-minus", "focus-plus", "focus-minus",
                                        "iris-plus", "iris-minus"};
constexpr int kActions = kPtzActions;

void PrintHelp() {
    std::printf(
        "Usage: tavix-probe ptz HOST PORT USER PASSWORD CHANNEL ACTION\n"
        "(PASSWORD -: read from the first line of standard input)\n"
        "\n"
        "Logs in, opens CHANNEL (0-based), sends one PTZ command for it with speed 0, closes\n"
        "the channel and logs out. ACTION is a number 0..9 or its name:\n");
    for (int i = 0; i < kActions; ++i)
        std::printf("  %d  %s\n", i, kActionNames[i]);
    std::printf(
        "\n"
        "Exit status: 0 the command was sent, 2 usage error, 3 login refused or failed (the\n"
        "code is printed), 4 the channel could not be opened, 6 the device dropped the\n"
        "session.\n");
}

bool ParseAction(const std::string& text, int& action) {
    if (ParseNumber(text, 0, kActions - 1, &action)) return true;
    for (int i = 0; i < kActions; ++i) {
        if (text == kActionNames[i]) {
            action = i;
            return true;
        }
    }
    return false;
}

}  // namespace

int RunPtz(int argc, char** argv) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") {
            PrintHelp();
            return kExitOk;
        }
        if (argument.rfind("--", 0) == 0) return UsageError("ptz", "unknown option " + argument);
        positional.push_back(argument);
    }
    DeviceArguments device;
    std::string error;
    if (!ParseDeviceArguments(positional, 0, device, error)) return UsageError("ptz", error);
    int channel = 0;
    int action = 0;
    if (positional.size() != 6 || !ParseNumber(positional[4], 0, 255, &channel))
        return UsageError("ptz", "CHANNEL (0..255) and ACTION are needed after PASSWORD");
    if (!ParseAction(positional[5], action))
        return UsageError("ptz", "unknown ACTION " + positional[5]);

    DeviceClient& client = TheDeviceClient();
    EventQueue events(client);
    client.Login(device.host, device.port, device.user, device.password, kLoginTimeoutMs);
    ProbeEvent event;
    bool answered = events.Await(ProbeEvent::kLogin, kLoginWaitMs, event);
    int loginCode = answered && event.kind == ProbeEvent::kLogin ? event.code : -1;
    std::printf("login: %d\n", loginCode);
    if (loginCode != 0) return kExitLogin;

    // The command goes out only for a channel whose media connection is up.
    client.OpenChannel(channel, 1);
    answered = events.Await(ProbeEvent::kStream, kStreamWaitMs, event);
    int result = kExitOk;
    if (answered && event.kind == ProbeEvent::kDisconnected) {
        std::printf("disconnected: %d, %d\n", event.code, event.value);
        result = kExitDisconnected;
    } else if (!answered || event.code != 0) {
        std::printf("stream: channel %d, code %d\n", channel, answered ? event.code : -1);
        result = kExitOpen;
    } else {
        client.Ptz(channel, static_cast<PtzAction>(action), 0);
        std::printf("ptz: channel %d, action %d (%s)\n", channel, action, kActionNames[action]);
    }
    client.CloseChannel(channel);
    client.Logout();
    SleepMs(kDrainMs);
    return result;
}

}  // namespace tavix::probe

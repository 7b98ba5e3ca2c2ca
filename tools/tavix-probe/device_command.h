// What the device commands of tavix-probe (channels, play, ptz) share: their exit codes, the
// address and account on their command line, and the JSON text they print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavix::probe {

// Exit codes of the device commands, beside kExitOk (0) and kExitUsage (2).
constexpr int kExitLogin = 3;         // the login was refused or failed (the code is printed)
constexpr int kExitOpen = 4;          // the channel could not be opened
constexpr int kExitNoPicture = 5;     // no picture within the time asked for
constexpr int kExitDisconnected = 6;  // the device dropped the session

// Waits for the outcome of a command: the session's own time-outs plus room.
constexpr int kLoginWaitMs = 20000;   // connect 5 s, login reply 10 s
constexpr int kListWaitMs = 20000;    // reply 15 s
constexpr int kStreamWaitMs = 15000;  // media connection 5 s, announcement, request
constexpr int kLoginTimeoutMs = 10000;
// Before the program ends, so that the queued close and logout leave.
constexpr int kDrainMs = 500;

struct DeviceArguments {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
};

// Reads HOST PORT USER PASSWORD from `positional` starting at `from`; false with a message.
// PASSWORD "-" is read from the first line of standard input instead, so that the password
// need not stand on a command line others can see.
bool ParseDeviceArguments(const std::vector<std::string>& positional, size_t from,
                          DeviceArguments& device, std::string& error);

// 8-bit text as a JSON string with its quotes: valid UTF-8 passes, every other byte becomes
// U+FFFD, so that the output stays valid JSON whatever a device calls its cameras.
std::string JsonText(const std::string& bytes);

}  // namespace tavix::probe

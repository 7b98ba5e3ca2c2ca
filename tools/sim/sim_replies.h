// The recorder's side of the wire format: the replies and media messages it writes, and the
// fields it reads from requests. Pure byte code, written apart from the client's own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavix::sim {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeader = 32;

// Request codes the recorder understands.
constexpr uint8_t kLogin = 0x0A;
constexpr uint8_t kHeartbeat = 0xA1;
constexpr uint8_t kChannelNames = 0xA8;
constexpr uint8_t kChannelRecords = 0x00;
constexpr uint8_t kStream = 0x11;
constexpr uint8_t kPtz = 0x12;
constexpr uint8_t kAnnounce = 0xF1;

uint32_t Le32(const uint8_t* p);
uint16_t Le16(const uint8_t* p);

// Login reply: result (0 accepted), reason, local and total channel counts, extended-list flag
// and the session identifier echoed by media connections.
Bytes LoginReply(uint8_t result, uint8_t reason, int localChannels, int totalChannels,
                 bool extendedList, const std::array<uint8_t, 4>& sessionId);
Bytes HeartbeatReply();
// 0xB8: the names joined by "&&".
Bytes ChannelNamesReply(const std::vector<std::string>& names);
// 0x00: a type-56 record of 68-byte entries (number, 64-byte zero-padded name), then a type-100
// record of 24 bytes.
Bytes ChannelRecordsReply(const std::vector<std::string>& names);
// 0xBC header for a body of `bodyLength` bytes, followed by the body.
Bytes MediaMessage(const uint8_t* body, size_t bodyLength);

// Login request: user and password from the short form (header) or the long form (body).
struct LoginFields {
    std::string user;
    std::string password;
    bool longForm = false;
};
LoginFields ReadLogin(const Bytes& message);

// Stream request: which channel, start or stop, which stream type, which layout.
struct StreamFields {
    int channel = -1;  // -1: the request names no channel the recorder can find
    int operate = 0;
    int streamType = 0;
    std::string layout;  // "local", "local-text", "ip", "ip-extended"
};
StreamFields ReadStreamRequest(const Bytes& message, int localChannels);

// PTZ command.
struct PtzFields {
    int channel = 0;
    int code = 0;  // wire action code
    int speed = 0;
};
PtzFields ReadPtz(const Bytes& message);
const char* PtzActionName(int code);

// Media-connection announcement.
struct AnnounceFields {
    std::array<uint8_t, 4> sessionId{};
    int channel = -1;
};
AnnounceFields ReadAnnounce(const Bytes& message);

std::string Hex(const uint8_t* bytes, size_t length);

}  // namespace tavix::sim

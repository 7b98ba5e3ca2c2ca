#include "tools/sim/sim_replies.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tavix::sim {
namespace {

constexpr uint8_t kLoginReply = 0xB0;
constexpr uint8_t kHeartbeatReply = 0xB1;
constexpr uint8_t kChannelNamesReply = 0xB8;
constexpr uint8_t kRecordsReply = 0x00;
constexpr uint8_t kMedia = 0xBC;
constexpr uint32_t kChannelRecord = 56;
constexpr uint32_t kOpaqueRecord = 100;
constexpr size_t kEntry = 68;
constexpr size_t kEntryName = 64;

void PutLe32(Bytes& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

Bytes Message(uint8_t code, size_t bodyLength) {
    Bytes out(kHeader + bodyLength, 0);
    out[0] = code;
    PutLe32(out, 4, static_cast<uint32_t>(bodyLength));
    return out;
}

uint8_t At(const Bytes& message, size_t at) {
    return at < message.size() ? message[at] : 0;
}

uint32_t Le32At(const Bytes& message, size_t at) {
    return at + 4 <= message.size() ? Le32(&message[at]) : 0;
}

// Text up to the first zero of a fixed field.
std::string FixedText(const Bytes& message, size_t at, size_t width) {
    std::string text;
    for (size_t i = at; i < at + width && i < message.size() && message[i] != 0; ++i)
        text += static_cast<char>(message[i]);
    return text;
}

}  // namespace

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

Bytes LoginReply(uint8_t result, uint8_t reason, int localChannels, int totalChannels,
                 bool extendedList, const std::array<uint8_t, 4>& sessionId) {
    Bytes out = Message(kLoginReply, 0);
    out[2] = extendedList ? 1 : 0;
    out[8] = result;
    out[9] = reason;
    out[10] = static_cast<uint8_t>(localChannels);
    std::copy(sessionId.begin(), sessionId.end(), out.begin() + 16);
    out[29] = static_cast<uint8_t>(totalChannels);
    return out;
}

Bytes HeartbeatReply() {
    return Message(kHeartbeatReply, 0);
}

Bytes ChannelNamesReply(const std::vector<std::string>& names) {
    std::string body;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) body += "&&";
        body += names[i];
    }
    Bytes out = Message(kChannelNamesReply, body.size());
    std::memcpy(out.data() + kHeader, body.data(), body.size());
    return out;
}

Bytes ChannelRecordsReply(const std::vector<std::string>& names) {
    size_t channelsLength = kEntry * names.size();
    size_t opaqueLength = 24;
    Bytes out = Message(kRecordsReply, 8 + channelsLength + 8 + opaqueLength);
    size_t at = kHeader;
    PutLe32(out, at, kChannelRecord);
    PutLe32(out, at + 4, static_cast<uint32_t>(channelsLength));
    at += 8;
    for (size_t i = 0; i < names.size(); ++i) {
        PutLe32(out, at, static_cast<uint32_t>(i));
        // Names fill at most 63 bytes, so that each ends with a zero inside its field.
        std::memcpy(&out[at + 4], names[i].data(), std::min(names[i].size(), kEntryName - 1));
        at += kEntry;
    }
    PutLe32(out, at, kOpaqueRecord);
    PutLe32(out, at + 4, static_cast<uint32_t>(opaqueLength));
    return out;
}

Bytes MediaMessage(const uint8_t* body, size_t bodyLength) {
    Bytes out = Message(kMedia, bodyLength);
    if (bodyLength > 0) std::memcpy(out.data() + kHeader, body, bodyLength);
    return out;
}

LoginFields ReadLogin(const Bytes& message) {
    LoginFields fields;
    if (message.size() <= kHeader) {
        fields.user = FixedText(message, 8, 8);
        fields.password = FixedText(message, 16, 8);
        return fields;
    }
    fields.longForm = true;
    std::string body(message.begin() + kHeader, message.end());
    size_t separator = body.find("&&");
    fields.user = body.substr(0, separator);
    if (separator != std::string::npos) fields.password = body.substr(separator + 2);
    return fields;
}

StreamFields ReadStreamRequest(const Bytes& message, int localChannels) {
    StreamFields fields;
    if (At(message, 26) == 8) {
        fields.layout = "local-text";
        std::string body(message.begin() + std::min(message.size(), kHeader), message.end());
        int channel = 0, type = 0, operate = 0;
        if (std::sscanf(body.c_str(), "ChannelName:%d\r\nStream:%d\r\nOperate:%d", &channel, &type,
                        &operate) == 3) {
            fields.channel = channel;
            fields.streamType = type;
            fields.operate = operate;
        }
        return fields;
    }
    if (At(message, 2) == 1) {
        // Local channel below 16: a start flag at 8 + index, the stream type at 32 + index
        // (left 0 for type 0, so a stop of type 0 cannot name its channel).
        fields.layout = "local";
        for (int i = 0; i < 16; ++i) {
            if (At(message, 8 + static_cast<size_t>(i)) == 1) {
                fields.channel = i;
                fields.operate = 1;
                fields.streamType = At(message, 32 + static_cast<size_t>(i));
                return fields;
            }
        }
        for (int i = 0; i < 16; ++i) {
            if (At(message, 32 + static_cast<size_t>(i)) != 0) {
                fields.channel = i;
                fields.streamType = At(message, 32 + static_cast<size_t>(i));
                return fields;
            }
        }
        return fields;
    }
    bool extended = message.size() >= kHeader + 280 && Le32At(message, 48) == 1;
    fields.layout = extended ? "ip-extended" : "ip";
    for (int k = 0; k < 16; ++k) {
        uint8_t operate = At(message, 8 + static_cast<size_t>(k));
        uint8_t type = At(message, 32 + static_cast<size_t>(k));
        if (operate != 0 || type != 0) {
            fields.channel = localChannels + k;
            fields.operate = operate;
            fields.streamType = type;
            return fields;
        }
    }
    if (extended) {
        for (int k = 16; k < 32; ++k) {
            uint32_t operate = Le32At(message, 56 + 4 * static_cast<size_t>(k));
            uint32_t type = Le32At(message, 184 + 4 * static_cast<size_t>(k));
            if (operate != 0 || type != 0) {
                fields.channel = localChannels + k;
                fields.operate = static_cast<int>(operate);
                fields.streamType = static_cast<int>(type);
                return fields;
            }
        }
    }
    return fields;
}

PtzFields ReadPtz(const Bytes& message) {
    return {At(message, 9), At(message, 10), At(message, 16)};
}

const char* PtzActionName(int code) {
    static const char* const kNames[] = {"up",      "down",   "left",   "right",
                                         "zoom-1",  "zoom-2", "unused", "focus-1",
                                         "focus-2", "iris-1", "iris-2"};
    return code >= 0 && code <= 10 ? kNames[code] : "unknown";
}

AnnounceFields ReadAnnounce(const Bytes& message) {
    AnnounceFields fields;
    for (size_t i = 0; i < 4; ++i)
        fields.sessionId[i] = At(message, 8 + i);
    fields.channel = At(message, 13) - 1;
    return fields;
}

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char digits[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

}  // namespace tavix::sim

#include "client/wire_messages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "platform/trace.h"

namespace tavix {
namespace {

std::vector<uint8_t> Header(uint8_t code, size_t bodyLength) {
    std::vector<uint8_t> message(kHeaderSize + bodyLength, 0);
    message[0] = code;
    WriteLe32(&message[4], static_cast<uint32_t>(bodyLength));
    return message;
}

// The login short form holds each of name and password in 8 header bytes.
constexpr size_t kShortLoginField = 8;

// Layout of the stream request.
constexpr int kBinaryChannels = 16;  // channels addressed by flag bytes 8.. and type bytes 32..
constexpr int kExtendedChannels = 32;
constexpr int kExtendedBody = 280;  // 16 flag/type bytes, two 32-bit words, 2 x 32 words
constexpr size_t kExtendedOperates = 56;
constexpr size_t kExtendedTypes = 184;

// Reads a byte of a message that may be shorter than the field it holds.
struct MessageView {
    const uint8_t* bytes;
    size_t length;
    uint8_t Byte(size_t at) const { return at < length ? bytes[at] : 0; }
};

void ReadLogin(const MessageView& m, ReplyInfo& reply) {
    reply.value = LoginResultCode(m.Byte(8), m.Byte(9));
    if (reply.value != 0) return;
    auto record = std::make_unique<LoginRecord>();
    record->totalChannels = m.Byte(29);
    record->ipChannels = m.Byte(29) - m.Byte(10);
    record->extendedList = m.Byte(2) != 0 ? 1 : 0;
    for (size_t i = 0; i < 4; ++i)
        record->sessionId[i] = m.Byte(16 + i);
    reply.loginRecord = std::move(record);
    reply.dataLength = sizeof(LoginRecord);
}

void ReadChannelNames(const uint8_t* body, size_t length, ReplyInfo& reply) {
    ChannelNameList& list = reply.channelLists.emplace_back();
    std::memset(&list, 0, sizeof list);
    reply.dataLength = sizeof list;
    if (length == 0) return;

    int entry = 0;  // may run past the last entry: those names are dropped
    size_t nameLength = 0;
    for (size_t i = 0; i < length; ++i) {
        if (body[i] == '&' && i + 1 < length && body[i + 1] == '&') {
            ++i;
            ++entry;
            nameLength = 0;
            if (entry < kMaxChannelEntries) list.entries[entry].number = entry;
            continue;
        }
        if (entry < kMaxChannelEntries && nameLength < kChannelNameBytes - 1)
            list.entries[entry].name[nameLength++] = static_cast<char>(body[i]);
    }
    list.count = std::min(entry + 1, kMaxChannelEntries);
}

void ReadRecords(const uint8_t* body, size_t length, ReplyInfo& reply) {
    reply.kind = kReplyKindRecord;
    reply.code = length >= 8 ? static_cast<int32_t>(ReadLe32(body)) : 0;
    size_t at = 0;
    while (length - at >= 8) {
        uint32_t type = ReadLe32(body + at);
        uint32_t recordLength = ReadLe32(body + at + 4);
        Trace("T:%04d--L:%04d\n", static_cast<int>(type), static_cast<int>(recordLength));
        const uint8_t* value = body + at + 8;
        size_t left = length - at - 8;
        if (recordLength > left) break;

        if (type == kRecordChannels && recordLength > 0 &&
            reply.channelLists.size() < kMaxChannelLists) {
            ChannelNameList& list = reply.channelLists.emplace_back();
            std::memset(&list, 0, sizeof list);
            int count = static_cast<int>(std::min<uint32_t>(recordLength / 68, kMaxChannelEntries));
            for (int i = 0; i < count; ++i) {
                const uint8_t* entry = value + 68 * static_cast<size_t>(i);
                list.entries[i].number = static_cast<int32_t>(ReadLe32(entry));
                // The device pads names with zeros; one that fills all 64 bytes is cut so
                // that every name the list holds ends within it.
                std::memcpy(list.entries[i].name, entry + 4, kChannelNameBytes - 1);
            }
            list.count = count;
            reply.dataLength += sizeof list;
        } else if (type == kRecordOpaque && recordLength >= kOpaqueRecordSize &&
                   reply.opaqueRecords.size() < kMaxOpaqueRecords) {
            auto& record = reply.opaqueRecords.emplace_back();
            std::memcpy(record.data(), value, kOpaqueRecordSize);
            reply.dataLength += kOpaqueRecordSize;
        }
        at += 8 + recordLength;
    }
}

}  // namespace

uint8_t PtzWireCode(PtzAction action) {
    // Wire code 6 is never sent: the focus and iris actions sit one above their number.
    static constexpr uint8_t kWire[kPtzActions] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10};
    const int number = static_cast<int>(action);
    return number >= 0 && number < kPtzActions ? kWire[number] : 0;
}

int32_t LoginResultCode(uint8_t result, uint8_t reason) {
    if (result == 0) return 0;
    if (result == 1)
        return reason <= kLoginRefusedLast - kLoginRefusedReason ? kLoginRefusedReason + reason
                                                                 : kLoginRefusedUnknown;
    if (result == 3) return kLoginRefusedResult3;
    return kLoginRefused;
}

WireRequest BuildLogin(std::string_view user, std::string_view password) {
    WireRequest request;
    request.awaitedKind = kReplyKindPlain;
    request.awaitedCode = kReplyLogin;
    bool shortForm = user.size() <= kShortLoginField && password.size() <= kShortLoginField;
    size_t body = shortForm ? 0 : user.size() + 2 + password.size();
    std::vector<uint8_t>& m = request.bytes = Header(kRequestLogin, body);
    m[2] = 1;
    m[3] = 0x60;
    m[24] = 4;
    m[25] = 1;
    m[30] = 0xA1;
    m[31] = 0xAA;
    if (shortForm) {
        std::copy(user.begin(), user.end(), m.begin() + 8);
        std::copy(password.begin(), password.end(), m.begin() + 16);
    } else {
        auto out = std::copy(user.begin(), user.end(), m.begin() + kHeaderSize);
        *out++ = '&';
        *out++ = '&';
        std::copy(password.begin(), password.end(), out);
    }
    return request;
}

WireRequest BuildHeartbeat() {
    return {Header(kRequestHeartbeat, 0)};
}

WireRequest BuildChannelNameRequest() {
    WireRequest request{Header(kRequestChannelNames, 0), kReplyKindPlain, kReplyChannelNames};
    request.bytes[8] = 1;
    return request;
}

WireRequest BuildChannelRecordRequest(int totalChannels) {
    WireRequest request{Header(kRequestChannelRecords, 12), kReplyKindRecord, kRecordChannels};
    uint8_t* record = &request.bytes[kHeaderSize];
    WriteLe32(record, kRecordChannels);
    WriteLe32(record + 4, 4);
    WriteLe16(record + 8, static_cast<uint16_t>(totalChannels));
    WriteLe16(record + 10, static_cast<uint16_t>(totalChannels));
    return request;
}

WireRequest BuildStreamRequest(int index, int streamType, int operate, const LoginRecord& login) {
    if (index < 0) return {};
    int localChannels = login.totalChannels - login.ipChannels;
    std::vector<uint8_t> m;

    if (index < localChannels) {
        if (index < kBinaryChannels) {
            m = Header(kRequestStream, 16);
            m[2] = 1;
            if (operate == 1) m[8 + index] = 1;
            if (streamType != 0) m[32 + index] = static_cast<uint8_t>(streamType);
        } else {
            char text[128];
            int length = std::snprintf(text, sizeof text,
                                       "ChannelName:%d\r\nStream:%d\r\nOperate:%d\r\n"
                                       "Protocol:tcp\r\n\r\n",
                                       index, streamType, operate);
            m = Header(kRequestStream, static_cast<size_t>(length));
            m[2] = 1;
            m[26] = 8;
            std::memcpy(&m[kHeaderSize], text, static_cast<size_t>(length));
        }
        return {std::move(m)};
    }

    int k = index - localChannels;
    bool extended = login.ipChannels > kBinaryChannels;
    // The layouts have no field for an IP channel further on: it cannot be addressed.
    if (k >= (extended ? kExtendedChannels : kBinaryChannels)) return {};
    m = Header(kRequestStream, extended ? kExtendedBody : 16);
    m[26] = 3;
    if (k < kBinaryChannels) {
        m[8 + k] = static_cast<uint8_t>(operate);
        m[32 + k] = static_cast<uint8_t>(streamType);
    }
    if (extended) {
        WriteLe32(&m[48], 1);
        WriteLe32(&m[52], 256);
        if (k >= kBinaryChannels) {
            WriteLe32(&m[kExtendedOperates + 4 * static_cast<size_t>(k)],
                      static_cast<uint32_t>(operate));
            WriteLe32(&m[kExtendedTypes + 4 * static_cast<size_t>(k)],
                      static_cast<uint32_t>(streamType));
        }
    }
    return {std::move(m)};
}

WireRequest BuildPtz(int channel, PtzAction action, int speed) {
    WireRequest request{Header(kRequestPtz, 0)};
    std::vector<uint8_t>& m = request.bytes;
    m[9] = static_cast<uint8_t>(channel);
    m[10] = PtzWireCode(action);
    m[12] = 3;
    m[16] = static_cast<uint8_t>(speed);
    return request;
}

WireRequest BuildAnnounce(int channel, const std::array<uint8_t, 4>& sessionId) {
    WireRequest request{Header(kRequestAnnounce, 0)};
    std::vector<uint8_t>& m = request.bytes;
    std::copy(sessionId.begin(), sessionId.end(), m.begin() + 8);
    m[12] = 1;
    m[13] = static_cast<uint8_t>(channel + 1);
    return request;
}

ReplyInfo ParseReply(const uint8_t* message, size_t totalLength) {
    ReplyInfo reply;
    MessageView m{message, message != nullptr ? totalLength : 0};
    if (m.length == 0) return reply;
    const uint8_t* body = m.bytes + std::min<size_t>(m.length, kHeaderSize);
    size_t bodyLength = m.length > kHeaderSize ? m.length - kHeaderSize : 0;

    reply.code = m.Byte(0);
    switch (m.Byte(0)) {
        case kReplyLogin:
            ReadLogin(m, reply);
            break;
        case kReplyHeartbeat:
            Trace("HeartBeatres....\n");
            break;
        case kReplyChannelNames:
            ReadChannelNames(body, bodyLength, reply);
            break;
        case kReplyRecords:
            ReadRecords(body, bodyLength, reply);
            break;
        case kReplyConfiguration:
            ReadRecords(body, bodyLength, reply);
            reply.kind = kReplyKindPlain;
            reply.code = kReplyConfiguration;
            break;
        case kReplyMedia:
            reply.media = body;
            reply.dataLength = static_cast<int32_t>(bodyLength);
            break;
        case kReplyAnnounce:
            reply.value = m.Byte(14);
            break;
        default:
            break;
    }
    return reply;
}

}  // namespace tavix

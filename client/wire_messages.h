// Messages of the device protocol: request builders and the reply parser. Pure byte code.
//
// Every message starts with a 32-byte header: byte 0 the code, bytes 4-7 the body length
// (little-endian), bytes 8-31 code-specific. Text on the wire is 8-bit, as the caller gives it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tavix {

constexpr int kHeaderSize = 32;

// Request codes (client to device).
constexpr uint8_t kRequestLogin = 0x0A;
constexpr uint8_t kRequestHeartbeat = 0xA1;
constexpr uint8_t kRequestChannelNames = 0xA8;
constexpr uint8_t kRequestChannelRecords = 0x00;
constexpr uint8_t kRequestStream = 0x11;
constexpr uint8_t kRequestPtz = 0x12;
constexpr uint8_t kRequestAnnounce = 0xF1;

// Reply codes (device to client).
constexpr uint8_t kReplyLogin = 0xB0;
constexpr uint8_t kReplyHeartbeat = 0xB1;
constexpr uint8_t kReplyChannelNames = 0xB8;
constexpr uint8_t kReplyConfiguration = 0xB4;
constexpr uint8_t kReplyRecords = 0x00;
constexpr uint8_t kReplyMedia = 0xBC;
constexpr uint8_t kReplyAnnounce = 0xF1;

// What a PTZ command asks the camera to do, one step each; the values are the user interface's
// action numbers, which PtzWireCode maps to the wire.
enum class PtzAction : int32_t {
    kUp = 0,
    kDown = 1,
    kLeft = 2,
    kRight = 3,
    kZoomPlus = 4,
    kZoomMinus = 5,
    kFocusPlus = 6,
    kFocusMinus = 7,
    kIrisPlus = 8,
    kIrisMinus = 9,
};
constexpr int kPtzActions = 10;

// Type-length record types.
constexpr uint32_t kRecordChannels = 56;
constexpr uint32_t kRecordOpaque = 100;
constexpr int kOpaqueRecordSize = 24;

// Reply kinds.
constexpr int32_t kReplyKindPlain = 0;
constexpr int32_t kReplyKindRecord = 1;

constexpr int kMaxChannelEntries = 32;
constexpr int kChannelNameBytes = 64;
// What one record reply may hold: lists for a few hundred channels, and a few opaque records;
// records beyond these are dropped, so that a hostile reply cannot make the parser allocate
// without bound.
constexpr size_t kMaxChannelLists = 16;
constexpr size_t kMaxOpaqueRecords = 16;

// The fixed 2180-byte channel list that the user interface reads.
struct ChannelNameEntry {
    int32_t number;
    char name[kChannelNameBytes];  // 8-bit, zero-padded, always zero-terminated
};
struct ChannelNameList {
    int32_t count;  // entries in use, never more than kMaxChannelEntries
    ChannelNameEntry entries[kMaxChannelEntries];
};
static_assert(sizeof(ChannelNameEntry) == 68 && sizeof(ChannelNameList) == 2180);

// What a successful login reply tells and the session keeps.
struct LoginRecord {
    int32_t totalChannels = 0;
    int32_t ipChannels = 0;              // total minus local channels
    int32_t extendedList = 0;            // 1: the device answers the channel-record request
    std::array<uint8_t, 4> sessionId{};  // echoed unchanged in media announcements
};

// The parser's result for one message. It owns what it holds except `media`.
struct ReplyInfo {
    int32_t kind = kReplyKindPlain;
    int32_t code = 0;                // reply code; for a record reply the type of the first record
    int32_t dataLength = 0;          // bytes of the gathered data, or of the media body
    int32_t value = 0;               // login result code, or byte 14 of a media-connection reply
    const uint8_t* media = nullptr;  // 0xBC: the body, still in the receiver's buffer
    std::unique_ptr<LoginRecord> loginRecord;   // 0xB0 on success
    std::vector<ChannelNameList> channelLists;  // 0xB8: one; records: one per type-56 record,
                                                // at most kMaxChannelLists
    std::vector<std::array<uint8_t, kOpaqueRecordSize>> opaqueRecords;  // type-100 records, at most
                                                                        // kMaxOpaqueRecords

    // The channel list this reply carries, or null.
    const ChannelNameList* ChannelList() const {
        return channelLists.empty() ? nullptr : &channelLists.front();
    }
};

// A built request and the reply the session is to wait for (awaitedCode -1: none).
// Empty bytes: no message could be built.
struct WireRequest {
    std::vector<uint8_t> bytes;
    int32_t awaitedKind = kReplyKindPlain;
    int32_t awaitedCode = -1;
};

// Short form (name and password each at most 8 bytes, in the header) or long form
// ("user&&password" as the body).
WireRequest BuildLogin(std::string_view user, std::string_view password);
WireRequest BuildHeartbeat();
WireRequest BuildChannelNameRequest();
WireRequest BuildChannelRecordRequest(int totalChannels);
// Local channels use the binary (index < 16) or text layout; IP channels the 48-byte or, with
// more than 16 IP channels, the extended 312-byte layout. A negative index, or an IP channel
// beyond the 16 or 32 entries of its layout, builds nothing.
WireRequest BuildStreamRequest(int index, int streamType, int operate, const LoginRecord& login);
WireRequest BuildPtz(int channel, PtzAction action, int speed);
WireRequest BuildAnnounce(int channel, const std::array<uint8_t, 4>& sessionId);

// The wire code for a PTZ action; 0 for a value outside the enumeration.
uint8_t PtzWireCode(PtzAction action);

// The device's login refusals as event codes.
constexpr int32_t kLoginRefusedUnknown = 4;    // refused, for a reason beyond the known ones
constexpr int32_t kLoginRefused = 4097;        // refused without a reason
constexpr int32_t kLoginRefusedReason = 4098;  // + the reason (0..7): 4098..4105
constexpr int32_t kLoginRefusedLast = kLoginRefusedReason + 7;
constexpr int32_t kLoginRefusedResult3 = 4101;  // the reply's result 3

// The session's event code for a login reply: 0, or one of the refusals above.
int32_t LoginResultCode(uint8_t result, uint8_t reason);

// Parses one complete message of `totalLength` bytes (header included). Fields past the end
// of a short message read as 0; nothing is read beyond `totalLength`.
ReplyInfo ParseReply(const uint8_t* message, size_t totalLength);

}  // namespace tavix

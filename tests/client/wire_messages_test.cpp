#include "client/wire_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/trace.h"

namespace tavix {
namespace {

using Bytes = std::vector<uint8_t>;

// A message as the device would send it: header with code and body length, then the body.
Bytes Reply(uint8_t code, const Bytes& body = {}) {
    Bytes m(kHeaderSize, 0);
    m[0] = code;
    WriteLe32(&m[4], static_cast<uint32_t>(body.size()));
    m.insert(m.end(), body.begin(), body.end());
    return m;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void AppendRecord(Bytes& body, uint32_t type, const Bytes& value) {
    size_t at = body.size();
    body.resize(at + 8);
    WriteLe32(&body[at], type);
    WriteLe32(&body[at + 4], static_cast<uint32_t>(value.size()));
    body.insert(body.end(), value.begin(), value.end());
}

Bytes ChannelEntry(uint32_t number, const std::string& name) {
    Bytes entry(68, 0);
    WriteLe32(&entry[0], number);
    std::memcpy(&entry[4], name.data(), std::min<size_t>(name.size(), 64));
    return entry;
}

// Only the listed offsets may be non-zero.
void ExpectOnly(const Bytes& m, std::vector<std::pair<size_t, uint8_t>> set) {
    Bytes expected(m.size(), 0);
    for (auto [at, value] : set)
        expected.at(at) = value;
    EXPECT_EQ(expected, m);
}

TEST(BuildLoginTest, ShortFormPutsNameAndPasswordInTheHeader) {
    WireRequest r = BuildLogin("admin", "702914");
    ASSERT_EQ(32u, r.bytes.size());
    EXPECT_EQ(kReplyKindPlain, r.awaitedKind);
    EXPECT_EQ(0xB0, r.awaitedCode);
    ExpectOnly(r.bytes, {{0, 0x0A},
                         {2, 1},
                         {3, 0x60},
                         {8, 'a'},
                         {9, 'd'},
                         {10, 'm'},
                         {11, 'i'},
                         {12, 'n'},
                         {16, '7'},
                         {17, '0'},
                         {18, '2'},
                         {19, '9'},
                         {20, '1'},
                         {21, '4'},
                         {24, 4},
                         {25, 1},
                         {30, 0xA1},
                         {31, 0xAA}});
}

TEST(BuildLoginTest, EightByteFieldsFillTheirSlotsWithoutTerminator) {
    WireRequest r = BuildLogin("abcdefgh", "12345678");
    ASSERT_EQ(32u, r.bytes.size());
    EXPECT_EQ("abcdefgh12345678", std::string(r.bytes.begin() + 8, r.bytes.begin() + 24));
}

TEST(BuildLoginTest, LongFormJoinsNameAndPasswordInTheBody) {
    WireRequest r = BuildLogin("installer", "pw");  // 9-byte name
    ASSERT_EQ(32u + 9 + 2 + 2, r.bytes.size());
    EXPECT_EQ(13u, ReadLe32(&r.bytes[4]));
    EXPECT_EQ(Bytes(16, 0), Bytes(r.bytes.begin() + 8, r.bytes.begin() + 24));
    EXPECT_EQ("installer&&pw", std::string(r.bytes.begin() + 32, r.bytes.end()));
    EXPECT_EQ(0x0A, r.bytes[0]);
    EXPECT_EQ(0xAA, r.bytes[31]);

    WireRequest longPassword = BuildLogin("admin", "a-long-password");
    EXPECT_EQ("admin&&a-long-password",
              std::string(longPassword.bytes.begin() + 32, longPassword.bytes.end()));
}

TEST(BuildRequestTest, FixedRequests) {
    WireRequest heartbeat = BuildHeartbeat();
    ExpectOnly(heartbeat.bytes, {{0, 0xA1}});
    EXPECT_EQ(-1, heartbeat.awaitedCode);

    WireRequest names = BuildChannelNameRequest();
    ExpectOnly(names.bytes, {{0, 0xA8}, {8, 1}});
    EXPECT_EQ(kReplyKindPlain, names.awaitedKind);
    EXPECT_EQ(0xB8, names.awaitedCode);

    WireRequest records = BuildChannelRecordRequest(24);
    ExpectOnly(records.bytes, {{4, 12}, {32, 56}, {36, 4}, {40, 24}, {42, 24}});
    EXPECT_EQ(kReplyKindRecord, records.awaitedKind);
    EXPECT_EQ(56, records.awaitedCode);

    ExpectOnly(BuildAnnounce(2, {0xDE, 0xAD, 0xBE, 0xEF}).bytes,
               {{0, 0xF1}, {8, 0xDE}, {9, 0xAD}, {10, 0xBE}, {11, 0xEF}, {12, 1}, {13, 3}});
}

TEST(BuildPtzTest, ActionsMapToWireCodesSkippingSix) {
    const int wire[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10};
    for (int action = 0; action < 10; ++action) {
        WireRequest r = BuildPtz(3, static_cast<PtzAction>(action), 0);
        ExpectOnly(r.bytes, {{0, 0x12}, {9, 3}, {10, static_cast<uint8_t>(wire[action])}, {12, 3}});
    }
    EXPECT_EQ(0, PtzWireCode(static_cast<PtzAction>(10)));
    EXPECT_EQ(0, PtzWireCode(static_cast<PtzAction>(-1)));
    EXPECT_EQ(0xFF, BuildPtz(0, PtzAction::kUp, 0x1FF).bytes[16]) << "speed keeps its low 8 bits";
}

LoginRecord Device(int local, int ip) {
    LoginRecord login;
    login.totalChannels = local + ip;
    login.ipChannels = ip;
    return login;
}

TEST(BuildStreamRequestTest, LocalChannelBelowSixteenUsesFlagAndTypeBytes) {
    WireRequest start = BuildStreamRequest(15, 1, 1, Device(16, 0));
    ASSERT_EQ(48u, start.bytes.size());
    ExpectOnly(start.bytes, {{0, 0x11}, {2, 1}, {4, 16}, {23, 1}, {47, 1}});

    WireRequest stop = BuildStreamRequest(15, 1, 0, Device(16, 0));
    ExpectOnly(stop.bytes, {{0, 0x11}, {2, 1}, {4, 16}, {47, 1}});

    WireRequest typeZero = BuildStreamRequest(0, 0, 1, Device(16, 0));
    ExpectOnly(typeZero.bytes, {{0, 0x11}, {2, 1}, {4, 16}, {8, 1}});
}

TEST(BuildStreamRequestTest, LocalChannelSixteenAndAboveUsesTheTextForm) {
    WireRequest r = BuildStreamRequest(16, 1, 1, Device(32, 0));
    const std::string text = "ChannelName:16\r\nStream:1\r\nOperate:1\r\nProtocol:tcp\r\n\r\n";
    ASSERT_EQ(32 + text.size(), r.bytes.size());
    EXPECT_EQ(text.size(), ReadLe32(&r.bytes[4]));
    EXPECT_EQ(text, std::string(r.bytes.begin() + 32, r.bytes.end()));
    Bytes header(r.bytes.begin(), r.bytes.begin() + 32);
    Bytes expected(32, 0);
    expected[0] = 0x11;
    expected[2] = 1;
    expected[26] = 8;
    WriteLe32(&expected[4], static_cast<uint32_t>(text.size()));
    EXPECT_EQ(expected, header);
}

TEST(BuildStreamRequestTest, IpChannelsUseTheirPositionAmongIpChannels) {
    // 4 local + 8 IP: index 7 is IP channel 3; operate and type are written even when 0.
    WireRequest r = BuildStreamRequest(7, 2, 1, Device(4, 8));
    ExpectOnly(r.bytes, {{0, 0x11}, {4, 16}, {11, 1}, {26, 3}, {35, 2}});
    WireRequest stop = BuildStreamRequest(7, 0, 0, Device(4, 8));
    ExpectOnly(stop.bytes, {{0, 0x11}, {4, 16}, {26, 3}});
}

TEST(BuildStreamRequestTest, MoreThanSixteenIpChannelsUseTheExtendedForm) {
    // 4 local + 20 IP: index 22 is IP channel 18, entry 18 of the two 32-bit arrays.
    WireRequest r = BuildStreamRequest(22, 1, 1, Device(4, 20));
    ASSERT_EQ(312u, r.bytes.size());
    Bytes expected(312, 0);
    expected[0] = 0x11;
    WriteLe32(&expected[4], 280);
    expected[26] = 3;
    WriteLe32(&expected[48], 1);
    WriteLe32(&expected[52], 256);
    WriteLe32(&expected[128], 1);
    WriteLe32(&expected[256], 1);
    EXPECT_EQ(expected, r.bytes);

    // An IP channel below 16 on the same device: flag bytes, and the extension stays empty.
    WireRequest low = BuildStreamRequest(5, 1, 1, Device(4, 20));
    ASSERT_EQ(312u, low.bytes.size());
    EXPECT_EQ(1, low.bytes[9]);
    EXPECT_EQ(1, low.bytes[33]);
    EXPECT_EQ(Bytes(256, 0), Bytes(low.bytes.begin() + 56, low.bytes.end()));
}

TEST(BuildStreamRequestTest, NegativeIndexBuildsNothing) {
    EXPECT_TRUE(BuildStreamRequest(-1, 1, 1, Device(4, 0)).bytes.empty());
}

TEST(ParseReplyTest, LoginResultCodes) {
    struct Case {
        uint8_t result, reason;
        int32_t code;
    } cases[] = {{0, 0, 0}, {1, 0, 4098}, {1, 2, 4100}, {1, 7, 4105},
                 {1, 9, 4}, {3, 0, 4101}, {2, 0, 4097}, {0xFF, 5, 4097}};
    for (const Case& c : cases) {
        Bytes m = Reply(0xB0);
        m[8] = c.result;
        m[9] = c.reason;
        ReplyInfo reply = ParseReply(m.data(), m.size());
        EXPECT_EQ(c.code, reply.value) << int(c.result) << "/" << int(c.reason);
        EXPECT_EQ(c.code == 0, reply.loginRecord != nullptr);
    }
}

TEST(ParseReplyTest, SuccessfulLoginGivesTheLoginRecord) {
    Bytes m = Reply(0xB0, Text("ignored body"));
    m[2] = 1;
    m[10] = 4;
    m[29] = 24;
    m[16] = 0x11, m[17] = 0x22, m[18] = 0x33, m[19] = 0x44;
    ReplyInfo reply = ParseReply(m.data(), m.size());
    EXPECT_EQ(kReplyKindPlain, reply.kind);
    EXPECT_EQ(0xB0, reply.code);
    ASSERT_NE(nullptr, reply.loginRecord);
    EXPECT_EQ(24, reply.loginRecord->totalChannels);
    EXPECT_EQ(20, reply.loginRecord->ipChannels);
    EXPECT_EQ(1, reply.loginRecord->extendedList);
    EXPECT_EQ((std::array<uint8_t, 4>{0x11, 0x22, 0x33, 0x44}), reply.loginRecord->sessionId);
}

TEST(ParseReplyTest, ShortMessagesReadMissingFieldsAsZero) {
    for (uint8_t code : {0xB0, 0xB8, 0x00, 0xB4, 0xBC, 0xF1, 0xB1}) {
        for (size_t length = 1; length < 32; length += 5) {
            Bytes m(length, 0xFF);
            m[0] = code;
            ReplyInfo reply = ParseReply(m.data(), m.size());  // ASan checks nothing is overread
            if (code != 0x00) {
                EXPECT_EQ(code, reply.code);
            }
        }
    }
    Bytes login = {0xB0, 0, 0, 0, 0, 0, 0, 0, 0};  // result 0, nothing else there
    ReplyInfo reply = ParseReply(login.data(), login.size());
    ASSERT_NE(nullptr, reply.loginRecord);
    EXPECT_EQ(0, reply.loginRecord->totalChannels);
}

TEST(ParseReplyTest, ChannelNamesAreSplitAtDoubleAmpersands) {
    std::string body = "Gate&&Yard&&\xE9\x97\xA8\xE5\x8F\xA3&&a&&&b&&";
    ReplyInfo reply = ParseReply(Reply(0xB8, Text(body)).data(), 32 + body.size());
    const ChannelNameList* list = reply.ChannelList();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(6, list->count);  // separators + 1: a trailing separator opens an empty name
    const char* names[] = {"Gate", "Yard", "\xE9\x97\xA8\xE5\x8F\xA3", "a", "&b", ""};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(i, list->entries[i].number);
        EXPECT_STREQ(names[i], list->entries[i].name);
    }
    EXPECT_EQ(0, list->entries[6].number);
    EXPECT_STREQ("", list->entries[6].name);
}

TEST(ParseReplyTest, ChannelNamesStayWithinTheFixedList) {
    std::string body = std::string(100, 'n');
    for (int i = 1; i < 40; ++i)
        body += "&&c" + std::to_string(i);
    ReplyInfo reply = ParseReply(Reply(0xB8, Text(body)).data(), 32 + body.size());
    const ChannelNameList* list = reply.ChannelList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(32, list->count) << "never more entries than the list holds";
    EXPECT_EQ(std::string(63, 'n'), list->entries[0].name);
    EXPECT_STREQ("c31", list->entries[31].name);

    ReplyInfo empty = ParseReply(Reply(0xB8).data(), 32);
    ASSERT_NE(nullptr, empty.ChannelList());
    EXPECT_EQ(0, empty.ChannelList()->count);
}

TEST(ParseReplyTest, RecordReplyGathersChannelsAndOpaqueRecords) {
    Bytes channels = ChannelEntry(1, "Front");
    Bytes second = ChannelEntry(7, std::string(64, 'L'));  // fills its 64 bytes
    channels.insert(channels.end(), second.begin(), second.end());
    Bytes opaque(30);
    for (size_t i = 0; i < opaque.size(); ++i)
        opaque[i] = static_cast<uint8_t>(i + 1);
    Bytes body;
    AppendRecord(body, 56, channels);
    AppendRecord(body, 100, opaque);

    TraceCapture trace;
    Bytes m = Reply(0x00, body);
    ReplyInfo reply = ParseReply(m.data(), m.size());
    EXPECT_EQ(kReplyKindRecord, reply.kind);
    EXPECT_EQ(56, reply.code);
    const ChannelNameList* list = reply.ChannelList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(2, list->count);
    EXPECT_EQ(1, list->entries[0].number);
    EXPECT_STREQ("Front", list->entries[0].name);
    EXPECT_EQ(7, list->entries[1].number);
    EXPECT_EQ(std::string(63, 'L'), list->entries[1].name) << "cut so that it ends in the list";
    ASSERT_EQ(1u, reply.opaqueRecords.size());
    EXPECT_EQ(Bytes(opaque.begin(), opaque.begin() + 24),
              Bytes(reply.opaqueRecords[0].begin(), reply.opaqueRecords[0].end()));
    EXPECT_EQ(2180 + 24, reply.dataLength);
    EXPECT_EQ((std::vector<std::string>{"T:0056--L:0136\n", "T:0100--L:0030\n"}), trace.Lines());
}

TEST(ParseReplyTest, RecordsThatLieAboutTheirLengthContributeNothing) {
    Bytes body;
    AppendRecord(body, 100, Bytes(10, 7));  // shorter than the 24 bytes it must hold
    AppendRecord(body, 56, {});             // empty
    AppendRecord(body, 5, Bytes(3, 1));     // unknown type: skipped
    size_t at = body.size();
    body.resize(at + 8);
    WriteLe32(&body[at], 56);
    WriteLe32(&body[at + 4], 0xFFFFFFF0);  // runs past the message: ends the walk
    Bytes m = Reply(0x00, body);
    ReplyInfo reply = ParseReply(m.data(), m.size());
    EXPECT_EQ(100, reply.code);
    EXPECT_TRUE(reply.opaqueRecords.empty());
    EXPECT_EQ(nullptr, reply.ChannelList());
    EXPECT_EQ(0, reply.dataLength);

    Bytes tiny = Reply(0x00, Bytes(5, 1));  // shorter than one record header
    EXPECT_EQ(0, ParseReply(tiny.data(), tiny.size()).code);

    // A flood of tiny records, asked for or not, allocates no more than the caps allow.
    Bytes flood;
    for (int i = 0; i < 20000; ++i)
        AppendRecord(flood, i % 2 == 0 ? 56 : 100, Bytes(i % 2 == 0 ? 1 : 24, 1));
    for (uint8_t code : {0x00, 0xB4}) {
        Bytes hostile = Reply(code, flood);
        ReplyInfo capped = ParseReply(hostile.data(), hostile.size());
        EXPECT_EQ(kMaxChannelLists, capped.channelLists.size());
        EXPECT_EQ(kMaxOpaqueRecords, capped.opaqueRecords.size());
    }
}

TEST(ParseReplyTest, OtherReplies) {
    Bytes config;
    AppendRecord(config, 100, Bytes(24, 9));
    Bytes c = Reply(0xB4, config);
    ReplyInfo configuration = ParseReply(c.data(), c.size());
    EXPECT_EQ(kReplyKindPlain, configuration.kind);
    EXPECT_EQ(0xB4, configuration.code);
    EXPECT_EQ(1u, configuration.opaqueRecords.size());

    Bytes media = Reply(0xBC, Text("payload"));
    ReplyInfo data = ParseReply(media.data(), media.size());
    EXPECT_EQ(media.data() + 32, data.media);
    EXPECT_EQ(7, data.dataLength);

    Bytes announce = Reply(0xF1);
    announce[14] = 9;
    EXPECT_EQ(9, ParseReply(announce.data(), announce.size()).value);

    TraceCapture trace;
    Bytes heartbeat = Reply(0xB1);
    EXPECT_EQ(0xB1, ParseReply(heartbeat.data(), heartbeat.size()).code);
    EXPECT_EQ(1, trace.Count("HeartBeatres....\n"));

    Bytes unknown = Reply(0x77, Text("x"));
    ReplyInfo other = ParseReply(unknown.data(), unknown.size());
    EXPECT_EQ(kReplyKindPlain, other.kind);
    EXPECT_EQ(0x77, other.code);
    EXPECT_EQ(0, other.dataLength);
}

TEST(ChannelNameListTest, HasTheFixedLayout) {
    EXPECT_EQ(2180u, sizeof(ChannelNameList));
    EXPECT_EQ(4u, offsetof(ChannelNameList, entries));
    EXPECT_EQ(4u + 68, offsetof(ChannelNameList, entries) + sizeof(ChannelNameEntry));
    EXPECT_EQ(4u, offsetof(ChannelNameEntry, name));
}

}  // namespace
}  // namespace tavix

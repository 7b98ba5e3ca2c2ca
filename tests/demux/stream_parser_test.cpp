// The packet assembler, driven by a small start-code format of our own (TestPacketParser):
// 00 00 01 E1/E2, a 24-bit payload length, a flags byte, the payload.
#include "demux/stream_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/frame_lines.h"
#include "tests/support/test_packet_parser.h"

namespace tavix {
namespace {

using test::FeedInChunks;
using test::FrameLines;
using test::TestPacket;
using test::TestPacketParser;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kVideo = TestPacketParser::kVideoCode;
constexpr uint32_t kAudio = TestPacketParser::kAudioCode;

Bytes Payload(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);  // no 00 00 01 in it
    return bytes;
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

struct Fixture {
    std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    TestPacketParser parser{buffer.get()};
};

// Five packets of different kinds and sizes, back to back, as a well-formed device would send.
Bytes FivePackets() {
    Bytes stream;
    Append(stream, TestPacket(kVideo, Payload(40, 1)));
    Append(stream, TestPacket(kVideo, Payload(300, 2), true));
    Append(stream, TestPacket(kAudio, Payload(17, 3)));
    Append(stream, TestPacket(kVideo, Payload(2500, 4), true));
    Append(stream, TestPacket(kAudio, Payload(64, 5)));
    return stream;
}

std::vector<std::string> ExpectedLines() {
    std::vector<std::string> lines;
    Bytes stream = FivePackets();
    struct Packet {
        uint32_t code;
        size_t size;
        uint8_t seed;
        bool dependent;
    } packets[] = {{kVideo, 40, 1, false},
                   {kVideo, 300, 2, true},
                   {kAudio, 17, 3, false},
                   {kVideo, 2500, 4, true},
                   {kAudio, 64, 5, false}};
    for (const Packet& p : packets) {
        test::FrameCopy frame;
        frame.info.kind = p.code == kVideo ? kKindVideo : kKindAudio;
        frame.info.dependent = p.dependent ? 1 : 0;
        frame.info.codec = kCodecH264;
        frame.info.payloadLength = static_cast<int32_t>(p.size);
        frame.payload = Payload(p.size, p.seed);
        lines.push_back(test::FrameLine(frame));
    }
    return lines;
}

// Lines without the fields the test format leaves to the record's earlier use.
std::vector<std::string> Lines(const std::vector<test::FrameCopy>& frames) {
    std::vector<test::FrameCopy> plain = frames;
    for (test::FrameCopy& frame : plain) {
        FrameInfo clean{};
        clean.kind = frame.info.kind;
        clean.dependent = frame.info.dependent;
        clean.codec = frame.info.codec;
        clean.payloadLength = frame.info.payloadLength;
        frame.info = clean;
    }
    return FrameLines(plain);
}

TEST(PacketAssemblerTest, AnyChunkingOfAWellFormedStreamGivesEveryPacket) {
    Bytes stream = FivePackets();
    for (size_t chunk : {1, 2, 3, 5, 7, 15, 16, 17, 188, 2048, 65536}) {
        Fixture f;
        EXPECT_EQ(ExpectedLines(), Lines(FeedInChunks(f.parser, stream, chunk)))
            << "chunks of " << chunk;
    }
}

// Every cut into two chunks: start codes split 1, 2 or 3 bytes in, headers split, payloads
// split, a packet ending exactly at the cut, the next start code's first bytes before it.
TEST(PacketAssemblerTest, EveryCutIntoTwoChunksGivesEveryPacket) {
    Bytes stream = FivePackets();
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Fixture f;
        std::vector<test::FrameCopy> frames;
        for (auto [from, to] : {std::pair{size_t{0}, cut}, std::pair{cut, stream.size()}}) {
            Bytes piece(stream.begin() + from, stream.begin() + to);
            f.parser.Feed(piece.data(), static_cast<int>(piece.size()));
            while (const FrameInfo* frame = f.parser.NextFrame())
                frames.push_back(test::CopyFrame(*frame));
        }
        ASSERT_EQ(ExpectedLines(), Lines(frames)) << "cut at " << cut;
    }
}

TEST(PacketAssemblerTest, ChunkUnderSixteenBytesIsKeptWholeForTheNext) {
    Fixture f;
    Bytes tiny = TestPacket(kVideo, {0xAA, 0xBB});  // 10 bytes: a whole packet
    ASSERT_EQ(0, f.parser.Feed(tiny.data(), static_cast<int>(tiny.size())));
    EXPECT_EQ(nullptr, f.parser.NextFrame());
    EXPECT_EQ(10u, f.parser.BufferedBytes());

    Bytes next = TestPacket(kAudio, Payload(30, 9));
    ASSERT_EQ(0, f.parser.Feed(next.data(), static_cast<int>(next.size())));
    const FrameInfo* frame = f.parser.NextFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(kKindVideo, frame->kind);
    EXPECT_EQ(Bytes({0xAA, 0xBB}), Bytes(frame->payload, frame->payload + frame->payloadLength));
}

TEST(PacketAssemblerTest, HeaderPromisingMoreThanFollowsGivesADamagedFrameAndTheNextPacket) {
    // The header says 100 bytes; 50, or none, come before the next packet.
    for (size_t present : {size_t{50}, size_t{0}}) {
        Bytes stream = TestPacket(kVideo, Payload(100, 1));
        stream.resize(8 + present);
        Append(stream, TestPacket(kAudio, Payload(80, 2)));
        Append(stream, TestPacket(kVideo, Payload(90, 3)));
        // Chunks that do not end where the header says the packet ends: a packet that ends with
        // its chunk counts as complete (CheckNext sees no bytes there).
        for (size_t chunk : {size_t{7}, size_t{20}, size_t{64}, stream.size()}) {
            Fixture f;
            auto frames = FeedInChunks(f.parser, stream, chunk);
            ASSERT_EQ(3u, frames.size()) << present << " bytes, chunks of " << chunk;
            EXPECT_EQ(0, frames[0].info.payloadLength);
            EXPECT_EQ(Payload(80, 2), frames[1].payload);
            EXPECT_EQ(Payload(90, 3), frames[2].payload);
        }
    }
}

TEST(PacketAssemblerTest, PacketExactlyFillingTheChunkIsCompleteAtOnce) {
    Fixture f;
    Bytes packet = TestPacket(kVideo, Payload(100, 1));
    ASSERT_EQ(0, f.parser.Feed(packet.data(), static_cast<int>(packet.size())));
    const FrameInfo* frame = f.parser.NextFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(100, frame->payloadLength);
    EXPECT_EQ(packet.data(), frame->packet) << "a packet whole in the chunk is not copied";
    EXPECT_EQ(108, frame->packetLength);
    EXPECT_EQ(0u, f.parser.BufferedBytes());
}

TEST(PacketAssemblerTest, FramesNotFetchedBeforeTheNextFeedAreLost) {
    Fixture f;
    Bytes first = TestPacket(kVideo, Payload(100, 1));
    Append(first, TestPacket(kVideo, Payload(100, 2)));
    Bytes second = TestPacket(kAudio, Payload(100, 3));
    f.parser.Feed(first.data(), static_cast<int>(first.size()));
    EXPECT_EQ(2, f.parser.ReadyCount());
    f.parser.Feed(second.data(), static_cast<int>(second.size()));
    EXPECT_EQ(1, f.parser.ReadyCount());
    const FrameInfo* frame = f.parser.NextFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(kKindAudio, frame->kind);
    EXPECT_EQ(nullptr, f.parser.NextFrame());
}

TEST(PacketAssemblerTest, RecordsAreReusedUncleared) {
    Fixture f;
    Bytes packet = TestPacket(kVideo, Payload(50, 1));
    std::set<const FrameInfo*> records;
    FrameInfo* marked = nullptr;
    bool markSeenAgain = false;
    for (int i = 0; i < 100; ++i) {
        f.parser.Feed(packet.data(), static_cast<int>(packet.size()));
        FrameInfo* frame = f.parser.NextFrame();
        ASSERT_NE(nullptr, frame);
        records.insert(frame);
        if (i == 0) {
            marked = frame;
            frame->width = 1234;  // as an earlier format might have left it
        } else if (frame == marked) {
            markSeenAgain = true;
            EXPECT_EQ(1234, frame->width) << "a reused record is not cleared";
        }
    }
    EXPECT_TRUE(markSeenAgain);
    EXPECT_LE(records.size(), 10u) << "the steady state makes no new records";
}

TEST(PacketAssemblerTest, NextKeyFrameDiscardsTheDependentFramesBeforeIt) {
    Fixture f;
    Bytes stream = TestPacket(kVideo, Payload(20, 1), true);
    Append(stream, TestPacket(kAudio, Payload(20, 2), true));
    Append(stream, TestPacket(kVideo, Payload(20, 3)));
    Append(stream, TestPacket(kVideo, Payload(20, 4), true));
    f.parser.Feed(stream.data(), static_cast<int>(stream.size()));
    const FrameInfo* key = f.parser.NextKeyFrame();
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(0, key->dependent);
    EXPECT_EQ(Payload(20, 3), Bytes(key->payload, key->payload + key->payloadLength));
    EXPECT_EQ(1, f.parser.ReadyCount());
    EXPECT_EQ(nullptr, f.parser.NextKeyFrame());
    EXPECT_EQ(0, f.parser.ReadyCount());
}

TEST(PacketAssemblerTest, NullOrEmptyChunkIsRefusedAndChangesNothing) {
    Fixture f;
    Bytes stream = TestPacket(kVideo, Payload(20, 1));
    Append(stream, TestPacket(kVideo, Payload(20, 2)));
    f.parser.Feed(stream.data(), static_cast<int>(stream.size()));
    EXPECT_EQ(-1, f.parser.Feed(nullptr, 10));
    EXPECT_EQ(-1, f.parser.Feed(stream.data(), 0));
    EXPECT_EQ(-1, f.parser.Feed(stream.data(), -5));
    EXPECT_EQ(2, f.parser.ReadyCount());
}

TEST(PacketAssemblerTest, PayloadOverTheCapIsGivenUp) {
    Fixture f;
    Bytes big = TestPacket(kVideo, Payload(kMaxFrameBytes + 1, 1));
    Bytes first(big.begin(), big.begin() + 2048);
    f.parser.Feed(first.data(), static_cast<int>(first.size()));
    const FrameInfo* frame = f.parser.NextFrame();
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(0, frame->payloadLength);
    EXPECT_EQ(0u, f.parser.BufferedBytes());
}

TEST(PacketAssemblerTest, ChunkOverflowingTheBufferDropsItAndThePartialFrame) {
    Fixture f;
    Bytes big = TestPacket(kVideo, Payload(kMaxFrameBytes, 1));
    Bytes after = TestPacket(kAudio, Payload(100, 2));
    Append(after, TestPacket(kVideo, Payload(100, 3)));
    Bytes start(big.begin(), big.end() - 100000);
    ASSERT_EQ(0, f.parser.Feed(start.data(), static_cast<int>(start.size())));
    EXPECT_EQ(start.size(), f.parser.BufferedBytes());
    Bytes flood(kWorkBufferSize + 200000, 0x55);
    ASSERT_EQ(0, f.parser.Feed(flood.data(), static_cast<int>(flood.size())));
    EXPECT_EQ(0u, f.parser.BufferedBytes());
    EXPECT_EQ(nullptr, f.parser.NextFrame());
    auto frames = FeedInChunks(f.parser, after, after.size());
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Payload(100, 2), frames[0].payload);
}

TEST(PacketAssemblerTest, ResetDiscardsFramesAndBufferedBytesButModeTwoDoesNothing) {
    Fixture f;
    Bytes stream = TestPacket(kVideo, Payload(20, 1));
    Append(stream, TestPacket(kVideo, Payload(5000, 2)));
    f.parser.Feed(stream.data(), 1000);  // one frame ready, one partial
    ASSERT_EQ(1, f.parser.ReadyCount());
    EXPECT_EQ(0, f.parser.Reset(2));
    EXPECT_EQ(1, f.parser.ReadyCount());
    EXPECT_EQ(0, f.parser.Reset(0));
    EXPECT_EQ(0, f.parser.ReadyCount());
    EXPECT_EQ(0u, f.parser.BufferedBytes());
    // The rest of the partial packet is now just bytes before the next start code.
    Bytes rest(stream.begin() + 1000, stream.end());
    Append(rest, TestPacket(kAudio, Payload(30, 3)));
    Append(rest, TestPacket(kAudio, Payload(30, 4)));
    auto frames = FeedInChunks(f.parser, rest, rest.size());
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Payload(30, 3), frames[0].payload);
}

// The search that skips to the bytes where a start code can end finds what the byte-by-byte
// search finds, on streams full of near misses (00 00 01 xx of other values, runs of zeros).
TEST(PacketAssemblerTest, HintedSearchFindsWhatTheByteByByteSearchFinds) {
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        Bytes stream;
        while (stream.size() < 20000) {
            switch (random() % 4) {
                case 0:
                    Append(stream, TestPacket(random() % 2 ? kVideo : kAudio,
                                              Payload(random() % 700, static_cast<uint8_t>(round)),
                                              random() % 2));
                    break;
                case 1:
                    Append(stream, {0, 0, 1, static_cast<uint8_t>(random())});
                    break;
                case 2:
                    stream.insert(stream.end(), random() % 6, 0);
                    break;
                default:
                    for (int i = random() % 40; i > 0; --i)
                        stream.push_back(static_cast<uint8_t>(random() % 3));
            }
        }
        size_t chunk = 1 + random() % 3000;
        auto buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
        TestPacketParser hinted(buffer.get(), true);
        auto otherBuffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
        TestPacketParser plain(otherBuffer.get(), false);
        auto expected = FrameLines(FeedInChunks(plain, stream, chunk));
        EXPECT_FALSE(expected.empty());
        ASSERT_EQ(expected, FrameLines(FeedInChunks(hinted, stream, chunk)))
            << "round " << round << ", chunks of " << chunk;
    }
}

}  // namespace
}  // namespace tavix

// The ASF parser on files the test writer makes as the device records them: H.264 from libx264
// (through libavcodec, at test time) as private packets in the video stream, raw audio in the
// other; and on hand-made data packets for the layouts and lies a case needs.
#include "demux/asf_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "demux/stream_demuxer.h"
#include "tests/support/frame_lines.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::AsfPayload;
using test::Bytes;
using test::FeedInChunks;
using test::FrameCopy;
using test::FrameLines;
using test::MediaUnit;
using test::PictureInfo;

constexpr size_t kPacketSize = 2048;

struct Fixture {
    explicit Fixture(int32_t packetSize = kPacketSize, int32_t videoStream = 1)
        : parser(buffer.get(), packetSize, videoStream) {}
    std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    AsfParser parser;
};

const std::vector<MediaUnit>& Units() {
    static const std::vector<MediaUnit> units = [] {
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        return test::MediaUnits(test::EncodeH264(options), 2, 320);
    }();
    return units;
}

std::vector<std::string> ExpectedLines() {
    test::AudioFields audio;  // the wrapper's private audio header: codec 14, 8000 Hz
    return test::ExpectedLines(Units(), PictureInfo{}, kCodecH264, audio);
}

TEST(AsfParserTest, AFileComesOutAsItsPicturesAndAudio) {
    Bytes file = test::WriteAsf(Units(), PictureInfo{});
    for (size_t chunk : {size_t{1}, size_t{2048}, size_t{65536}, size_t{524288}}) {
        StreamDemuxer demuxer;
        auto frames = FeedInChunks(demuxer, file, chunk, 2048);
        EXPECT_EQ(kFormatAsf, demuxer.FormatType());
        EXPECT_EQ(ExpectedLines(), FrameLines(frames)) << "chunks of " << chunk;
    }
}

TEST(AsfParserTest, TheDecoderFindsItsKeyFrameThroughNextKeyFrame) {
    Bytes file = test::WriteAsf(Units(), PictureInfo{});
    StreamDemuxer demuxer;
    std::vector<FrameCopy> frames;
    bool waiting = true;
    for (size_t at = 0; at < file.size(); at += 2048) {
        Bytes chunk(file.begin() + static_cast<ptrdiff_t>(at),
                    file.begin() + static_cast<ptrdiff_t>(std::min(at + 2048, file.size())));
        demuxer.Feed(chunk.data(), static_cast<int>(chunk.size()));
        for (;;) {
            const FrameInfo* frame = waiting ? demuxer.NextKeyFrame() : demuxer.NextFrame();
            if (!frame) break;
            if (waiting && (frame->kind != kKindVideo || frame->width <= 0)) break;
            waiting = false;
            frames.push_back(test::CopyFrame(*frame));
        }
    }
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(0, frames[0].info.dependent);
    EXPECT_EQ(Units()[0].bytes, frames[0].payload);
    EXPECT_EQ(ExpectedLines(), FrameLines(frames));
}

// A video payload of 1000 bytes and an audio payload of 320 bytes in one data packet rebuild
// into 1000 + 8 + 320 bytes, the audio behind 00 00 01 F0 0E 02 40 01.
TEST(AsfParserTest, AudioPayloadsAreWrappedAsPrivateAudioPackets) {
    PictureInfo info;
    Bytes video = test::PrivateKeyPacket(0xFD, info, test::Filler(984, 1), 1);
    ASSERT_EQ(1000u, video.size());
    Bytes audio = test::Filler(320, 2);
    Bytes single = test::Filler(200, 3);  // one payload: its header says 320 whatever its size
    Bytes stream = test::AsfDataPacket(kPacketSize, {{1, video}, {2, audio}});
    test::Append(stream, test::AsfSinglePayloadPacket(kPacketSize, 2, single));
    for (uint8_t counter : {2, 3}) {
        Bytes packet =
            test::PrivateDependentPacket(0xFC, test::Filler(counter * 50, counter), counter);
        test::Append(stream, test::AsfDataPacket(kPacketSize, {{1, packet}}));
    }
    Fixture f;
    auto frames = FeedInChunks(f.parser, stream, stream.size());
    ASSERT_EQ(5u, frames.size());
    EXPECT_EQ(test::Filler(984, 1), frames[0].payload);
    EXPECT_EQ(1000, frames[0].info.packetLength);
    const Bytes header = {0x00, 0x00, 0x01, 0xF0, 0x0E, 0x02, 0x40, 0x01};
    EXPECT_EQ(header, Bytes(frames[1].packet.begin(), frames[1].packet.begin() + 8));
    EXPECT_EQ(328, frames[1].info.packetLength);
    EXPECT_EQ(test::FrameLine(test::ExpectedAudio(14, 8000, 16, 1, audio)),
              test::FrameLine(frames[1]));
    ASSERT_GE(frames[2].packet.size(), 8u);
    EXPECT_EQ(header, Bytes(frames[2].packet.begin(), frames[2].packet.begin() + 8));
    EXPECT_EQ(0, frames[2].info.payloadLength) << "320 bytes said, 200 there";
    EXPECT_EQ(test::Filler(100, 2), frames[3].payload) << "the next packet is found again";
    EXPECT_EQ(test::Filler(150, 3), frames[4].payload);
}

TEST(AsfParserTest, LyingLengthsSkipPayloadsNotTheStream) {
    PictureInfo info;
    Bytes first = test::AsfDataPacket(
        kPacketSize, {{1, test::PrivateKeyPacket(0xFD, info, test::Filler(300, 1), 1)}});
    Bytes padding = test::AsfDataPacket(kPacketSize, {{2, test::Filler(100, 2)}});
    padding[2] = padding[3] = 0xFF;  // more padding than packet
    Bytes runaway =
        test::AsfDataPacket(kPacketSize, {{2, test::Filler(64, 3)}, {2, test::Filler(64, 4)}});
    runaway[11 + 17 + 64 + 15] = 0x10;  // the second payload says 4096 + 64 bytes
    runaway[11 + 17 + 64 + 16] = 0x10;
    Bytes last = test::AsfDataPacket(
        kPacketSize, {{1, test::PrivateDependentPacket(0xFC, test::Filler(80, 5), 2)},
                      {2, test::Filler(320, 6)}});
    Bytes stream = first;
    for (const Bytes* packet : {&padding, &runaway, &last})
        test::Append(stream, *packet);
    for (size_t chunk : {size_t{1}, size_t{1000}, stream.size()}) {
        Fixture f;
        auto frames = FeedInChunks(f.parser, stream, chunk);
        ASSERT_EQ(4u, frames.size()) << "chunks of " << chunk;
        EXPECT_EQ(test::Filler(300, 1), frames[0].payload);
        EXPECT_EQ(test::Filler(64, 3), frames[1].payload) << "the payload before the lie";
        EXPECT_EQ(test::Filler(80, 5), frames[2].payload);
        EXPECT_EQ(test::Filler(320, 6), frames[3].payload);
    }
}

TEST(AsfParserTest, AnImpossiblePacketSizeGivesNothing) {
    Bytes file = test::WriteAsf(Units(), PictureInfo{});
    for (int32_t size : {0, 25, -1, AsfParser::kMaxPacketSize + 1}) {
        Fixture f(size);
        EXPECT_TRUE(FeedInChunks(f.parser, file, 4096).empty()) << size;
    }
}

}  // namespace
}  // namespace tavix

// The program stream parser on streams the test writer wraps as the device does: H.264 from
// libx264 and MPEG-4 Visual from FFmpeg's encoder (both through libavcodec, at test time), one
// PES packet per pack, key pictures behind a system header and a map.
#include "demux/program_stream_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/frame_lines.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::Bytes;
using test::FeedInChunks;
using test::FrameCopy;
using test::FrameLines;
using test::MediaUnit;
using test::PictureInfo;

struct Fixture {
    std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    ProgramStreamParser parser{buffer.get()};
};

std::vector<FrameCopy> Frames(const Bytes& stream, size_t chunk = 4096) {
    Fixture f;
    return FeedInChunks(f.parser, stream, chunk);
}

const std::vector<MediaUnit>& H264Units() {
    static const std::vector<MediaUnit> units = [] {
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        return test::MediaUnits(test::EncodeH264(options), 3, 320);
    }();
    return units;
}

// 704 x 576 MPEG-4 at a rate that makes every picture longer than one PES packet.
const std::vector<MediaUnit>& LargeMpeg4Units() {
    static const std::vector<MediaUnit> units = [] {
        test::VideoOptions options;
        options.width = 704;
        options.height = 576;
        options.frames = 4;
        options.keyInterval = 3;
        options.bitRate = 40000000;
        return test::MediaUnits(test::EncodeMpeg4(options));
    }();
    return units;
}

TEST(ProgramStreamTest, H264PicturesTakeSizeAndRateFromTheKeyPack) {
    PictureInfo info;
    info.frameRate = 30;
    const auto& units = H264Units();
    Bytes stream = test::WriteProgramStream(units, info);
    test::AudioFields audio;
    audio.channels = 0;  // this format does not say
    auto expected = test::ExpectedLines(units, info, kCodecH264, audio);
    for (auto& line : expected)  // nor the time
        if (size_t at = line.find("12:34:56"); at != std::string::npos)
            line.replace(at, 8, "00:00:00");
    // One-byte chunks too: the codec is decided from the whole first payload.
    for (size_t chunk : {size_t{1}, size_t{188}, size_t{2048}, stream.size()}) {
        auto frames = Frames(stream, chunk);
        EXPECT_EQ(expected, FrameLines(frames)) << "chunks of " << chunk;
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(1, frames[0].info.variant);
    }
    // Joined at a P picture, whose payload tells H.264 too: its key pictures are not lost.
    stream = test::WriteProgramStream({units.begin() + 1, units.end()}, info);
    EXPECT_EQ(std::vector(expected.begin() + 1, expected.end()), FrameLines(Frames(stream)));
}

TEST(ProgramStreamTest, PictureSizeCodes) {
    struct Case {
        int code;
        int32_t width, height;
    } cases[] = {{0, 704, 576},    {1, 352, 576},    {2, 704, 288},   {3, 352, 288},
                 {4, 176, 144},    {5, 640, 480},    {6, 320, 240},   {7, 480, 480},
                 {8, 800, 592},    {9, 1024, 768},   {10, 1280, 800}, {11, 1280, 1024},
                 {12, 1600, 1024}, {13, 1600, 1200}, {14, 0, 0},      {255, 0, 0}};
    const Bytes& picture = H264Units()[0].bytes;
    for (const Case& c : cases) {
        // An unknown code leaves the size as the record held it (a fresh record: 0 x 0).
        Bytes stream = test::KeyPackHeaders(13, 25);
        test::Append(stream, test::PesPacket(0xE0, picture));
        test::Append(stream, test::KeyPackHeaders(c.code, 12));
        test::Append(stream, test::PesPacket(0xE0, picture));
        test::Append(stream, test::PackHeader());
        Fixture f;
        ASSERT_EQ(0, f.parser.Feed(stream.data(), static_cast<int>(stream.size())));
        ASSERT_NE(nullptr, f.parser.NextFrame());
        const FrameInfo* frame = f.parser.NextFrame();
        ASSERT_NE(nullptr, frame) << c.code;
        EXPECT_EQ(c.width, frame->width) << "code " << c.code;
        EXPECT_EQ(c.height, frame->height) << "code " << c.code;
        EXPECT_EQ(12, frame->frameRate);
    }
}

TEST(ProgramStreamTest, SplitMpeg4PicturesAreJoinedIntoOneFrame) {
    PictureInfo info;
    info.width = 704;
    info.height = 576;
    const auto& units = LargeMpeg4Units();
    ASSERT_FALSE(units[1].key) << "the test needs a split dependent picture";
    Bytes stream = test::WriteProgramStream(units, info);
    // The largest chunks hold several joins at once.
    for (size_t chunk : {size_t{7}, size_t{188}, size_t{2048}, size_t{65536}, size_t{524288}}) {
        auto frames = Frames(stream, chunk);
        std::vector<const FrameCopy*> video;
        for (const FrameCopy& frame : frames) {
            if (frame.info.kind == kKindVideo) {
                video.push_back(&frame);
                continue;
            }
            EXPECT_EQ(kKindOther, frame.info.kind);
            EXPECT_EQ(0, frame.info.packetLength) << "a piece before the last";
        }
        ASSERT_EQ(units.size(), video.size()) << "chunks of " << chunk;
        for (size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(units[i].bytes, video[i]->payload)
                << "picture " << i << ", chunks of " << chunk;
            EXPECT_EQ(kCodecMpeg4, video[i]->info.codec);
            EXPECT_EQ(units[i].key ? 0 : 1, video[i]->info.dependent) << "picture " << i;
        }
        EXPECT_EQ(704, video[0]->info.width) << "from the layer header";
        EXPECT_EQ(576, video[0]->info.height);
        EXPECT_EQ(25, video[0]->info.frameRate) << "from the pack";
    }
}

TEST(ProgramStreamTest, SplitH264PicturesAreJoinedIntoOneFrame) {
    // 704 x 576 H.264 at a rate that makes the key pictures longer than one PES packet.
    test::VideoOptions options;
    options.width = 704;
    options.height = 576;
    options.frames = 6;
    options.keyInterval = 4;
    options.bitRate = 30000000;
    const auto units = test::MediaUnits(test::EncodeH264(options));
    ASSERT_GT(units[0].bytes.size(), 65536u) << "the test needs a split key picture";
    PictureInfo info;
    info.width = 704;
    info.height = 576;
    Bytes stream = test::WriteProgramStream(units, info);
    for (size_t chunk : {size_t{7}, size_t{2048}, size_t{65536}, size_t{200000}}) {
        std::vector<const FrameCopy*> video;
        auto frames = Frames(stream, chunk);
        for (const FrameCopy& frame : frames)
            if (frame.info.kind == kKindVideo) video.push_back(&frame);
        ASSERT_EQ(units.size(), video.size()) << "chunks of " << chunk;
        for (size_t i = 0; i < video.size(); ++i) {
            EXPECT_EQ(units[i].bytes, video[i]->payload)
                << "picture " << i << ", chunks of " << chunk;
            EXPECT_EQ(kCodecH264, video[i]->info.codec);
            EXPECT_EQ(units[i].key ? 0 : 1, video[i]->info.dependent != 0) << "picture " << i;
        }
        EXPECT_EQ(704, video[0]->info.width) << "from the key pack";
        EXPECT_EQ(576, video[0]->info.height);
    }
}

TEST(ProgramStreamTest, ABrokenJoinIsAbandonedAndTheStreamGoesOn) {
    PictureInfo info;
    info.width = 704;
    info.height = 576;
    const auto& units = LargeMpeg4Units();
    Bytes good = test::WriteProgramStream({units[0]}, info);
    struct Case {
        const char* name;
        std::vector<MediaUnit> broken;
        size_t markAt;  // byte changed to 0x60, counted from the second piece's start code
    } cases[] = {
        {"a piece the device marks", {units[1]}, 4 + 10},
        {"a piece after a damaged one", {units[1]}, 4 + 2},
        {"a join past the limit",
         {MediaUnit{true, false, test::Filler(ProgramStreamParser::kJoinLimit + 100000, 3)}},
         0},
    };
    for (const Case& c : cases) {
        Bytes broken = test::WriteProgramStream(c.broken, info);
        // The second piece starts right behind the first PES packet.
        const size_t second = 14 + 14 + 65524;
        ASSERT_EQ(0xE0, broken[second + 3]) << c.name;
        if (c.markAt == 4 + 2) {
            broken[second + 4] ^= 0x01;  // one byte more: the piece ends where no packet starts
        } else if (c.markAt) {
            broken[second + c.markAt] = 0x60;
        }
        Bytes stream = broken;
        test::Append(stream, good);
        test::Append(stream, test::PackHeader());
        for (size_t chunk : {size_t{188}, size_t{65536}, size_t{524288}}) {
            auto frames = Frames(stream, chunk);
            ASSERT_FALSE(frames.empty()) << c.name << ", chunks of " << chunk;
            const FrameCopy& last = frames.back();
            EXPECT_EQ(kKindVideo, last.info.kind) << c.name;
            EXPECT_EQ(units[0].bytes, last.payload)
                << c.name << ": the next picture comes whole, chunks of " << chunk;
            for (size_t i = 0; i + 1 < frames.size(); ++i)
                EXPECT_NE(c.broken[0].bytes.size() + 700, frames[i].payload.size() / 1) << c.name;
        }
    }
}

// A key pack may hold a system header alone, so that bytes 80 and 81 are not there: its picture
// is still a key frame, without size and rate (H.264) or with those of its layer header (MPEG-4).
TEST(ProgramStreamTest, LyingHeadersGiveDamagedFramesAndShortKeyPacksKeyFrames) {
    static const std::vector<MediaUnit> mpeg4 = [] {
        test::VideoOptions options;
        options.frames = 3;
        options.keyInterval = 1;
        return test::MediaUnits(test::EncodeMpeg4(options));
    }();
    auto keyWithoutMap = [](const MediaUnit& picture) {
        Bytes pack = test::PackHeader();
        test::Append(pack, {0, 0, 1, 0xBB, 0x00, 0x06, 0x80, 0xC3, 0x51, 0x04, 0xE1, 0xFF});
        test::Append(pack, test::PesPacket(0xE0, picture.bytes));
        return pack;
    };
    Bytes shortPes = test::PackHeader();
    test::Append(shortPes, {0, 0, 1, 0xE0, 0x00, 0x04, 0x80, 0x80, 0x05, 1, 2, 3, 4, 5});  // 4 < 8
    struct Case {
        const char* name;
        const std::vector<MediaUnit>& units;  // a key picture, the one in `packet`, another one
        Bytes packet;
        bool damaged;
        int32_t width, height, frameRate;
    } cases[] = {
        {"PES length shorter than its header", H264Units(), shortPes, true, 0, 0, 0},
        {"H.264 key pack without a map", H264Units(), keyWithoutMap(H264Units()[1]), false, 0, 0,
         0},
        {"MPEG-4 key pack without a map", mpeg4, keyWithoutMap(mpeg4[1]), false, 176, 144, 25},
    };
    for (const Case& c : cases) {
        Bytes stream = test::KeyPackHeaders(4, 30);
        test::Append(stream, test::PesPacket(0xE0, c.units[0].bytes));
        test::Append(stream, c.packet);
        test::Append(stream, test::PackHeader());
        test::Append(stream, test::PesPacket(0xE0, c.units[2].bytes));
        test::Append(stream, test::PackHeader());
        for (size_t chunk : {size_t{1}, size_t{100}, stream.size()}) {
            auto frames = Frames(stream, chunk);
            ASSERT_EQ(3u, frames.size()) << c.name << ", chunks of " << chunk;
            EXPECT_EQ(c.units[2].bytes, frames[2].payload) << c.name;
            const FrameCopy& frame = frames[1];
            if (c.damaged) {
                EXPECT_EQ(0, frame.info.payloadLength) << c.name;
                continue;
            }
            EXPECT_EQ(c.units[1].bytes, frame.payload) << c.name;
            EXPECT_EQ(kKindVideo, frame.info.kind) << c.name;
            EXPECT_EQ(0, frame.info.dependent) << c.name;
            EXPECT_EQ(c.width, frame.info.width) << c.name;
            EXPECT_EQ(c.height, frame.info.height) << c.name;
            EXPECT_EQ(c.frameRate, frame.info.frameRate) << c.name;
        }
    }
}

TEST(ProgramStreamTest, Mpeg4KeyFramesAudioAndCodecDecidedOnce) {
    test::VideoOptions options;
    options.frames = 10;
    options.keyInterval = 5;
    options.firstSecond = 3723;  // 01:02:03
    auto units = test::MediaUnits(test::EncodeMpeg4(options));
    PictureInfo info;
    info.frameRate = 0;  // the layer header's rate rule does not apply to these pictures
    std::vector<MediaUnit> stream_units = units;
    stream_units.insert(stream_units.begin() + 2, MediaUnit{false, false, test::Filler(288, 1)});
    stream_units.insert(stream_units.begin() + 4, MediaUnit{false, false, test::Filler(100, 2)});
    // A later H.264 picture is not noticed: the codec was decided by the first payload.
    stream_units.push_back(H264Units()[0]);
    Bytes stream = test::WriteProgramStream(stream_units, info);
    test::Append(stream, test::PackHeader());
    // A key pack whose payload has no VOP: other data.
    Bytes noVop = test::KeyPackHeaders(0, 25);
    test::Append(noVop,
                 test::PesPacket(0xE0, Bytes(units[0].bytes.begin(), units[0].bytes.begin() + 30)));
    test::Append(stream, noVop);
    test::Append(stream, test::PackHeader());
    auto frames = Frames(stream, 500);
    ASSERT_EQ(stream_units.size() + 1, frames.size());
    EXPECT_EQ(0, frames[0].info.dependent);
    EXPECT_EQ(176, frames[0].info.width);
    EXPECT_EQ(144, frames[0].info.height);
    EXPECT_EQ(3723, frames[0].info.timeOfDay);
    EXPECT_EQ(units[0].bytes, frames[0].payload);
    EXPECT_EQ(test::FrameLine(test::ExpectedAudio(21, 32000, 16, 1, test::Filler(288, 1))),
              test::FrameLine(frames[2]));
    EXPECT_EQ(test::FrameLine(test::ExpectedAudio(21, 16000, 16, 1, test::Filler(100, 2))),
              test::FrameLine(frames[4]));
    EXPECT_EQ(kCodecMpeg4, frames[frames.size() - 2].info.codec) << "the H.264 picture";
    EXPECT_EQ(kKindOther, frames.back().info.kind) << "a key payload without a VOP";
    EXPECT_EQ(0, frames.back().info.packetLength);
}

}  // namespace
}  // namespace tavix

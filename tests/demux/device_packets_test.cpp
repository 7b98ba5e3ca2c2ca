// The device's own packet formats, on pictures from libx264 and FFmpeg's mpeg4 encoder (through
// libavcodec, at test time) wrapped by the writers in tests/support, and on hand-built packets
// for what a well-behaved device does not send.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "demux/checksummed_packet_parser.h"
#include "demux/private_packet_parser.h"
#include "demux/sequenced_packet_parser.h"
#include "demux/stream_demuxer.h"
#include "demux/tagged_frame_parser.h"
#include "platform/bytes.h"
#include "tests/support/frame_lines.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::AudioFields;
using test::Bytes;
using test::FeedInChunks;
using test::FrameCopy;
using test::FrameLines;
using test::MediaUnit;
using test::PictureInfo;

const test::EncodedVideo& H264() {
    static const test::EncodedVideo video = [] {
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        return test::EncodeH264(options);
    }();
    return video;
}

const test::EncodedVideo& Mpeg4() {
    static const test::EncodedVideo video = [] {
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        return test::EncodeMpeg4(options);
    }();
    return video;
}

template <class Parser>
struct Fixture {
    std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    Parser parser{buffer.get()};
};

template <class Parser>
std::vector<FrameCopy> Frames(const Bytes& stream, size_t chunk = 4096) {
    Fixture<Parser> f;
    return FeedInChunks(f.parser, stream, chunk);
}

// --- Private packets ---

TEST(PrivatePacketTest, PicturesAndAudioComeOutAsTheyWentIn) {
    PictureInfo info;
    struct Case {
        const char* name;
        const test::EncodedVideo& video;
        bool h264;
        int32_t codec;
    } cases[] = {{"H.264", H264(), true, kCodecH264}, {"MPEG-4", Mpeg4(), false, kCodecMpeg4}};
    for (const Case& c : cases) {
        auto units = test::MediaUnits(c.video, 3);
        test::PrivateOptions options;
        options.h264 = c.h264;
        Bytes stream = test::WritePrivateStream(units, info, options);
        for (size_t chunk : {size_t{1}, size_t{100}, size_t{4096}, stream.size()}) {
            EXPECT_EQ(test::ExpectedLines(units, info, c.codec),
                      FrameLines(Frames<PrivatePacketParser>(stream, chunk)))
                << c.name << ", chunks of " << chunk;
        }
    }
}

TEST(PrivatePacketTest, KeyHeaderFields) {
    PictureInfo info;
    info.width = 352;  // width byte 44, height byte 36
    info.height = 288;
    info.frameRate = 0;  // the parser takes a rate of 0 (only recognition refuses it)
    info.time = {2031, 11, 30, 23, 59, 58};
    Bytes stream = test::PrivateKeyPacket(0xFE, info, test::Filler(50, 1), 9, 7);
    stream[5] |= 0xA0;  // attribute bits 5-7 = 5
    test::Append(stream, test::PrivateAudioPacket(14, 2, test::Filler(20, 2)));
    auto frames = Frames<PrivatePacketParser>(stream);
    ASSERT_EQ(2u, frames.size());
    const FrameInfo& key = frames[0].info;
    EXPECT_EQ(kCodecUnsupported, key.codec);
    EXPECT_EQ(0, key.dependent);
    EXPECT_EQ(352, key.width);
    EXPECT_EQ(288, key.height);
    EXPECT_EQ(0, key.frameRate);
    EXPECT_EQ(5u, key.attribute);
    EXPECT_EQ(7, key.variant);
    EXPECT_EQ(0, key.timeOfDay);
    EXPECT_EQ(66, key.packetLength);
    EXPECT_EQ((std::vector<int>{2031, 11, 30, 23, 59, 58}),
              (std::vector<int>{key.year, key.month, key.day, key.hour, key.minute, key.second}));
}

TEST(PrivatePacketTest, CounterOutOfSequenceDamagesTheDependentPicture) {
    struct Case {
        uint8_t first, second;
        bool damaged;
    } cases[] = {{255, 0, false}, {7, 9, true},  {7, 8, false}, {7, 7, false},
                 {7, 6, true},    {0, 9, false}, {254, 0, true}};
    PictureInfo info;
    for (const Case& c : cases) {
        Bytes stream = test::PrivateKeyPacket(0xFD, info, test::Filler(40, 1), c.first);
        test::Append(stream, test::PrivateDependentPacket(0xFC, test::Filler(300, 2), c.second));
        test::Append(stream, test::PrivateDependentPacket(0xFC, test::Filler(30, 3), c.second));
        // Wherever the chunks end, in particular right behind the payload or one byte into it.
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{355}, size_t{356}, stream.size()}) {
            auto frames = Frames<PrivatePacketParser>(stream, chunk);
            ASSERT_EQ(3u, frames.size()) << int{c.first} << " then " << int{c.second};
            EXPECT_EQ(c.damaged ? 0 : 300, frames[1].info.payloadLength)
                << int{c.first} << " then " << int{c.second} << ", chunks of " << chunk;
            EXPECT_EQ(test::Filler(30, 3), frames[2].payload) << "the next one is in order again";
        }
    }
}

TEST(PrivatePacketTest, AudioCodecAndSampleRateCodes) {
    struct Case {
        uint8_t codec, rateCode;
        int32_t codecOut;
        uint32_t rate;
        int32_t bits;
    } cases[] = {{10, 1, 22, 4000, 16},  {7, 3, 7, 11025, 8},    {30, 4, 30, 16000, 8},
                 {14, 5, 14, 20000, 16}, {14, 6, 14, 22050, 16}, {14, 7, 14, 32000, 16},
                 {14, 8, 14, 44100, 16}, {14, 9, 14, 48000, 16}, {14, 0, 14, 8000, 16},
                 {14, 2, 14, 8000, 16},  {14, 10, 14, 8000, 16}};
    for (const Case& c : cases) {
        Bytes payload = test::Filler(64, c.rateCode);
        auto frames =
            Frames<PrivatePacketParser>(test::PrivateAudioPacket(c.codec, c.rateCode, payload));
        ASSERT_EQ(1u, frames.size());
        EXPECT_EQ(test::FrameLine(test::ExpectedAudio(c.codecOut, c.rate, c.bits, 1, payload)),
                  test::FrameLine(frames[0]))
            << "codec " << int{c.codec} << ", rate code " << int{c.rateCode};
    }
}

TEST(PrivatePacketTest, OtherDataPacketsAndLyingLengths) {
    Bytes stream =
        test::PrivateDataPacket(8, test::Filler(100, 1));  // 12-byte header, 32-bit length
    test::Append(stream,
                 test::PrivateDataPacket(3, test::Filler(4, 2)));  // 4-byte header and payload
    Bytes liar = test::PrivateDataPacket(8, test::Filler(20, 3));
    liar[15] = 0x40;  // says 1 GiB
    test::Append(stream, liar);
    test::Append(stream, test::PrivateAudioPacket(14, 2, test::Filler(40, 4)));
    for (size_t chunk : {size_t{1}, size_t{16}, stream.size()}) {
        auto frames = Frames<PrivatePacketParser>(stream, chunk);
        ASSERT_EQ(4u, frames.size()) << "chunks of " << chunk;
        EXPECT_EQ(kKindOther, frames[0].info.kind);
        EXPECT_EQ(test::Filler(100, 1), frames[0].payload);
        EXPECT_EQ(test::Filler(4, 2), frames[1].payload);
        EXPECT_EQ(0, frames[2].info.payloadLength) << "a length past any buffer is a lie";
        EXPECT_EQ(test::Filler(40, 4), frames[3].payload) << "and the next packet is still found";
    }
}

// --- Checksummed packets ---

TEST(ChecksummedPacketTest, PicturesAndAudioComeOutAsTheyWentIn) {
    PictureInfo info;
    auto units = test::MediaUnits(H264(), 4);
    Bytes stream = test::WriteChecksummedStream(units, info);
    for (size_t chunk : {size_t{1}, size_t{300}, stream.size()}) {
        auto frames = Frames<ChecksummedPacketParser>(stream, chunk);
        EXPECT_EQ(test::ExpectedLines(units, info, kCodecH264), FrameLines(frames))
            << "chunks of " << chunk;
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(1, frames[0].info.variant);
        EXPECT_EQ(2024, frames[0].info.year);
    }
}

TEST(ChecksummedPacketTest, KeyExtensionLayouts) {
    struct Case {
        const char* name;
        Bytes extension;
        bool readable;
        int32_t width, height, rate, codec, variant;
        uint32_t attribute;
    } cases[] = {
        {"size first", {0x80, 9, 0x2C, 0x24, 0x81, 9, 0x08, 0x19}, true, 352, 288, 25, 4, 1, 9},
        {"codec first", {0x81, 0, 0x02, 30, 0x80, 1, 0x58, 0x48}, true, 704, 576, 30, 2, 2, 1},
        {"MPEG-4, field picture",
         {0x80, 2, 22, 18, 0x81, 0, 0x01, 25},
         true,
         176,
         144,
         25,
         1,
         0,
         0},
        {"codec code 5", {0x80, 0, 22, 18, 0x81, 0, 0x05, 25}, false, 0, 0, 0, 0, 0, 0},
        {"neither layout", {0x80, 0, 22, 18, 0x80, 0, 0x08, 25}, false, 0, 0, 0, 0, 0, 0},
        {"extension too short", {0x80, 0, 22, 18}, false, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes stream = test::ChecksummedPacket(0xFD, 0, 5, {}, c.extension, test::Filler(80, 1));
        test::Append(stream, test::ChecksummedPacket(0xFC, 0, 6, {}, {}, test::Filler(60, 2)));
        auto frames = Frames<ChecksummedPacketParser>(stream);
        ASSERT_EQ(2u, frames.size()) << c.name << ": an unknown layout must not stall the stream";
        const FrameInfo& key = frames[0].info;
        EXPECT_EQ(0, key.dependent) << c.name;
        EXPECT_EQ(c.readable ? 80 : 0, key.payloadLength) << c.name;
        EXPECT_EQ(c.width, key.width) << c.name;
        EXPECT_EQ(c.height, key.height) << c.name;
        EXPECT_EQ(c.rate, key.frameRate) << c.name;
        if (!c.readable) continue;
        EXPECT_EQ(c.codec, key.codec) << c.name;
        EXPECT_EQ(c.variant, key.variant) << c.name;
        EXPECT_EQ(c.attribute == 9 ? 0u : c.attribute, key.attribute) << c.name;
        EXPECT_EQ(c.codec, frames[1].info.codec) << c.name << ": dependent pictures follow it";
    }
}

TEST(ChecksummedPacketTest, SequenceNumbersHaveNoWrap) {
    struct Case {
        uint32_t key, next;
        bool damaged;
    } cases[] = {{7, 8, false}, {7, 7, false},         {7, 9, true},
                 {7, 6, true},  {0xFFFFFFFF, 0, true}, {100, 101, false}};
    PictureInfo info;
    for (const Case& c : cases) {
        Bytes stream = test::ChecksummedPacket(0xFD, 0, c.key, {}, test::KeyExtension(info, 8),
                                               test::Filler(40, 1));
        test::Append(stream, test::ChecksummedPacket(0xFE, 0, c.next, {}, {}, test::Filler(90, 2)));
        test::Append(stream, test::ChecksummedPacket(0xFC, 0, c.next, {}, {}, test::Filler(30, 3)));
        for (size_t chunk : {size_t{1}, size_t{134}, size_t{135}, stream.size()}) {
            auto frames = Frames<ChecksummedPacketParser>(stream, chunk);
            ASSERT_EQ(3u, frames.size());
            EXPECT_EQ(2, frames[1].info.dependent);
            EXPECT_EQ(c.damaged ? 0 : 90, frames[1].info.payloadLength)
                << c.key << " then " << c.next << ", chunks of " << chunk;
            EXPECT_EQ(test::Filler(30, 3), frames[2].payload);
        }
    }
}

TEST(ChecksummedPacketTest, DamagedHeadersAndLyingLengthsAreSkipped) {
    PictureInfo info;
    Bytes good = test::ChecksummedPacket(0xFC, 0, 0, {}, {}, test::Filler(50, 9));
    struct Case {
        const char* name;
        size_t at;  // byte of the first packet to change
        uint8_t value;
    } cases[] = {
        {"checksum", 23, 0x00},
        {"length shorter than the header", 12, 20},
        {"length past any buffer", 15, 0x7F},
    };
    for (const Case& c : cases) {
        Bytes bad = test::ChecksummedPacket(0xFC, 0, 0, {}, {}, test::Filler(70, 1));
        bad[c.at] = c.value;
        if (c.at != 23) {  // keep the checksum right for the length cases
            unsigned sum = 35;
            for (size_t i = 4; i < 23; ++i)
                sum += bad[i];
            bad[23] = static_cast<uint8_t>(sum);
        }
        Bytes stream = bad;
        test::Append(stream, good);
        for (size_t chunk : {size_t{1}, size_t{64}, stream.size()}) {
            auto frames = Frames<ChecksummedPacketParser>(stream, chunk);
            ASSERT_FALSE(frames.empty()) << c.name;
            EXPECT_EQ(0, frames[0].info.payloadLength) << c.name;
            EXPECT_EQ(test::Filler(50, 9), frames.back().payload)
                << c.name << ": the next packet is found, chunks of " << chunk;
        }
    }
}

TEST(ChecksummedPacketTest, AudioTakesChannelsCodecAndRateFromItsExtension) {
    Bytes payload = test::Filler(64, 3);
    auto frames = Frames<ChecksummedPacketParser>(
        test::ChecksummedPacket(0xF0, 0, 0, {}, test::AudioExtension(2, 10, 7), payload));
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(test::FrameLine(test::ExpectedAudio(22, 32000, 16, 2, payload)),
              test::FrameLine(frames[0]));
}

// "TEXT", 4 bytes, the 32-bit text length, the text, one byte more.
Bytes TextPayload(const std::string& text, uint32_t lengthField) {
    Bytes payload = {'T', 'E', 'X', 'T', 0, 0, 0, 0, 0, 0, 0, 0};
    WriteLe32(&payload[8], lengthField);
    for (char c : text)
        payload.push_back(static_cast<uint8_t>(c));
    payload.push_back(0xAB);
    return payload;
}

TEST(ChecksummedPacketTest, TextPayloadsAreBoundedWithoutWritingIntoTheFedBytes) {
    const std::string text = "camera 3 motion";
    Bytes stream = test::ChecksummedPacket(0xF1, 6, 0, {}, {}, TextPayload(text, 15));
    test::Append(stream, test::ChecksummedPacket(0xF1, 6, 0, {}, {}, TextPayload(text, 40)));
    test::Append(stream, test::ChecksummedPacket(0xF1, 5, 0, {}, {}, test::Filler(8, 1)));
    test::Append(stream, test::ChecksummedPacket(0xF1, 6, 0, {}, {}, test::Filler(20, 1)));
    const Bytes fed = stream;
    Fixture<ChecksummedPacketParser> f;
    ASSERT_EQ(0, f.parser.Feed(stream.data(), static_cast<int>(stream.size())));
    std::vector<FrameCopy> frames;
    while (const FrameInfo* frame = f.parser.NextFrame())
        frames.push_back(test::CopyFrame(*frame));
    EXPECT_EQ(fed, stream) << "the caller's bytes are not written";
    ASSERT_EQ(3u, frames.size()) << "the last text packet waits for bytes behind it";
    EXPECT_EQ(5, frames[0].info.dependent);
    EXPECT_EQ(std::string(text), std::string(frames[0].payload.begin(), frames[0].payload.end()));
    EXPECT_EQ(5, frames[1].info.dependent);
    EXPECT_EQ(0, frames[1].info.payloadLength) << "a text length running past the payload";
    EXPECT_EQ(6, frames[2].info.dependent);
    EXPECT_EQ(kKindOther, frames[2].info.kind);

    Bytes more = test::ChecksummedPacket(0xF1, 0, 0, {}, {}, test::Filler(4, 2));
    f.parser.Feed(more.data(), static_cast<int>(more.size()));
    const FrameInfo* last = f.parser.NextFrame();
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(20, last->payloadLength) << "not a text: the payload as it is";
}

// --- Sequenced packets ---

TEST(SequencedPacketTest, PicturesGetTheSizeOfTheirPacketAndAudioKeepsItsCodec) {
    PictureInfo info;
    info.width = 352;  // what the packets say, not what the pictures are
    info.height = 288;
    auto units = test::MediaUnits(Mpeg4(), 5);
    // The video packets carry no time. The last picture stays open: nothing follows it.
    info.time.hour = info.time.minute = info.time.second = 0;
    std::vector<std::string> expected;
    for (const MediaUnit& unit : units)
        if (unit.video)
            expected.push_back(
                test::FrameLine(test::ExpectedVideo(unit.key, kCodecMpeg4, info, unit.bytes)));
    expected.pop_back();
    // Packets numbered from 1, or from 0.
    for (uint32_t first : {1u, 0u}) {
        Bytes stream = test::WriteSequencedStream(units, info, first, 10, 4);
        for (size_t chunk : {size_t{1}, size_t{1040}, size_t{7000}, stream.size()}) {
            auto frames = Frames<SequencedPacketParser>(stream, chunk);
            std::vector<std::string> video;
            int audio = 0;
            for (const FrameCopy& frame : frames) {
                if (frame.info.kind == kKindVideo) {
                    video.push_back(test::FrameLine(frame));
                    continue;
                }
                ++audio;
                EXPECT_EQ(10, frame.info.codec) << "no 10 -> 22 in sequenced audio";
                EXPECT_EQ(16000u, frame.info.sampleRate);
            }
            EXPECT_EQ(4, audio) << "chunks of " << chunk;
            EXPECT_EQ(expected, video) << "from " << first << ", chunks of " << chunk;
        }
    }
}

TEST(SequencedPacketTest, AGapDropsThePictureBeingGatheredOnly) {
    PictureInfo info;
    auto units = test::MediaUnits(Mpeg4(), 0);
    Bytes whole = test::WriteSequencedStream(units, info);
    // Leave out the video packet in the middle of picture 5.
    const size_t packet = 1040;
    size_t offset = 0;
    for (size_t i = 0; i < 5; ++i)
        offset += units[i].bytes.size();
    const size_t dropped = (offset + units[5].bytes.size() / 2) / 1024;
    Bytes stream(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(dropped * packet));
    stream.insert(stream.end(), whole.begin() + static_cast<ptrdiff_t>((dropped + 1) * packet),
                  whole.end());
    std::vector<std::string> reference;
    for (size_t chunk : {stream.size(), size_t{1}, size_t{2048}, size_t{65536}}) {
        auto frames = Frames<SequencedPacketParser>(stream, chunk);
        std::vector<std::string> lines = FrameLines(frames);
        ASSERT_GE(frames.size(), 6u);
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ(units[i].bytes, frames[i].payload) << "complete before the gap: " << i;
        EXPECT_NE(units[5].bytes, frames[5].payload);
        if (reference.empty()) reference = lines;
        EXPECT_EQ(reference, lines) << "chunks of " << chunk;
    }
}

// --- Tagged frames ---

TEST(TaggedFrameTest, PicturesFromTheTypedDemultiplexer) {
    // The device's key pictures begin with their video object header.
    auto units = test::MediaUnits(Mpeg4(), 6);
    for (MediaUnit& unit : units) {
        if (!unit.key) continue;
        size_t at = test::FindStartCode(unit.bytes, 0x00, 0, unit.bytes.size());
        unit.bytes.erase(unit.bytes.begin(), unit.bytes.begin() + static_cast<ptrdiff_t>(at));
    }
    Bytes stream = test::WriteTaggedStream(units);
    StreamDemuxer demuxer(kFormatTagged);
    auto frames = FeedInChunks(demuxer, stream, 1000);
    ASSERT_EQ(units.size(), frames.size());
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].bytes, frames[i].payload) << i;
        if (!units[i].video) {
            EXPECT_EQ(14, frames[i].info.codec);
            continue;
        }
        EXPECT_EQ(units[i].key ? 0 : 1, frames[i].info.dependent) << i;
    }
}

TEST(TaggedFrameTest, LayerHeaderAndUserDataFields) {
    // Video object, video object layer (its bytes 1 to 9 given), group of VOP (01:36:02), the
    // device's user data (its byte 7 the frame rate), VOP.
    auto headers = [](std::vector<uint8_t> layer, uint8_t rate) {
        Bytes b = {0, 0, 1, 0x00, 0, 0, 1, 0x20};
        test::Append(b, layer);
        test::Append(b, {0, 0, 1, 0xB3, 0x0C, 0x90, 0x80, 0, 0, 1,    0xB2, 1,
                         2, 3, 4, 5,    6,    rate, 0,    0, 1, 0xB6, 0x10, 0x20});
        return b;
    };
    struct Case {
        std::vector<uint8_t> layer;
        uint8_t rate;
        int32_t width, height, frameRate;
    } cases[] = {{{0, 4, 0, 0, 0, 0x2C, 0x00, 0x90, 0}, 30, 176, 144, 30},
                 {{0, 6, 0, 0, 0, 0, 0x2C, 0, 0x90}, 200, 352, 288, 25},
                 {{0, 5, 0, 0, 0, 0, 0, 0, 0}, 255, 352, 288, 1}};
    for (const Case& c : cases) {
        Bytes stream = test::TaggedVideo(headers(c.layer, c.rate));
        test::Append(stream, test::TaggedVideo({0, 0, 1, 0xB6, 0x50}));
        test::Append(stream, test::TaggedVideo({0x12, 0x34, 0x56, 0x78}));
        test::Append(stream,
                     test::TaggedVideo(test::Filler(20, 1)));  // so that the one before ends
        auto frames = Frames<TaggedFrameParser>(stream);
        ASSERT_EQ(4u, frames.size());
        const FrameInfo& key = frames[0].info;
        EXPECT_EQ(0, key.dependent);
        EXPECT_EQ(c.width, key.width) << int{c.layer[1]};
        EXPECT_EQ(c.height, key.height) << int{c.layer[1]};
        EXPECT_EQ(c.frameRate, key.frameRate) << int{c.rate};
        EXPECT_EQ(1 * 3600 + 36 * 60 + 2, key.timeOfDay);
        EXPECT_EQ(1, frames[1].info.dependent);
        EXPECT_EQ(0, frames[2].info.payloadLength) << "neither headers nor a VOP";
    }
}

}  // namespace
}  // namespace tavix

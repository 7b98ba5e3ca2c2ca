// The MPEG-4 elementary stream parser on streams from FFmpeg's mpeg4 encoder (through
// libavcodec, at test time), with the device's audio and private-data packets put between the
// pictures where a case needs them, and on hand-built headers for what encoders do not write.
#include "demux/mpeg4_es_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/vol_reader.h"
#include "platform/bytes.h"
#include "tests/support/frame_lines.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::EncodedVideo;
using test::FeedInChunks;
using test::FrameCopy;
using test::FrameLines;
using test::VideoOptions;
using Bytes = std::vector<uint8_t>;

struct Fixture {
    explicit Fixture(int mode = Mpeg4EsParser::kModePlain, const FrameInfo* avi = nullptr)
        : parser(buffer.get(), mode, avi) {}
    std::unique_ptr<uint8_t[]> buffer = std::make_unique<uint8_t[]>(kWorkBufferSize);
    Mpeg4EsParser parser;
};

// 30 pictures of 176 x 144 at 25 per second, a key picture every 12, starting at 01:02:03.
const EncodedVideo& Qcif() {
    static const EncodedVideo video = [] {
        VideoOptions options;
        options.frames = 30;
        options.firstSecond = 3723;
        return test::EncodeMpeg4(options);
    }();
    return video;
}

Bytes Picture(const EncodedVideo& video, size_t index) {
    const test::EncodedFrame& f = video.frames.at(index);
    return Bytes(video.bytes.begin() + static_cast<ptrdiff_t>(f.offset),
                 video.bytes.begin() + static_cast<ptrdiff_t>(f.offset + f.size));
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes Filler(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);  // no 00 00 01 in it
    return bytes;
}

// The device's audio packet: 00 00 01 F0, codec, sample-rate code, 16-bit length, payload.
Bytes AudioPacket(uint8_t codec, uint8_t rateCode, const Bytes& payload, int lengthField = -1) {
    Bytes packet = {0, 0, 1, 0xF0, codec, rateCode, 0, 0};
    WriteLe16(&packet[6], static_cast<uint16_t>(lengthField < 0 ? payload.size() : lengthField));
    Append(packet, payload);
    return packet;
}

// The device's private data: 00 00 01 F1, information type, validity, then `body`.
Bytes PrivatePacket(uint8_t type, uint8_t valid, const Bytes& body) {
    Bytes packet = {0, 0, 1, 0xF1, type, valid};
    Append(packet, body);
    return packet;
}

Bytes Le16s(std::initializer_list<uint16_t> values) {
    Bytes bytes;
    for (uint16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return bytes;
}

std::vector<FrameCopy> FeedAll(Mpeg4EsParser& parser, const Bytes& stream, size_t chunk = 2048) {
    return FeedInChunks(parser, stream, chunk);
}

// The frames of a key picture, `packet` and a dependent picture: the key picture, and the
// packet's frame, which the dependent picture's VOP closes.
std::vector<FrameCopy> BetweenPictures(const Bytes& packet) {
    const EncodedVideo& video = Qcif();
    Bytes stream = Picture(video, 0);
    Append(stream, packet);
    Append(stream, Picture(video, 1));
    Fixture f;
    return FeedAll(f.parser, stream);
}

TEST(Mpeg4EsParserTest, OneFramePerVopWithKeyFramesWhereTheEncoderPutItsHeaders) {
    const EncodedVideo& video = Qcif();
    Fixture f;
    auto frames = FeedAll(f.parser, video.bytes);
    // A frame ends where the next begins: the last picture is still open.
    ASSERT_EQ(video.frames.size() - 1, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const FrameInfo& info = frames[i].info;
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(kKindVideo, info.kind);
        EXPECT_EQ(kCodecMpeg4, info.codec);
        EXPECT_EQ(Picture(video, i), frames[i].payload);
        EXPECT_EQ(info.packetLength, info.payloadLength);
        EXPECT_EQ(video.frames[i].key ? 0 : 1, info.dependent);
        if (video.frames[i].key) {
            EXPECT_EQ(176, info.width);
            EXPECT_EQ(144, info.height);
            EXPECT_EQ(25, info.frameRate);
            EXPECT_EQ(1, info.hour);
            EXPECT_EQ(2, info.minute);
            EXPECT_EQ(3, info.second);
            EXPECT_EQ(3723, info.timeOfDay);
        }
    }
}

TEST(Mpeg4EsParserTest, SizeAndClockComeFromTheVideoObjectLayer) {
    struct Case {
        int width, height, frameRate, resolution, ticks;
    } cases[] = {
        {176, 144, 25, 0, 0},        {352, 288, 25, 0, 0}, {720, 576, 25, 0, 0},
        {640, 480, 30, 30000, 1001}, {320, 240, 15, 0, 0},
    };
    for (const Case& c : cases) {
        VideoOptions options;
        options.width = c.width;
        options.height = c.height;
        options.frameRate = c.frameRate;
        options.timeResolution = c.resolution;
        options.frameTicks = c.ticks;
        options.frames = 2;
        EncodedVideo video = test::EncodeMpeg4(options);
        Fixture f;
        auto frames = FeedAll(f.parser, video.bytes);
        ASSERT_EQ(1u, frames.size());
        EXPECT_EQ(0, frames[0].info.dependent);
        EXPECT_EQ(c.width, frames[0].info.width);
        EXPECT_EQ(c.height, frames[0].info.height);
        EXPECT_EQ(c.resolution ? c.resolution : c.frameRate, frames[0].info.frameRate)
            << "the clock's resolution is taken as the frame rate";
    }
}

// Pictures with the device's audio and private packets between them, as a recorder sends.
Bytes MixedStream() {
    const EncodedVideo& video = Qcif();
    Bytes stream;
    for (size_t i = 0; i < video.frames.size(); ++i) {
        Append(stream, Picture(video, i));
        if (i % 3 == 0) Append(stream, AudioPacket(7, 1, Filler(320, static_cast<uint8_t>(i))));
        if (i % 5 == 0) Append(stream, PrivatePacket(6, 1, Le16s({2024, 5, 352, 288, 0x0C0B})));
    }
    return stream;
}

TEST(Mpeg4EsParserTest, AnyChunkingGivesTheSameFrames) {
    Bytes stream = MixedStream();
    Fixture reference;
    auto expected = FrameLines(FeedAll(reference.parser, stream, stream.size()));
    ASSERT_GT(expected.size(), 40u);
    for (size_t chunk : {1, 7, 188, 2048, 65536}) {
        Fixture f;
        EXPECT_EQ(expected, FrameLines(FeedAll(f.parser, stream, chunk))) << "chunks of " << chunk;
    }
}

TEST(Mpeg4EsParserTest, FramesWholeInTheChunkPointIntoIt) {
    const EncodedVideo& video = Qcif();
    Fixture f;
    f.parser.Feed(video.bytes.data(), static_cast<int>(video.bytes.size()));
    int count = 0;
    while (const FrameInfo* frame = f.parser.NextFrame()) {
        EXPECT_EQ(video.bytes.data() + video.frames[count].offset, frame->payload);
        ++count;
    }
    EXPECT_EQ(29, count);
}

TEST(Mpeg4EsParserTest, LayerHeadersAreFoundOnlyWithin60BytesOfTheirVop) {
    const EncodedVideo& video = Qcif();
    ASSERT_TRUE(video.frames[12].key);
    ASSERT_EQ(37u, video.frames[12].headerBytes);  // VOS 5, VO 6, 00 00 01 00 4, VOL 15, GOV 7
    const size_t volEnd = 30;                      // user data goes between VOL and GOV
    struct Case {
        size_t userData;    // bytes of user data, start code included
        bool key;           // the VOP is found to have headers
        size_t frameStart;  // offset in the headers where the key frame begins
    } cases[] = {
        {10, true, 0},   // all 47 header bytes within reach: from the sequence header
        {30, true, 11},  // the video object header within reach, the sequence header not
        {40, false, 0},  // the layer header is 62 bytes away
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("user data of " + std::to_string(c.userData));
        Bytes key = Picture(video, 12);
        Bytes userData = {0, 0, 1, 0xB2};
        Append(userData, Bytes(c.userData - 4, 'x'));
        key.insert(key.begin() + volEnd, userData.begin(), userData.end());
        Bytes stream = Picture(video, 0);  // layer headers seen: frames are not damaged
        Append(stream, Picture(video, 11));
        Append(stream, key);
        Append(stream, Picture(video, 13));
        Fixture f;
        auto frames = FeedAll(f.parser, stream);
        ASSERT_EQ(3u, frames.size());
        Bytes before = Picture(video, 11);
        Bytes keyPart(key.begin() + static_cast<ptrdiff_t>(c.frameStart), key.end());
        if (c.key) {
            before.insert(before.end(), key.begin(), key.begin() + c.frameStart);
        } else {
            Append(before, Bytes(key.begin(),
                                 key.end() - static_cast<ptrdiff_t>(video.frames[12].size - 37)));
            keyPart.assign(key.end() - static_cast<ptrdiff_t>(video.frames[12].size - 37),
                           key.end());
        }
        EXPECT_EQ(before, frames[1].payload);
        EXPECT_EQ(keyPart, frames[2].payload);
        EXPECT_EQ(c.key ? 0 : 1, frames[2].info.dependent);
    }
}

TEST(Mpeg4EsParserTest, FramesBeforeTheFirstLayerHeadersAreDamaged) {
    const EncodedVideo& video = Qcif();
    Bytes stream(video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[1].offset),
                 video.bytes.end());
    Fixture f;
    auto frames = FeedAll(f.parser, stream);
    ASSERT_EQ(28u, frames.size());  // pictures 1 to 28
    for (size_t i = 0; i < 10; ++i)
        EXPECT_EQ(0, frames[i].info.payloadLength) << "picture " << i + 1;
    // The picture right before the first key frame is cut by it, and that cut measures it.
    EXPECT_EQ(Picture(video, 11), frames[10].payload);
    for (size_t i = 11; i < frames.size(); ++i)
        EXPECT_EQ(Picture(video, i + 1), frames[i].payload) << "picture " << i + 1;
}

// The look-back does not pass the VOP before it: with small pictures the headers of an earlier
// key frame are within 60 bytes, but they are not this picture's.
TEST(Mpeg4EsParserTest, LookBackStopsAtThePreviousMarker) {
    const EncodedVideo& video = Qcif();
    Bytes headers(video.bytes.begin(), video.bytes.begin() + 37);
    Bytes first = headers;
    Append(first, {0, 0, 1, 0xB6, 0x10, 0x20, 0x30, 0x40});
    Bytes second = {0, 0, 1, 0xB6, 0x50, 0x60, 0x70, 0x80, 0x90};
    Bytes third = {0, 0, 1, 0xB6, 0x51, 0x61};
    Bytes stream = first;
    Append(stream, second);
    Append(stream, third);
    Fixture f;
    auto frames = FeedAll(f.parser, stream);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(0, frames[0].info.dependent);
    EXPECT_EQ(first, frames[0].payload);
    EXPECT_EQ(1, frames[1].info.dependent);
    EXPECT_EQ(second, frames[1].payload);
}

TEST(Mpeg4EsParserTest, DeviceAudioPacketsBecomeAudioFrames) {
    struct Case {
        uint8_t codec, rateCode;
        uint32_t sampleRate;
        int bits;
    } cases[] = {{7, 1, 4000, 8},
                 {30, 9, 48000, 8},
                 {14, 2, 8000, 16},
                 {10, 5, 20000, 16},
                 {21, 8, 44100, 16}};
    const EncodedVideo& video = Qcif();
    for (const Case& c : cases) {
        Bytes audio = Filler(200, c.codec);
        auto frames = BetweenPictures(AudioPacket(c.codec, c.rateCode, audio));
        ASSERT_EQ(2u, frames.size());
        EXPECT_EQ(Picture(video, 0), frames[0].payload);
        const FrameInfo& info = frames[1].info;
        EXPECT_EQ(kKindAudio, info.kind);
        EXPECT_EQ(c.codec, info.codec) << "stored as is";
        EXPECT_EQ(c.sampleRate, info.sampleRate);
        EXPECT_EQ(c.bits, info.bitsPerSample);
        EXPECT_EQ(1, info.channels);
        EXPECT_EQ(audio, frames[1].payload);
    }
}

TEST(Mpeg4EsParserTest, AudioLengthsReachingPastTheFrameMarkItDamaged) {
    struct Case {
        Bytes packet;
        int payloadLength;
    } cases[] = {
        {AudioPacket(7, 1, Filler(100, 1), 100), 100},
        {AudioPacket(7, 1, Filler(100, 1), 101), 0},  // one byte more than there is
        {AudioPacket(7, 1, Filler(100, 1), 65535), 0},
        {AudioPacket(7, 1, Filler(100, 1), 60), 60},  // less is fine: the rest is filler
        {{0, 0, 1, 0xF0, 7, 1, 0}, 0},                // the header is cut off by the next VOP
    };
    for (const Case& c : cases) {
        auto frames = BetweenPictures(c.packet);
        ASSERT_EQ(2u, frames.size());
        EXPECT_EQ(kKindAudio, frames[1].info.kind);
        EXPECT_EQ(c.payloadLength, frames[1].info.payloadLength);
    }
}

TEST(Mpeg4EsParserTest, PrivateDataPacketsByInformationType) {
    struct Case {
        Bytes packet;
        int32_t type, variant, width, height, payloadLength;
        size_t payloadFrom;  // offset of the payload in the packet
    } cases[] = {
        // types 1 and 2: attribute, width / 16, height / 16, then the payload
        {PrivatePacket(1, 3, Le16s({0x55, 22, 18, 0xABCD, 0x1234})), 1, 3, 352, 288, 4, 12},
        {PrivatePacket(2, 1, Le16s({7, 45, 36})), 2, 1, 720, 576, 0, 12},
        // type 6: date and size, hour, minute, second; the payload is the whole packet
        {PrivatePacket(6, 1, Bytes{0xE8, 0x07, 12, 0, 0x60, 0x01, 0xF0, 0, 13, 14, 15}), 6, 1, 352,
         240, 17, 0},
        // other types: two bytes
        {PrivatePacket(9, 1, Filler(30, 1)), 9, 0, -1, -1, 2, 0},
        // too short for what its type promises
        {PrivatePacket(6, 1, Bytes{0xE8, 0x07, 12}), 6, 1, -1, -1, 0, 0},
        {PrivatePacket(1, 1, Bytes{1, 2, 3}), 1, 1, -1, -1, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        auto frames = BetweenPictures(c.packet);
        ASSERT_EQ(2u, frames.size());
        const FrameInfo& info = frames[1].info;
        EXPECT_EQ(kKindOther, info.kind);
        EXPECT_EQ(c.type, info.dependent) << "the information type";
        EXPECT_EQ(c.variant, info.variant);
        if (c.width >= 0) {
            EXPECT_EQ(c.width, info.width);
            EXPECT_EQ(c.height, info.height);
        }
        EXPECT_EQ(c.payloadLength, info.payloadLength);
        if (c.payloadLength > 0) {
            EXPECT_EQ(
                Bytes(c.packet.begin() + static_cast<ptrdiff_t>(c.payloadFrom),
                      c.packet.begin() + static_cast<ptrdiff_t>(c.payloadFrom + c.payloadLength)),
                frames[1].payload);
        }
    }
    // The fields of type 6 in full.
    const FrameInfo info = BetweenPictures(cases[2].packet).at(1).info;
    EXPECT_EQ(2024, info.year);
    EXPECT_EQ(12, info.month);
    EXPECT_EQ(13, info.hour);
    EXPECT_EQ(14, info.minute);
    EXPECT_EQ(15, info.second);
    EXPECT_EQ(0x55u, BetweenPictures(cases[0].packet).at(1).info.attribute);
}

// Some devices write the frame rate at fixed places of their layer header (b[k]: the k-th byte
// after the start code). These headers are too short for the VOL reader, which leaves 352 x 288.
TEST(Mpeg4EsParserTest, DeviceLayerHeadersGiveTheirFrameRate) {
    struct Case {
        Bytes afterCode;  // b[1] onwards
        int frameRate;
        size_t userData = 0;  // bytes of user data in front of the layer header
    } cases[] = {
        {{0x7F, 200, 0x88, 0x3A, 0x98, 0x00, 0xFA, 0x40}, 29},  // 30000 / 1001
        {{0x00, 200, 0x08, 0x80, 0x0C, 0x80}, 25},
        {{0x00, 0x86, 0x00, 0x00, 0x30}, 12},
        {{0x00, 0x86, 0x00, 0x01, 0x00}, 25},  // 64 frames per second is taken for 25
        {{0x00, 0xCA, 0x00, 0x00, 0x00, 0xC8}, 25},
        {{0x7F, 200, 0x88, 0x00, 0x00, 0x00, 0x00, 0x00}, 0},  // a zero divisor gives nothing
        {{0x00, 0x04, 0x86, 0x00, 0x30}, 0},                   // b[2] = 4: not applied
        // The header ends at b[2], its VOP 60 bytes behind the sequence header: nothing is read
        // past the bytes looked back over.
        {{0x00, 200}, 0, 45},
    };
    const EncodedVideo& video = Qcif();
    for (const Case& c : cases) {
        Bytes stream = {0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0x00};
        if (c.userData) {
            Append(stream, {0, 0, 1, 0xB2});
            Append(stream, Filler(c.userData - 4, 1));
        }
        Append(stream, {0, 0, 1, 0x20});
        Append(stream, c.afterCode);
        Append(stream, Bytes(video.bytes.begin() + 37, video.bytes.end()));
        Fixture f;  // fresh records: a rate not set stays 0
        auto frames = FeedAll(f.parser, stream);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(0, frames[0].info.dependent);
        EXPECT_EQ(c.frameRate, frames[0].info.frameRate);
        EXPECT_EQ(352, frames[0].info.width);
        EXPECT_EQ(288, frames[0].info.height);
    }
}

TEST(Mpeg4EsParserTest, AviModeCutsAudioChunksAndTakesSizeAndRateFromTheTemplate) {
    FrameInfo avi{};
    avi.width = 640;
    avi.height = 480;
    avi.frameRate = 15;
    avi.sampleRate = 11025;
    avi.bitsPerSample = 8;
    const EncodedVideo& video = Qcif();
    auto audioChunk = [](const Bytes& payload) {
        Bytes chunk = {'0', '1', 'w', 'b', 0, 0, 0, 0};
        WriteLe32(&chunk[4], static_cast<uint32_t>(payload.size()));
        Append(chunk, payload);
        return chunk;
    };
    Bytes stream = Picture(video, 0);
    Append(stream, audioChunk(Filler(320, 1)));
    Append(stream, Picture(video, 1));
    Append(stream, audioChunk(Filler(20, 2)));
    Append(stream, Picture(video, 2));
    Fixture f(Mpeg4EsParser::kModeAvi, &avi);
    auto frames = FeedAll(f.parser, stream);
    ASSERT_EQ(4u, frames.size());
    EXPECT_EQ(0, frames[0].info.dependent);
    EXPECT_EQ(640, frames[0].info.width);
    EXPECT_EQ(480, frames[0].info.height);
    EXPECT_EQ(15, frames[0].info.frameRate);
    EXPECT_EQ(Picture(video, 0), frames[0].payload);
    EXPECT_EQ(kKindAudio, frames[1].info.kind);
    EXPECT_EQ(31, frames[1].info.codec);
    EXPECT_EQ(11025u, frames[1].info.sampleRate);
    EXPECT_EQ(8, frames[1].info.bitsPerSample);
    EXPECT_EQ(Filler(320, 1), frames[1].payload);
    EXPECT_EQ(kKindVideo, frames[2].info.kind);
    EXPECT_EQ(kKindOther, frames[3].info.kind) << "audio chunks under 32 bytes are other data";
    EXPECT_EQ(0, frames[3].info.packetLength);

    // Outside AVI mode "01wb" is a byte string like any other.
    Fixture plain;
    auto plainFrames = FeedAll(plain.parser, stream);
    ASSERT_EQ(2u, plainFrames.size());
    EXPECT_EQ(kKindVideo, plainFrames[1].info.kind);
}

// Sequenced mode as the sequenced-packet parser drives it: 1024-byte slices, each with its
// template; frames are kept across Feeds until drained, then Drop(1) compacts the buffer.
TEST(Mpeg4EsParserTest, SequencedModeKeepsFramesUntilDroppedAndTakesTheTemplate) {
    const EncodedVideo& video = Qcif();
    Fixture f(Mpeg4EsParser::kModeSequenced);
    std::vector<FrameCopy> frames;
    int slices = 0;
    for (size_t at = 0; at < video.bytes.size(); at += 1024, ++slices) {
        FrameInfo slice{};
        slice.width = 704;
        slice.height = 576;
        slice.frameRate = 25;
        slice.year = 2024;
        slice.timeOfDay = slices;
        f.parser.SetTemplate(slice);
        size_t n = std::min<size_t>(1024, video.bytes.size() - at);
        Bytes piece(video.bytes.begin() + static_cast<ptrdiff_t>(at),
                    video.bytes.begin() + static_cast<ptrdiff_t>(at + n));
        f.parser.Feed(piece.data(), static_cast<int>(n));
        if (slices % 3 != 2) continue;  // drain every third slice only
        while (const FrameInfo* frame = f.parser.NextFrame())
            frames.push_back(test::CopyFrame(*frame));
        f.parser.Drop(1);
    }
    while (const FrameInfo* frame = f.parser.NextFrame())
        frames.push_back(test::CopyFrame(*frame));
    ASSERT_EQ(29u, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(Picture(video, i), frames[i].payload) << "frame " << i;
        if (video.frames[i].key) {
            EXPECT_EQ(704, frames[i].info.width);
            EXPECT_EQ(2024, frames[i].info.year);
            // The template of the slice in which the VOP was found.
            EXPECT_EQ(static_cast<int>((video.frames[i].offset + 37 + 3) / 1024),
                      frames[i].info.timeOfDay);
        }
    }
}

// The outer parser drops the open picture when its packets break off: the pictures already
// complete stay, with their bytes, while slices of the stream after the break are fed.
TEST(Mpeg4EsParserTest, DropWithoutKeepingForgetsTheOpenFrameAndTheHeadersOnly) {
    const EncodedVideo& video = Qcif();
    Fixture f(Mpeg4EsParser::kModeSequenced);
    auto feedSlices = [&f](const Bytes& bytes) {
        for (size_t at = 0; at < bytes.size(); at += 1024) {
            Bytes slice(bytes.begin() + static_cast<ptrdiff_t>(at),
                        bytes.begin() + static_cast<ptrdiff_t>(std::min(at + 1024, bytes.size())));
            f.parser.Feed(slice.data(), static_cast<int>(slice.size()));
        }
    };
    feedSlices(Bytes(video.bytes.begin(),
                     video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[3].offset + 100)));
    EXPECT_EQ(3, f.parser.ReadyCount());
    f.parser.Drop(0);
    EXPECT_EQ(3, f.parser.ReadyCount());
    feedSlices(Bytes(video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[4].offset),
                     video.bytes.end()));
    std::vector<FrameCopy> frames;
    while (const FrameInfo* frame = f.parser.NextFrame())
        frames.push_back(test::CopyFrame(*frame));
    ASSERT_GT(frames.size(), 4u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(Picture(video, i), frames[i].payload) << "complete before the drop: " << i;
    EXPECT_EQ(0, frames[3].info.payloadLength) << "no layer headers since the drop";
}

TEST(Mpeg4EsParserTest, AFrameOverflowingTheBufferIsDroppedAndTheStreamGoesOn) {
    const EncodedVideo& video = Qcif();
    Bytes stream = Picture(video, 0);
    Append(stream, {0, 0, 1, 0xB6});
    Append(stream, Filler(kMaxWorkBufferSize, 3));
    Append(stream, Bytes(video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[1].offset),
                         video.bytes.end()));
    Fixture f;
    auto frames = FeedAll(f.parser, stream, 65536);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(Picture(video, 0), frames[0].payload);
    // The giant frame is gone; the first picture after it may lose its start with it.
    EXPECT_EQ(Picture(video, 28), frames.back().payload);
    for (const FrameCopy& frame : frames)
        EXPECT_LT(frame.info.packetLength, kMaxWorkBufferSize);
}

TEST(Mpeg4EsParserTest, ResetDropsEverything) {
    const EncodedVideo& video = Qcif();
    Fixture f;
    Bytes start(video.bytes.begin(), video.bytes.begin() + 30000);
    f.parser.Feed(start.data(), static_cast<int>(start.size()));
    ASSERT_GT(f.parser.ReadyCount(), 0);
    EXPECT_EQ(0, f.parser.Reset(2));
    EXPECT_GT(f.parser.ReadyCount(), 0);
    EXPECT_EQ(0, f.parser.Reset(0));
    EXPECT_EQ(0, f.parser.ReadyCount());
    Bytes rest(video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[12].offset),
               video.bytes.end());
    auto frames = FeedAll(f.parser, rest);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(Picture(video, 12), frames[0].payload);
}

TEST(VolReaderTest, ReadsTheEncodersHeaders) {
    const EncodedVideo& video = Qcif();
    VolInfo info;
    ASSERT_EQ(0, ReadVolHeader(video.bytes.data(), 37, &info));
    EXPECT_EQ(176, info.width);
    EXPECT_EQ(144, info.height);
    EXPECT_EQ(25, info.timeResolution);
}

TEST(VolReaderTest, NeverReadsPastTheCountAndFailsOnCutHeaders) {
    const EncodedVideo& video = Qcif();
    for (int count = 0; count < 37; ++count) {
        // A buffer of exactly `count` bytes: a read past it is caught by AddressSanitizer.
        auto bytes = std::make_unique<uint8_t[]>(static_cast<size_t>(count));
        std::memcpy(bytes.get(), video.bytes.data(), static_cast<size_t>(count));
        VolInfo info;
        int result = ReadVolHeader(bytes.get(), count, &info);
        // The layer's height ends in byte 28.
        EXPECT_EQ(count < 29 ? -1 : 0, result) << count << " bytes";
        EXPECT_EQ(result == 0 ? 176 : 0, info.width) << "a failed read leaves the result alone";
    }
}

TEST(VolReaderTest, RefusesWhatItCannotRead) {
    const EncodedVideo& video = Qcif();
    Bytes headers(video.bytes.begin(), video.bytes.begin() + 37);
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    } cases[] = {
        {"a VOP before the layer", 3, 0xB6},
        {"a visual object that is not video", 10, 0x33},  // visual_object_type 3
        {"an unsupported object type", 19, 0x3F},         // video_object_type_indication 0x7F
    };
    for (const Case& c : cases) {
        Bytes bad = headers;
        bad[c.at] = c.value;
        VolInfo info;
        EXPECT_EQ(-1, ReadVolHeader(bad.data(), static_cast<int>(bad.size()), &info)) << c.what;
    }
}

}  // namespace
}  // namespace tavix

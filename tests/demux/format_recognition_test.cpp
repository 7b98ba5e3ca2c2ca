// Recognition of the container format from the first chunk: the markers, their header checks,
// the order of choice, the 51200-byte limit, the provisional audio-only type, and the stream
// properties read from AVI and ASF headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "demux/format_scan.h"
#include "demux/stream_demuxer.h"
#include "platform/bytes.h"
#include "tests/support/frame_lines.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::Bytes;
using test::MediaUnit;
using test::PictureInfo;

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        test::Append(all, part);
    return all;
}

// Private key packet (00 00 01 FD) with width and height bytes as given, cut to `keep` bytes.
Bytes Key(int widthByte, int heightByte, int rate = 25, size_t keep = 100) {
    PictureInfo info;
    info.width = widthByte * 8;
    info.height = heightByte * 8;
    info.frameRate = rate;
    Bytes packet = test::PrivateKeyPacket(0xFD, info, test::Filler(40, 1), 1);
    packet.resize(std::min(keep, packet.size()));
    return packet;
}

Bytes Audio() {
    return test::PrivateAudioPacket(14, 2, test::Filler(60, 2));
}

Bytes Sequenced(int width, int height) {
    PictureInfo info;
    info.width = width;
    info.height = height;
    Bytes slice = test::Filler(1024, 3);
    return test::SequencedVideoPacket(info, 1, slice.data());
}

Bytes Checksummed(bool checksumRight) {
    Bytes p = test::ChecksummedPacket(0xFC, 0, 1, {}, {}, test::Filler(30, 4));
    if (!checksumRight) p[23] ^= 0xFF;
    return p;
}

const Bytes kPack = test::PackHeader();
const Bytes kVop = {0, 0, 1, 0xB6, 0x10, 0x20, 0x30, 0x40};

int Recognised(const Bytes& chunk) {
    StreamDemuxer demuxer;
    demuxer.Feed(chunk.data(), static_cast<int>(chunk.size()));
    return demuxer.FormatType();
}

TEST(FormatRecognitionTest, MarkersHeaderChecksAndTheOrderOfChoice) {
    struct Case {
        const char* name;
        Bytes chunk;
        int type;
    } cases[] = {
        {"sequenced video and audio", Join({Audio(), Sequenced(176, 144), Audio()}), 5},
        {"sequenced size 720 x 240", Sequenced(720, 240), 5},
        {"sequenced width 400: ignored", Sequenced(400, 144), kFormatNone},
        {"private packets and a pack header", Join({kPack, Key(22, 18), kPack}), 4},
        {"audio packets alone", Join({Audio(), Audio()}), 6},
        {"width byte 19 (152 pixels): ignored", Key(19, 18), kFormatNone},
        {"width byte 240 (1920 pixels)", Key(240, 18), 4},
        {"height byte 152 (1216 pixels)", Key(22, 152), 4},
        {"height byte 153: ignored, audio counts", Join({Key(22, 153), Audio()}), 6},
        {"frame rate 0: ignored", Key(22, 18, 0), kFormatNone},
        {"dependent packet", test::PrivateDependentPacket(0xFC, test::Filler(20, 5), 1), 4},
        {"key packet with 11 bytes behind its start code", Key(22, 18, 25, 15), kFormatNone},
        {"checksummed packet", Checksummed(true), 8},
        {"checksum wrong: ignored", Checksummed(false), kFormatNone},
        {"checksummed before private", Join({Key(22, 18), Checksummed(true)}), 8},
        {"pack header", Join({kPack, test::Filler(30, 6)}), 7},
        {"pack header before VOP", Join({kVop, kPack, test::Filler(30, 6)}), 7},
        {"VOP", Join({kVop, test::Filler(30, 6)}), 1},
        {"private before VOP", Join({kVop, Key(22, 18)}), 4},
        {"tagged frames are never recognised", test::TaggedVideo(test::Filler(40, 7)), kFormatNone},
        {"nothing", test::Filler(3000, 8), kFormatNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.type, Recognised(c.chunk)) << c.name;
}

TEST(FormatRecognitionTest, MarkersPastTheLimitEndTheScan) {
    const int limit = kFormatScanLimit;
    struct Case {
        const char* name;
        size_t packAt;  // first byte of the pack start code
        int type;
    } cases[] = {
        {"pack header read by byte 51200 does not end the scan", limit - 4, 4},
        {"pack header read at byte 51201 ends it", limit - 3, 7},
        {"far past the limit", 60000, 7},
    };
    for (const Case& c : cases) {
        Bytes chunk = test::Filler(c.packAt, 9);
        test::Append(chunk, kPack);
        test::Append(chunk, test::Filler(100, 10));
        test::Append(chunk, Key(22, 18));  // a later marker that would win
        EXPECT_EQ(c.type, Recognised(chunk)) << c.name;
    }
    // A marker whose checks fail ends nothing.
    Bytes chunk = test::Filler(60000, 11);
    test::Append(chunk, Key(19, 18));
    test::Append(chunk, Checksummed(true));
    EXPECT_EQ(8, Recognised(chunk));
}

TEST(FormatRecognitionTest, AudioAloneIsProvisional) {
    StreamDemuxer demuxer;
    Bytes audio = Join({Audio(), Audio(), Audio()});
    // The third audio packet straddles the first two chunks.
    const size_t cut = audio.size() - 30;
    Bytes first(audio.begin(), audio.begin() + static_cast<ptrdiff_t>(cut));
    Bytes second(audio.begin() + static_cast<ptrdiff_t>(cut), audio.end());
    test::Append(second, Audio());
    ASSERT_EQ(0, demuxer.Feed(first.data(), static_cast<int>(first.size())));
    EXPECT_EQ(kFormatPrivateAudio, demuxer.FormatType());
    EXPECT_EQ(2, [&] {
        int n = 0;
        while (demuxer.NextFrame())
            ++n;
        return n;
    }());
    ASSERT_EQ(0, demuxer.Feed(second.data(), static_cast<int>(second.size())));
    EXPECT_EQ(kFormatPrivateAudio, demuxer.FormatType());
    const FrameInfo* frame = demuxer.NextFrame();
    ASSERT_NE(nullptr, frame) << "the type-6 parser kept its state";
    EXPECT_EQ(60, frame->payloadLength);

    Bytes none = test::Filler(100, 12);
    EXPECT_EQ(0, demuxer.Feed(none.data(), static_cast<int>(none.size())))
        << "a chunk without markers goes to the type-6 parser";
    Bytes video = Join({Key(22, 18), Audio()});
    ASSERT_EQ(0, demuxer.Feed(video.data(), static_cast<int>(video.size())));
    EXPECT_EQ(kFormatPrivate, demuxer.FormatType());
    ASSERT_NE(nullptr, demuxer.NextFrame());
}

TEST(FormatRecognitionTest, NothingRecognisedDropsTheChunk) {
    StreamDemuxer demuxer;
    Bytes none = test::Filler(5000, 13);
    EXPECT_EQ(-1, demuxer.Feed(none.data(), static_cast<int>(none.size())));
    EXPECT_EQ(kFormatNone, demuxer.FormatType());
    EXPECT_EQ(nullptr, demuxer.NextFrame());
}

const std::vector<MediaUnit>& Mpeg4Units() {
    static const std::vector<MediaUnit> units = [] {
        test::VideoOptions options;
        options.frames = 10;
        options.keyInterval = 5;
        return test::MediaUnits(test::EncodeMpeg4(options), 2, 320);
    }();
    return units;
}

TEST(FormatRecognitionTest, AviHeadersGiveThePictureAndAudioFormat) {
    struct Case {
        const char* name;
        test::AviAudio audio;
        uint32_t sampleRate;
        int32_t bits;
    } cases[] = {
        {"8 kHz, 16 bits", {8000, 2, 16}, 8000, 16},
        {"8 bits", {11025, 1, 8}, 11025, 8},
        {"11 bits, held in 2 bytes: the block alignment says 16", {8000, 2, 11}, 8000, 16},
        {"24 bits", {8000, 3, 24}, 8000, 8},
        {"96000 Hz", {96000, 2, 16}, 8000, 16},
        {"3000 Hz", {3000, 2, 16}, 8000, 16},
        {"48000 Hz", {48000, 2, 16}, 48000, 16},
    };
    PictureInfo info;
    info.width = 320;  // what the main header says is what the frames say
    info.height = 240;
    info.frameRate = 20;
    for (const Case& c : cases) {
        Bytes file = test::WriteAvi(Mpeg4Units(), info, c.audio);
        FormatScan scan = ScanFormats(file.data(), 2048);
        EXPECT_TRUE(scan.avi) << c.name;
        EXPECT_EQ(c.sampleRate, scan.aviTemplate.sampleRate) << c.name;
        EXPECT_EQ(c.bits, scan.aviTemplate.bitsPerSample) << c.name;
        EXPECT_EQ(20, scan.aviTemplate.frameRate);
        EXPECT_EQ(320, scan.aviTemplate.width);
        EXPECT_EQ(240, scan.aviTemplate.height);
    }
    // A main header with no frame period gives no rate, not a division by zero.
    Bytes file = test::WriteAvi(Mpeg4Units(), info);
    size_t main = std::string(file.begin(), file.end()).find("avih");
    WriteLe32(&file[main + 8], 0);
    EXPECT_EQ(0, ScanFormats(file.data(), 2048).aviTemplate.frameRate);
}

TEST(FormatRecognitionTest, AviFramesTakeTheHeaderTemplate) {
    PictureInfo info;
    info.width = 320;
    info.height = 240;
    info.frameRate = 20;
    Bytes file = test::WriteAvi(Mpeg4Units(), info);
    StreamDemuxer demuxer;
    auto frames = test::FeedInChunks(demuxer, file, 2048);
    EXPECT_EQ(kFormatMpeg4Es, demuxer.FormatType());
    // Every picture and audio block (the index at the end of the file ends the last one), then
    // other data for each "01wb" of the index but the last, which nothing ends.
    const size_t units = Mpeg4Units().size();
    ASSERT_EQ(units + 4, frames.size());
    for (size_t i = units; i < frames.size(); ++i) {
        EXPECT_EQ(kKindOther, frames[i].info.kind);
        EXPECT_EQ(0, frames[i].info.packetLength);
    }
    for (size_t i = 0; i < units; ++i) {
        const MediaUnit& unit = Mpeg4Units()[i];
        const FrameInfo& f = frames[i].info;
        if (!unit.video) {
            EXPECT_EQ(kKindAudio, f.kind) << i;
            EXPECT_EQ(31, f.codec);
            EXPECT_EQ(8000u, f.sampleRate);
            EXPECT_EQ(unit.bytes, frames[i].payload);
            continue;
        }
        EXPECT_EQ(unit.key ? 0 : 1, f.dependent) << i;
        ASSERT_GE(frames[i].payload.size(), unit.bytes.size());
        EXPECT_TRUE(std::equal(unit.bytes.begin(), unit.bytes.end(), frames[i].payload.begin()))
            << i;
        if (unit.key) {
            EXPECT_EQ(320, f.width);
            EXPECT_EQ(20, f.frameRate);
        }
    }
}

TEST(FormatRecognitionTest, AsfHeaderGivesPacketSizeAndVideoStream) {
    test::VideoOptions options;
    options.frames = 6;
    options.keyInterval = 3;
    auto units = test::MediaUnits(test::EncodeH264(options), 2, 320);
    struct Case {
        const char* name;
        test::AsfOptions asf;
        size_t firstChunk;
        int32_t videoStream;
    } cases[] = {
        {"video properties first", {1024, 3, 1, false}, 2048, 3},
        {"audio properties first, audio stream 1", {4096, 2, 1, true}, 2048, 2},
        {"audio properties first, audio stream 2", {4096, 1, 2, true}, 2048, 1},
        {"no stream properties in the first chunk", {1500, 1, 2, false}, 200, 1},
    };
    for (const Case& c : cases) {
        Bytes file = test::WriteAsf(units, PictureInfo{}, c.asf);
        FormatScan scan = ScanFormats(file.data(), static_cast<int>(c.firstChunk));
        EXPECT_TRUE(scan.asf) << c.name;
        EXPECT_EQ(c.asf.packetSize, scan.asfPacketSize) << c.name;
        EXPECT_EQ(c.videoStream, scan.asfVideoStream) << c.name;
        StreamDemuxer demuxer;
        auto frames = test::FeedInChunks(demuxer, file, 2048, c.firstChunk);
        EXPECT_EQ(kFormatAsf, demuxer.FormatType()) << c.name;
        EXPECT_EQ(test::ExpectedLines(units, PictureInfo{}, kCodecH264), test::FrameLines(frames))
            << c.name;
    }
}

// The marker search looks at sixteen positions at a time; it must find what a register of the
// last four bytes, tested after every byte, finds.
TEST(FormatRecognitionTest, FastMarkerSearchFindsWhatTheByteByByteScanFinds) {
    const std::vector<uint32_t> markers = {
        0x000001F2, 0x000001FD, 0x000001FB, 0x000001FC, 0x000001FA, 0x000001FE, 0x000001B6,
        0x000001F0, 0x000001BA, 0x52494646, 0x5A514D46, 0x3026B275, 0xC0EF19BC, 0x409E69F8};
    const std::vector<uint32_t> nearMisses = {0x000001F3, 0x000001B7, 0x4B524C57, 0x3026B276,
                                              0x000101F0, 0x52494647, 0x00000100};
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(1 + random() % 300);
        for (uint8_t& b : data)  // small values make 00 00 01 and near misses likely
            b = static_cast<uint8_t>(random() % 4 == 0 ? random() % 3 : random());
        for (int k = 0; k < 6 && data.size() >= 4; ++k) {
            const auto& list = random() % 2 ? markers : nearMisses;
            WriteBe32(&data[random() % (data.size() - 3)], list[random() % list.size()]);
        }
        std::vector<int> expected;
        uint32_t reg = 0xFFFFFFFF;
        for (size_t i = 0; i < data.size(); ++i) {
            reg = reg << 8 | data[i];
            for (uint32_t m : markers)
                if (reg == m) expected.push_back(static_cast<int>(i));
        }
        const int length = static_cast<int>(data.size());
        for (PairFinder::Search search :
             {PairFinder::Search::kFastest, PairFinder::Search::kPortable,
              PairFinder::Search::kByteByByte}) {
            std::vector<int> found;
            for (int i = NextFormatMarker(data.data(), 0, length, search); i < length;
                 i = NextFormatMarker(data.data(), i + 1, length, search))
                found.push_back(i);
            ASSERT_EQ(expected, found) << "round " << round << ", search " << int(search);
        }
    }
}

}  // namespace
}  // namespace tavix

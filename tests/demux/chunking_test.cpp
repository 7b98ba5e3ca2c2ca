// Every format through the demultiplexer as the decoder feeds it: recognised from a first chunk
// of 2048 bytes, the rest in chunks of any size gives the same frames. The streams are real
// pictures from libx264 and FFmpeg's mpeg4 encoder (through libavcodec) wrapped by the writers
// in tests/support.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "demux/stream_demuxer.h"
#include "tests/support/frame_lines.h"
#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

using test::Bytes;
using test::MediaUnit;
using test::PictureInfo;

std::vector<MediaUnit> H264Units() {
    test::VideoOptions options;
    options.frames = 30;
    options.keyInterval = 10;
    return test::MediaUnits(test::EncodeH264(options), 3, 320);
}

std::vector<MediaUnit> Mpeg4Units() {
    test::VideoOptions options;
    options.frames = 30;
    options.keyInterval = 10;
    return test::MediaUnits(test::EncodeMpeg4(options), 3, 320);
}

std::vector<MediaUnit> LargeMpeg4Units() {
    test::VideoOptions options;
    options.width = 704;
    options.height = 576;
    options.frames = 3;
    options.keyInterval = 2;
    options.bitRate = 40000000;
    return test::MediaUnits(test::EncodeMpeg4(options), 1, 288);
}

Bytes ElementaryWithAudio(const std::vector<MediaUnit>& units) {
    Bytes stream;
    for (const MediaUnit& unit : units)
        test::Append(stream, unit.video ? unit.bytes : test::PrivateAudioPacket(7, 4, unit.bytes));
    return stream;
}

Bytes AudioOnly() {
    Bytes stream;
    for (uint8_t i = 0; i < 40; ++i)
        test::Append(stream, test::PrivateAudioPacket(14, 2, test::AudioBlock(320, i)));
    return stream;
}

struct Format {
    const char* name;
    Bytes stream;
    int type;
    std::vector<MediaUnit> mpeg4 = {};  // the units of an MPEG-4 stream
};

std::vector<Format> Formats() {
    PictureInfo info;
    PictureInfo large;
    large.width = 704;
    large.height = 576;
    const auto mpeg4 = Mpeg4Units();
    const auto largeMpeg4 = LargeMpeg4Units();
    return {
        {"private packets", test::WritePrivateStream(H264Units(), info), kFormatPrivate},
        {"sequenced packets", test::WriteSequencedStream(mpeg4, info), kFormatSequenced, mpeg4},
        {"checksummed packets", test::WriteChecksummedStream(H264Units(), info),
         kFormatChecksummed},
        {"program stream, H.264", test::WriteProgramStream(H264Units(), info),
         kFormatProgramStream},
        {"program stream, split MPEG-4", test::WriteProgramStream(largeMpeg4, large),
         kFormatProgramStream, largeMpeg4},
        {"ASF", test::WriteAsf(H264Units(), info), kFormatAsf},
        {"AVI", test::WriteAvi(mpeg4, info), kFormatMpeg4Es, mpeg4},
        {"MPEG-4 elementary stream", ElementaryWithAudio(mpeg4), kFormatMpeg4Es, mpeg4},
        {"audio packets alone", AudioOnly(), kFormatPrivateAudio},
    };
}

TEST(ChunkingTest, OnceRecognisedAnyChunkingGivesTheSameFrames) {
    for (const Format& format : Formats()) {
        std::vector<std::string> reference;
        for (size_t chunk : {size_t{2048}, size_t{1}, size_t{7}, size_t{188}, size_t{65536}}) {
            StreamDemuxer demuxer;
            auto lines = test::FrameLines(test::FeedInChunks(demuxer, format.stream, chunk, 2048));
            EXPECT_EQ(format.type, demuxer.FormatType()) << format.name;
            if (reference.empty()) {
                reference = lines;
                EXPECT_GT(reference.size(), 4u) << format.name;
                continue;
            }
            EXPECT_EQ(reference, lines) << format.name << ", chunks of " << chunk;
        }
    }
}

// An MPEG-4 decoder is handed each picture's own bytes (a key picture's with its layer headers)
// and nothing of the container around them.
TEST(ChunkingTest, Mpeg4PicturesComeOutAsTheirOwnBytes) {
    for (const Format& format : Formats()) {
        if (format.mpeg4.empty()) continue;
        StreamDemuxer demuxer;
        std::vector<Bytes> pictures, expected;
        for (const test::FrameCopy& frame : test::FeedInChunks(demuxer, format.stream, 188, 2048))
            if (frame.info.kind == kKindVideo) pictures.push_back(frame.payload);
        for (const MediaUnit& unit : format.mpeg4)
            if (unit.video) expected.push_back(unit.bytes);
        // The last picture of an elementary stream stays open: nothing follows it.
        ASSERT_GE(pictures.size() + 1, expected.size()) << format.name;
        expected.resize(pictures.size());
        EXPECT_EQ(expected, pictures) << format.name;
    }
}

// A 4K stream's key pictures (up to about 2 MB) come out whole from chunks of a network's size;
// one over the assembler's cap comes out damaged, and the pictures behind it whole.
TEST(ChunkingTest, LargeKeyPicturesComeOutWhole) {
    auto enlarged = [](std::vector<MediaUnit> units, size_t size) {
        test::Append(units[0].bytes, test::Filler(size - units[0].bytes.size(), 9));
        return units;
    };
    const PictureInfo info;
    const auto h264 = enlarged(H264Units(), 1500000);
    const auto mpeg4 = enlarged(Mpeg4Units(), 1500000);
    const auto overCap = enlarged(H264Units(), kMaxFrameBytes + 1);
    struct Case {
        const char* name;
        Bytes stream;
        const std::vector<MediaUnit>& units;
    } cases[] = {
        {"private packets", test::WritePrivateStream(h264, info), h264},
        {"checksummed packets", test::WriteChecksummedStream(h264, info), h264},
        {"program stream", test::WriteProgramStream(h264, info), h264},
        {"ASF", test::WriteAsf(h264, info), h264},
        {"sequenced packets", test::WriteSequencedStream(mpeg4, info), mpeg4},
        {"AVI", test::WriteAvi(mpeg4, info), mpeg4},
        {"MPEG-4 elementary stream", ElementaryWithAudio(mpeg4), mpeg4},
        {"private packets over the cap", test::WritePrivateStream(overCap, info), overCap},
    };
    for (const Case& c : cases) {
        StreamDemuxer demuxer;
        std::vector<Bytes> pictures, expected;
        for (const test::FrameCopy& frame : test::FeedInChunks(demuxer, c.stream, 4000, 2048))
            if (frame.info.kind == kKindVideo) pictures.push_back(frame.payload);
        for (const MediaUnit& unit : c.units)
            if (unit.video)
                expected.push_back(&c.units == &overCap && expected.empty() ? Bytes{} : unit.bytes);
        ASSERT_GE(pictures.size() + 1, expected.size()) << c.name;
        expected.resize(pictures.size());
        EXPECT_TRUE(expected == pictures) << c.name;
    }
}

// Audio packets alone make the type provisional: the chunk that first holds a video packet
// replaces the parser, and what the old one held (a packet begun in the chunk before) is lost.
// Which packet that is depends on where the chunks end. No frame comes out altered.
TEST(ChunkingTest, TheSwitchFromAudioAloneDependsOnTheChunking) {
    PictureInfo info;
    Bytes stream = AudioOnly();
    const auto units = H264Units();
    test::Append(stream, test::WritePrivateStream(units, info));
    StreamDemuxer whole(kFormatPrivate);
    const auto all = test::FrameLines(test::FeedInChunks(whole, stream, stream.size()));
    std::set<std::vector<std::string>> seen;
    for (size_t chunk : {size_t{188}, size_t{700}, size_t{2048}, size_t{4096}}) {
        StreamDemuxer demuxer;
        auto lines = test::FrameLines(test::FeedInChunks(demuxer, stream, chunk));
        EXPECT_EQ(kFormatPrivate, demuxer.FormatType()) << "chunks of " << chunk;
        EXPECT_LT(lines.size(), all.size()) << "chunks of " << chunk;
        for (const std::string& line : lines)
            EXPECT_NE(all.end(), std::find(all.begin(), all.end(), line)) << line;
        seen.insert(lines);
    }
    EXPECT_GT(seen.size(), 1u);
}

}  // namespace
}  // namespace tavix

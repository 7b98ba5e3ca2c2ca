// The demultiplexer's own rules: typed construction, refusal before recognition, Reset.
#include "demux/stream_demuxer.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/frame_lines.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

const test::EncodedVideo& Video() {
    static const test::EncodedVideo video = [] {
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        return test::EncodeMpeg4(options);
    }();
    return video;
}

TEST(StreamDemuxerTest, TypedConstructorAcceptsTheElementaryStreamOnly) {
    StreamDemuxer es(kFormatMpeg4Es);
    EXPECT_EQ(kFormatMpeg4Es, es.FormatType());
    EXPECT_TRUE(es.HasParser());
    for (int type : std::initializer_list<int>{-1, 0, 2, kFormatPrivateAudio, kFormatProgramStream,
                                               kFormatChecksummed, kFormatAsf, 10}) {
        StreamDemuxer other(type);
        EXPECT_EQ(kFormatNone, other.FormatType()) << type;
        EXPECT_FALSE(other.HasParser()) << type;
    }
}

TEST(StreamDemuxerTest, NothingComesOutBeforeAFormatIsKnown) {
    auto demuxer = StreamDemuxer::Create();
    ASSERT_NE(nullptr, demuxer);
    EXPECT_EQ(kFormatNone, demuxer->FormatType());
    EXPECT_EQ(nullptr, demuxer->NextFrame());
    EXPECT_EQ(nullptr, demuxer->NextKeyFrame());
    EXPECT_EQ(-1, demuxer->Reset(1, 0)) << "no format: every Reset is refused";
    EXPECT_EQ(nullptr, demuxer->NextFrame());
}

TEST(StreamDemuxerTest, ElementaryStreamFramesComeThroughTheDemultiplexer) {
    StreamDemuxer demuxer(kFormatMpeg4Es);
    const test::EncodedVideo& video = Video();
    auto frames = test::FeedInChunks(demuxer, video.bytes, 4096);
    ASSERT_EQ(video.frames.size() - 1, frames.size());
    EXPECT_EQ(0, frames[8].info.dependent);
    EXPECT_EQ(176, frames[8].info.width);
}

TEST(StreamDemuxerTest, NextKeyFramePassesOverDependentFrames) {
    StreamDemuxer demuxer(kFormatMpeg4Es);
    const test::EncodedVideo& video = Video();
    // From the second picture on: seven dependent pictures, then a key picture.
    std::vector<uint8_t> stream(
        video.bytes.begin() + static_cast<ptrdiff_t>(video.frames[1].offset), video.bytes.end());
    ASSERT_EQ(0, demuxer.Feed(stream.data(), static_cast<int>(stream.size())));
    const FrameInfo* key = demuxer.NextKeyFrame();
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(stream.data() + (video.frames[8].offset - video.frames[1].offset), key->payload);
    EXPECT_EQ(0, key->dependent);
    EXPECT_EQ(25, key->frameRate);
}

TEST(StreamDemuxerTest, ResetWithModeZeroForgetsTheFormat) {
    StreamDemuxer demuxer(kFormatMpeg4Es);
    const test::EncodedVideo& video = Video();
    ASSERT_EQ(0, demuxer.Feed(video.bytes.data(), static_cast<int>(video.bytes.size())));
    EXPECT_EQ(0, demuxer.Reset(2, 0)) << "mode 2: the parser's Reset, which keeps everything";
    EXPECT_NE(nullptr, demuxer.NextFrame());
    EXPECT_EQ(0, demuxer.Reset(1, 0)) << "another mode: the parser drops its frames";
    EXPECT_EQ(kFormatMpeg4Es, demuxer.FormatType());
    EXPECT_EQ(nullptr, demuxer.NextFrame());
    ASSERT_EQ(0, demuxer.Feed(video.bytes.data(), static_cast<int>(video.bytes.size())));
    EXPECT_EQ(0, demuxer.Reset(0, 0));
    EXPECT_EQ(kFormatNone, demuxer.FormatType());
    EXPECT_EQ(nullptr, demuxer.NextFrame()) << "frames go with the format";
}

}  // namespace
}  // namespace tavix

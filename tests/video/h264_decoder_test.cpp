#include "platform/h264_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "demux/frame_info.h"
#include "tests/video/test_h264.h"
#include "video/picture_decoder.h"

namespace tavix {
namespace {

constexpr uint8_t kGuard = 0x5A;

// The caller's buffer for a handle opened at width x height, with guard bytes behind it.
struct Planes {
    Planes(int width, int height)
        : width(width),
          height(height),
          bytes(static_cast<size_t>(width) * height * 3 / 2 + 64, kGuard) {}
    H264DecodeOutput Output() {
        return {bytes.data(), bytes.data() + width * height, bytes.data() + width * height * 5 / 4,
                0, 0};
    }
    bool GuardIntact() const {
        for (size_t i = bytes.size() - 64; i < bytes.size(); ++i)
            if (bytes[i] != kGuard) return false;
        return true;
    }
    int width, height;
    std::vector<uint8_t> bytes;
};

// The decoder library as CDecoder opens it for a frame's codec: H.264 through its five entry
// points, MPEG-4 Visual.
class Library {
  public:
    Library(int width, int height, int32_t codec = kCodecH264)
        : handle(FindPictureDecoder(codec)(width, height)) {}
    int Decode(const std::vector<uint8_t>& payload, H264DecodeOutput& output) {
        return handle->Decode(payload.data(), static_cast<int32_t>(payload.size()), output);
    }
    std::unique_ptr<PictureDecoder> handle;
};

// Every codec the library decodes.
class DecoderLibraryTest : public testing::TestWithParam<int32_t> {
  protected:
    std::vector<test::CodedFrame> Encode(int width, int height, int count) const {
        return GetParam() == kCodecMpeg4 ? test::EncodeMpeg4Frames(width, height, count)
                                         : test::EncodeH264Frames(width, height, count);
    }
};
INSTANTIATE_TEST_SUITE_P(Codecs, DecoderLibraryTest, testing::Values(kCodecH264, kCodecMpeg4));

TEST_P(DecoderLibraryTest, EveryFrameComesOutAtOnceInTheCallersPlanes) {
    const auto frames = Encode(176, 144, 30);
    const auto reference = test::ReferenceDecode(frames, GetParam() != kCodecMpeg4);
    ASSERT_EQ(frames.size(), reference.size());
    Library library(176, 144, GetParam());
    ASSERT_NE(nullptr, library.handle);
    Planes planes(176, 144);
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        H264DecodeOutput output = planes.Output();
        ASSERT_EQ(0, library.Decode(frames[i].bytes, output));
        EXPECT_EQ(176, output.width);
        EXPECT_EQ(144, output.height);
        // Right rows, right strides, U and V in their places.
        EXPECT_TRUE(std::equal(reference[i].begin(), reference[i].end(), planes.bytes.begin()));
        EXPECT_TRUE(planes.GuardIntact());
    }
}

TEST_P(DecoderLibraryTest, ASmallerPictureFitsWithItsOwnStrides) {
    const auto frames = Encode(176, 144, 1);
    const auto reference = test::ReferenceDecode(frames, GetParam() != kCodecMpeg4);
    Library library(352, 288, GetParam());
    Planes planes(352, 288);
    H264DecodeOutput output = planes.Output();
    ASSERT_EQ(0, library.Decode(frames[0].bytes, output));
    EXPECT_EQ(176, output.width);
    EXPECT_EQ(144, output.height);
    // Y with rows 176 bytes apart at the start of the buffer, U and V where the caller put them.
    const uint8_t* y = planes.bytes.data();
    EXPECT_TRUE(std::equal(y, y + 176 * 144, reference[0].begin()));
    EXPECT_TRUE(std::equal(output.u, output.u + 88 * 72, reference[0].begin() + 176 * 144));
    EXPECT_TRUE(std::equal(output.v, output.v + 88 * 72, reference[0].begin() + 176 * 144 * 5 / 4));
}

TEST_P(DecoderLibraryTest, APictureLargerThanTheOpenedSizeFailsWithoutWriting) {
    const auto large = Encode(352, 288, 1);
    const auto small = Encode(176, 144, 1);
    for (const auto& opened :
         std::vector<std::pair<int, int>>{{176, 144}, {352, 144}, {176, 288}}) {
        Library library(opened.first, opened.second, GetParam());
        Planes planes(opened.first, opened.second);
        H264DecodeOutput output = planes.Output();
        EXPECT_EQ(-1, library.Decode(large[0].bytes, output));
        EXPECT_EQ(std::vector<uint8_t>(planes.bytes.size(), kGuard), planes.bytes);
        // The handle goes on decoding what fits.
        output = planes.Output();
        EXPECT_EQ(0, library.Decode(small[0].bytes, output));
        EXPECT_TRUE(planes.GuardIntact());
    }
}

TEST_P(DecoderLibraryTest, ACorruptPayloadFailsAndDecodingGoesOn) {
    const auto frames = Encode(176, 144, 13);
    std::vector<uint8_t> noise(3000);
    unsigned seed = 7;
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    std::vector<uint8_t> truncated(frames[0].bytes.begin(),
                                   frames[0].bytes.begin() + frames[0].bytes.size() / 2);
    std::vector<uint8_t> garbledSlice = frames[0].bytes;
    for (size_t i = garbledSlice.size() / 3; i < garbledSlice.size(); i += 7)
        garbledSlice[i] ^= 0xFF;

    Library library(176, 144, GetParam());
    Planes planes(176, 144);
    for (const auto* bad : {&noise, &truncated, &garbledSlice}) {
        H264DecodeOutput output = planes.Output();
        EXPECT_EQ(-1, library.Decode(*bad, output));
    }
    H264DecodeOutput output = planes.Output();
    EXPECT_EQ(0, library.Decode(frames[12].bytes, output)) << "the next key frame decodes";
    EXPECT_TRUE(planes.GuardIntact());
}

TEST(H264DecoderTest, RefusesMissingArguments) {
    EXPECT_EQ(nullptr, H264_Dec_Open(nullptr));
    const int32_t zero[2] = {0, 144};
    EXPECT_EQ(nullptr, H264_Dec_Open(zero));
    EXPECT_EQ(nullptr, FindPictureDecoder(kCodecUnsupported));
    EXPECT_EQ(nullptr, FindPictureDecoder(kCodecMpeg4)(0, 144));
    Library library(176, 144);
    Planes planes(176, 144);
    H264DecodeOutput output = planes.Output();
    EXPECT_EQ(-1, library.Decode({}, output));
    EXPECT_EQ(-1, H264_Dec_Decode(nullptr, nullptr, &output, 0));
    EXPECT_EQ(0, H264_Dec_Close(nullptr));
}

}  // namespace
}  // namespace tavix

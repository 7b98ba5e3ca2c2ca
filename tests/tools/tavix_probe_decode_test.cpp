// tavix-probe decode run as a program: real H.264 from libx264 in the recorder's private
// packets, and what the decoder makes of it at every display depth.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/md5.h>
}

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "demux/stream_demuxer.h"
#include "platform/h264_decoder.h"
#include "tests/support/test_video.h"
#include "video/colour_conversion.h"

namespace tavix {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFrames = 30;

// The recorder's private packets around each encoded frame: 00 00 01 FD with a 12-byte header
// for key frames, 00 00 01 FC with a 4-byte header for the others; lengths little-endian, a
// sequence counter in every packet.
std::vector<uint8_t> PrivatePackets(const test::EncodedVideo& video) {
    std::vector<uint8_t> out;
    uint8_t sequence = 1;
    for (const test::EncodedFrame& f : video.frames) {
        const uint32_t n = static_cast<uint32_t>(f.size);
        const uint8_t length[3] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                   static_cast<uint8_t>(n >> 16)};
        out.insert(out.end(), {0, 0, 1, static_cast<uint8_t>(f.key ? 0xFD : 0xFC)});
        if (f.key) out.insert(out.end(), {0, 25, kWidth / 8, kHeight / 8, 0, 0, 0, 0});
        out.insert(out.end(), length, length + 3);
        out.push_back(sequence++);
        out.insert(out.end(), video.bytes.begin() + static_cast<ptrdiff_t>(f.offset),
                   video.bytes.begin() + static_cast<ptrdiff_t>(f.offset + f.size));
    }
    return out;
}

// Every picture as the decoder should convert it at `bits` per pixel, stored as it stores them.
std::vector<std::vector<uint8_t>> Converted(const test::EncodedVideo& video, int bits) {
    std::vector<std::vector<uint8_t>> pictures;
    H264_Dec_Init(0);
    const int32_t size[2] = {kWidth, kHeight};
    H264Handle handle = H264_Dec_Open(size);
    std::vector<uint8_t> yuv(kWidth * kHeight * 3 / 2);
    const uint8_t* y = yuv.data();
    const uint8_t* u = y + kWidth * kHeight;
    const uint8_t* v = u + kWidth * kHeight / 4;
    for (const test::EncodedFrame& f : video.frames) {
        const H264DecodeInput input{
            video.bytes.data() + f.offset, static_cast<int32_t>(f.size), {1, 1, 0, 0}};
        H264DecodeOutput output{yuv.data(), yuv.data() + kWidth * kHeight,
                                yuv.data() + kWidth * kHeight * 5 / 4, 0, 0};
        if (H264_Dec_Decode(handle, &input, &output, 0) != 0) continue;
        std::vector<uint8_t> picture(kWidth * kHeight * (bits / 8));
        if (bits == 16)
            ConvertTo565(kWidth, kHeight, y, picture.data());
        else if (bits == 24)
            ConvertTo24(picture.data(), kWidth, y, u, v, kWidth, kWidth / 2, kWidth, -kHeight);
        else
            ConvertTo32(picture.data(), kWidth, y, u, v, kWidth, kWidth / 2, kWidth, -kHeight);
        pictures.push_back(std::move(picture));
    }
    H264_Dec_Close(handle);
    H264_Dec_DeInit();
    return pictures;
}

// "WIDTHxHEIGHT MD5" of every picture as the decoder should convert it.
std::vector<std::string> ExpectedLines(const test::EncodedVideo& video, int bits) {
    std::vector<std::string> lines;
    for (const std::vector<uint8_t>& picture : Converted(video, bits)) {
        uint8_t digest[16];
        av_md5_sum(digest, picture.data(), picture.size());
        std::string line = std::to_string(kWidth) + "x" + std::to_string(kHeight) + " ";
        char hex[3];
        for (uint8_t b : digest) {
            std::snprintf(hex, sizeof hex, "%02x", b);
            line += hex;
        }
        lines.push_back(line);
    }
    return lines;
}

struct Result {
    int status = -1;
    std::vector<std::string> lines;
};

Result Probe(const std::string& arguments) {
    Result run;
    FILE* pipe = popen((std::string(TAVIX_PROBE) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return run;
    std::string out;
    char block[4096];
    for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;)
        out.append(block, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        run.lines.push_back(line);
    return run;
}

class ProbeDecodeTest : public testing::Test {
  protected:
    void SetUp() override {
        directory = fs::temp_directory_path() / ("tavix_probe_decode_" + std::to_string(getpid()));
        fs::create_directories(directory);
        test::VideoOptions options;
        options.frames = kFrames;
        options.keyInterval = 12;
        video = test::EncodeH264(options);
        const std::vector<uint8_t> bytes = PrivatePackets(video);
        std::ofstream(File(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        // The private packets come with a later part of the demultiplexer.
        auto demuxer = StreamDemuxer::Create();
        demuxer->Feed(bytes.data(), static_cast<int>(bytes.size()));
        privatePackets = demuxer->FormatType() == kFormatPrivate;
    }
    void TearDown() override { fs::remove_all(directory); }
    std::string File() const { return (directory / "stream.bin").string(); }

    fs::path directory;
    test::EncodedVideo video;
    bool privatePackets = false;
};

TEST_F(ProbeDecodeTest, PrivatePacketsBecomeTheRightPicturesAtEveryDepth) {
    if (!privatePackets) GTEST_SKIP() << "the private packet format is not recognised yet";
    for (int bits : {16, 24, 32}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const std::vector<std::string> expected = ExpectedLines(video, bits);
        for (const char* chunk : {"1000", "65536"}) {
            Result run = Probe("decode " + File() + " --framemd5 --depth " + std::to_string(bits) +
                               " --chunk " + chunk);
            ASSERT_EQ(0, run.status);
            ASSERT_FALSE(run.lines.empty());
            const std::string summary = run.lines.back();
            run.lines.pop_back();
            // The last frame ends only where a next packet would begin.
            ASSERT_GE(run.lines.size(), expected.size() - 1);
            ASSERT_LE(run.lines.size(), expected.size());
            for (size_t i = 0; i < run.lines.size(); ++i)
                EXPECT_EQ(expected[i], run.lines[i]) << "picture " << i;
            EXPECT_NE(std::string::npos, summary.find("at 176x144")) << summary;
        }
    }
}

TEST_F(ProbeDecodeTest, WritesUprightPngs) {
    if (!privatePackets) GTEST_SKIP() << "the private packet format is not recognised yet";
    const fs::path out = directory / "pictures";
    fs::create_directories(out);
    ASSERT_EQ(0, Probe("decode " + File() + " --depth 24 --out " + out.string()).status);
    const QImage png(QString::fromStdString((out / "picture-00000.png").string()));
    ASSERT_FALSE(png.isNull());
    ASSERT_EQ(kWidth, png.width());
    ASSERT_EQ(kHeight, png.height());
    // The first picture as the decoder stores it at 24 bits: bottom row first.
    const std::vector<uint8_t> stored = Converted(video, 24).front();
    for (int y : {0, kHeight / 2, kHeight - 1}) {
        for (int x : {0, kWidth / 3, kWidth - 1}) {
            const uint8_t* bgr = &stored[((kHeight - 1 - y) * kWidth + x) * 3];
            EXPECT_EQ(qRgb(bgr[2], bgr[1], bgr[0]), png.pixel(x, y) | 0xFF000000u) << x << "," << y;
        }
    }
}

TEST_F(ProbeDecodeTest, ReportsUsageAndFileErrors) {
    EXPECT_EQ(2, Probe("decode").status);
    EXPECT_EQ(2, Probe("decode " + File() + " --depth 8").status);
    EXPECT_EQ(2, Probe("decode " + File() + " --chunk 0").status);
    EXPECT_EQ(2, Probe("decode " + File() + " --bogus").status);
    EXPECT_EQ(1, Probe("decode " + (directory / "missing").string()).status);
    EXPECT_EQ(1, Probe("decode " + File() + " --out " + (directory / "missing").string()).status);
    const Result help = Probe("decode --help");
    EXPECT_EQ(0, help.status);
    ASSERT_FALSE(help.lines.empty());
    EXPECT_EQ(0u, help.lines[0].find("Usage: tavix-probe decode FILE"));
}

TEST_F(ProbeDecodeTest, AStreamWithNothingToDecodeEndsWithNoPictures) {
    // MPEG-4 Visual is cut into frames but not decoded.
    test::VideoOptions options;
    options.frames = 10;
    const test::EncodedVideo mpeg4 = test::EncodeMpeg4(options);
    const std::string file = (directory / "stream.m4v").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(mpeg4.bytes.data()),
               static_cast<std::streamsize>(mpeg4.bytes.size()));
    const Result run = Probe("decode " + file + " --framemd5");
    EXPECT_EQ(0, run.status);
    ASSERT_EQ(1u, run.lines.size());
    EXPECT_EQ(0u, run.lines[0].find("pictures 0")) << run.lines[0];
}

}  // namespace
}  // namespace tavix

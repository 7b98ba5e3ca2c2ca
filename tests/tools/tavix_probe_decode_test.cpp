// tavix-probe decode run as a program: real H.264 from libx264 and MPEG-4 Visual from FFmpeg's
// mpeg4 encoder in every container that carries them, and what the decoder makes of it: the
// pictures libavcodec itself makes of the elementary stream, at every display depth.
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
#include "tests/support/stream_writers.h"
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

// Every picture as the decoder should convert it at `bits` per pixel, stored as it stores them:
// libavcodec's own pictures of the elementary stream, converted by the program's conversions.
std::vector<std::vector<uint8_t>> Converted(const test::EncodedVideo& video, int bits,
                                            bool h264 = true, int width = kWidth,
                                            int height = kHeight) {
    std::vector<std::vector<uint8_t>> pictures;
    for (const std::vector<uint8_t>& yuv : test::ReferenceDecode(video, h264)) {
        const uint8_t* y = yuv.data();
        const uint8_t* u = y + width * height;
        const uint8_t* v = u + width * height / 4;
        std::vector<uint8_t> picture(width * height * (bits / 8));
        if (bits == 16)
            ConvertTo565(width, height, y, picture.data());
        else if (bits == 24)
            ConvertTo24(picture.data(), width, y, u, v, width, width / 2, width, -height);
        else
            ConvertTo32(picture.data(), width, y, u, v, width, width / 2, width, -height);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

// "WIDTHxHEIGHT MD5" of every picture as the decoder should convert it.
std::vector<std::string> ExpectedLines(const test::EncodedVideo& video, int bits, bool h264 = true,
                                       int width = kWidth, int height = kHeight) {
    std::vector<std::string> lines;
    for (const std::vector<uint8_t>& picture : Converted(video, bits, h264, width, height)) {
        uint8_t digest[16];
        av_md5_sum(digest, picture.data(), picture.size());
        std::string line = std::to_string(width) + "x" + std::to_string(height) + " ";
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
    // Key pictures of the third video codec (private packets 00 00 01 FE) are cut, not decoded.
    test::Bytes stream;
    uint8_t counter = 1;
    for (const test::MediaUnit& unit : test::MediaUnits(video))
        test::Append(stream, test::PrivateKeyPacket(0xFE, {}, unit.bytes, counter++));
    const std::string file = (directory / "third.bin").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
    const Result run = Probe("decode " + file + " --framemd5");
    EXPECT_EQ(0, run.status);
    ASSERT_EQ(1u, run.lines.size());
    EXPECT_EQ(0u, run.lines[0].find("pictures 0")) << run.lines[0];
}

// The device's tagged key pictures begin with their video object header and carry the frame
// rate in a user data header of the device's (its byte 7).
void AsTaggedByTheDevice(std::vector<test::MediaUnit>& units) {
    for (test::MediaUnit& unit : units) {
        if (!unit.key) continue;
        const size_t vop = test::FindStartCode(unit.bytes, 0xB6, 0, unit.bytes.size());
        unit.bytes.insert(unit.bytes.begin() + static_cast<ptrdiff_t>(vop),
                          {0, 0, 1, 0xB2, 1, 2, 3, 4, 5, 6, 25});
        const size_t object = test::FindStartCode(unit.bytes, 0x00, 0, unit.bytes.size());
        unit.bytes.erase(unit.bytes.begin(), unit.bytes.begin() + static_cast<ptrdiff_t>(object));
    }
}

TEST_F(ProbeDecodeTest, EveryContainerGivesThePicturesOfItsElementaryStream) {
    using Units = std::vector<test::MediaUnit>;
    using Info = test::PictureInfo;
    struct Case {
        const char* name;
        bool h264;
        test::Bytes (*write)(const Units&, const Info&);
        int format = kFormatNone;  // recognised
        void (*adapt)(Units&) = nullptr;
        int width = kWidth;
        int height = kHeight;
    };
    const Case cases[] = {
        {"MPEG-4 elementary stream", false,
         [](const Units& units, const Info&) {
             test::Bytes stream;  // the device's audio packets between the pictures
             for (const test::MediaUnit& u : units)
                 test::Append(stream, u.video ? u.bytes : test::PrivateAudioPacket(7, 1, u.bytes));
             return stream;
         }},
        {"MPEG-4 private packets", false,
         [](const Units& u, const Info& i) { return test::WritePrivateStream(u, i, {false}); }},
        {"MPEG-4 sequenced packets", false,
         [](const Units& u, const Info& i) { return test::WriteSequencedStream(u, i); }},
        {"MPEG-4 tagged frames", false,
         [](const Units& u, const Info&) { return test::WriteTaggedStream(u); }, kFormatTagged,
         AsTaggedByTheDevice},
        {"MPEG-4 program stream", false, test::WriteProgramStream},
        // Pictures larger than one PES packet, joined by the demultiplexer.
        {"MPEG-4 program stream, split pictures", false, test::WriteProgramStream, kFormatNone,
         nullptr, 704, 576},
        {"MPEG-4 checksummed packets", false,
         [](const Units& u, const Info& i) { return test::WriteChecksummedStream(u, i, 1); }},
        {"MPEG-4 AVI", false, [](const Units& u, const Info& i) { return test::WriteAvi(u, i); }},
        {"H.264 program stream", true, test::WriteProgramStream},
        {"H.264 ASF", true, [](const Units& u, const Info& i) { return test::WriteAsf(u, i); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::VideoOptions options;
        options.width = c.width;
        options.height = c.height;
        options.frames = 20;
        options.bitRate = c.width > kWidth ? 60000000 : 400000;
        const test::EncodedVideo encoded =
            c.h264 ? test::EncodeH264(options) : test::EncodeMpeg4(options);
        Units units = test::MediaUnits(encoded, 3);
        if (c.adapt) c.adapt(units);
        test::EncodedVideo stream;  // the elementary stream the container carries
        for (const test::MediaUnit& unit : units) {
            if (!unit.video) continue;
            stream.frames.push_back({stream.bytes.size(), unit.bytes.size(), unit.key, 0});
            test::Append(stream.bytes, unit.bytes);
        }
        const test::Bytes bytes = c.write(units, {c.width, c.height, 25, {}});
        const std::string file = (directory / "container.bin").string();
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        Result run = Probe("decode " + file + " --framemd5 --format " + std::to_string(c.format));
        ASSERT_EQ(0, run.status);
        ASSERT_FALSE(run.lines.empty());
        run.lines.pop_back();  // the summary
        const std::vector<std::string> expected =
            ExpectedLines(stream, 32, c.h264, c.width, c.height);
        // The last picture ends only where a next one would begin.
        ASSERT_GE(run.lines.size() + 1, expected.size());
        ASSERT_LE(run.lines.size(), expected.size());
        for (size_t i = 0; i < run.lines.size(); ++i)
            EXPECT_EQ(expected[i], run.lines[i]) << "picture " << i;
    }
}

}  // namespace
}  // namespace tavix

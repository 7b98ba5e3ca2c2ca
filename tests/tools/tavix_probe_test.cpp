// tavix-probe run as a program on files made by a real encoder; its output read back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/md5.h>
}

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/stream_writers.h"
#include "tests/support/test_video.h"

namespace tavix {
namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

class ProbeTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        directory = new fs::path(fs::temp_directory_path() /
                                 ("tavix_probe_test_" + std::to_string(getpid())));
        fs::create_directories(*directory);
        test::VideoOptions options;
        options.frames = 20;
        options.keyInterval = 8;
        options.firstSecond = 45296;  // 12:34:56
        video = new test::EncodedVideo(test::EncodeMpeg4(options));
        std::ofstream file(*directory / "stream.m4v", std::ios::binary);
        file.write(reinterpret_cast<const char*>(video->bytes.data()),
                   static_cast<std::streamsize>(video->bytes.size()));
    }
    static void TearDownTestSuite() {
        fs::remove_all(*directory);
        delete directory;
        delete video;
    }

    static std::string File() { return (*directory / "stream.m4v").string(); }

    static Result Probe(const std::string& arguments) {
        std::string errFile = (*directory / "stderr.txt").string();
        std::string command = std::string(TAVIX_PROBE) + " " + arguments + " 2>" + errFile;
        Result run;
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return run;
        char block[4096];
        for (size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;)
            run.out.append(block, n);
        int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(errFile);
        run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
        return run;
    }

    static std::string Md5(size_t frame) {
        const test::EncodedFrame& f = video->frames[frame];
        uint8_t digest[16];
        av_md5_sum(digest, video->bytes.data() + f.offset, f.size);
        char hex[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        return hex;
    }

    static fs::path* directory;
    static test::EncodedVideo* video;
};

fs::path* ProbeTest::directory = nullptr;
test::EncodedVideo* ProbeTest::video = nullptr;

// The value of "key" in a one-line JSON object, as written (strings keep their quotes).
std::string Field(const std::string& line, const std::string& key) {
    std::string name = "\"" + key + "\":";
    size_t at = line.find(name);
    if (at == std::string::npos) return "";
    at += name.size();
    size_t end = line.find_first_of(",}", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The keys of a flat one-line JSON object, in order.
std::vector<std::string> Keys(const std::string& line) {
    std::vector<std::string> keys;
    for (size_t at = line.find('"'); at != std::string::npos; at = line.find('"', at + 1)) {
        size_t end = line.find('"', at + 1);
        if (end == std::string::npos) break;
        if (end + 1 < line.size() && line[end + 1] == ':')
            keys.push_back(line.substr(at + 1, end - at - 1));
        at = end;
    }
    return keys;
}

TEST_F(ProbeTest, JsonLinesCarryTheFrameRecordOfEveryPicture) {
    Result run = Probe("inspect " + File() + " --format 1 --json --md5");
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<std::string> lines = run.Lines();
    ASSERT_EQ(20u, lines.size()) << "19 complete pictures (the last one stays open), a summary";
    const std::vector<std::string> keys = {
        "index",     "format",  "kind",         "dependent",     "codec",         "year",
        "month",     "day",     "hour",         "minute",        "second",        "timeOfDay",
        "frameRate", "width",   "height",       "channels",      "bitsPerSample", "sampleRate",
        "attribute", "variant", "packetLength", "payloadLength", "payloadMd5"};
    for (size_t i = 0; i < 19; ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE(line);
        EXPECT_EQ(keys, Keys(line));
        EXPECT_EQ(std::to_string(i), Field(line, "index"));
        EXPECT_EQ("1", Field(line, "format"));
        EXPECT_EQ("1", Field(line, "kind"));
        EXPECT_EQ(video->frames[i].key ? "0" : "1", Field(line, "dependent"));
        EXPECT_EQ(std::to_string(video->frames[i].size), Field(line, "payloadLength"));
        EXPECT_EQ("\"" + Md5(i) + "\"", Field(line, "payloadMd5"));
        if (video->frames[i].key) {
            EXPECT_EQ("176", Field(line, "width"));
            EXPECT_EQ("144", Field(line, "height"));
            EXPECT_EQ("25", Field(line, "frameRate"));
            EXPECT_EQ("45296", Field(line, "timeOfDay"));
        }
    }
    EXPECT_EQ("19", Field(lines[19], "frames"));
    EXPECT_EQ("19", Field(lines[19], "video"));
    EXPECT_EQ("3", Field(lines[19], "keyFrames"));
    EXPECT_EQ(std::to_string(video->bytes.size()), Field(lines[19], "bytes"));
}

TEST_F(ProbeTest, ChunkSizeDoesNotChangeThePictures) {
    auto pictures = [](const Result& run) {
        std::vector<std::string> seen;
        for (const std::string& line : run.Lines())
            seen.push_back(Field(line, "dependent") + Field(line, "payloadMd5"));
        return seen;
    };
    Result reference = Probe("inspect " + File() + " --format 1 --json --md5");
    for (const char* chunk : {"1", "7", "188", "65536"}) {
        Result run = Probe("inspect " + File() + " --format=1 --json --md5 --chunk " + chunk);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_EQ(pictures(reference), pictures(run)) << "chunks of " << chunk;
    }
}

TEST_F(ProbeTest, TableHasAHeadALineAPictureAndASummary) {
    Result run = Probe("inspect --format 1 " + File());
    ASSERT_EQ(0, run.status) << run.err;
    std::vector<std::string> lines = run.Lines();
    ASSERT_EQ(21u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("payload"));
    EXPECT_NE(std::string::npos, lines[1].find("176x144"));
    EXPECT_NE(std::string::npos, lines[1].find("12:34:56"));
    EXPECT_NE(std::string::npos, lines[1].find("key"));
    EXPECT_EQ(lines[1].size(), lines[2].size()) << "aligned columns";
    EXPECT_EQ(0u, lines[20].find("19 frames: 19 video (3 key)")) << lines[20];
}

TEST_F(ProbeTest, MistakesGetAClearMessageAndTheirExitStatus) {
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    } cases[] = {
        {"", 2, "Usage"},
        {"frobnicate", 2, "unknown command"},
        {"inspect", 2, "no FILE"},
        {"inspect " + File() + " --chunk 0", 2, "bad value '0' for --chunk"},
        {"inspect " + File() + " --chunk 600000", 2, "bad value"},
        {"inspect " + File() + " --chunk", 2, "--chunk needs a value"},
        {"inspect " + File() + " --format mp4", 2, "bad value 'mp4' for --format"},
        {"inspect " + File() + " --bogus", 2, "unknown option '--bogus'"},
        {"inspect " + File() + " " + File(), 2, "only one FILE"},
        {"inspect /nonexistent/stream.m4v", 1, "cannot open /nonexistent/stream.m4v"},
        {"inspect " + File() + " --format 7", 1, "no parser"},
    };
    for (const Case& c : cases) {
        Result run = Probe(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << c.arguments << ": " << run.err;
    }
}

// Every container the recorder may send, as the test writers wrap real pictures in it: inspect
// recognises it by itself and lists its frames.
TEST_F(ProbeTest, RecognisesEveryFormatByItself) {
    test::VideoOptions options;
    options.frames = 20;
    options.keyInterval = 8;
    const auto h264 = test::MediaUnits(test::EncodeH264(options), 4, 320);
    const auto mpeg4 = test::MediaUnits(*video, 4, 320);
    std::vector<uint8_t> elementary;
    for (const test::MediaUnit& unit : mpeg4)
        test::Append(elementary,
                     unit.video ? unit.bytes : test::PrivateAudioPacket(7, 4, unit.bytes));
    std::vector<uint8_t> audioOnly;
    for (uint8_t i = 0; i < 40; ++i)
        test::Append(audioOnly, test::PrivateAudioPacket(14, 2, test::AudioBlock(320, i)));
    test::PictureInfo info;
    struct Case {
        const char* file;
        std::vector<uint8_t> bytes;
        int format;
        int video, keys, audio;
        int damaged = 0;  // the AVI index's "01wb" entries cut empty frames of other data
    } cases[] = {
        {"private.bin", test::WritePrivateStream(h264, info), 4, 20, 3, 5},
        {"sequenced.bin", test::WriteSequencedStream(mpeg4, info), 5, 19, 3, 5},
        {"ps.mpg", test::WriteProgramStream(h264, info), 7, 20, 3, 5},
        {"checksummed.bin", test::WriteChecksummedStream(h264, info), 8, 20, 3, 5},
        {"recording.asf", test::WriteAsf(h264, info), 9, 20, 3, 5},
        {"recording.avi", test::WriteAvi(mpeg4, info), 1, 20, 3, 5, 4},
        {"elementary.m4v", elementary, 1, 20, 3, 4},
        {"audio.bin", audioOnly, 6, 0, 0, 40},
    };
    for (const Case& c : cases) {
        std::string path = (*directory / c.file).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.bytes.data()),
                   static_cast<std::streamsize>(c.bytes.size()));
        Result run = Probe("inspect " + path + " --json --md5");
        ASSERT_EQ(0, run.status) << c.file << ": " << run.err;
        std::vector<std::string> lines = run.Lines();
        ASSERT_FALSE(lines.empty()) << c.file;
        const std::string& summary = lines.back();
        EXPECT_EQ(std::to_string(c.format), Field(summary, "format")) << c.file;
        EXPECT_EQ(std::to_string(c.video), Field(summary, "video")) << c.file;
        EXPECT_EQ(std::to_string(c.keys), Field(summary, "keyFrames")) << c.file;
        EXPECT_EQ(std::to_string(c.audio), Field(summary, "audio")) << c.file;
        EXPECT_EQ(std::to_string(c.damaged), Field(summary, "damaged")) << c.file;
        EXPECT_EQ("0", Field(summary, "refused")) << c.file;
    }
}

TEST_F(ProbeTest, HelpDescribesCommandsAndOptions) {
    Result program = Probe("--help");
    EXPECT_EQ(0, program.status);
    EXPECT_NE(std::string::npos, program.out.find("inspect"));
    Result inspect = Probe("inspect --help");
    EXPECT_EQ(0, inspect.status);
    for (const char* option : {"--chunk", "--format", "--json", "--md5", "Exit status"})
        EXPECT_NE(std::string::npos, inspect.out.find(option)) << option;
}

}  // namespace
}  // namespace tavix

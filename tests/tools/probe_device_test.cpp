// tavix-probe's device commands run as a user runs them, against tavix-sim on an ephemeral
// port: their output, their exit codes and what the simulator says they sent.
#include <gtest/gtest.h>

#include <fstream>

#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavutil/md5.h>
}

#include <QImage>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/sim_process.h"
#include "tools/sim/test_pattern.h"

namespace tavix {
namespace {

struct ProbeRun {
    int status = -1;  // exit status
    std::string output;
    std::vector<SimLine> lines;  // the output read as JSON lines
};

ProbeRun Probe(const std::string& arguments) {
    std::string command = std::string(TAVIX_PROBE) + " " + arguments + " 2>&1";
    ProbeRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    char piece[4096];
    size_t got;
    while (pipe != nullptr && (got = std::fread(piece, 1, sizeof piece, pipe)) > 0)
        run.output.append(piece, got);
    int status = pipe != nullptr ? pclose(pipe) : -1;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    size_t at = 0;
    for (size_t end; (end = run.output.find('\n', at)) != std::string::npos; at = end + 1)
        run.lines.push_back(ParseSimLine(run.output.substr(at, end - at)));
    return run;
}

std::string Device(const SimProcess& sim, const std::string& password = "702914") {
    return "127.0.0.1 " + std::to_string(sim.Port()) + " admin " + password;
}

TEST(ProbeChannels, ListsTheChannelsAsJsonWithNamesReadAsUtf8) {
    // Channel 2's name is not UTF-8 (cp1254 "Çatı"): each such byte becomes U+FFFD.
    SimProcess sim({"--channels", "3", "--name", "1=大厅", "--name",
                    "2=\xC7"
                    "at\xFD"});
    ProbeRun run = Probe("channels " + Device(sim) + " --json");
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_EQ(
        "{\"login\": 0, \"channelCount\": 3, \"list\": 0, \"channels\": ["
        "{\"index\": 0, \"number\": 0, \"name\": \"Front door\"}, "
        "{\"index\": 1, \"number\": 1, \"name\": \"大厅\"}, "
        "{\"index\": 2, \"number\": 2, \"name\": \"\xEF\xBF\xBD"
        "at\xEF\xBF\xBD\"}]}\n",
        run.output);
    // It logged out: the control connection was closed by the client.
    EXPECT_TRUE(sim.WaitFor(
        [](const SimLine& l) { return l.Is("event", "closed") && l.Is("by", "client"); }));
}

struct ExitCase {
    std::string arguments;  // after the command name; DEVICE stands for the simulator
    int status;
    std::string says;  // a part of the output
};

TEST(ProbeCommands, ExitCodesTellWhatWentWrong) {
    SimProcess sim({"--channels", "2", "--media", "0=/etc/hostname"});
    std::string device = Device(sim);
    // A port where nothing listens: the simulator's own, after it is gone.
    uint16_t closedPort = 0;
    {
        SimProcess gone;
        closedPort = gone.Port();
    }
    // A password read from standard input never stands on the command line.
    const std::string passwordFile =
        testing::TempDir() + "tavix_password_" + std::to_string(getpid());
    std::ofstream(passwordFile) << "702914\n";
    const std::string fromInput =
        "127.0.0.1 " + std::to_string(sim.Port()) + " admin - < " + passwordFile;
    const ExitCase cases[] = {
        {"channels " + fromInput, 0, "login: 0"},
        {"channels", 2, "HOST PORT USER PASSWORD"},
        {"channels 127.0.0.1 0 admin x", 2, "bad PORT"},
        {"play " + device, 2, "CHANNEL"},
        {"play " + device + " 0,1,0", 2, "CHANNEL"},
        {"play " + device + " 0 --depth 8", 2, "--depth"},
        {"play " + device + " 0 --seconds soon", 2, "--seconds"},
        {"ptz " + device + " 0 sideways", 2, "ACTION"},
        {"channels " + Device(sim, "wrong"), 3, "login: 4098"},
        {"play " + Device(sim, "wrong") + " 0", 3, "login: 4098"},
        {"channels 127.0.0.1 " + std::to_string(closedPort) + " admin x", 3, "login: 4106"},
        // Channel 2 of 2 is out of range: the stream result is 4113.
        {"play " + device + " 2 --seconds 3", 4, "status: OPEN_ERR"},
        {"ptz " + device + " 2 up", 4, "code 4113"},
        // Channel 1 has no media: no picture comes.
        {"play " + device + " 1 --seconds 0.5", 5, "pictures: 0"},
    };
    for (const ExitCase& c : cases) {
        ProbeRun run = Probe(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.says)) << c.arguments << "\n" << run.output;
    }
}

TEST(ProbePtz, SendsTheActionsWireCodeBetweenOpenAndClose) {
    SimProcess sim;
    ProbeRun run = Probe("ptz " + Device(sim) + " 3 focus-minus");
    EXPECT_EQ(0, run.status) << run.output;
    auto ptz = sim.WaitForRequests("ptz", 1);
    ASSERT_EQ(1u, ptz.size());
    EXPECT_EQ(3, ptz[0].Number("channel"));
    EXPECT_EQ(8, ptz[0].Number("code"));  // action 7, focus minus
    auto streams = sim.WaitForRequests("stream", 2);
    ASSERT_EQ(2u, streams.size());
    EXPECT_EQ(1, streams[0].Number("operate"));
    EXPECT_EQ(0, streams[1].Number("operate"));
}

TEST(ProbePlay, WithReconnectAStalledChannelComesBackByItself) {
    // The device closes the media connection a second after the login; 5 s without media
    // later the client reopens the channel.
    SimProcess sim({"--drop-media-after", "1"});
    ProbeRun run = Probe("play " + Device(sim) + " 0 --seconds 9 --json --reconnect");
    EXPECT_EQ(0, run.status) << run.output;
    std::vector<std::string> events;
    for (const SimLine& line : run.lines)
        if (line.Is("event", "reconnecting") || line.Is("event", "reconnected") ||
            line.Is("event", "back"))
            events.push_back(line.Get("event") + " " + line.Get("channel") + line.Get("reason"));
    EXPECT_EQ((std::vector<std::string>{"reconnecting 0stalled", "reconnected 0", "back "}), events)
        << run.output;
    const SimLine& summary = run.lines.back();
    EXPECT_EQ(1, summary.Number("outages"));
    EXPECT_EQ(summary.Number("threadsAtFirstPicture"), summary.Number("threadsAtEnd"));
}

TEST(ProbePlay, SubStreamsSwitchToMainAndADeviceWithoutThemFallsBack) {
    // Channel 0's main stream is D1, its sub stream CIF; channel 1 has no sub stream.
    SimProcess sim(
        {"--channels", "2", "--size", "0=704x576", "--size", "1=352x288", "--no-sub", "1"});
    ProbeRun run = Probe("play " + Device(sim) + " 0,1 --seconds 6 --json --stream sub --switch 4");
    EXPECT_EQ(0, run.status) << run.output;
    std::vector<std::string> events;
    for (const SimLine& line : run.lines)
        if (line.Is("event", "fallback") || line.Is("event", "switched"))
            events.push_back(line.Get("event") + " " + line.Get("channel") + " " +
                             line.Get("streamType") + " " + line.Get("width"));
    std::sort(events.begin(), events.end());
    EXPECT_EQ((std::vector<std::string>{"fallback 1 1 ", "switched 0 1 704", "switched 1 1 352"}),
              events)
        << run.output;
    // Each stream on a media connection of its own; channel 1 plays main already at the switch.
    EXPECT_EQ(4u, sim.Requests("announce").size());
}

TEST(ProbePlay, ChannelsOfTwoRecordersPlayThroughAClientEach) {
    SimProcess first({"--channels", "1", "--size", "0=352x288"});
    SimProcess second({"--channels", "2", "--size", "1=352x288"});
    ProbeRun run = Probe("play " + Device(first) + " 0 --seconds 3 --json --also 127.0.0.1:" +
                         std::to_string(second.Port()) + ":admin:702914:1");
    EXPECT_EQ(0, run.status) << run.output;
    std::vector<std::string> summaries;
    for (const SimLine& line : run.lines)
        if (line.Is("event", "summary") && line.Number("pictures") > 0)
            summaries.push_back(line.Get("recorder") + "/" + line.Get("channel"));
    EXPECT_EQ((std::vector<std::string>{"0/0", "1/1"}), summaries) << run.output;
    EXPECT_EQ(1u, first.Requests("login").size());
    EXPECT_EQ(1u, second.Requests("login").size());
    EXPECT_EQ(2, Probe("play " + Device(first) + " 0 --also 127.0.0.1:1:admin").status);
}

struct Colour {
    int r;
    int g;
    int b;
};

// The mean colour of the 7 x 7 pixels around (x, y) of an upright image.
Colour Mean(const QImage& image, int x, int y) {
    Colour sum{0, 0, 0};
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx) {
            QRgb pixel = image.pixel(x + dx, y + dy);
            sum.r += qRed(pixel);
            sum.g += qGreen(pixel);
            sum.b += qBlue(pixel);
        }
    return {sum.r / 49, sum.g / 49, sum.b / 49};
}

bool Near(const sim::Rgb& want, const Colour& got, int tolerance) {
    return std::abs(want.r - got.r) <= tolerance && std::abs(want.g - got.g) <= tolerance &&
           std::abs(want.b - got.b) <= tolerance;
}

std::string Md5Hex(const uint8_t* bytes, size_t length) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes, length);
    char hex[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

struct DepthCase {
    int depth;
    int tolerance;  // 16 bits read luma as full range and keep 5 or 6 bits per colour
    // As given to play: the first is followed in full, the others by their summary.
    std::string channels = "0";
};

TEST(ProbePlay, ReportsAsTheLiveViewWouldAndSavesTheLastPictureUpright) {
    // H.264 on channel 0, MPEG-4 Visual on channels 1 and 2.
    SimProcess sim({"--format", "0=checksummed", "--format", "1=sequenced", "--codec", "1=mpeg4",
                    "--format", "2=ps", "--codec", "2=mpeg4"});
    for (DepthCase c :
         {DepthCase{32, 24}, DepthCase{24, 24}, DepthCase{16, 40}, DepthCase{32, 24, "1"},
          DepthCase{32, 24, "2"}, DepthCase{32, 24, "2,0,1"}}) {
        SCOPED_TRACE(std::to_string(c.depth) + " bits, channel " + c.channels);
        std::string snapshot = testing::TempDir() + "tavix_probe_" + std::to_string(getpid()) +
                               "_" + std::to_string(c.depth) + c.channels + ".png";
        ProbeRun run =
            Probe("play " + Device(sim) + " " + c.channels + " --seconds 2 --json --depth " +
                  std::to_string(c.depth) + " --snapshot " + snapshot);
        ASSERT_EQ(0, run.status) << run.output;

        // The live view's texts in its order, then the summary last; with several channels each
        // line of a channel names it, every channel has its summary, the client's line is last.
        std::string first = c.channels.substr(0, c.channels.find(','));
        bool several = first != c.channels;
        std::vector<std::string> statuses;
        std::vector<SimLine> pictures;
        std::vector<SimLine> summaries;
        for (const SimLine& line : run.lines) {
            if (line.Is("event", "summary")) summaries.push_back(line);
            if (several && line.Get("channel") != first) continue;
            if (line.Is("event", "status")) statuses.push_back(line.Get("text"));
            if (line.Is("event", "picture")) pictures.push_back(line);
        }
        ASSERT_GE(statuses.size(), 4u);
        EXPECT_EQ("OPENING_V", statuses[0]);
        EXPECT_EQ("BUFFERING", statuses[1]);
        EXPECT_EQ("PLAYING", statuses[2]);
        EXPECT_EQ("STOP", statuses.back());
        ASSERT_TRUE(run.lines[0].Is("event", "login"));
        EXPECT_EQ(0, run.lines[0].Number("code"));
        EXPECT_EQ(4, run.lines[0].Number("channelCount"));
        ASSERT_EQ(several ? "client" : "summary", run.lines.back().Get("event")) << run.output;
        EXPECT_NE("", run.lines.back().Get("clientCpuMsPerSecond"));
        ASSERT_EQ(static_cast<size_t>(std::count(c.channels.begin(), c.channels.end(), ',')) + 1,
                  summaries.size());
        EXPECT_EQ(static_cast<int64_t>(pictures.size()), summaries[0].Number("pictures"));
        for (const SimLine& summary : summaries) {
            // Pictures flow; how many in 2 s is a speed figure, and a sanitizer build sharing
            // two cores with other tests decodes three channels slower than they come.
            EXPECT_GE(summary.Number("pictures"), 10);
            EXPECT_EQ(352, summary.Number("width"));
            EXPECT_GT(summary.Number("stamped"), 0);
            EXPECT_EQ(0, summary.Number("framesLost"));
            EXPECT_EQ(0, summary.Number("refusedChunks"));
            EXPECT_GT(summary.Number("bytes"), 10000);
        }

        // The snapshot is the last picture, upright: bars above the grey steps, white left.
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString(snapshot)));
        ASSERT_EQ(352, image.width());
        ASSERT_EQ(288, image.height());
        for (int i = 0; i < 8; ++i) {
            int x = (2 * i + 1) * 352 / 16;
            EXPECT_TRUE(
                Near(sim::kBarColours[static_cast<size_t>(i)], Mean(image, x, 108), c.tolerance))
                << "bar " << i;
            uint8_t grey = sim::kGreySteps[static_cast<size_t>(i)];
            EXPECT_TRUE(Near({grey, grey, grey}, Mean(image, x, 225), c.tolerance)) << i;
        }
        // Its bytes as the decoder stored them (32 bits: BGRA, bottom row first) are the
        // bytes the last picture line hashed.
        if (c.depth == 32) {
            QImage stored = image.convertToFormat(QImage::Format_RGB32).mirrored(false, true);
            EXPECT_EQ(pictures.back().Get("md5"),
                      Md5Hex(stored.constBits(), static_cast<size_t>(stored.sizeInBytes())));
        }
        std::remove(snapshot.c_str());
    }

    // As a tile shows them: each converted into an image of 176 x 144 as it is decoded.
    ProbeRun screen = Probe("play " + Device(sim) + " 0 --seconds 2 --json --screen 176x144");
    ASSERT_EQ(0, screen.status) << screen.output;
    const SimLine& summary = screen.lines.back();
    ASSERT_TRUE(summary.Is("event", "summary")) << screen.output;
    EXPECT_GE(summary.Number("pictures"), 10);
    EXPECT_EQ(352, summary.Number("width"));
    EXPECT_EQ(summary.Number("pictures"), summary.Number("stamped"));
    EXPECT_EQ(0, summary.Number("framesLost"));
    EXPECT_NE("", summary.Get("decodeMsMean"));
}

}  // namespace
}  // namespace tavix

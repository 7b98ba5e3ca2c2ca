// tavix-probe play: logs in, opens a channel and takes its pictures on the live view's 33 ms
// tick, printing the status changes the live view would show and a summary with the figures
// of the run. Pictures of tavix-sim carry a stamp (frame number, capture time) from which the
// summary also counts lost frames and the delay from capture to display.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include <QImage>
#include <QString>

#include "client/device_client.h"
#include "platform/thread.h"
#include "tools/sim/frame_stamp.h"
#include "tools/sim/json_line.h"
#include "tools/tavix-probe/commands.h"
#include "tools/tavix-probe/device_command.h"
#include "tools/tavix-probe/event_queue.h"

namespace tavix::probe {
namespace {

using sim::JsonLine;

constexpr int kTickMs = 33;
constexpr int kStreamType = 1;

struct PlayOptions {
    DeviceArguments device;
    int channel = 0;
    double seconds = 5;
    int depth = 32;
    std::string snapshot;
    bool json = false;
};

void PrintHelp() {
    std::printf(
        "Usage: tavix-probe play HOST PORT USER PASSWORD CHANNEL [--seconds S]\n"
        "                        [--depth 16|24|32] [--snapshot FILE.png] [--json]\n"
        "\n"
        "Logs in, opens CHANNEL (0-based) with stream type 1 and takes its pictures on a 33 ms\n"
        "tick, as the live view does, for S seconds from the open. Prints the status texts the\n"
        "live view would show (OPENING_V, BUFFERING, PLAYING, STOP, OPEN_ERR) and a summary:\n"
        "pictures shown, their size, pictures per second, the time from the stream result to\n"
        "the first picture, media bytes received and chunks the decoder refused. Pictures that\n"
        "carry tavix-sim's frame stamp add the frames lost and the delay from capture to the\n"
        "tick; the CPU time of the client's threads per second played is given too.\n"
        "\n"
        "Options:\n"
        "  --seconds S     how long to play (default 5)\n"
        "  --depth BITS    the display's bits per pixel: 16, 24 or 32 (default)\n"
        "  --snapshot FILE save the last picture, upright, as PNG\n"
        "  --json          one JSON object per line: {\"event\":\"login\",...}, \"stream\",\n"
        "                  \"status\" (text), \"picture\" (width, height, md5 of the picture's\n"
        "                  bytes as the decoder gave them; frame and delayMs when stamped),\n"
        "                  \"disconnected\", and last \"summary\"\n"
        "  --help          show this help\n"
        "\n"
        "Exit status: 0 pictures were shown, 1 the snapshot could not be written, 2 usage\n"
        "error, 3 login refused or failed (the code is printed), 4 the channel could not be\n"
        "opened, 5 no picture within the time asked for, 6 the device dropped the session.\n");
}

int64_t CpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return (int64_t{usage.ru_utime.tv_sec} + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// Brightness of the upright picture's pixel (x, y) at the decoder's depth and row order.
int Brightness(const uint8_t* picture, int width, int height, int depth, int x, int y) {
    if (depth == 16) {
        const uint8_t* p = picture + (static_cast<size_t>(y) * width + x) * 2;
        int pixel = p[0] | p[1] << 8;
        return ((pixel >> 11 << 3) + ((pixel >> 5 & 63) << 2) + ((pixel & 31) << 3)) / 3;
    }
    int bytes = depth / 8;
    const uint8_t* p = picture + (static_cast<size_t>(height - 1 - y) * width + x) * bytes;
    return (p[0] + p[1] + p[2]) / 3;
}

bool SavePng(const std::vector<uint8_t>& picture, int width, int height, int depth,
             const std::string& path) {
    QImage::Format format = depth == 16   ? QImage::Format_RGB16
                            : depth == 24 ? QImage::Format_BGR888
                                          : QImage::Format_RGB32;
    QImage image(picture.data(), width, height, width * (depth / 8), format);
    // 24- and 32-bit pictures are stored bottom row first.
    if (depth != 16) image = image.mirrored(false, true);
    return image.save(QString::fromStdString(path), "PNG");
}

class Player {
  public:
    Player(const PlayOptions& options, DeviceClient& client, EventQueue& events)
        : options(options),
          client(client),
          events(events),
          decoder(client.Decoder(options.channel)) {}

    int Run();

  private:
    void Status(const char* key);
    // An event with two numbers: a JSON line, or "name: key1 value1, key2 value2".
    void Report(const char* name, const char* key1, int value1, const char* key2, int value2);
    // One tick of the live view: takes the ready picture, if any, and gives it back.
    void Tick();
    // Handles one event; false when the run must end.
    bool Handle(const ProbeEvent& event);
    void Summary();

    const PlayOptions& options;
    DeviceClient& client;
    EventQueue& events;
    CDecoder& decoder;

    int bufferingShown = 1;
    bool openFailed = false;
    bool disconnected = false;
    int64_t streamAtMs = -1;
    int64_t firstPictureAtMs = -1;
    int64_t lastPictureAtMs = -1;
    int64_t pictures = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> lastPicture;  // with --snapshot only
    int64_t bytesAtStart = 0;
    int64_t refusedAtStart = 0;
    int64_t processCpuAtStream = 0;
    int64_t mainCpuAtStream = 0;
    // Over the time played, from the stream result to the end of the ticks.
    int64_t playedMs = 0;
    int64_t clientCpuMs = 0;  // every thread but the probe's own: client and decoding threads
    int64_t probeCpuMs = 0;   // the probe's thread: ticks, hashes, output
    // From the stamps.
    int64_t stamped = 0;
    std::set<uint32_t> frames;
    std::vector<int64_t> delays;
};

void Player::Report(const char* name, const char* key1, int value1, const char* key2, int value2) {
    if (options.json)
        JsonLine("event", name).Number(key1, value1).Number(key2, value2).Print();
    else
        std::printf("%s: %s %d, %s %d\n", name, key1, value1, key2, value2);
}

void Player::Status(const char* key) {
    if (options.json)
        JsonLine("event", "status").Text("text", key).Print();
    else
        std::printf("status: %s\n", key);
}

bool Player::Handle(const ProbeEvent& event) {
    if (event.kind == ProbeEvent::kDisconnected) {
        Report("disconnected", "code", event.code, "detail", event.value);
        disconnected = true;
        return false;
    }
    if (event.kind != ProbeEvent::kStream || event.value != options.channel) return true;
    Report("stream", "channel", event.value, "code", event.code);
    if (event.code != 0) {
        Status("OPEN_ERR");
        openFailed = true;
        return false;
    }
    bufferingShown = 1;
    Status("BUFFERING");
    streamAtMs = MonotonicMs();
    processCpuAtStream = CpuMs(RUSAGE_SELF);
    mainCpuAtStream = CpuMs(RUSAGE_THREAD);
    return true;
}

void Player::Tick() {
    int pictureWidth = 0;
    int pictureHeight = 0;
    int flag = bufferingShown;
    const uint8_t* picture = decoder.GetPicture(pictureWidth, pictureHeight, flag);
    if (flag != bufferingShown) {
        Status(flag == kStatusBuffering ? "BUFFERING" : "PLAYING");
        bufferingShown = flag;
    }
    if (picture == nullptr || pictureWidth <= 0 || pictureHeight <= 0) return;
    int64_t now = MonotonicMs();
    if (firstPictureAtMs < 0) firstPictureAtMs = now;
    lastPictureAtMs = now;
    ++pictures;
    width = pictureWidth;
    height = pictureHeight;
    const size_t bytes = static_cast<size_t>(width) * height * (options.depth / 8);

    sim::FrameStamp stamp;
    bool hasStamp = sim::ReadStamp(
        width, height,
        [&](int x, int y) { return Brightness(picture, width, height, options.depth, x, y); },
        stamp);
    int64_t delay = 0;
    if (hasStamp) {
        ++stamped;
        frames.insert(stamp.frameNumber);
        delay = (static_cast<uint32_t>(now) - stamp.captureMs) & sim::kStampTimeMask;
        delays.push_back(delay);
    }
    if (options.json) {
        uint8_t digest[16];
        av_md5_sum(digest, picture, bytes);
        char hex[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        JsonLine line("event", "picture");
        line.Number("width", width).Number("height", height).Text("md5", hex);
        if (hasStamp) line.Number("frame", stamp.frameNumber).Number("delayMs", delay);
        line.Print();
    }
    if (!options.snapshot.empty()) lastPicture.assign(picture, picture + bytes);
    decoder.ReleasePicture();
}

int Player::Run() {
    decoder.SetDisplayBits(options.depth);
    const DeviceArguments& device = options.device;
    client.Login(device.host, device.port, device.user, device.password, kLoginTimeoutMs);
    ProbeEvent login;
    bool answered = events.Await(ProbeEvent::kLogin, kLoginWaitMs, login);
    int loginCode = answered && login.kind == ProbeEvent::kLogin ? login.code : -1;
    if (options.json)
        JsonLine("event", "login")
            .Number("code", loginCode)
            .Number("channelCount", answered ? login.value : 0)
            .Print();
    else
        std::printf("login: %d, %d channels\n", loginCode, answered ? login.value : 0);
    if (loginCode != 0) return kExitLogin;

    bytesAtStart = client.MediaBytes(options.channel);
    refusedAtStart = client.RefusedChunks(options.channel);
    client.OpenChannel(options.channel, kStreamType);
    Status("OPENING_V");
    const int64_t start = MonotonicMs();
    const int64_t end = start + static_cast<int64_t>(options.seconds * 1000);
    // The tick keeps its 33 ms period; events are handled as they come in between.
    for (int64_t nextTick = start; nextTick < end; nextTick += kTickMs) {
        bool go = true;
        ProbeEvent event;
        while (go && events.Take(event, nextTick))
            go = Handle(event);
        if (!go) break;
        Tick();
    }
    if (streamAtMs >= 0) {
        playedMs = MonotonicMs() - streamAtMs;
        probeCpuMs = CpuMs(RUSAGE_THREAD) - mainCpuAtStream;
        clientCpuMs = CpuMs(RUSAGE_SELF) - processCpuAtStream - probeCpuMs;
    }
    client.CloseChannel(options.channel);
    Status("STOP");
    client.Logout();
    SleepMs(kDrainMs);
    Summary();

    bool saved = true;
    if (!options.snapshot.empty() && !lastPicture.empty()) {
        saved = SavePng(lastPicture, width, height, options.depth, options.snapshot);
        if (!saved)
            std::fprintf(stderr, "tavix-probe play: cannot write %s\n", options.snapshot.c_str());
        else if (!options.json)
            std::printf("snapshot: %s\n", options.snapshot.c_str());
    }
    if (disconnected) return kExitDisconnected;
    if (openFailed || streamAtMs < 0) return kExitOpen;
    if (pictures == 0) return kExitNoPicture;
    return saved ? kExitOk : kExitFailure;
}

void Player::Summary() {
    struct Figure {
        const char* key;
        double value;
        int decimals;
    };
    double seconds = static_cast<double>(playedMs) / 1000;
    double rate = pictures > 1 && lastPictureAtMs > firstPictureAtMs
                      ? static_cast<double>(pictures - 1) * 1000 /
                            static_cast<double>(lastPictureAtMs - firstPictureAtMs)
                      : 0;
    std::vector<Figure> figures = {
        {"pictures", static_cast<double>(pictures), 0},
        {"width", static_cast<double>(width), 0},
        {"height", static_cast<double>(height), 0},
        {"picturesPerSecond", rate, 1},
        {"firstPictureMs",
         static_cast<double>(
             firstPictureAtMs >= 0 && streamAtMs >= 0 ? firstPictureAtMs - streamAtMs : -1),
         0},
        {"bytes", static_cast<double>(client.MediaBytes(options.channel) - bytesAtStart), 0},
        {"refusedChunks",
         static_cast<double>(client.RefusedChunks(options.channel) - refusedAtStart), 0},
        {"seconds", seconds, 3},
    };
    if (seconds > 0) {
        figures.push_back({"clientCpuMsPerSecond", static_cast<double>(clientCpuMs) / seconds, 1});
        figures.push_back({"probeCpuMsPerSecond", static_cast<double>(probeCpuMs) / seconds, 1});
    }
    if (stamped > 0) {
        std::vector<int64_t> sorted = delays;
        std::sort(sorted.begin(), sorted.end());
        double sum = 0;
        for (int64_t d : sorted)
            sum += static_cast<double>(d);
        double spanned = static_cast<double>(*frames.rbegin()) - *frames.begin() + 1;
        figures.insert(figures.end(),
                       {{"stamped", static_cast<double>(stamped), 0},
                        {"framesSpanned", spanned, 0},
                        {"framesLost", spanned - static_cast<double>(frames.size()), 0},
                        {"delayMsMean", sum / static_cast<double>(sorted.size()), 1},
                        {"delayMsP95", static_cast<double>(sorted[sorted.size() * 95 / 100]), 0},
                        {"delayMsMax", static_cast<double>(sorted.back()), 0}});
    }
    JsonLine line("event", "summary");
    for (const Figure& figure : figures) {
        if (options.json)
            line.Real(figure.key, figure.value, figure.decimals);
        else
            std::printf("%s: %.*f\n", figure.key, figure.decimals, figure.value);
    }
    if (options.json) line.Print();
}

}  // namespace

int RunPlay(int argc, char** argv) {
    PlayOptions options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string text;
        if (argument == "--help") {
            PrintHelp();
            return kExitOk;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--seconds") {
            char* end = nullptr;
            if (!value(text) || (options.seconds = std::strtod(text.c_str(), &end), *end != '\0') ||
                !(options.seconds > 0 && options.seconds <= 86400))
                return UsageError("play", "bad --seconds " + text);
        } else if (argument == "--depth") {
            if (!value(text) || !ParseNumber(text, 16, 32, &options.depth) ||
                options.depth % 8 != 0)
                return UsageError("play", "--depth takes 16, 24 or 32");
        } else if (argument == "--snapshot") {
            if (!value(options.snapshot) || options.snapshot.empty())
                return UsageError("play", "--snapshot needs FILE.png");
        } else if (argument.rfind("--", 0) == 0) {
            return UsageError("play", "unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    std::string error;
    if (!ParseDeviceArguments(positional, 0, options.device, error))
        return UsageError("play", error);
    if (positional.size() != 5 || !ParseNumber(positional[4], 0, 255, &options.channel))
        return UsageError("play", "CHANNEL (0..255) is needed after PASSWORD");

    DeviceClient& client = TheDeviceClient();
    EventQueue events(client);
    return Player(options, client, events).Run();
}

}  // namespace tavix::probe

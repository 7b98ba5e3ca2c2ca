// tavix-probe play: logs in, opens one or several channels and takes their pictures on the
// live view's 33 ms tick (one tick for all, as the wall has), printing the status changes the
// live view would show and a summary with the figures of each channel. Pictures of tavix-sim carry
// a stamp (frame number, capture time) from which the summary also counts lost frames and the delay
// from capture to display.
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

#include <QImage>
#include <QString>

#include "client/device_client.h"
#include "live/live_channel.h"
#include "platform/thread.h"
#include "tools/sim/json_line.h"
#include "tools/tavix-probe/commands.h"
#include "tools/tavix-probe/device_command.h"
#include "tools/tavix-probe/event_queue.h"
#include "video/frame_stamp.h"

namespace tavix::probe {
namespace {

using sim::JsonLine;

constexpr int kTickMs = 33;

// A recorder played, and its channels as listed, each once.
struct PlayedRecorder {
    DeviceArguments device;
    std::vector<int> channels;
};

struct PlayOptions {
    std::vector<PlayedRecorder> recorders;  // the first from the positional arguments, then --also
    double seconds = 5;
    int depth = 32;
    std::string snapshot;
    bool json = false;
    bool reconnect = false;
    int streamType = kMainStream;  // --stream
    double switchSeconds = 0;      // --switch
    int screenWidth = 0;           // --screen: pictures converted into an image of this size
    int screenHeight = 0;
};

void PrintHelp() {
    std::printf(
        "Usage: tavix-probe play HOST PORT USER PASSWORD CHANNEL[,CHANNEL...] [--seconds S]\n"
        "                        [--depth 16|24|32] [--snapshot FILE.png] [--json]\n"
        "                        [--reconnect] [--screen WxH] [--stream main|sub]\n"
        "                        [--switch S] [--also HOST:PORT:USER:PASSWORD:CHANNELS]...\n"
        "\n"
        "Logs in, opens each CHANNEL (0-based) with stream type 1 (--stream sub: 2) and takes\n"
        "their pictures on one 33 ms tick, for S seconds from the open. Prints the status\n"
        "texts the live view would show (OPENING_V, BUFFERING, PLAYING, RECONNECTING, STOP,\n"
        "OPEN_ERR) and a\n"
        "summary per channel: pictures shown, their size, pictures per second, the time from\n"
        "the stream result to the first picture, media bytes received, chunks the decoder\n"
        "refused and the mean time a picture took to decode (decodeMsMean). Pictures that\n"
        "carry tavix-sim's frame stamp add the frames lost, the pictures not the encoder's\n"
        "(no readable stamp, or a frame shown before) and the delay from capture to the\n"
        "tick (mean, 95th percentile, largest). The CPU time of\n"
        "the client's threads (session and decoders) and of the probe's own thread per second\n"
        "played is given for the whole client: in the summary with one channel, in a last\n"
        "\"client\" line with several. PASSWORD - reads the password from the first line of\n"
        "standard input.\n"
        "\n"
        "Options:\n"
        "  --seconds S     how long to play (default 5)\n"
        "  --depth BITS    the display's bits per pixel: 16, 24 or 32 (default)\n"
        "  --snapshot FILE save the last picture of the first CHANNEL, upright, as PNG\n"
        "  --json          one JSON object per line: {\"event\":\"login\",...}, \"stream\",\n"
        "                  \"status\" (text), \"picture\" (width, height, md5 of the picture's\n"
        "                  bytes as the decoder gave them; frame and delayMs when stamped),\n"
        "                  \"disconnected\", \"summary\", and with several channels \"client\"\n"
        "                  last; with several channels each channel's event carries\n"
        "                  \"channel\", with several recorders every event \"recorder\"\n"
        "  --also R        plays the CHANNELS of one more recorder too, through a client of\n"
        "                  its own (its own session, media connections and reconnection),\n"
        "                  on the same tick; may be repeated. Recorders are numbered from 0\n"
        "                  (the first, from HOST PORT USER PASSWORD) in the order given, and\n"
        "                  every event and summary then carries \"recorder\". The summary's\n"
        "                  gapMsMax is the longest time between two pictures of a channel\n"
        "  --reconnect     bring lost links back as the viewer does: a channel without media\n"
        "                  for 5 s is reopened, a lost session logged in again and its\n"
        "                  channels reopened. Prints \"reconnecting\" (channel, -1 for the\n"
        "                  session, and reason: stalled, heartbeat, closed, out-of-step,\n"
        "                  silent), \"reconnected\" and, at the first picture after each\n"
        "                  outage, \"back\" (backAfterMs: from the reconnecting event); the\n"
        "                  summary adds the outages and the process's threads, open\n"
        "                  descriptors and resident memory at the first picture and at the end\n"
        "  --screen WxH    as the viewer's tile shows pictures: each is converted by the\n"
        "                  decoding thread straight into an image of W x H pixels (scaled)\n"
        "                  as soon as it is decoded, no tick; the delay is taken then, and\n"
        "                  md5 is of that image; --snapshot is not taken\n"
        "  --stream TYPE   main (stream type 1, default) or sub (2) for every CHANNEL; a\n"
        "                  device that sends no sub stream gets the main one asked for, as\n"
        "                  the viewer does: \"fallback\" (channel, streamType 1) is printed\n"
        "  --switch S      every S seconds each channel switches to its other stream (main\n"
        "                  and sub), as the viewer's double click on a tile does; the first\n"
        "                  picture of the new stream prints \"switched\" (streamType, width,\n"
        "                  height, afterMs: from the switch) and the summary adds the\n"
        "                  switches and the longest afterMs (switchMsMax)\n"
        "  --help          show this help\n"
        "\n"
        "Exit status: 0 pictures were shown (with --reconnect: after the last outage), 1 the\n"
        "snapshot could not be written, 2 usage error, 3 login refused or failed (the code is\n"
        "printed; with --reconnect also a login again that the device refused), 4 a channel\n"
        "could not be opened, 5 a channel showed no picture within the time asked for, 6 the\n"
        "device dropped the session.\n");
}

int64_t CpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return (int64_t{usage.ru_utime.tv_sec} + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
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

struct Figure {
    const char* key;
    double value;
    int decimals;
};

// With several recorders every line says whose it is: a JSON event line, and the start of a
// text line.
JsonLine EventLine(const char* name, bool several, int recorder) {
    JsonLine line("event", name);
    if (several) line.Number("recorder", recorder);
    return line;
}

std::string RecorderPrefix(bool several, int recorder) {
    return several ? "recorder " + std::to_string(recorder) + " " : std::string();
}

// The figures as fields of `line`, or as one "PREFIXkey: value" text line each.
void PrintFigures(const PlayOptions& options, JsonLine line, const std::string& prefix,
                  const std::vector<Figure>& figures) {
    for (const Figure& figure : figures) {
        if (options.json)
            line.Real(figure.key, figure.value, figure.decimals);
        else
            std::printf("%s%s: %.*f\n", prefix.c_str(), figure.key, figure.decimals, figure.value);
    }
    if (options.json) line.Print();
}

// One channel as the live view plays it (LiveChannel), taking its pictures on a tick: its
// status texts, its pictures, its figures. With several channels every line it prints names
// the channel.
class ChannelPlayer {
  public:
    ChannelPlayer(const PlayOptions& options, DeviceClient& client, int recorder, int channel,
                  bool keepPicture)
        : options(options),
          client(client),
          channel(channel),
          recorder(recorder),
          several(options.recorders.size() > 1),
          named(several || options.recorders[0].channels.size() > 1),
          keepPicture(keepPicture && options.screenWidth == 0),
          live(client) {
        if (options.screenWidth > 0) {
            screen = std::make_unique<Screen>(options);
            screen->live = &live;
            live.SetScreen(screen.get());
            live.SetStampsWanted(true);
        }
    }
    ~ChannelPlayer() {
        live.Close();
        live.SetScreen(nullptr);
    }
    ChannelPlayer(const ChannelPlayer&) = delete;
    ChannelPlayer& operator=(const ChannelPlayer&) = delete;

    void Open();
    // The channel's stream result; false when it could not be opened.
    bool Opened(int code);
    // The client is bringing the channel back: an outage begins, unless one is under way.
    void Lost();
    // One tick of the live view: takes the ready picture, if any, and gives it back.
    void Tick();
    // Plays the channel's other stream from now on (--switch).
    void Switch();
    // Ends the time played; closes the channel.
    void Close();
    // The channel's figures; `client`, figures of the whole client placed after "seconds".
    void Summary(const std::vector<Figure>& clientFigures);

    int Recorder() const { return recorder; }
    int Channel() const { return channel; }
    bool Failed() const { return openFailed; }
    bool Streaming() const { return streamAtMs >= 0; }
    int64_t Pictures() const { return pictures; }
    // An outage has not ended with a picture yet.
    bool Out() const { return outageAtMs >= 0; }
    // The last picture (with keepPicture), upright as SavePng stores it.
    bool Save(const std::string& path) const;

  private:
    // --screen: the image the decoding thread converts into, and what it converted since the
    // main thread last looked.
    class Screen final : public IPictureScreen {
      public:
        Screen(const PlayOptions& options)
            : options(options),
              image(static_cast<size_t>(options.screenWidth) * options.screenHeight *
                    (options.depth / 8)) {}
        ScreenReady BeginPicture(int, int, ScreenImage& to) override {
            to = {image.data(), options.screenWidth, options.screenHeight,
                  options.screenWidth * (options.depth / 8), options.depth};
            return ScreenReady::kConvert;
        }
        void EndPicture(const PictureFacts& facts) override {
            Shown shown{facts, MonotonicMs(), live != nullptr ? live->StreamType() : 0, {}};
            if (options.json) av_md5_sum(shown.md5, image.data(), image.size());
            std::lock_guard<std::mutex> hold(lock);
            pictures.push_back(shown);
        }
        void SnapshotReady(std::vector<uint8_t>, int, int) override {}

        struct Shown {
            PictureFacts facts;
            int64_t atMs;
            int streamType;
            uint8_t md5[16];
        };
        const LiveChannel* live = nullptr;  // set once, before the first picture
        std::vector<Shown> Take() {
            std::lock_guard<std::mutex> hold(lock);
            return std::exchange(pictures, {});
        }

      private:
        const PlayOptions& options;
        std::vector<uint8_t> image;  // the decoding thread's
        std::mutex lock;
        std::vector<Shown> pictures;  // guarded by lock
    };

    // One picture taken or shown: the figures and its event.
    void Count(int pictureWidth, int pictureHeight, int64_t now, int streamType, bool hasStamp,
               const FrameStamp& stamp, const uint8_t* md5);
    JsonLine Line(const char* name) const;
    // Text lines of a channel among several start with its name.
    std::string Prefix() const {
        return RecorderPrefix(several, recorder) +
               (named ? "channel " + std::to_string(channel) + " " : "");
    }
    void Status(const char* key);
    void ShowStatus() { Status(StatusKey(live.Status())); }

    const PlayOptions& options;
    DeviceClient& client;
    const int channel;
    const int recorder;
    const bool several;  // recorders: every line names its recorder
    const bool named;
    const bool keepPicture;
    std::unique_ptr<Screen> screen;
    LiveChannel live;

    bool openFailed = false;
    int64_t streamAtMs = -1;
    int64_t firstPictureAtMs = -1;
    int64_t lastPictureAtMs = -1;
    int64_t gapMsMax = 0;  // the longest time between two pictures
    int64_t pictures = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> lastPicture;  // with keepPicture only
    int64_t bytesAtStart = 0;
    int64_t refusedAtStart = 0;
    int64_t playedMs = 0;  // from the stream result to the end of the ticks
    // From the stamps.
    int64_t stamped = 0;
    std::set<uint32_t> frames;
    std::vector<int64_t> delays;
    // Reconnection: when the outage under way began (-1 none), and how long each took until
    // the next picture.
    int64_t outageAtMs = -1;
    bool reopened = false;  // the stream started again since the outage began
    std::vector<int64_t> outages;
    // --switch: the stream type switched to last, when (-1: its first picture came), and how
    // long each switch took until then.
    int switchTo = 0;
    int64_t switchAtMs = -1;
    std::vector<int64_t> switches;
};

JsonLine ChannelPlayer::Line(const char* name) const {
    JsonLine line = EventLine(name, several, recorder);
    if (named) line.Number("channel", channel);
    return line;
}

void ChannelPlayer::Status(const char* key) {
    if (options.json)
        Line("status").Text("text", key).Print();
    else
        std::printf("%sstatus: %s\n", Prefix().c_str(), key);
}

void ChannelPlayer::Open() {
    live.Decoder().SetDisplayBits(options.depth);
    bytesAtStart = client.MediaBytes(channel);
    refusedAtStart = client.RefusedChunks(channel);
    switchTo = options.streamType;
    live.Open(channel, options.streamType);
    ShowStatus();
}

bool ChannelPlayer::Opened(int code) {
    if (options.json)
        EventLine("stream", several, recorder)
            .Number("channel", channel)
            .Number("code", code)
            .Print();
    else
        std::printf("%sstream: channel %d, code %d\n", RecorderPrefix(several, recorder).c_str(),
                    channel, code);
    if (live.OnStreamResult(code)) ShowStatus();
    if (code != 0) {
        openFailed = true;
        return false;
    }
    // A stream opened again after an outage goes on counting from the first open; its
    // pictures end the outage.
    if (streamAtMs < 0) streamAtMs = MonotonicMs();
    if (outageAtMs >= 0) reopened = true;
    return true;
}

void ChannelPlayer::Lost() {
    if (outageAtMs < 0) outageAtMs = MonotonicMs();
    reopened = false;
    if (live.OnReconnecting()) ShowStatus();
}

void ChannelPlayer::Tick() {
    if (screen) {
        if (live.Poll()) ShowStatus();
        for (const Screen::Shown& shown : screen->Take())
            Count(shown.facts.width, shown.facts.height, shown.atMs, shown.streamType,
                  shown.facts.stamped, shown.facts.stamp, shown.md5);
        return;
    }
    int pictureWidth = 0;
    int pictureHeight = 0;
    bool changed = false;
    // Read before the take: a picture taken while the next stream starts is of the one before.
    const int streamType = live.StreamType();
    const uint8_t* picture = live.TakePicture(pictureWidth, pictureHeight, changed);
    if (changed) ShowStatus();
    if (picture == nullptr) return;
    if (pictureWidth <= 0 || pictureHeight <= 0) {
        live.ReleasePicture();
        return;
    }
    FrameStamp stamp;
    const bool hasStamp =
        ReadPictureStamp(picture, pictureWidth, pictureHeight, options.depth, stamp);
    const size_t bytes = static_cast<size_t>(pictureWidth) * pictureHeight * (options.depth / 8);
    uint8_t md5[16];
    if (options.json) av_md5_sum(md5, picture, bytes);
    Count(pictureWidth, pictureHeight, MonotonicMs(), streamType, hasStamp, stamp, md5);
    if (keepPicture) lastPicture.assign(picture, picture + bytes);
    live.ReleasePicture();
}

void ChannelPlayer::Switch() {
    switchTo = switchTo == kMainStream ? kSubStream : kMainStream;
    switchAtMs = MonotonicMs();
    live.SwitchStream(switchTo);
}

void ChannelPlayer::Count(int pictureWidth, int pictureHeight, int64_t now, int streamType,
                          bool hasStamp, const FrameStamp& stamp, const uint8_t* md5) {
    if (firstPictureAtMs < 0) firstPictureAtMs = now;
    if (lastPictureAtMs >= 0) gapMsMax = std::max(gapMsMax, now - lastPictureAtMs);
    if (switchAtMs >= 0 && streamType == switchTo) {
        switches.push_back(now - switchAtMs);
        switchAtMs = -1;
        if (options.json)
            Line("switched")
                .Number("streamType", streamType)
                .Number("width", pictureWidth)
                .Number("height", pictureHeight)
                .Number("afterMs", switches.back())
                .Print();
        else
            std::printf("%sswitched to stream type %d, %dx%d, after %lld ms\n", Prefix().c_str(),
                        streamType, pictureWidth, pictureHeight,
                        static_cast<long long>(switches.back()));
    }
    lastPictureAtMs = now;
    if (outageAtMs >= 0 && reopened) {
        outages.push_back(now - outageAtMs);
        outageAtMs = -1;
        if (options.json)
            Line("back").Number("backAfterMs", outages.back()).Print();
        else
            std::printf("%sback after %lld ms\n", Prefix().c_str(),
                        static_cast<long long>(outages.back()));
    }
    ++pictures;
    width = pictureWidth;
    height = pictureHeight;
    int64_t delay = 0;
    if (hasStamp) {
        ++stamped;
        frames.insert(stamp.frameNumber);
        delay = StampDelayMs(stamp, now);
        delays.push_back(delay);
    }
    if (options.json) {
        char hex[33];
        for (int i = 0; i < 16; ++i)
            std::snprintf(hex + 2 * i, 3, "%02x", md5[i]);
        JsonLine line = Line("picture");
        line.Number("width", width).Number("height", height).Text("md5", hex);
        if (hasStamp) line.Number("frame", stamp.frameNumber).Number("delayMs", delay);
        line.Print();
    }
}

void ChannelPlayer::Close() {
    if (streamAtMs >= 0) playedMs = MonotonicMs() - streamAtMs;
    live.Close();
    ShowStatus();
}

bool ChannelPlayer::Save(const std::string& path) const {
    return lastPicture.empty() || SavePng(lastPicture, width, height, options.depth, path);
}

void ChannelPlayer::Summary(const std::vector<Figure>& clientFigures) {
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
        {"gapMsMax", static_cast<double>(gapMsMax), 0},
        {"firstPictureMs",
         static_cast<double>(
             firstPictureAtMs >= 0 && streamAtMs >= 0 ? firstPictureAtMs - streamAtMs : -1),
         0},
        {"bytes", static_cast<double>(client.MediaBytes(channel) - bytesAtStart), 0},
        {"refusedChunks", static_cast<double>(client.RefusedChunks(channel) - refusedAtStart), 0},
        {"decodeMsMean",
         live.Decoder().DecodedPictures() > 0
             ? static_cast<double>(live.Decoder().DecodeMicrosecondsTotal()) / 1000 /
                   static_cast<double>(live.Decoder().DecodedPictures())
             : 0,
         2},
        {"seconds", seconds, 3},
    };
    figures.insert(figures.end(), clientFigures.begin(), clientFigures.end());
    if (options.reconnect && !outages.empty())
        figures.insert(
            figures.end(),
            {{"outages", static_cast<double>(outages.size()), 0},
             {"backAfterMsMax",
              static_cast<double>(*std::max_element(outages.begin(), outages.end())), 0}});
    if (!switches.empty())
        figures.insert(
            figures.end(),
            {{"switches", static_cast<double>(switches.size()), 0},
             {"switchMsMax",
              static_cast<double>(*std::max_element(switches.begin(), switches.end())), 0}});
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
                        // No readable stamp, or one already shown: decoded from damaged bytes.
                        {"wrongPictures",
                         static_cast<double>(pictures - static_cast<int64_t>(frames.size())), 0},
                        {"delayMsMean", sum / static_cast<double>(sorted.size()), 1},
                        {"delayMsP95", static_cast<double>(sorted[sorted.size() * 95 / 100]), 0},
                        {"delayMsMax", static_cast<double>(sorted.back()), 0}});
    }
    PrintFigures(options, Line("summary"), Prefix(), figures);
}

// The CPU time of the client's threads (every thread but the probe's own: the client and the
// decoding threads) and of the probe's thread, from the first stream result to the end of the
// ticks, per second of that time.
class CpuMeter {
  public:
    void Start() {
        if (startMs >= 0) return;
        startMs = MonotonicMs();
        processAtStart = CpuMs(RUSAGE_SELF);
        mainAtStart = CpuMs(RUSAGE_THREAD);
    }
    void Stop() {
        if (startMs < 0) return;
        seconds = static_cast<double>(MonotonicMs() - startMs) / 1000;
        probeMs = CpuMs(RUSAGE_THREAD) - mainAtStart;
        clientMs = CpuMs(RUSAGE_SELF) - processAtStart - probeMs;
    }
    std::vector<Figure> Figures() const {
        if (seconds <= 0) return {};
        return {{"clientCpuMsPerSecond", static_cast<double>(clientMs) / seconds, 1},
                {"probeCpuMsPerSecond", static_cast<double>(probeMs) / seconds, 1}};
    }
    double Seconds() const { return seconds; }

  private:
    int64_t startMs = -1;
    int64_t processAtStart = 0;
    int64_t mainAtStart = 0;
    double seconds = 0;
    int64_t clientMs = 0;
    int64_t probeMs = 0;
};

// Threads, open descriptors and resident memory of this process: what must not grow over
// outages.
struct ProcessState {
    int threads = 0;
    int descriptors = 0;
    int64_t residentKb = 0;

    static int Entries(const char* folder) {
        int count = 0;
        if (DIR* entries = opendir(folder)) {
            while (dirent* entry = readdir(entries))
                if (entry->d_name[0] != '.') ++count;
            closedir(entries);
        }
        return count;
    }
    static ProcessState Now() {
        ProcessState state;
        state.threads = Entries("/proc/self/task");
        state.descriptors = Entries("/proc/self/fd") - 1;  // less the one reading the folder
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) state.residentKb = std::atoll(line.c_str() + 6);
        return state;
    }
};

// The process's state at the first picture and at the end, as figures.
std::vector<Figure> ProcessFigures(const ProcessState& first, const ProcessState& end) {
    return {{"threadsAtFirstPicture", static_cast<double>(first.threads), 0},
            {"threadsAtEnd", static_cast<double>(end.threads), 0},
            {"descriptorsAtFirstPicture", static_cast<double>(first.descriptors), 0},
            {"descriptorsAtEnd", static_cast<double>(end.descriptors), 0},
            {"residentKbAtFirstPicture", static_cast<double>(first.residentKb), 0},
            {"residentKbAtEnd", static_cast<double>(end.residentKb), 0}};
}

const char* ReasonName(int reason) {
    switch (reason) {
        case kReconnectStalled:
            return "stalled";
        case kDisconnectedDetail:
            return "heartbeat";
        case kDisconnectedByPeer:
            return "closed";
        case kDisconnectedOutOfStep:
            return "out-of-step";
        case kReconnectSilent:
            return "silent";
        default:
            return "other";
    }
}

// "CH[,CH...]": channels 0..255, none twice.
bool ParseChannels(const std::string& text, std::vector<int>& channels) {
    std::set<int> seen;
    size_t at = 0;
    for (;;) {
        size_t comma = std::min(text.find(',', at), text.size());
        int channel = 0;
        if (!ParseNumber(std::string_view(text).substr(at, comma - at), 0, 255, &channel) ||
            !seen.insert(channel).second)
            return false;
        channels.push_back(channel);
        if (comma == text.size()) return true;
        at = comma + 1;
    }
}

// `clients`: one per recorder, in their order.
int Play(const PlayOptions& options, const std::vector<DeviceClient*>& clients,
         EventQueue& events) {
    const bool several = clients.size() > 1;
    for (size_t r = 0; r < clients.size(); ++r) {
        const DeviceArguments& device = options.recorders[r].device;
        const int recorder = static_cast<int>(r);
        clients[r]->Login(device.host, device.port, device.user, device.password, kLoginTimeoutMs);
        ProbeEvent login;
        bool answered = events.Await(ProbeEvent::kLogin, kLoginWaitMs, login, recorder);
        int loginCode = answered && login.kind == ProbeEvent::kLogin ? login.code : -1;
        if (options.json)
            EventLine("login", several, recorder)
                .Number("code", loginCode)
                .Number("channelCount", answered ? login.value : 0)
                .Print();
        else
            std::printf("%slogin: %d, %d channels\n", RecorderPrefix(several, recorder).c_str(),
                        loginCode, answered ? login.value : 0);
        if (loginCode != 0) return kExitLogin;
    }

    std::deque<ChannelPlayer> players;  // each stays where it is made: the client holds it
    for (size_t r = 0; r < clients.size(); ++r)
        for (int channel : options.recorders[r].channels)
            players.emplace_back(options, *clients[r], static_cast<int>(r), channel,
                                 players.empty() && !options.snapshot.empty());
    for (ChannelPlayer& player : players)
        player.Open();
    CpuMeter cpu;
    bool disconnected = false;
    bool refused = false;  // a login again, refused (with --reconnect)
    size_t failed = 0;
    ProcessState atFirstPicture;
    bool firstPictureSeen = false;
    const int64_t start = MonotonicMs();
    const int64_t end = start + static_cast<int64_t>(options.seconds * 1000);
    const int64_t switchMs = static_cast<int64_t>(options.switchSeconds * 1000);
    int64_t nextSwitch = switchMs > 0 ? start + switchMs : end;
    // The tick keeps its 33 ms period; events are handled as they come in between. The run
    // ends early when the device drops the session or no channel could be opened.
    for (int64_t nextTick = start; nextTick < end; nextTick += kTickMs) {
        ProbeEvent event;
        while (!disconnected && !refused && events.Take(event, nextTick)) {
            // With several recorders every line says whose event it is.
            const auto out = [&](const char* name) {
                return EventLine(name, several, event.recorder);
            };
            const std::string who = RecorderPrefix(several, event.recorder);
            if (event.kind == ProbeEvent::kDisconnected) {
                if (options.json)
                    out("disconnected")
                        .Number("code", event.code)
                        .Number("detail", event.value)
                        .Print();
                else
                    std::printf("%sdisconnected: code %d, detail %d\n", who.c_str(), event.code,
                                event.value);
                disconnected = true;
            }
            if (event.kind == ProbeEvent::kLogin && event.code != 0) {
                if (options.json)
                    out("login").Number("code", event.code).Number("channelCount", 0).Print();
                else
                    std::printf("%slogin: code %d, channelCount 0\n", who.c_str(), event.code);
                refused = true;
            }
            if (event.kind == ProbeEvent::kReconnecting) {
                if (options.json)
                    out("reconnecting")
                        .Number("channel", event.value)
                        .Text("reason", ReasonName(event.code))
                        .Print();
                else
                    std::printf("%sreconnecting: channel %d, %s\n", who.c_str(), event.value,
                                ReasonName(event.code));
                for (ChannelPlayer& player : players)
                    if (player.Recorder() == event.recorder &&
                        (event.value == -1 || player.Channel() == event.value))
                        player.Lost();
            }
            if (event.kind == ProbeEvent::kStreamType) {
                if (options.json)
                    out("fallback")
                        .Number("channel", event.value)
                        .Number("streamType", event.code)
                        .Print();
                else
                    std::printf("%sfallback: channel %d, stream type %d\n", who.c_str(),
                                event.value, event.code);
            }
            if (event.kind == ProbeEvent::kReconnected) {
                if (options.json)
                    out("reconnected").Number("channel", event.value).Print();
                else
                    std::printf("%sreconnected: channel %d\n", who.c_str(), event.value);
            }
            if (event.kind != ProbeEvent::kStream) continue;
            for (ChannelPlayer& player : players) {
                if (player.Recorder() != event.recorder || player.Channel() != event.value)
                    continue;
                if (player.Opened(event.code))
                    cpu.Start();
                else
                    ++failed;
            }
        }
        if (disconnected || refused || failed == players.size()) break;
        if (nextTick >= nextSwitch) {
            for (ChannelPlayer& player : players)
                player.Switch();
            nextSwitch += switchMs;
        }
        for (ChannelPlayer& player : players) {
            player.Tick();
            if (!firstPictureSeen && player.Pictures() > 0) {
                firstPictureSeen = true;
                atFirstPicture = ProcessState::Now();
            }
        }
    }
    cpu.Stop();
    const ProcessState atEnd = ProcessState::Now();
    std::vector<Figure> clientFigures = cpu.Figures();
    if (options.reconnect && firstPictureSeen)
        for (const Figure& figure : ProcessFigures(atFirstPicture, atEnd))
            clientFigures.push_back(figure);
    for (ChannelPlayer& player : players)
        player.Close();
    for (DeviceClient* client : clients)
        client->Logout();
    SleepMs(kDrainMs);

    const bool manyChannels = players.size() > 1;
    for (ChannelPlayer& player : players)
        player.Summary(manyChannels ? std::vector<Figure>{} : clientFigures);
    if (manyChannels) {
        std::vector<Figure> figures = {{"channels", static_cast<double>(players.size()), 0},
                                       {"seconds", cpu.Seconds(), 3}};
        for (const Figure& figure : clientFigures)
            figures.push_back(figure);
        PrintFigures(options, JsonLine("event", "client"), "client ", figures);
    }

    bool saved = true;
    if (!options.snapshot.empty()) {
        saved = players.front().Save(options.snapshot);
        if (!saved)
            std::fprintf(stderr, "tavix-probe play: cannot write %s\n", options.snapshot.c_str());
        else if (!options.json && players.front().Pictures() > 0)
            std::printf("snapshot: %s\n", options.snapshot.c_str());
    }
    if (refused) return kExitLogin;
    if (disconnected) return kExitDisconnected;
    for (const ChannelPlayer& player : players)
        if (player.Failed() || !player.Streaming()) return kExitOpen;
    for (const ChannelPlayer& player : players)
        if (player.Pictures() == 0 || player.Out()) return kExitNoPicture;
    return saved ? kExitOk : kExitFailure;
}

}  // namespace

int RunPlay(int argc, char** argv) {
    PlayOptions options;
    std::string error;
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
        } else if (argument == "--reconnect") {
            options.reconnect = true;
        } else if (argument == "--seconds") {
            char* end = nullptr;
            if (!value(text) || (options.seconds = std::strtod(text.c_str(), &end), *end != '\0') ||
                !(options.seconds > 0 && options.seconds <= 86400))
                return UsageError("play", "bad --seconds " + text);
        } else if (argument == "--depth") {
            if (!value(text) || !ParseNumber(text, 16, 32, &options.depth) ||
                options.depth % 8 != 0)
                return UsageError("play", "--depth takes 16, 24 or 32");
        } else if (argument == "--screen") {
            size_t x = 0;
            if (!value(text) || (x = text.find('x')) == std::string::npos ||
                !ParseNumber(std::string_view(text).substr(0, x), 2, 7680, &options.screenWidth) ||
                !ParseNumber(std::string_view(text).substr(x + 1), 2, 4320, &options.screenHeight))
                return UsageError("play", "--screen takes WxH (2x2 to 7680x4320)");
        } else if (argument == "--stream") {
            if (!value(text) || (text != "main" && text != "sub"))
                return UsageError("play", "--stream takes main or sub");
            options.streamType = text == "sub" ? kSubStream : kMainStream;
        } else if (argument == "--also") {
            // HOST:PORT:USER:PASSWORD:CHANNELS; the password may hold colons.
            PlayedRecorder more;
            constexpr size_t kNone = std::string::npos;
            if (!value(text))
                return UsageError("play", "--also needs HOST:PORT:USER:PASSWORD:CHANNELS");
            const size_t a = text.find(':');
            const size_t b = a == kNone ? kNone : text.find(':', a + 1);
            const size_t c = b == kNone ? kNone : text.find(':', b + 1);
            const size_t d = text.rfind(':');
            if (c == kNone || d <= c ||
                !ParseDeviceArguments(
                    {text.substr(0, a), text.substr(a + 1, b - a - 1),
                     text.substr(b + 1, c - b - 1), text.substr(c + 1, d - c - 1)},
                    0, more.device, error) ||
                !ParseChannels(text.substr(d + 1), more.channels))
                return UsageError("play",
                                  "bad --also " + text + (error.empty() ? "" : ": " + error));
            options.recorders.push_back(std::move(more));
        } else if (argument == "--switch") {
            char* end = nullptr;
            if (!value(text) ||
                (options.switchSeconds = std::strtod(text.c_str(), &end), *end != '\0') ||
                !(options.switchSeconds >= 0.1 && options.switchSeconds <= 86400))
                return UsageError("play", "bad --switch " + text);
        } else if (argument == "--snapshot") {
            if (!value(options.snapshot) || options.snapshot.empty())
                return UsageError("play", "--snapshot needs FILE.png");
        } else if (argument.rfind("--", 0) == 0) {
            return UsageError("play", "unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    options.recorders.insert(options.recorders.begin(), PlayedRecorder{});
    if (!ParseDeviceArguments(positional, 0, options.recorders[0].device, error))
        return UsageError("play", error);
    if (positional.size() != 5 || !ParseChannels(positional[4], options.recorders[0].channels))
        return UsageError("play",
                          "CHANNEL[,CHANNEL...] (0..255, each once) is needed after "
                          "PASSWORD");

    // One client per recorder, each with its own session and links.
    std::vector<std::unique_ptr<DeviceClient>> more;
    std::vector<DeviceClient*> clients{&TheDeviceClient()};
    for (size_t r = 1; r < options.recorders.size(); ++r)
        clients.push_back(more.emplace_back(std::make_unique<DeviceClient>()).get());
    for (DeviceClient* client : clients)
        client->SetReconnect(options.reconnect);
    EventQueue events(*clients[0]);
    for (size_t r = 1; r < clients.size(); ++r)
        events.Listen(*clients[r], static_cast<int>(r));
    return Play(options, clients, events);
}

}  // namespace tavix::probe

#include "tools/sim/sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "tools/sim/program_stream_writer.h"
#include "tools/sim/sequenced_packet_writer.h"

namespace tavix::sim {
namespace {

struct OptionInfo {
    const char* name;
    const char* argument;  // null: a flag
    const char* help;
};

// --help is built from this table, so every option the parser takes is documented.
constexpr OptionInfo kOptions[] = {
    {"--bind", "ADDRESS", "IPv4 address to listen on (default 127.0.0.1)"},
    {"--port", "PORT",
     "TCP port (default 34567); 0 lets the system choose, the first output line tells which"},
    {"--user", "NAME", "account name (default admin)"},
    {"--password", "TEXT", "account password (default 702914)"},
    {"--refuse", "REASON",
     "refuse every login: result byte 1 with this reason byte (0..255; 0..7 are the device's "
     "reasons)"},
    {"--refuse-result", "RESULT",
     "refuse every login with this result byte instead of 1 (3: refused without reason); the "
     "reason byte is that of --refuse, else 0"},
    {"--refuse-after", "N",
     "accept the first N logins, refuse every later one as a wrong password (a device whose "
     "password changed while clients were logged in)"},
    {"--drop-list-requests", "N",
     "answer none of the first N channel-list requests (a reply lost with a link that broke "
     "meanwhile)"},
    {"--channels", "N", "number of channels, 0..255 (default 4)"},
    {"--name", "I=TEXT", "name of channel I (0-based), UTF-8; may be given for several channels"},
    {"--local", "N", "the first N channels are local, the rest IP channels (default: all local)"},
    {"--extended-list", nullptr,
     "set the extended-list flag in the login reply, so that the client asks for channel "
     "records (type 56) when there are IP channels"},
    {"--no-heartbeat-reply", nullptr, "never answer heartbeats"},
    {"--exit-with-parent", nullptr,
     "stop when the process that started it ends (tests: no simulator is left behind by a "
     "test that crashed)"},
    {"--media", "I=FILE", "loop FILE as the media of channel I (0-based); may be repeated"},
    {"--size", "I=WxH",
     "serve live video on channel I at this size (default 352x288); W 160..1920 and H 120..1200, "
     "multiples of 8, or 2560x1440 or 3840x2160 (H.264 in private or checksummed packets only: "
     "their size bytes say 2040 at most, the client reads the size from the stream)"},
    {"--format", "I=FORMAT",
     "serve live video on channel I in this container: private (default), checksummed, ps (only "
     "the sizes of its size codes) or sequenced (MPEG-4 only; multiples of 16, W up to 1008)"},
    {"--codec", "I=CODEC",
     "serve live video on channel I in this codec: h264 (default) or mpeg4 (MPEG-4 Visual)"},
    {"--bitrate", "I=KBITS",
     "live bit rate of channel I in kbit/s, 50..50000 (default from the size: 284 at 352x288, "
     "1928 at 1920x1080)"},
    {"--sub-size", "I=WxH",
     "the size of channel I's sub stream (stream type 2), as --size takes it (default 352x288, "
     "or the main stream's size when that is smaller)"},
    {"--sub-bitrate", "I=KBITS",
     "the bit rate of channel I's sub stream in kbit/s, 50..50000 (default from its size)"},
    {"--no-sub", "I|all",
     "channel I (or every channel) sends nothing when a sub stream is asked for; may be "
     "repeated"},
    {"--replay", "I|all",
     "live channel I (or every live channel) replays its first 4 s until its first PTZ command "
     "makes it live-encoded; the 4 s are encoded once per run, frame after frame however long "
     "that takes, and later media connections replay them at once; meanwhile its pictures "
     "carry no frame stamp and show REPLAY for the clock. May be repeated"},
    {"--chunk", "BYTES", "body bytes of one media message, 1..1048576 (default 2048)"},
    {"--rate", "BYTES_PER_S",
     "pace of a --media file per stream (default 250000); 0: as fast as the socket takes. Live "
     "video keeps its own pace of 25 frames per second"},
    {"--close-after", "SECONDS",
     "close the control connection (and the session's media "
     "connections) this long after the login reply"},
    {"--stall-login", nullptr, "never answer a login request"},
    {"--login-delay", "SECONDS", "answer login requests only after this pause"},
    {"--garbage-after", "SECONDS",
     "send 4096 random bytes on the control connection this long after the login reply"},
    {"--stall-heartbeat-after", "SECONDS",
     "stop answering heartbeats this long after the login reply"},
    {"--pause-after", "SECONDS",
     "this long after the login reply, stop reading and writing on the control connection and "
     "the session's media connections for --pause-for seconds, sockets open, then go on"},
    {"--pause-for", "SECONDS", "how long --pause-after pauses"},
    {"--drop-media-after", "SECONDS",
     "close the session's media connections (those there by then; not the control "
     "connection) this long after the login reply"},
    {"--restart-after", "SECONDS",
     "this long after the first login reply since it began listening, close the listening "
     "socket and every connection; after --down-for seconds (connections are refused "
     "meanwhile) listen again on the same port and count again from the next login reply"},
    {"--down-for", "SECONDS", "how long --restart-after stays down"},
    {"--seed", "N", "seed of the random session identifiers and garbage (default: random)"},
    {"--help", nullptr, "show this text and exit"},
};

const OptionInfo* FindOption(const char* name) {
    for (const OptionInfo& option : kOptions) {
        if (std::strcmp(option.name, name) == 0) return &option;
    }
    return nullptr;
}

bool ParseInteger(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(parsed) || parsed < 0 || parsed > 1e6) return false;
    value = parsed;
    return true;
}

// "I=TEXT" with I a channel index.
bool ParseIndexed(const std::string& text, int& index, std::string& value) {
    size_t equals = text.find('=');
    int64_t parsed = 0;
    if (equals == std::string::npos || !ParseInteger(text.substr(0, equals), 0, 254, parsed))
        return false;
    index = static_cast<int>(parsed);
    value = text.substr(equals + 1);
    return true;
}

// Sizes that the containers' size bytes cannot state (more than 255 units of 8 pixels).
bool LargeSize(int width, int height) {
    return width > 2040 || height > 2040;
}

// "WxH" within the live limits, multiples of 8, or one of the large camera sizes.
bool ParseSize(const std::string& text, int& width, int& height) {
    size_t x = text.find('x');
    int64_t w = 0;
    int64_t h = 0;
    if (x == std::string::npos || !ParseInteger(text.substr(0, x), 160, 3840, w) ||
        !ParseInteger(text.substr(x + 1), 120, 2160, h) || w % 8 != 0 || h % 8 != 0)
        return false;
    const bool large = (w == 2560 && h == 1440) || (w == 3840 && h == 2160);
    if (!large && (w > 1920 || h > 1200)) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// The demo device: mixed containers and sizes, so that every run of the client meets them.
LiveChannel DemoChannel(int channel) {
    static const LiveChannel kDemo[] = {
        {352, 288, ContainerFormat::kPrivate, 0},
        {704, 576, ContainerFormat::kChecksummed, 0},
        {352, 288, ContainerFormat::kProgramStream, 0, VideoCodec::kMpeg4},
        {1280, 720, ContainerFormat::kPrivate, 0},
    };
    return kDemo[channel % 4];
}

// What the containers and codecs can carry of a live stream's settings.
bool CheckLive(int channel, const LiveChannel& live, std::string& error) {
    if (live.format == ContainerFormat::kProgramStream &&
        ProgramStreamSizeCode(live.width, live.height) < 0) {
        error = "channel " + std::to_string(channel) + ": ps carries only " + ProgramStreamSizes();
        return false;
    }
    const bool sizeBytes =
        live.format == ContainerFormat::kPrivate || live.format == ContainerFormat::kChecksummed;
    if (LargeSize(live.width, live.height) && (!sizeBytes || live.codec != VideoCodec::kH264)) {
        error = "channel " + std::to_string(channel) +
                ": sizes over 2040 only as H.264 in private or checksummed packets";
        return false;
    }
    if (live.format == ContainerFormat::kSequenced && live.codec != VideoCodec::kMpeg4) {
        error = "channel " + std::to_string(channel) + ": sequenced carries only MPEG-4 (--codec " +
                std::to_string(channel) + "=mpeg4)";
        return false;
    }
    if (live.format == ContainerFormat::kSequenced && !SequencedSizeFits(live.width, live.height)) {
        error = "channel " + std::to_string(channel) +
                ": sequenced carries only sizes in multiples of 16, up to 1008 wide";
        return false;
    }
    return true;
}

}  // namespace

int LiveBitRateKbit(int width, int height) {
    return 200 + width * height / 1200;
}

std::string SimOptions::ChannelName(int channel) const {
    auto named = names.find(channel);
    if (named != names.end()) return named->second;
    // One non-Latin name by default, so that every client run meets UTF-8.
    static const char* const kDefaults[] = {"Front door", "大厅", "Otopark", "Warehouse"};
    if (channel >= 0 && channel < 4) return kDefaults[channel];
    return "Camera " + std::to_string(channel + 1);
}

bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error) {
    // One option with its value; false when the value is wrong.
    const auto apply = [&options](const std::string& name, const std::string& value) {
        int64_t number = 0;
        int index = 0;
        std::string text;
        bool ok = true;
        if (name == "--bind") {
            options.bind = value;
        } else if (name == "--port") {
            ok = ParseInteger(value, 0, 65535, number);
            options.port = static_cast<int>(number);
        } else if (name == "--user") {
            options.user = value;
        } else if (name == "--password") {
            options.password = value;
        } else if (name == "--refuse") {
            ok = ParseInteger(value, 0, 255, number);
            options.refuseReason = static_cast<int>(number);
        } else if (name == "--refuse-result") {
            ok = ParseInteger(value, 1, 255, number);
            options.refuseResult = static_cast<int>(number);
        } else if (name == "--refuse-after") {
            ok = ParseInteger(value, 0, 1000000, number);
            options.refuseAfter = static_cast<int>(number);
        } else if (name == "--drop-list-requests") {
            ok = ParseInteger(value, 0, 1000000, number);
            options.dropListRequests = static_cast<int>(number);
        } else if (name == "--channels") {
            ok = ParseInteger(value, 0, 255, number);
            options.channels = static_cast<int>(number);
        } else if (name == "--name") {
            ok = ParseIndexed(value, index, text);
            if (ok) options.names[index] = text;
        } else if (name == "--local") {
            ok = ParseInteger(value, 0, 255, number);
            options.local = static_cast<int>(number);
        } else if (name == "--extended-list") {
            options.extendedList = true;
        } else if (name == "--no-heartbeat-reply") {
            options.heartbeatReply = false;
        } else if (name == "--exit-with-parent") {
            options.exitWithParent = true;
        } else if (name == "--media") {
            ok = ParseIndexed(value, index, text) && !text.empty();
            if (ok) options.media[index] = text;
        } else if (name == "--size") {
            ok = ParseIndexed(value, index, text) &&
                 ParseSize(text, options.live[index].width, options.live[index].height);
        } else if (name == "--format") {
            ok = ParseIndexed(value, index, text) &&
                 ParseContainerName(text, options.live[index].format);
        } else if (name == "--codec") {
            ok =
                ParseIndexed(value, index, text) && ParseCodecName(text, options.live[index].codec);
        } else if (name == "--bitrate") {
            ok = ParseIndexed(value, index, text) && ParseInteger(text, 50, 50000, number);
            if (ok) options.live[index].bitRateKbit = static_cast<int>(number);
        } else if (name == "--sub-size") {
            ok = ParseIndexed(value, index, text) &&
                 ParseSize(text, options.sub[index].width, options.sub[index].height);
        } else if (name == "--sub-bitrate") {
            ok = ParseIndexed(value, index, text) && ParseInteger(text, 50, 50000, number);
            if (ok) options.sub[index].bitRateKbit = static_cast<int>(number);
        } else if (name == "--no-sub") {
            ok = value == "all" || ParseInteger(value, 0, 254, number);
            if (value == "all")
                options.noSubAll = true;
            else if (ok)
                options.noSub.insert(static_cast<int>(number));
        } else if (name == "--replay") {
            ok = value == "all" || ParseInteger(value, 0, 254, number);
            if (value == "all")
                options.replayAll = true;
            else if (ok)
                options.replay.insert(static_cast<int>(number));
        } else if (name == "--chunk") {
            ok = ParseInteger(value, 1, 1 << 20, number);
            options.chunk = static_cast<size_t>(number);
        } else if (name == "--rate") {
            ok = ParseInteger(value, 0, int64_t{1} << 40, number);
            options.rate = number;
        } else if (name == "--close-after") {
            ok = ParseSeconds(value, options.closeAfter);
        } else if (name == "--stall-login") {
            options.stallLogin = true;
        } else if (name == "--login-delay") {
            ok = ParseSeconds(value, options.loginDelay);
        } else if (name == "--garbage-after") {
            ok = ParseSeconds(value, options.garbageAfter);
        } else if (name == "--stall-heartbeat-after") {
            ok = ParseSeconds(value, options.stallHeartbeatAfter);
        } else if (name == "--pause-after") {
            ok = ParseSeconds(value, options.pauseAfter);
        } else if (name == "--pause-for") {
            ok = ParseSeconds(value, options.pauseFor);
        } else if (name == "--drop-media-after") {
            ok = ParseSeconds(value, options.dropMediaAfter);
        } else if (name == "--restart-after") {
            ok = ParseSeconds(value, options.restartAfter);
        } else if (name == "--down-for") {
            ok = ParseSeconds(value, options.downFor);
        } else if (name == "--seed") {
            ok = ParseInteger(value, 0, UINT32_MAX, number);
            options.seed = static_cast<uint32_t>(number);
            options.seeded = true;
        } else if (name == "--help") {
            options.help = true;
        }
        return ok;
    };
    // "all=" for a channel's option applies to every channel that has no value of its own,
    // once the number of channels is known.
    std::vector<std::pair<std::string, std::string>> forAll;
    std::set<std::pair<std::string, int>> given;
    for (int i = 1; i < argc; ++i) {
        const OptionInfo* option = FindOption(argv[i]);
        if (option == nullptr) {
            error = std::string("unknown option ") + argv[i];
            return false;
        }
        std::string name = option->name;
        std::string value;
        if (option->argument != nullptr) {
            if (i + 1 >= argc) {
                error = name + " needs " + option->argument;
                return false;
            }
            value = argv[++i];
        }
        const bool indexed =
            option->argument != nullptr && std::strncmp(option->argument, "I=", 2) == 0;
        if (indexed && value.rfind("all=", 0) == 0) {
            forAll.emplace_back(name, value.substr(3));
            continue;
        }
        if (!apply(name, value)) {
            error = "bad value for " + name + ": " + value;
            return false;
        }
        if (indexed) given.emplace(name, std::atoi(value.c_str()));
    }
    for (const auto& [name, rest] : forAll)
        for (int channel = 0; channel < options.channels; ++channel)
            if (given.count({name, channel}) == 0 && !apply(name, std::to_string(channel) + rest)) {
                error = "bad value for " + name + ": all" + rest;
                return false;
            }
    if ((options.pauseAfter >= 0) != (options.pauseFor > 0)) {
        error = "--pause-after and --pause-for go together";
        return false;
    }
    if ((options.restartAfter >= 0) != (options.downFor > 0)) {
        error = "--restart-after and --down-for go together";
        return false;
    }
    if (options.local > options.channels) {
        error = "--local is more than --channels";
        return false;
    }
    for (const auto& [channel, file] : options.media) {
        if (channel >= options.channels) {
            error = "--media names channel " + std::to_string(channel) + " of " +
                    std::to_string(options.channels);
            return false;
        }
        if (options.live.count(channel) != 0) {
            error = "channel " + std::to_string(channel) + " has both --media and live video";
            return false;
        }
    }
    for (const auto& [channel, live] : options.live) {
        if (channel >= options.channels) {
            error = "live video for channel " + std::to_string(channel) + " of " +
                    std::to_string(options.channels);
            return false;
        }
        if (!CheckLive(channel, live, error)) return false;
    }
    if (options.media.empty() && options.live.empty()) {
        for (int channel = 0; channel < options.channels; ++channel)
            options.live[channel] = DemoChannel(channel);
    }
    for (int channel : options.replay) {
        if (options.live.count(channel) == 0) {
            error =
                "--replay names channel " + std::to_string(channel) + ", which has no live video";
            return false;
        }
    }
    for (auto& [channel, live] : options.live)
        live.replay = options.replayAll || options.replay.count(channel) != 0;
    for (const auto& [channel, sub] : options.sub) {
        auto live = options.live.find(channel);
        if (live == options.live.end()) {
            error = "--sub-size or --sub-bitrate names channel " + std::to_string(channel) +
                    ", which has no live video";
            return false;
        }
        if (!CheckLive(channel, options.SubStreamOf(channel, live->second), error)) {
            error = "sub stream of " + error;
            return false;
        }
    }
    return true;
}

LiveChannel SimOptions::SubStreamOf(int channel, const LiveChannel& main) const {
    LiveChannel stream = main;
    stream.streamType = 2;
    stream.width = 352;
    stream.height = 288;
    if (main.width * main.height < stream.width * stream.height) {
        stream.width = main.width;
        stream.height = main.height;
    }
    stream.bitRateKbit = 0;
    auto asked = sub.find(channel);
    if (asked != sub.end()) {
        if (asked->second.width > 0) {
            stream.width = asked->second.width;
            stream.height = asked->second.height;
        }
        stream.bitRateKbit = asked->second.bitRateKbit;
    }
    return stream;
}

std::string SimHelp() {
    std::string text =
        "Usage: tavix-sim [OPTION]...\n"
        "Plays a network video recorder for the Tavix client: login, channel list,\n"
        "heartbeat, media connections and PTZ, over TCP. Serves several clients at once.\n"
        "Prints one JSON line per event and per request received on standard output; the\n"
        "first line is {\"event\":\"listening\",\"address\":...,\"port\":N}.\n"
        "Requests: login, heartbeat, channel-names, channel-records, stream, ptz,\n"
        "announce, unknown. Events: listening, connected, closed, fault, bad-request,\n"
        "live (a live channel starts: format, codec, size, bit rate, replay), live-end\n"
        "(frames sent, the largest key picture, the mean time to draw and encode one),\n"
        "error, stopped. Every line\n"
        "but the listening, restart and stopped lines names its \"connection\". Channel\n"
        "indices are 0-based, as on the wire; an option of the form I=VALUE also takes\n"
        "all=VALUE: every channel that has no value of its own gets it. SIGINT or SIGTERM\n"
        "stop it cleanly.\n"
        "Faults (the --...-after options) count their seconds (fractions allowed) from\n"
        "the login reply of the session; each prints a fault line when it strikes: close,\n"
        "garbage, stall-heartbeat, pause and resume (per connection), drop-media (per\n"
        "media connection), restart (then listening again).\n\n"
        "Live video: a test pattern (colour bars, grey steps, a moving square, the\n"
        "channel's name, a clock and a frame stamp) encoded as H.264 or MPEG-4 Visual at\n"
        "25 frames per second, one key frame per second. PTZ commands steer it one step\n"
        "each: pan and tilt over a larger scene, zoom, focus (blur) and iris\n"
        "(brightness). Without --media, --size, --format, --codec or --bitrate every\n"
        "channel is live, the first four as: 0 private H.264 352x288, 1 checksummed H.264\n"
        "704x576, 2 ps MPEG-4 352x288, 3 private H.264 1280x720.\n"
        "Which channels are live-encoded: every live channel, for each media connection,\n"
        "unless --replay names it. Live-encoded pictures carry a true frame stamp: the\n"
        "frame's number and the moment it was drawn, just before it is sent; 16 channels\n"
        "of 352x288 cost about a quarter of one core so. Which replay: the channels\n"
        "--replay names, until their first PTZ command: their first 4 s are encoded once,\n"
        "then sent again in a loop (16 such channels: a few per cent of a core), with no\n"
        "stamp in the picture (the containers' frame numbers and times stay fresh). After\n"
        "a PTZ command they are live-encoded and stamped. The live line of each media\n"
        "connection says which (\"replay\").\n"
        "Stream types: a stream request for type 2 gets the channel's sub stream, a\n"
        "smaller picture at a lower rate (--sub-size, --sub-bitrate), in the main\n"
        "stream's container and codec; --no-sub makes the device send nothing for it. A\n"
        "--media file is served for both. The live line says which (\"stream\").\n\n";
    constexpr size_t kIndent = 32;
    constexpr size_t kWidth = 80;
    for (const OptionInfo& option : kOptions) {
        std::string line = std::string("  ") + option.name;
        if (option.argument != nullptr) line += std::string(" ") + option.argument;
        if (line.size() >= kIndent) {
            text += line + "\n";
            line.clear();
        }
        line.resize(kIndent, ' ');
        // Word-wrapped help, indented under its option.
        std::string help = option.help;
        size_t at = 0;
        while (at < help.size()) {
            size_t end = help.find(' ', at);
            if (end == std::string::npos) end = help.size();
            std::string word = help.substr(at, end - at);
            if (line.size() > kIndent && line.size() + 1 + word.size() > kWidth) {
                text += line + "\n";
                line.assign(kIndent, ' ');
            }
            if (line.size() > kIndent) line += ' ';
            line += word;
            at = end + 1;
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace tavix::sim

// The simulator's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "tools/sim/container_writer.h"

namespace tavix::sim {

// A channel that serves live generated video.
struct LiveChannel {
    int width = 352;
    int height = 288;
    ContainerFormat format = ContainerFormat::kPrivate;
    int bitRateKbit = 0;  // 0: chosen from the size (LiveBitRateKbit)
    VideoCodec codec = VideoCodec::kH264;
    // Replays a loop encoded once per media connection until the first PTZ command for the
    // channel (see LiveVideoSource); its pictures carry no frame stamp meanwhile.
    bool replay = false;
    int streamType = 1;  // 1 main, 2 sub (SimOptions::SubStreamOf)
};

// A channel's sub stream as asked for; 0: the default.
struct SubStream {
    int width = 0;
    int height = 0;
    int bitRateKbit = 0;
};

// The rate a live channel gets when none is given: about what a recorder spends on the size.
int LiveBitRateKbit(int width, int height);

struct SimOptions {
    std::string bind = "127.0.0.1";
    int port = 34567;  // 0: the system chooses; the first output line tells which

    std::string user = "admin";
    std::string password = "702914";
    int refuseReason = -1;     // >= 0: every login is refused with this reason byte
    int refuseResult = -1;     // >= 0: every login is refused with this result byte
    int refuseAfter = -1;      // >= 0: logins after the first N accepted ones are refused
    int dropListRequests = 0;  // the first N channel-list requests get no reply

    int channels = 4;
    int local = -1;                    // local channels; the rest are IP channels. -1: all local
    std::map<int, std::string> names;  // by channel index, UTF-8
    bool extendedList = false;
    bool heartbeatReply = true;

    std::map<int, std::string> media;  // file looped as the channel's media
    std::map<int, LiveChannel> live;   // live video; filled for the demo channels when neither
                                       // this nor `media` was asked for
    std::map<int, SubStream> sub;      // every live channel serves one; see SubStreamOf
    std::set<int> noSub;               // channels that send nothing for a sub stream
    bool noSubAll = false;
    std::set<int> replay;    // live channels that replay (LiveChannel::replay)
    bool replayAll = false;  // every live channel replays
    size_t chunk = 2048;     // body bytes of one media message
    int64_t rate = 250000;   // media bytes per second; 0: as fast as the socket takes

    // Faults, in seconds after the login reply (negative: off).
    double closeAfter = -1;
    double garbageAfter = -1;
    double stallHeartbeatAfter = -1;
    double pauseAfter = -1;  // with pauseFor
    double pauseFor = 0;
    double dropMediaAfter = -1;
    double restartAfter = -1;  // with downFor; after the first login of each listening period
    double downFor = 0;
    bool stallLogin = false;
    double loginDelay = 0;

    bool seeded = false;
    uint32_t seed = 0;
    bool exitWithParent = false;
    bool help = false;

    int LocalChannels() const { return local < 0 ? channels : local; }
    bool ServesSub(int channel) const { return !noSubAll && noSub.count(channel) == 0; }
    // The sub stream of live channel `main`: as --sub-size and --sub-bitrate say, else
    // 352x288 (or the main's size when that is smaller) at the rate for its size; the main
    // stream's container, codec and replay.
    LiveChannel SubStreamOf(int channel, const LiveChannel& main) const;
    std::string ChannelName(int channel) const;
};

// Fills `options` from the arguments; false with a message in `error` when one is wrong.
bool ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

// The text of --help: every option with its argument and default.
std::string SimHelp();

}  // namespace tavix::sim

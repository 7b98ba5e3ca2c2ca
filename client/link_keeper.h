// LinkKeeper: the rules that keep a device's links up, as a state machine of the client
// thread. What happened goes in, with the time; what the client is to do comes out, in order.
// No sockets, threads or sleeps.
//
// - A channel that streams but has had no media for kStallMs is reopened on a fresh media
//   connection at once, then after the pauses of RetrySchedule, until media comes again.
// - A lost session (reported by the client, or a heartbeat unanswered kSilentMs after it went
//   out) is logged in again as RetrySchedule says; once back, every channel the user plays is
//   reopened, and a channel list asked for but never received is asked for again.
// - The user's own login ends every try for the one before it; so does a logout, and a login
//   the device refuses.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "client/retry_schedule.h"

namespace tavix {

struct LinkAction {
    enum Kind {
        kTellReconnecting,  // to the sink: `channel` (-1 the session) is being brought back,
                            // `value` the reason
        kTellReconnected,   // to the sink: `channel` (-1 the session) is back
        kTellRefused,       // to the sink: our login was refused with `value`; the user is asked
        kEndSession,        // the device has gone silent: end the session without a word
        kLoginAgain,        // log in with the last login's credentials, then report TryResult
        kReopen,            // open `channel` again; `fresh`: on a new media connection; `silent`:
                            // its failure is the client's own, not the sink's
        kAskChannelList,
    };
    Kind kind;
    int channel = -1;
    int value = 0;
    bool fresh = false;
    bool silent = false;
    bool operator==(const LinkAction&) const = default;
};

class LinkKeeper {
  public:
    static constexpr int64_t kStallMs = 5000;
    static constexpr int64_t kSilentMs = 5000;  // after a heartbeat went out

    struct Channel {
        int channel;
        bool wanted;          // the user plays it
        bool streaming;       // its stream started and its media goes to its decoder
        int64_t lastMediaMs;  // or when its stream started
    };
    struct View {
        bool sessionWanted;    // the user logged in and has not logged out since
        bool userLoginQueued;  // a login of the user's has not had its result yet
        bool loggedIn;
        int64_t heartbeatSentMs;
        int64_t heartbeatReplyMs;
        bool listOwed;  // the user asked for the channel list and none has come since
        std::vector<Channel> channels;
    };

    // After each pass of the client thread.
    std::vector<LinkAction> Tick(int64_t now, const View& view);
    // The session ended without the user's asking (closed, out of step, heartbeat rule).
    std::vector<LinkAction> SessionLost(int64_t now, int reason);
    // How a kLoginAgain went: its login code, and whether the session is logged in after it (a
    // device may answer and drop the link at once).
    std::vector<LinkAction> TryResult(int64_t now, int code, const View& view);
    // The result of the user's own login.
    void UserLoginResult(int64_t now, int code);
    // Media of `channel` came: whether the channel was being brought back (the sink hears it
    // is back).
    bool MediaCame(int channel);

    bool Trying() const { return retry.Active(); }

  private:
    struct Stall {
        bool stalled = false;
        int tries = 0;
        int64_t nextTryMs = 0;
    };

    void Clear(Stall& stall);

    RetrySchedule retry;
    std::map<int, Stall> stalls;
    int stalledCount = 0;  // MediaCame, called for every chunk, looks no further while 0
};

}  // namespace tavix

#include "client/link_keeper.h"

#include "client/device_events.h"

namespace tavix {

std::vector<LinkAction> LinkKeeper::Tick(int64_t now, const View& view) {
    std::vector<LinkAction> actions;
    if (!view.sessionWanted) {
        retry.Cancel();  // the user logged out: no more tries
        return actions;
    }
    if (view.userLoginQueued) return actions;  // the user's login decides
    if (retry.Active()) {
        if (retry.Due(now)) {
            retry.TryStarted();
            actions.push_back({LinkAction::kLoginAgain});
        }
        return actions;
    }
    if (!view.loggedIn) return actions;
    // A device that has frozen still takes our bytes, but answers nothing.
    if (view.heartbeatSentMs > view.heartbeatReplyMs && now - view.heartbeatSentMs > kSilentMs) {
        actions.push_back({LinkAction::kEndSession});
        for (const LinkAction& lost : SessionLost(now, kReconnectSilent))
            actions.push_back(lost);
        return actions;
    }
    for (const Channel& c : view.channels) {
        Stall& stall = stalls[c.channel];
        if (!c.wanted || !c.streaming) {
            Clear(stall);
            continue;
        }
        if (!stall.stalled && now - c.lastMediaMs > kStallMs) {
            stall = {true, 0, now};
            ++stalledCount;
            actions.push_back({LinkAction::kTellReconnecting, c.channel, kReconnectStalled});
        }
        if (stall.stalled && now >= stall.nextTryMs) {
            actions.push_back({LinkAction::kReopen, c.channel, 0, true, true});
            stall.nextTryMs = now + RetrySchedule::PauseMs(stall.tries++);
        }
    }
    return actions;
}

std::vector<LinkAction> LinkKeeper::SessionLost(int64_t now, int reason) {
    retry.Lost(now);
    return {{LinkAction::kTellReconnecting, -1, reason}};
}

std::vector<LinkAction> LinkKeeper::TryResult(int64_t now, int code, const View& view) {
    std::vector<LinkAction> actions;
    if (code == kEventOk && view.loggedIn) {
        retry.Up(now);
        actions.push_back({LinkAction::kTellReconnected, -1});
        // A channel that streamed is the client's to bring back; one whose open had failed
        // hears how this one goes.
        for (const Channel& c : view.channels) {
            Clear(stalls[c.channel]);
            if (c.wanted)
                actions.push_back({LinkAction::kReopen, c.channel, 0, false, c.streaming});
        }
        // The list may have been lost with the link while its reply was awaited.
        if (view.listOwed) actions.push_back({LinkAction::kAskChannelList});
    } else if (IsLoginRefusal(code)) {
        retry.Cancel();
        actions.push_back({LinkAction::kTellRefused, -1, code});
    } else {
        retry.Failed(now);
    }
    return actions;
}

void LinkKeeper::UserLoginResult(int64_t now, int code) {
    retry.Cancel();
    if (code == kEventOk) retry.Up(now);
}

bool LinkKeeper::MediaCame(int channel) {
    if (stalledCount == 0) return false;
    auto found = stalls.find(channel);
    if (found == stalls.end() || !found->second.stalled) return false;
    Clear(found->second);
    return true;
}

void LinkKeeper::Clear(Stall& stall) {
    if (stall.stalled) --stalledCount;
    stall = {};
}

}  // namespace tavix

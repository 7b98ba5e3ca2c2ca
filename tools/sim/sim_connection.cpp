#include "tools/sim/sim_connection.h"

#include <chrono>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "tools/sim/json_line.h"
#include "tools/sim/sim_replies.h"

namespace tavix::sim {
namespace {

constexpr int kPollMs = 10;
// Requests of the client are small; anything larger is not a client of ours.
constexpr uint32_t kMaxRequestBody = 64 * 1024;
constexpr size_t kGarbageBytes = 4096;

}  // namespace

SimConnection::SimConnection(SimServer& server, SocketHandle accepted, int number)
    : server(server),
      options(server.Options()),
      number(number),
      generation(server.Generation()),
      peer(accepted, [this] { return Ending() || (session && session->closed.load()); }) {}

void SimConnection::Run() {
    JsonLine("event", "connected").Number("connection", number).Print();
    Bytes first;
    while (!TakeMessage(first)) {
        if (Ending() || !peer.IsOpen()) return Closed("simulator");
        if (!peer.Read(pending, kPollMs)) return Closed("client");
    }
    if (first[0] == kAnnounce)
        RunMedia(first);
    else
        RunControl(first);
}

bool SimConnection::TakeMessage(Bytes& message) {
    if (pending.size() < kHeader) return false;
    uint32_t body = Le32(&pending[4]);
    if (body > kMaxRequestBody) {
        JsonLine("event", "bad-request")
            .Number("connection", number)
            .Number("code", pending[0])
            .Number("length", body)
            .Print();
        peer.Close();
        return false;
    }
    if (pending.size() < kHeader + body) return false;
    message.assign(pending.begin(), pending.begin() + kHeader + body);
    pending.erase(pending.begin(), pending.begin() + kHeader + body);
    return true;
}

void SimConnection::Closed(const char* by) {
    // The end of the control connection ends the session and so its media connections.
    if (session && control) session->closed.store(true);
    peer.Close();
    JsonLine("event", "closed").Number("connection", number).Text("by", by).Print();
}

// ---- control connection

void SimConnection::RunControl(const Bytes& first) {
    control = true;
    HandleControl(first);
    Bytes message;
    while (peer.IsOpen()) {
        if (Ending()) return Closed("simulator");
        if (Paused()) {
            SleepMs(kPollMs);
            continue;
        }
        if (!ApplyFaults()) return;
        if (!peer.Read(pending, kPollMs)) return Closed("client");
        while (peer.IsOpen() && TakeMessage(message))
            HandleControl(message);
    }
    Closed("simulator");
}

double SimConnection::SinceLogin() const {
    int64_t loginAtMs = session ? session->loginAtMs.load() : -1;
    return loginAtMs < 0 ? -1 : static_cast<double>(MonotonicMs() - loginAtMs) / 1000.0;
}

bool SimConnection::Paused() {
    double since = SinceLogin();
    if (options.pauseAfter < 0 || since < options.pauseAfter || pause == kAfterPause) return false;
    if (since < options.pauseAfter + options.pauseFor) {
        if (pause == kBeforePause)
            JsonLine("event", "fault")
                .Text("fault", "pause")
                .Number("connection", number)
                .Real("seconds", options.pauseFor, 3)
                .Print();
        pause = kInPause;
        return true;
    }
    // A connection that comes after the pause has none.
    if (pause == kInPause)
        JsonLine("event", "fault").Text("fault", "resume").Number("connection", number).Print();
    pause = kAfterPause;
    return false;
}

bool SimConnection::Reply(const Bytes& bytes) {
    return peer.Write(bytes);
}

bool SimConnection::ApplyFaults() {
    double since = SinceLogin();
    if (since < 0) return true;
    if (options.closeAfter >= 0 && since >= options.closeAfter) {
        JsonLine("event", "fault").Text("fault", "close").Number("connection", number).Print();
        Closed("simulator");
        return false;
    }
    if (options.garbageAfter >= 0 && since >= options.garbageAfter && !garbageSent) {
        garbageSent = true;
        Reply(server.RandomBytes(kGarbageBytes));
        JsonLine("event", "fault")
            .Text("fault", "garbage")
            .Number("connection", number)
            .Number("bytes", kGarbageBytes)
            .Print();
    }
    return true;
}

void SimConnection::HandleControl(const Bytes& message) {
    size_t body = message.size() - kHeader;
    switch (message[0]) {
        case kLogin:
            Login(message);
            break;
        case kHeartbeat: {
            double since = SinceLogin();
            bool stalled = options.stallHeartbeatAfter >= 0 && since >= options.stallHeartbeatAfter;
            if (stalled && !heartbeatStallTold) {
                heartbeatStallTold = true;
                JsonLine("event", "fault")
                    .Text("fault", "stall-heartbeat")
                    .Number("connection", number)
                    .Print();
            }
            bool answered = options.heartbeatReply && !stalled;
            JsonLine("request", "heartbeat")
                .Number("connection", number)
                .Flag("answered", answered)
                .Print();
            if (answered) Reply(HeartbeatReply());
            break;
        }
        case kChannelNames:
        case kChannelRecords: {
            std::vector<std::string> names;
            for (int i = 0; i < options.channels; ++i)
                names.push_back(options.ChannelName(i));
            const bool answered = server.CountListRequest() >= options.dropListRequests;
            if (message[0] == kChannelNames) {
                JsonLine("request", "channel-names")
                    .Number("connection", number)
                    .Flag("answered", answered)
                    .Print();
                if (answered) Reply(ChannelNamesReply(names));
            } else {
                JsonLine("request", "channel-records")
                    .Number("connection", number)
                    .Number("type", body >= 8 ? Le32(&message[kHeader]) : 0)
                    .Number("channels", body >= 12 ? Le16(&message[kHeader + 8]) : 0)
                    .Flag("answered", answered)
                    .Print();
                if (answered) Reply(ChannelRecordsReply(names));
            }
            break;
        }
        case kStream: {
            StreamFields fields = ReadStreamRequest(message, options.LocalChannels());
            JsonLine("request", "stream")
                .Number("connection", number)
                .Number("channel", fields.channel)
                .Number("operate", fields.operate)
                .Number("streamType", fields.streamType)
                .Text("stream", fields.streamType == 2 ? "sub" : "main")
                .Text("layout", fields.layout)
                .Number("length", static_cast<int64_t>(message.size()))
                .Print();
            if (session && fields.channel >= 0)
                session->SetWanted(fields.channel, fields.operate == 1, fields.streamType);
            break;
        }
        case kPtz: {
            PtzFields fields = ReadPtz(message);
            JsonLine("request", "ptz")
                .Number("connection", number)
                .Number("channel", fields.channel)
                .Text("action", PtzActionName(fields.code))
                .Number("code", fields.code)
                .Number("speed", fields.speed)
                .Print();
            if (session) session->Steer(fields.channel, fields.code, fields.speed);
            break;
        }
        default:
            JsonLine("request", "unknown")
                .Number("connection", number)
                .Number("code", message[0])
                .Number("length", static_cast<int64_t>(message.size()))
                .Print();
            break;
    }
}

void SimConnection::Login(const Bytes& message) {
    LoginFields fields = ReadLogin(message);
    JsonLine line("request", "login");
    line.Number("connection", number)
        .Text("user", fields.user)
        .Text("password", fields.password)
        .Text("form", fields.longForm ? "long" : "short");
    if (options.stallLogin) {
        line.Flag("answered", false).Print();
        return;
    }
    uint8_t result = 0;
    uint8_t reason = 0;
    if (options.refuseResult >= 0 || options.refuseReason >= 0) {
        result = static_cast<uint8_t>(options.refuseResult >= 0 ? options.refuseResult : 1);
        reason = static_cast<uint8_t>(options.refuseReason >= 0 ? options.refuseReason : 0);
    } else if (fields.user != options.user || fields.password != options.password ||
               (options.refuseAfter >= 0 && server.CountLogin() >= options.refuseAfter)) {
        result = 1;  // refused; reason 0
    }
    std::array<uint8_t, 4> id{};
    if (result == 0) {
        // A new login on the same connection starts a new session; the old one's media ends.
        if (session) session->closed.store(true);
        session = server.NewSession();
        id = session->id;
    }
    line.Flag("answered", true).Number("result", result).Number("reason", reason);
    if (result == 0) line.Text("session", Hex(id.data(), id.size()));
    line.Print();

    for (int64_t due = MonotonicMs() + static_cast<int64_t>(options.loginDelay * 1000);
         MonotonicMs() < due;) {
        if (Ending()) return;
        SleepMs(kPollMs);
    }
    Reply(LoginReply(result, reason, options.LocalChannels(), options.channels,
                     options.extendedList, id));
    if (result == 0) {
        session->loginAtMs.store(MonotonicMs());
        server.LoginReplied();
    }
}

// ---- media connection

void SimConnection::RunMedia(const Bytes& announce) {
    AnnounceFields fields = ReadAnnounce(announce);
    std::shared_ptr<SimSession> owner = server.FindSession(fields.sessionId);
    bool valid = owner && fields.channel >= 0 && fields.channel < options.channels;
    JsonLine("request", "announce")
        .Number("connection", number)
        .Number("channel", fields.channel)
        .Text("session", Hex(fields.sessionId.data(), fields.sessionId.size()))
        .Flag("valid", valid)
        .Print();
    if (!valid) return Closed("simulator");
    session = owner;

    // Made when the stream is asked for, of the type asked: a request for the other type
    // starts the other stream.
    std::unique_ptr<MediaSource> source;
    int sourceType = 0;
    // --drop-media-after drops the media connections that are there when it is due.
    bool droppable = options.dropMediaAfter >= 0 && SinceLogin() < options.dropMediaAfter;
    Bytes ignored;
    const char* by = "simulator";
    for (;;) {
        if (Ending() || session->closed.load()) break;
        if (droppable && SinceLogin() >= options.dropMediaAfter) {
            JsonLine("event", "fault")
                .Text("fault", "drop-media")
                .Number("connection", number)
                .Number("channel", fields.channel)
                .Print();
            break;
        }
        if (Paused()) {
            SleepMs(kPollMs);
            continue;
        }
        const int wantedType = session->WantedType(fields.channel);
        if (wantedType != 0 && wantedType != sourceType) {
            if (source) session->Detach(fields.channel, source.get());
            source = MakeMediaSource(options, fields.channel, wantedType, number);
            sourceType = wantedType;
            if (source) session->Attach(fields.channel, source.get());
        }
        bool sending = source && wantedType != 0;
        if (!peer.Read(ignored, sending ? 0 : kPollMs)) {
            by = "client";
            break;
        }
        ignored.clear();
        if (!sending) continue;
        Bytes body = source->Next(options.chunk);
        if (body.empty()) {
            SleepMs(kPollMs);
            continue;
        }
        if (!peer.Write(MediaMessage(body.data(), body.size()))) break;
        if (!source->PacesItself() && !Pace(body.size())) break;
    }
    if (source) session->Detach(fields.channel, source.get());
    Closed(by);
}

bool SimConnection::Pace(size_t bytes) {
    if (options.rate <= 0) return true;
    auto due = std::chrono::steady_clock::now() +
               std::chrono::microseconds(static_cast<int64_t>(bytes) * 1000000 / options.rate);
    while (std::chrono::steady_clock::now() < due) {
        if (Ending() || session->closed.load()) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(kPollMs)));
    }
    return true;
}

}  // namespace tavix::sim

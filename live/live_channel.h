// LiveChannel: one channel played live, whoever shows it (a tile of the wall, tavix-probe): its
// decoder, which is the channel's media sink at the client; its status, decided here and
// nowhere else; and its figures. Pictures either go to a screen (SetScreen: the decoder
// converts each one straight into the screen's image) or are taken one at a time
// (TakePicture).
//
// Threads: the owner's thread (the window's, the probe's main thread) for everything but the
// sink, which the client calls on its thread, and the screen, which the decoding thread calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "client/device_client.h"
#include "client/media_sink.h"
#include "video/decoder.h"
#include "video/picture_screen.h"

namespace tavix {

enum class LiveStatus {
    kNone,
    kOpening,
    kBuffering,
    kPlaying,
    kReconnecting,
    kOpenError,
    kStopped
};

// The language text key of a status: "OPENING_V", "BUFFERING", "PLAYING", "RECONNECTING",
// "OPEN_ERR", "STOP"; empty for kNone.
const char* StatusKey(LiveStatus status);

// Counts a reader takes differences of: pictures since the channel object was made, media of
// the channel playing since the client was made (none while none plays).
struct LiveFigures {
    int64_t pictures = 0;       // shown (or taken)
    int64_t bytes = 0;          // media received
    int64_t refusedChunks = 0;  // media refused for lack of room
    int64_t keyWaits = 0;       // waits for a key picture after a loss
    int64_t delaySumMs = 0;     // capture to screen, over the stamped pictures
    int64_t delayCount = 0;
    int codec = -1;
    int decodeMicroseconds = 0;
};

class LiveChannel final : public IMediaSink, private IPictureScreen {
  public:
    // `decoder`: null makes the real one.
    explicit LiveChannel(DeviceClient& client, std::unique_ptr<CDecoder> decoder = nullptr);
    // Closes the channel.
    ~LiveChannel() override;
    LiveChannel(const LiveChannel&) = delete;
    LiveChannel& operator=(const LiveChannel&) = delete;

    // Plays `channel` here (kOpening), closing what played before.
    void Open(int channel, int streamType = kMainStream);
    // Plays the channels of `other` from now on (a wall of several recorders); closes what
    // played before.
    void UseClient(DeviceClient& other);
    DeviceClient& Client() const { return *client; }
    // Plays the channel's other stream: the status and the last picture stay until the new
    // stream's first picture replaces it. Nothing when none plays or it plays that type.
    void SwitchStream(int streamType);
    // The stream type that plays (or, before the start, is asked for); 0 when none plays.
    // Any thread.
    int StreamType() const { return streamType.load(std::memory_order_acquire); }
    // The picture size of the channel's main stream, once one of its pictures reached the
    // screen (0 x 0 before). Any thread.
    int MainWidth() const { return mainWidth.load(std::memory_order_relaxed); }
    int MainHeight() const { return mainHeight.load(std::memory_order_relaxed); }
    // The next picture of the main stream goes to the screen's SnapshotReady at its own size:
    // at once when the main stream plays, else it is opened for it (SwitchStream), and the
    // owner switches back when the snapshot is there.
    void SnapshotFromMain();
    // Closes it (kStopped); nothing when none plays.
    void Close();

    // The events of the played channel, on the owner's thread. Each returns whether the
    // status changed. 0 gives kBuffering (while reconnecting, the status stays until the first
    // picture), else kOpenError, and no other status until the next open.
    bool OnStreamResult(int code);
    // The client is bringing the channel back: kReconnecting until a picture comes.
    bool OnReconnecting();
    // Follows the decoder's picture flow: buffering, playing. For a screen; TakePicture does
    // it by itself. Cheap enough for every picture and a slow timer.
    bool Poll();

    // Without a screen: the ready picture (as CDecoder::GetPicture has it), or null; `changed`
    // is set when the status changed. Give it back with ReleasePicture.
    const uint8_t* TakePicture(int& width, int& height, bool& changed);
    void ReleasePicture() { decoder->ReleasePicture(); }

    // Where pictures go from the next one on (null: TakePicture). `screen` must outlive this
    // object or be replaced first. Its calls come on the decoding thread.
    void SetScreen(IPictureScreen* screen);
    // Whether the delay figures are read from pictures' frame stamps (a screen's only).
    void SetStampsWanted(bool on) { decoder->SetStampsWanted(on); }

    int Channel() const { return channel; }
    LiveStatus Status() const { return status; }
    LiveFigures Figures() const;
    CDecoder& Decoder() { return *decoder; }

    // The client's media sink (client thread, and the closing thread).
    void StreamStarted(int channel, int streamType) override;
    void StreamStopped(int channel) override;
    bool Media(int channel, const uint8_t* data, int length) override;

  private:
    ScreenReady BeginPicture(int width, int height, ScreenImage& image) override;
    void EndPicture(const PictureFacts& facts) override;
    void SnapshotReady(std::vector<uint8_t> picture, int width, int height) override;

    bool Set(LiveStatus to);
    // The decoder's status (kStatusPlaying / kStatusBuffering) as the channel's.
    bool Follow(int decoderStatus);

    DeviceClient* client;
    std::unique_ptr<CDecoder> decoder;
    // The owner's.
    int channel = -1;
    LiveStatus status = LiveStatus::kNone;
    bool opened = false;        // the stream started: the decoder's flow counts
    bool reconnecting = false;  // the status says so until a picture comes
    bool switching = false;     // to the other stream: the status stays until a picture
    int decoderStatus = kStatusBuffering;
    int64_t taken = 0;  // pictures taken without a screen
    // Shared with the decoding thread.
    std::atomic<IPictureScreen*> screen{nullptr};
    std::atomic<int64_t> shown{0};
    std::atomic<int64_t> delaySumMs{0};
    std::atomic<int64_t> delayCount{0};
    // Written by the client thread at each start, read by the decoding thread.
    std::atomic<int> streamType{0};
    std::atomic<bool> snapshotOnStart{false};  // of the main stream about to start
    std::atomic<int> mainWidth{0};
    std::atomic<int> mainHeight{0};
};

}  // namespace tavix

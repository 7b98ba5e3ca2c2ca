// LiveTile: one tile of the live page's wall, playing one channel. It shows the pictures of the
// channel's own decoder (DeviceClient::Decoder) fitted whole into the tile and letterboxed, in
// the enlarged view on a tall screen turned a quarter where that fills it better, and keeps the
// live view's status: opening, buffering, playing, stopped, open error. With a caption (grid
// layouts) the channel's name and the status are drawn over the picture; a selected tile has a
// frame.
//
// Threads: everything runs on the window's thread except Tick, which the wall's periodic tick
// calls on its own thread. Tick shares only atomics with the window's thread, and the lock that
// keeps a picture from being presented while Stop clears the tile; the placement a new picture
// size needs is made on the window's thread (through the wall's post function) while the tick
// waits.
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "ui/video_presenter.h"

class QLabel;

namespace tavix {

class CDecoder;
class DeviceClient;

class LiveTile : public QWidget {
    Q_OBJECT

  public:
    // Runs work on the window's thread, from any thread; work still queued when the window
    // goes is dropped unrun.
    using Post = std::function<void(std::function<void()>)>;

    LiveTile(DeviceClient& client, Post post, QWidget* parent);
    ~LiveTile() override;

    // Opens `channel` here ("OPENING_V"), stopping what played before. `name` is its name in the
    // channel tree.
    void Play(int channel, const QString& name);
    // Closes the channel ("STOP") and clears the picture to black; nothing when none plays.
    void Stop();
    // The channel's stream result: 0 "BUFFERING" (while reconnecting, the status stays until the
    // first picture), else "OPEN_ERR" (and no other status comes until the channel is opened
    // again).
    void OnStreamResult(int code);
    // The client is bringing the channel back ("RECONNECTING"): the last picture stays, and no
    // other status comes until its stream starts again.
    void SetReconnecting();

    int Channel() const { return channel.load(std::memory_order_relaxed); }
    QString ChannelName() const { return channelName; }
    // The status text shown last (empty before the first open).
    QString StatusText() const { return statusText; }

    // Grid layouts draw the name and status over the picture and a frame around a selected
    // tile; the single tile shows neither, as the live view always has.
    void SetCaptioned(bool captioned);
    void SetSelected(bool selected);
    bool Selected() const { return selected; }
    // The enlarged view: the picture may turn a quarter on a tall tile.
    void SetEnlarged(bool enlarged);
    // Pictures are shown only while the tile is on screen (its page, and the wall showing it).
    void SetShown(bool shown) { this->shown.store(shown, std::memory_order_relaxed); }
    // For tests: pictures are converted to and presented at `bits` per pixel (16, 24 or 32)
    // whatever the depth of the display; 0 follows the display.
    void UseDisplayBits(int bits);
    // Bits per pixel of the presenter, as it reported it (0 before the first picture).
    int DisplayBits() const { return displayBits.load(std::memory_order_relaxed); }

    // The next picture of the channel comes as SnapshotTaken: an image of its decoded size,
    // upright. Nothing comes while the tile plays nothing; Stop drops the request.
    void TakeSnapshot() { snapshotWanted.store(true, std::memory_order_release); }
    // The statistics drawn over the tile: codec and size, pictures per second, kbit/s
    // received, decode time, what was dropped (chunks refused, waits for a key picture after a
    // loss), and the delay from capture where the pictures carry tavix-sim's frame stamp.
    void SetStatisticsShown(bool shown);
    // About once a second: the figures of the last `periodMs`.
    void UpdateStatistics(int64_t periodMs);

    // Tick thread: takes at most one picture from the decoder and presents it; a status change
    // goes to the window's thread.
    void Tick();
    // The window is going: the tick waits for nothing any more.
    void Close() { closing.store(true, std::memory_order_release); }

  signals:
    // Window's thread: the status text changed; a snapshot asked for is here.
    void StatusChanged(LiveTile* tile, const QString& text);
    void SnapshotTaken(LiveTile* tile, const QImage& picture);

  protected:
    // Mouse events are the wall's: they pass through the tile.
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void SetStatus(const char16_t* key);
    void UpdateCaption();
    // The video area inside the frame.
    QRect VideoRect() const;
    bool Refit(int width, int height);
    // Places a picture of width x height (fit, turn, presenter) on the window's thread while
    // the tick waits; where it lands, in screen coordinates.
    ScreenRect Place(int width, int height);

    DeviceClient& client;
    Post post;
    QWidget* videoArea = nullptr;  // what the presenter draws into
    QLabel* caption = nullptr;
    QLabel* statistics = nullptr;
    bool statisticsShown = false;
    int64_t presentedBefore = 0;  // the counts of the last statistics update
    int64_t bytesBefore = 0;
    int64_t delaySumBefore = 0;
    int64_t delayCountBefore = 0;
    QString channelName;
    QString statusText;
    bool reconnecting = false;  // the status says so until a picture comes
    bool captioned = false;
    bool selected = false;
    int forcedBits = 0;

    // Shared with the tick. The channel is published after its decoder (release / acquire).
    std::atomic<int> channel{-1};
    std::atomic<CDecoder*> decoder{nullptr};
    std::atomic<bool> opened{false};     // the stream started: the decoder's status counts
    std::atomic<int> generation{0};      // counts opens and stops: older statuses are dropped
    std::atomic<int> bufferingShown{0};  // the status shows buffering (1) or playing (0)
    std::atomic<bool> enlarged{false};
    std::atomic<bool> shown{true};
    std::atomic<bool> geometryDirty{true};
    std::atomic<int> pictureWidth{0};  // size of the picture placed last
    std::atomic<int> pictureHeight{0};
    std::atomic<int> displayBits{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> snapshotWanted{false};
    std::atomic<int64_t> presented{0};  // pictures presented since construction
    // While the statistics show: the delays read from tavix-sim's frame stamps, added up.
    std::atomic<bool> stampsWanted{false};
    std::atomic<int64_t> delaySumMs{0};
    std::atomic<int64_t> delayCount{0};

    // Held by the tick while it presents and by Stop while it clears: a picture of a stopped
    // channel never reaches the screen after the stop.
    std::mutex presentLock;
    // The tick's own; the placement's part runs on the window's thread while the tick waits.
    std::unique_ptr<uint8_t[]> rotateBuffer;  // the picture turned, when the view is turned
    ScreenRect destination;                   // where the picture lands, screen coordinates
    VideoPresenter presenter;
};

}  // namespace tavix

// LiveTile: one tile of the live page's wall, playing one channel through a LiveChannel of its
// own. The channel's decoder converts each picture straight into the tile's image, fitted whole
// into the tile and letterboxed (in the enlarged view on a tall screen turned a quarter where
// that fills it better), and the window's thread draws it as soon as it is there. The tile
// shows the channel's status; with a caption (grid layouts) the channel's name and the status
// are drawn over the picture; a selected tile has a frame.
//
// Threads: everything runs on the window's thread except the picture screen's calls, which
// come on the channel's decoding thread; they share atomics with the window's thread and the
// lock that keeps the image apart from a stop or a new placement.
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include <QTimer>

#include "live/live_channel.h"
#include "ui/video_presenter.h"
#include "video/picture_screen.h"

class QLabel;

namespace tavix {

// The recorder a tile's channel comes from.
struct ChannelSource {
    DeviceClient* client = nullptr;
    QString recorder;  // "address:port"; empty for the recorder the tile was made with
    QString name;      // as the tree names it
};

// Which of a channel's streams a tile plays: the wall's choice, or the user's.
enum class StreamChoice { kAuto = 0, kMain = kMainStream, kSub = kSubStream };

class LiveTile : public QWidget, private IPictureScreen {
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
    // The same, of the recorder `source` (whose client must outlive the tile's use of it).
    void Play(const ChannelSource& source, int channel, const QString& name);
    const ChannelSource& Source() const { return source; }
    DeviceClient& Client() const { return live.Client(); }
    // The client goes: a channel of it stops, and the tile falls back to `fallback`.
    void ForgetClient(DeviceClient& gone, DeviceClient& fallback);
    // Closes the channel ("STOP") and clears the picture to black; nothing when none plays.
    void Stop();
    // The channel's stream result: 0 "BUFFERING" (while reconnecting, the status stays until the
    // first picture), else "OPEN_ERR" (and no other status comes until the channel is opened
    // again).
    void OnStreamResult(int code);
    // The client is bringing the channel back ("RECONNECTING"): the last picture stays, and no
    // other status comes until its stream starts again.
    void SetReconnecting();

    // The user's choice of stream (kAuto: the wall's, SetAutoStream), and the wall's for an
    // automatic tile (kMainStream or kSubStream). A playing channel switches at once: its last
    // picture stays until the other stream's first one.
    void SetStreamChoice(StreamChoice choice);
    StreamChoice Choice() const { return choice; }
    void SetAutoStream(int streamType);
    // The stream type that plays (0 none), and the main stream's picture size once one of its
    // pictures was shown here (empty before).
    int PlayedStream() const { return live.StreamType(); }
    QSize MainSize() const { return QSize(live.MainWidth(), live.MainHeight()); }

    int Channel() const { return live.Channel(); }
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
    // Bits per pixel of the tile's image: the display's (or the forced) depth.
    int DisplayBits() const { return displayBits.load(std::memory_order_relaxed); }

    // The next picture of the channel's main stream comes as SnapshotTaken: an image of its
    // decoded size, upright. A tile playing the sub stream opens the main one for it and goes
    // back once it is there (or after kSnapshotWaitMs without it). Nothing comes while the
    // tile plays nothing; Stop drops the request.
    void TakeSnapshot();
    // The statistics drawn over the tile: codec and size, pictures per second, kbit/s
    // received, decode time, what was dropped (chunks refused, waits for a key picture after a
    // loss), and the delay from capture where the pictures carry tavix-sim's frame stamp.
    void SetStatisticsShown(bool shown);
    // About once a second: the figures of the last `periodMs`.
    void UpdateStatistics(int64_t periodMs);

    // Digital zoom: the picture enlarged 1 to kMaxZoom times, scaled from the decoded picture.
    // ZoomAt multiplies the zoom by `factor` keeping the picture's point under `at` (the tile's
    // coordinates) where it is; PanBy moves the picture by `pixels` of the tile. A small
    // overview in a corner shows which part is shown. A zoomed tile left to the wall plays the
    // main stream.
    void ZoomAt(QPointF at, double factor);
    void PanBy(QPointF pixels);
    void ResetZoom();
    double Zoom() const { return zoom; }
    // The part of the picture shown, in fractions of its width and height.
    QRectF ShownPart() const;
    static constexpr double kMaxZoom = 8;

    // The window is going: the channel is closed without a status.
    void Close();

    // How often the status follows the picture flow while no picture comes.
    static constexpr int kStatusPollMs = 250;
    // A snapshot not there by then (its main stream failed or sent nothing) is given up: the
    // tile follows its stream choice again and SnapshotTaken comes with a null image.
    static constexpr int64_t kSnapshotWaitMs = 5000;

  signals:
    // Window's thread: the status text changed; a snapshot asked for is here.
    void StatusChanged(LiveTile* tile, const QString& text);
    void SnapshotTaken(LiveTile* tile, const QImage& picture);

  protected:
    // Mouse events are the wall's: they pass through the tile.
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // The picture screen (decoding thread).
    ScreenReady BeginPicture(int width, int height, ScreenImage& image) override;
    void EndPicture(const PictureFacts& facts) override;
    void SnapshotReady(std::vector<uint8_t> picture, int width, int height) override;

    void ShowStatus();
    void PollStatus();
    void SetStatus(const char16_t* key);
    void UpdateCaption();
    // The stream the choices ask for.
    int WantedStream() const;
    void FollowStream();
    void GiveUpSnapshot();
    // The zoom or the part shown changed: the decoding thread and the overview hear it.
    void PublishZoom();
    // Where the whole picture lies in the video area (as the decoding thread places it).
    QRectF PictureRect() const;
    // The video area inside the frame.
    QRect VideoRect() const;
    // The area, the depth or the view changed: the next picture is placed anew.
    void Replace();

    Post post;
    LiveChannel live;
    ChannelSource source;
    QWidget* videoArea = nullptr;  // what the presenter draws into
    QLabel* caption = nullptr;
    QLabel* statistics = nullptr;
    bool statisticsShown = false;
    int64_t snapshotAskedMs = 0;
    LiveFigures before;  // the counts of the last statistics update
    QString channelName;
    QString statusText;
    bool captioned = false;
    bool selected = false;
    int forcedBits = 0;
    StreamChoice choice = StreamChoice::kAuto;
    int autoStream = kMainStream;
    double zoom = 1;
    QPointF centre{0.5, 0.5};  // of the part shown, in fractions of the picture
    QWidget* overview = nullptr;
    QTimer statusTimer;  // runs while a stream plays

    // Shared with the decoding thread.
    std::atomic<int> generation{0};  // counts opens and stops: older posts are dropped
    std::atomic<bool> enlarged{false};
    std::atomic<bool> shown{true};
    std::atomic<int> placement{0};  // counts changes of area, depth and view
    std::atomic<int> areaWidth{0};  // the video area's size
    std::atomic<int> areaHeight{0};
    std::atomic<int> pictureWidth{0};  // decoded size of the picture shown last
    std::atomic<int> pictureHeight{0};
    std::atomic<int> displayBits{32};
    std::atomic<bool> pollOnPicture{false};  // the next picture has the status followed
    std::atomic<bool> snapshotAsked{false};
    // The zoom in thousandths and the centre of the part shown in 65536ths of the picture.
    std::atomic<int> zoomPermille{1000};
    std::atomic<int> centreX{32768};
    std::atomic<int> centreY{32768};

    // Held by the decoding thread while it converts a picture and by the window's thread while
    // it stops the tile: a picture of a stopped channel never reaches the screen after the
    // stop.
    std::mutex screenLock;
    // The decoding thread's, under screenLock: the placement the image was made for.
    int placedFor = -1;
    int placedWidth = 0;
    int placedHeight = 0;
    QRect destination;
    QSize imageSize;
    bool turned = false;
    VideoPresenter presenter;
};

}  // namespace tavix

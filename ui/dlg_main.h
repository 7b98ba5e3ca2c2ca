// CDlgMain: the program's main window, run modally by start-up. It covers the whole screen and
// shows one of two pages under its header band:
// - the live page: status line, video window, the PTZ band of six controls and five soft keys
//   (LOGIN, CAMERA, FULL, ABOUT, EXIT);
// - the channel page: the channel tree and two soft keys (BACK, EXIT).
// It runs the login dialog (at start, on LOGIN and after a lost connection), receives the
// device client's events and turns them into window messages for its own thread, plays the
// channel tapped in the tree, steers its camera (PTZ band and arrow keys) and enlarges its video
// to the whole screen (FULL, or a tap on the video).
//
// Threads: everything runs on the user-interface thread except
// - the IDeviceEvents calls, which come on the device client's thread: they only post messages
//   to the window, apart from OnChannelList, which has the window's thread fill the tree while
//   it waits;
// - the live view's tick, on a periodic thread of the window's own from construction to
//   destruction: it takes the decoder's pictures and presents them. It shares only atomics with
//   the window's thread; widget work it needs (a new placement, a status text) runs on the
//   window's thread, the placement while the tick waits for it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "client/device_events.h"
#include "client/wire_messages.h"
#include "ui/periodic_timer.h"
#include "video/video_presenter.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavix {

class CDlgLogin;
class CImageButton;
class DeviceClient;
class VideoWindow;

class CDlgMain : public QDialog, public IDeviceEvents {
    Q_OBJECT

  public:
    // Reaches the device through `client`, which must outlive the window; the client's events
    // reach the window through DeviceEventRelay, which the client must have as its sink.
    explicit CDlgMain(DeviceClient& client, QWidget* parent = nullptr);
    // Stops the live view's tick first.
    ~CDlgMain() override;

    // The live view's period.
    static constexpr int kTickMs = 33;

    // Initialises the window (its keys, status line, tree images; placed over the whole screen
    // and shown), lays it out, runs the login once the window is on screen, and returns when
    // the window closes: rejected by either EXIT key or the login dialog's exit, or by the
    // platform's own accept or cancel.
    int exec() override;

    // IDeviceEvents, called on the device client's thread.
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnMediaData(int channel, const uint8_t* data, int length) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;
    // OnChannelList without the wait: asks the window's thread to fill the tree from `list`
    // and returns at once; the future is ready once the tree is filled or the request was
    // dropped. `list` must stay valid until then.
    std::future<void> PostChannelList(int code, const ChannelNameList* list);
    // Window's thread: work posted from other threads and not yet run is dropped unrun.
    void DropPosted();

    // A command: the id of the control that was tapped.
    void OnCommand(int id);

    // For tests, before exec: pictures are converted to and presented at `bits` per pixel (16,
    // 24 or 32) whatever the depth of the window's display.
    void UseDisplayBits(int bits) { forcedBits = bits; }

  signals:
    // The status line shows `text` (window's thread).
    void StatusShown(const QString& text);

  public:
    // The login dialog while it runs, else null.
    CDlgLogin* OpenLoginDialog() const { return openLoginDialog; }
    // Bits per pixel of the display (16, 24 or 32) once the window is initialised.
    int DisplayBits() const { return displayBits.load(std::memory_order_relaxed); }
    bool LivePageVisible() const { return livePageVisible.load(std::memory_order_relaxed) != 0; }

    // Tree images by index: 0 the device, 1 the playing channel, 2 any other channel.
    QIcon TreeImage(int index) const { return treeImages.value(index); }

  protected:
    bool event(QEvent* event) override;
    // Arrow keys, as they reach the window from the display, before any control takes them.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void InitDialog();
    void Layout(int cx, int cy);
    void ShowLivePage(bool show);
    void ShowChannelPage(bool show);
    void ClearTree();
    void RunLoginFlow();
    void ExitFlow();
    void DisconnectFlow();
    // Live view, on the window's thread.
    void OnTreeTap(QTreeWidgetItem* item);
    void OpenChannel(QTreeWidgetItem* item);
    void Stop();
    void OnStreamResult(int code);
    void SetStatus(const char16_t* key);
    // Live view, on the tick's thread.
    void Tick();
    bool Refit(int width, int height);
    // Places a picture of width x height (fit, turn, presenter) on the window's thread while
    // the tick waits; where it lands, in screen coordinates.
    ScreenRect Place(int width, int height);
    // Makes the presenter for pictures of width x height; the display's bits per pixel, 0 when
    // unknown.
    int CreatePresenter(int width, int height);
    // PTZ band and arrow keys.
    void OnPtzCommand(int id);
    void OnArrowKey(int key);
    void SendPtz(PtzAction action);
    void ToggleEnlarged();
    void ShowAbout();
    void FillTree(int code, const ChannelNameList* list);
    // Runs `work` on the window's thread, from any thread.
    void Post(std::function<void()> work);
    Q_INVOKABLE void RunPosted();
    CImageButton* AddKey(int id, const char16_t* labelKey);

    DeviceClient& client;
    QIcon icon;
    // The thirteen keys, in this order.
    CImageButton* loginKey = nullptr;
    CImageButton* cameraKey = nullptr;
    CImageButton* fullKey = nullptr;
    CImageButton* aboutKey = nullptr;
    CImageButton* exitKey = nullptr;
    CImageButton* backKey = nullptr;
    CImageButton* channelExitKey = nullptr;
    CImageButton* arrowA = nullptr;
    CImageButton* arrowB = nullptr;
    CImageButton* lensPlus = nullptr;
    CImageButton* lensMinus = nullptr;
    CImageButton* panModeKey = nullptr;
    CImageButton* lensModeKey = nullptr;
    int initDone = 0;
    QPixmap headerImage;
    VideoWindow* videoWindow = nullptr;
    QLabel* statusLabel = nullptr;
    QTreeWidget* channelTree = nullptr;
    QList<QIcon> treeImages;
    int headerHeight = 0;
    int softKeyHeight = 0;
    int ptzBandHeight = 0;
    CDlgLogin* openLoginDialog = nullptr;
    // Shared with the live view's tick.
    std::atomic<int> enlarged{0};
    std::atomic<int> geometryDirty{0};
    QRect normalVideoRect;
    QRect fullScreenRect;
    std::atomic<int> livePageVisible{0};
    std::atomic<int> currentChannel{-1};
    // The item of the playing channel, null when none or when the tree was refilled since.
    QTreeWidgetItem* playingItem = nullptr;
    int panMode = 0;   // 0 up/down, 1 left/right
    int lensMode = 0;  // 0 zoom, 1 iris, 2 focus

    // Shared with the tick.
    std::atomic<int> pictureWidth{0};  // size of the picture placed last
    std::atomic<int> pictureHeight{0};
    std::atomic<int> bufferingShown{0};  // the status shows buffering (1) or playing (0)
    // Counts opens and stops: a status text the tick found for an earlier channel is dropped.
    std::atomic<int> channelGeneration{0};
    // Bits per pixel of the display, as the presenter reports it (written by the window's
    // thread, also while the tick waits for a placement).
    std::atomic<int> displayBits{0};
    int forcedBits = 0;

    // The tick's own. The placement's part runs on the window's thread while the tick waits.
    std::unique_ptr<uint8_t[]> rotateBuffer;  // the picture turned, when the view is turned
    ScreenRect destination;                   // where the picture lands, screen coordinates

    // Work for the window's thread waits here, under our own lock, rather than in Qt's event
    // queue: the hand-over of what the work captures is then ordered by a lock the race
    // checker sees.
    std::mutex postedLock;
    std::vector<std::function<void()>> posted;  // guarded by postedLock

    VideoPresenter presenter;
    PeriodicTimer timer;
    std::atomic<bool> closing{false};  // the window is going: the tick waits for nothing
};

}  // namespace tavix

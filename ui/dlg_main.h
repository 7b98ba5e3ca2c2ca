// CDlgMain: the program's main window, run modally by start-up. It covers the whole screen and
// shows one of two pages under its header band:
// - the live page: status line, video window, the PTZ band of six controls and five soft keys
//   (LOGIN, CAMERA, FULL, ABOUT, EXIT);
// - the channel page: the channel tree and two soft keys (BACK, EXIT).
// It runs the login dialog (at start, on LOGIN and after a lost connection), receives the
// device client's events and turns them into window messages for its own thread.
//
// Threads: everything runs on the user-interface thread except the IDeviceEvents calls, which
// come on the device client's thread: they only post messages to the window, apart from
// OnChannelList, which has the window's thread fill the tree while it waits.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QRect>

#include <atomic>
#include <future>

#include "client/device_events.h"
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
    ~CDlgMain() override;

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

    // A command: the id of the control that was tapped.
    void OnCommand(int id);

    // The login dialog while it runs, else null.
    CDlgLogin* OpenLoginDialog() const { return openLoginDialog; }
    // Bits per pixel of the display (16, 24 or 32) once the window is initialised.
    int DisplayBits() const { return displayBits; }
    bool LivePageVisible() const { return livePageVisible.load(std::memory_order_relaxed) != 0; }

    // Tree images by index: 0 the device, 1 the playing channel, 2 any other channel.
    QIcon TreeImage(int index) const { return treeImages.value(index); }

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void InitDialog();
    void Layout(int cx, int cy);
    void ShowLivePage(bool show);
    void ShowChannelPage(bool show);
    void RunLoginFlow();
    void ExitFlow();
    void DisconnectFlow();
    void Stop();
    void ToggleEnlarged();
    void ShowAbout();
    void FillTree(int code, const ChannelNameList* list);
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
    // Read by the live view's tick on its own thread.
    std::atomic<int> enlarged{0};
    std::atomic<int> geometryDirty{0};
    QRect normalVideoRect;
    QRect fullScreenRect;
    std::atomic<int> livePageVisible{0};
    std::atomic<int> currentChannel{-1};
    QTreeWidgetItem* playingItem = nullptr;
    VideoPresenter presenter;
    int displayBits = 0;  // bits per pixel of the display, as the presenter reports it
};

}  // namespace tavix

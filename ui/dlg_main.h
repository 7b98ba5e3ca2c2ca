// CDlgMain: the program's main window, run modally by start-up. It shows one of two pages under
// its header band:
// - the live page: status line, the wall of live tiles (VideoWall), the PTZ band of six
//   controls and five soft keys (LOGIN, CAMERA, FULL, ABOUT, EXIT);
// - the channel page: the channel tree and two soft keys (BACK, EXIT).
// It runs the login dialog (at start, on LOGIN and after a lost connection), receives the
// device client's events and turns them into window messages for its own thread, plays the
// channel tapped in the tree in the selected tile, steers that tile's camera (PTZ band and arrow
// keys) and enlarges the video.
//
// Two ways to be on screen, chosen from the screen at initialisation:
// - handheld (the screen's smaller side 480 pixels or less): the window covers the whole screen;
//   one tile; a tap on the video enlarges it to the whole screen, turned a quarter where that
//   fills a tall screen better; the tree is a page of its own.
// - desktop: a normal window, its place and size remembered; the tree beside the wall on the
//   live page (CAMERA shows or hides it); layouts of 1, 2x2, 3x3 and 4x4 tiles (the layout keys,
//   Ctrl+1 to Ctrl+4) and the others offered (a tile's menu, Page Up and Down), tiles merged
//   and split from a tile's menu, channels dragged from the tree onto tiles and tiles onto
//   each other, digital zoom (wheel, drag, Ctrl++ / Ctrl+- / Ctrl+0 / Ctrl+arrows), a tile
//   selected by a click, shown alone by a double click; FULL, F11 or
//   a double click on a single tile make the window full screen, F11 or Esc return. Per recorder
//   the layout, the channel of each tile and the stream chosen from a tile's menu are
//   remembered (desktop_settings.h). Snapshots come from the main stream and say their size.
//   The wall can be saved as a named view (F2, or the views in a tile's menu) and views shown
//   again (F3 and Shift+F3 step through them); the view shown last comes back at the next
//   start, and StartWith starts in a view (tavix --view NAME [--fullscreen]).
//   Beside the recorder logged in to, the recorders of the recorder list (Ctrl+R) can be
//   connected, each through a RecorderLink of its own: the tree has a node per recorder with
//   its state, a tile holds (recorder, channel), and a recorder that goes away shows only its
//   own tiles "Reconnecting...". A view or a saved wall with tiles of a listed recorder
//   connects it and plays them once its channels are in.
//
// Threads: everything runs on the user-interface thread except
// - the IDeviceEvents calls, which come on the device client's thread: they only post messages
//   to the window, apart from OnChannelList, which has the window's thread fill the tree while
//   it waits;
// - the tiles' decoding threads, which post their widget work (Post) to the window's thread.
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
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "client/device_events.h"
#include "client/wire_messages.h"
#include "ui/live_tile.h"
#include "ui/recorder_book.h"
#include "ui/recorder_link.h"
#include "ui/saved_views.h"

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavix {

class CDlgLogin;
class CDlgRecorders;
class CImageButton;
class DeviceClient;
class VideoWall;

class CDlgMain : public QDialog, public IDeviceEvents {
    Q_OBJECT

  public:
    // Reaches the device through `client`, which must outlive the window; the client's events
    // reach the window through DeviceEventRelay, which the client must have as its sink.
    explicit CDlgMain(DeviceClient& client, QWidget* parent = nullptr);
    // Ends the wall's streams first.
    ~CDlgMain() override;

    // Initialises the window (its keys, status line, tree images; placed over the whole screen,
    // or as the desktop's window, and shown), lays it out, runs the login once the window is on
    // screen, and returns when the window closes: rejected by either EXIT key or the login
    // dialog's exit, by the platform's own accept or cancel, or by closing the window.
    int exec() override;
    // Before exec, on a desktop: log in to the recorder of view `view` with its saved password
    // and show the view, full screen when asked. A view of no known recorder leaves the login
    // to the user and says so.
    void StartWith(const QString& view, bool fullScreen);
    // Stops every channel and logs out, once, before the window closes with `result`.
    void done(int result) override;

    // IDeviceEvents, called on the device client's thread.
    void OnLoginResult(int code, int channelCount) override;
    void OnChannelList(int code, const ChannelNameList* list) override;
    void OnStreamResult(int channel, int code) override;
    void OnDisconnected(int code, int detail) override;
    void OnReconnecting(int channel, int reason) override;
    void OnReconnected(int channel) override;
    // OnChannelList without the wait: asks the window's thread to fill the tree from `list`
    // and returns at once; the future is ready once the tree is filled or the request was
    // dropped. `list` must stay valid until then.
    std::future<void> PostChannelList(int code, const ChannelNameList* list);
    // Window's thread: work posted from other threads and not yet run is dropped unrun.
    void DropPosted();

    // A command: the id of the control that was tapped.
    void OnCommand(int id);

    // For tests, before or during exec: pictures are converted to and presented at `bits` per
    // pixel (16, 24 or 32) whatever the depth of the window's display.
    void UseDisplayBits(int bits);

  signals:
    // The status line shows `text` (window's thread).
    void StatusShown(const QString& text);

  public:
    // The login dialog while it runs, else null.
    CDlgLogin* OpenLoginDialog() const { return openLoginDialog; }
    // Bits per pixel of the display (16, 24 or 32) once the window is initialised: the selected
    // tile's image's, or the window's own.
    int DisplayBits() const;
    bool LivePageVisible() const { return livePageVisible; }
    bool Desktop() const { return desktop; }
    VideoWall& Wall() const { return *wall; }

    // Tree images by index: 0 the device, 1 a playing channel, 2 any other channel.
    QIcon TreeImage(int index) const { return treeImages.value(index); }

  protected:
    bool event(QEvent* event) override;
    // Arrow keys, as they reach the window from the display, before any control takes them.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The window closed by the window system: the exit flow, as EXIT.
    void closeEvent(QCloseEvent* event) override;

  private:
    void InitDialog();
    void PlaceWindow();
    void Layout(int cx, int cy);
    void ShowLivePage(bool show);
    void ShowChannelPage(bool show);
    void ClearTree();
    void RunLoginFlow();
    void ExitFlow();
    void DisconnectFlow();
    // The client brings the session (channel -1) or a channel back, or has brought the session
    // back.
    void ReconnectingFlow(int channel);
    void ReconnectedFlow();
    // Live view, on the window's thread.
    void OnTreeTap(QTreeWidgetItem* item);
    void OnTileTapped(int index);
    void OnTileDoubleTapped(int index);
    void OnTileStatus(int index, const QString& text);
    void CloseTile(int index);
    void SetLayout(int side);
    void SetWallLayout(const WallLayout& layout);
    // Page Up / Page Down: the offered layout before or after the wall's.
    void StepLayout(int step);
    void AddLayoutsMenu(QMenu& menu);
    // The selected tile's digital zoom, about its middle.
    void ZoomSelected(double factor);
    void OnChannelDropped(int index, int link, int channel);
    void SelectNextTile(int step);
    void TakeSnapshot();
    void SaveSnapshot(int index, const QImage& picture);
    void AddShortcuts();
    // Lists the keys (F1).
    void ShowKeys();
    void ShowStatus(const QString& text);
    void Stop();
    void MarkPlayingChannels();
    // The wall of the recorder logged in to: saved after the user changed it, played again
    // when its channel list comes.
    void SaveWall();
    void RestoreWall();
    // Views (desktop).
    // The name the user gives (the current view's offered), trimmed; empty when cancelled.
    QString AskViewName(const char16_t* titleKey);
    void SaveViewAs();
    void RenameView();
    void DeleteView();
    void StepView(int step);
    // Plays `view` on the wall and makes it the current one; the status line says so.
    void ShowView(const SavedView& view);
    // Plays the tiles of `view`: those of a connected recorder at once, those of a listed one
    // once its channels are in (it is connected); the others stay empty. Returns a recorder
    // of them that is not listed, or empty.
    QString PlayTiles(const SavedView& view);
    void AddViewsMenu(QMenu& menu);
    // The name of `channel` of recorder `key`; empty when it has none or does not play.
    QString ChannelName(const QString& key, int channel) const;
    // Recorders (desktop).
    void ShowRecorders();
    // Where the channels of recorder `key` come from; a null client when it is not connected.
    ChannelSource SourceOf(const QString& key);
    // The source of the tree's recorder node `id` (-1: the recorder logged in to); never a null
    // client, as a node is there only for a recorder with one.
    ChannelSource NodeSource(int id);
    LinkState StateOf(const QString& key) const;
    QString RecorderName(const QString& key) const;
    // Logs in to or out of recorder `key` from the list.
    void ConnectRecorder(const QString& key, bool on);
    RecorderLink* LinkOf(const QString& key) const;
    RecorderLink* LinkById(int id) const;
    void DropLink(RecorderLink* link);
    void OnLinkEvent(int id, const LinkEvent& event);
    // A recorder's node of the tree (id -1: the recorder logged in to), or null.
    QTreeWidgetItem* RecorderNode(int id) const;
    void FillLinkNode(RecorderLink& link);
    // The nodes' texts: name and state.
    void UpdateRecorderNodes();
    void PlayWaitingTiles(const QString& key);
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
    bool desktop = false;
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
    // Desktop: the layouts 1, 2x2, 3x3, 4x4, and the snapshot key.
    CImageButton* layoutKeys[4] = {};
    CImageButton* snapshotKey = nullptr;
    int initDone = 0;
    QPixmap headerImage;
    VideoWall* wall = nullptr;
    QLabel* statusLabel = nullptr;
    QTreeWidget* channelTree = nullptr;
    QList<QIcon> treeImages;
    int headerHeight = 0;
    int softKeyHeight = 0;
    int ptzBandHeight = 0;
    CDlgLogin* openLoginDialog = nullptr;
    bool enlarged = false;
    bool livePageVisible = false;
    bool treeShown = true;  // desktop: the tree beside the wall
    bool exiting = false;
    QRect normalVideoRect;
    QRect fullScreenRect;
    int panMode = 0;     // 0 up/down, 1 left/right
    int lensMode = 0;    // 0 zoom, 1 iris, 2 focus
    int windowBits = 0;  // the display's depth as the window reports it
    // The recorder logged in to last ("address:port"), and whether its wall was played again
    // since.
    QString recorder;
    bool wallRestored = false;
    // The session's link is lost and the client is bringing it back.
    bool sessionLost = false;
    ViewBook views;
    QString currentView;  // the view shown last, as it was saved
    QString startView;    // StartWith's, until it is shown
    bool startFullScreen = false;
    RecorderBook recorderBook;
    std::vector<std::unique_ptr<RecorderLink>> links;
    int nextLinkId = 0;
    // Tiles of a view or wall whose recorder is still connecting, by tile.
    std::map<int, ViewTile> waitingTiles;
    CDlgRecorders* recordersDialog = nullptr;  // while it is open

    // Work for the window's thread waits here, under our own lock, rather than in Qt's event
    // queue: the hand-over of what the work captures is then ordered by a lock the race
    // checker sees.
    std::mutex postedLock;
    std::vector<std::function<void()>> posted;  // guarded by postedLock
};

}  // namespace tavix

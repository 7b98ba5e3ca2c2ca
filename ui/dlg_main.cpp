#include "ui/dlg_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "ui/control_ids.h"
#include "ui/desktop_settings.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_login.h"
#include "ui/dlg_recorders.h"
#include "ui/header_band.h"
#include "ui/image_button.h"
#include "ui/main_layout.h"
#include "ui/ui_text.h"
#include "ui/video_presenter.h"
#include "ui/video_wall.h"

namespace tavix {

namespace {

constexpr int kTreeIconSize = 16;
// A recorder node's link id (-1: the recorder logged in to); a channel's index is UserRole.
constexpr int kLinkRole = Qt::UserRole + 1;
const QColor kPtzBandLine = ColorFromRef(0x2E322D);

// PTZ actions of the lens keys and the labels of the lens-mode key, by lens mode (zoom, iris,
// focus).
constexpr PtzAction kLensPlusAction[3] = {PtzAction::kZoomPlus, PtzAction::kIrisPlus,
                                          PtzAction::kFocusPlus};
constexpr PtzAction kLensMinusAction[3] = {PtzAction::kZoomMinus, PtzAction::kIrisMinus,
                                           PtzAction::kFocusMinus};
constexpr const char16_t* kLensModeLabel[3] = {u"ZOOM", u"IRIS", u"FOCUS"};

// PTZ actions of the arrow keys left, up, right, down: the view as it is, and turned a quarter
// in the enlarged view on a tall screen.
constexpr PtzAction kArrowAction[4] = {PtzAction::kLeft, PtzAction::kUp, PtzAction::kRight,
                                       PtzAction::kDown};
constexpr PtzAction kTurnedArrowAction[4] = {PtzAction::kUp, PtzAction::kRight, PtzAction::kDown,
                                             PtzAction::kLeft};

// The desktop's layout keys: tiles per side, their captions and shortcuts.
constexpr int kLayoutIds[4] = {kIdLayout1, kIdLayout4, kIdLayout9, kIdLayout16};
constexpr const char* kLayoutCaptions[4] = {"1", "2\u00d72", "3\u00d73", "4\u00d74"};

// The tree of recorders and channels; a channel dragged from it carries its recorder node's
// link id and its index (VideoWall::kChannelMime).
class ChannelTree : public QTreeWidget {
  public:
    using QTreeWidget::QTreeWidget;

  protected:
    QStringList mimeTypes() const override {
        return {QString::fromLatin1(VideoWall::kChannelMime)};
    }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        if (items.size() != 1 || items[0]->parent() == nullptr) return nullptr;
        auto* carried = new QMimeData;
        carried->setData(QString::fromLatin1(VideoWall::kChannelMime),
                         QByteArray::number(items[0]->parent()->data(0, kLinkRole).toInt()) + ' ' +
                             QByteArray::number(items[0]->data(0, Qt::UserRole).toInt()));
        return carried;
    }
};

void SetBackground(QWidget* widget, const QColor& color) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::Window, color);
    widget->setPalette(colours);
    widget->setAutoFillBackground(true);
}

}  // namespace

CDlgMain::CDlgMain(DeviceClient& client, QWidget* parent) : QDialog(parent), client(client) {
    // The controls of the window's template: the channel tree and the video (the wall).
    channelTree = new ChannelTree(this);
    SetControlId(channelTree, kIdChannelTree);
    channelTree->setHeaderHidden(true);
    channelTree->setRootIsDecorated(true);
    channelTree->setColumnCount(1);
    wall = new VideoWall(
        client, [this](std::function<void()> work) { Post(std::move(work)); }, this);
    connect(wall, &VideoWall::Tapped, this, &CDlgMain::OnTileTapped);
    connect(wall, &VideoWall::DoubleTapped, this, &CDlgMain::OnTileDoubleTapped);
    connect(wall, &VideoWall::StreamChoiceChanged, this, [this] { SaveWall(); });
    connect(wall, &VideoWall::CloseAsked, this, &CDlgMain::CloseTile);
    connect(wall, &VideoWall::StatusChanged, this, &CDlgMain::OnTileStatus);
    connect(channelTree, &QTreeWidget::itemClicked, this, &CDlgMain::OnTreeTap);

    setWindowTitle(ToQString(appTitle));
}

CDlgMain::~CDlgMain() {
    // The tiles' decoding threads post to this window: they end before anything here goes.
    wall->Shutdown();
    links.clear();
    DeviceEventRelay::Instance().Detach(this);
}

int CDlgMain::exec() {
    InitDialog();
    // The login runs inside the window's own loop, so that its exit can end that loop.
    QMetaObject::invokeMethod(this, &CDlgMain::RunLoginFlow, Qt::QueuedConnection);
    return QDialog::exec();
}

CImageButton* CDlgMain::AddKey(int id, const char16_t* labelKey) {
    auto* key = new CImageButton(id, this);
    if (labelKey != nullptr) {
        key->setText(Text(labelKey));
        key->SetTextColor(ColorFromRef(kWhiteText));
    }
    key->show();
    connect(key, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    return key;
}

void CDlgMain::InitDialog() {
    icon = QIcon(LoadImage(kIconApplication));
    setWindowIcon(icon);
    DeviceEventRelay::Instance().Attach(this);
    // The handheld's shell chrome (task bar, input-panel button, soft-key bar) has no
    // counterpart here: there is nothing to hide.

    QScreen* screen = this->screen();
    desktop = screen != nullptr && IsDesktopScreen(screen->geometry().size());
    if (!desktop) {
        // The handheld's dark window, and that of every control but the status line and the
        // tree. The desktop's tree, status line and dialogs follow the desktop's colours; the
        // window paints its own dark background around them.
        QPalette black = palette();
        black.setColor(QPalette::Window, ColorFromRef(kBlackBackground));
        setPalette(black);
    }
    if (desktop) {
        // A normal window of the desktop: decorated, resizable, behind others when they are
        // chosen.
        setWindowFlags(Qt::Window);
        PlaceWindow();
    } else {
        // The whole screen, above other windows, without caption.
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        if (screen != nullptr) {
            setGeometry(screen->geometry());
            // A turned or resized screen: the window follows it and lays itself out anew.
            connect(screen, &QScreen::geometryChanged, this,
                    [this](const QRect& geometry) { setGeometry(geometry); });
        }
    }
    // Shown here, before its loop starts: modal already, as the loop would make it.
    setWindowModality(Qt::ApplicationModal);
    show();
    // The arrow keys are seen as the display delivers them, before any control takes them.
    if (QWindow* window = windowHandle()) window->installEventFilter(this);

    loginKey = AddKey(kIdLogin, u"LOGIN");
    cameraKey = AddKey(kIdCamera, u"CAMERA");
    fullKey = AddKey(kIdFull, u"FULL");
    aboutKey = AddKey(kIdAbout, u"ABOUT");
    exitKey = AddKey(kIdExit, u"EXIT");
    backKey = AddKey(kIdBack, u"BACK");
    channelExitKey = AddKey(kIdExit, u"EXIT");
    arrowA = AddKey(kIdArrowA, nullptr);
    arrowB = AddKey(kIdArrowB, nullptr);
    lensPlus = AddKey(kIdLensPlus, nullptr);
    lensMinus = AddKey(kIdLensMinus, nullptr);
    panModeKey = AddKey(kIdPanMode, u"UP_DOWN");
    lensModeKey = AddKey(kIdLensMode, u"ZOOM");

    statusLabel = new QLabel(this);
    SetControlId(statusLabel, kIdStatusLabel);
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (desktop) {
        statusLabel->setAutoFillBackground(true);
        statusLabel->setMargin(2);
    } else {
        QPalette statusColours = statusLabel->palette();
        statusColours.setColor(QPalette::WindowText, ColorFromRef(kLightText));
        statusLabel->setPalette(statusColours);
        SetBackground(statusLabel, ColorFromRef(kDarkBackground));
    }
    statusLabel->show();

    treeImages = {QIcon(LoadImage(kIconDevice)), QIcon(LoadImage(kIconChannelPlaying)),
                  QIcon(LoadImage(kIconChannel))};
    channelTree->setIconSize(QSize(kTreeIconSize, kTreeIconSize));

    if (desktop) {
        for (int i = 0; i < 4; ++i) {
            layoutKeys[i] = AddKey(kLayoutIds[i], nullptr);
            layoutKeys[i]->setText(QString::fromUtf8(kLayoutCaptions[i]));
            layoutKeys[i]->setToolTip(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i))
                                          .toString(QKeySequence::NativeText));
        }
        snapshotKey = AddKey(kIdSnapshot, u"SNAPSHOT");
        AddShortcuts();
        views = LoadViews();
        recorderBook = LoadRecorders();
        wall->SetMenuExtension([this](QMenu& menu) { AddViewsMenu(menu); });
        connect(wall, &VideoWall::SnapshotTaken, this, &CDlgMain::SaveSnapshot);
        // Enter on a channel of the tree plays it, as a click does; a channel dragged onto a
        // tile plays there.
        connect(channelTree, &QTreeWidget::itemActivated, this, &CDlgMain::OnTreeTap);
        channelTree->setDragEnabled(true);
        channelTree->setDragDropMode(QAbstractItemView::DragOnly);
        connect(wall, &VideoWall::ChannelDropped, this, &CDlgMain::OnChannelDropped);
        connect(wall, &VideoWall::LayoutEdited, this, [this] {
            MarkPlayingChannels();
            SaveWall();
        });
        connect(wall, &VideoWall::TilesSwapped, this, [this](int a, int b) {
            // A tile waiting for its recorder moves with it.
            std::map<int, ViewTile> moved;
            for (const auto& [index, tile] : waitingTiles)
                moved[index == a ? b : index == b ? a : index] = tile;
            waitingTiles = std::move(moved);
            SaveWall();
        });
    }

    initDone = 1;
    // The depth pictures are converted to until a tile's presenter reports its own.
    windowBits = VideoPresenter::WindowBits(wall);
    // Qt reports no size change after this point, as the window already has its size.
    Layout(width(), height());
}

void CDlgMain::PlaceWindow() {
    if (restoreGeometry(LoadWindowGeometry())) return;
    // The first start: two thirds of the screen, in its middle.
    if (QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, available.size() * 2 / 3,
                                        available));
    }
}

int CDlgMain::DisplayBits() const {
    const int bits = wall->SelectedTile()->DisplayBits();
    return bits != 0 ? bits : windowBits;
}

void CDlgMain::UseDisplayBits(int bits) {
    wall->UseDisplayBits(bits);
    windowBits = bits;
}

void CDlgMain::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (initDone != 0) Layout(width(), height());
}

void CDlgMain::Layout(int cx, int cy) {
    const QFontMetrics keyFont = loginKey->fontMetrics();
    const QString modeText = Text(u"LEFT_RIGHT");
    const QSize modeLabel(keyFont.horizontalAdvance(modeText), keyFont.height());
    QSize screenSize = size();
    if (QScreen* screen = this->screen()) screenSize = screen->geometry().size();
    // The keys and the window share the application's font: one height serves both.
    const MainLayout layout =
        desktop ? ComputeDesktopLayout(QSize(cx, cy), keyFont.height(), modeLabel, treeShown)
                : ComputeMainLayout(QSize(cx, cy), keyFont.height(), modeLabel, screenSize);

    softKeyHeight = layout.softKeyHeight;
    CImageButton* liveKeys[5] = {loginKey, cameraKey, fullKey, aboutKey, exitKey};
    for (int i = 0; i < 5; ++i)
        liveKeys[i]->setGeometry(layout.liveKeys[i]);
    backKey->setGeometry(layout.back);
    channelExitKey->setGeometry(layout.channelExit);
    for (CImageButton* key :
         {loginKey, cameraKey, fullKey, aboutKey, exitKey, backKey, channelExitKey})
        key->SetImages(kImageSoftKey, kImageSoftKeyPressed);
    for (int i = 0; i < 4 && desktop; ++i) {
        layoutKeys[i]->setGeometry(layout.layoutKeys[i]);
        layoutKeys[i]->SetImages(kImageModeKey, kImageModeKeyPressed);
    }
    if (desktop) {
        snapshotKey->setGeometry(layout.snapshotKey);
        snapshotKey->SetImages(kImageModeKey, kImageModeKeyPressed);
    }

    headerHeight = HeaderHeight(*this);
    ptzBandHeight = layout.ptzBandHeight;
    normalVideoRect = layout.normalVideo;
    fullScreenRect = layout.fullScreen;
    statusLabel->setGeometry(layout.status);
    wall->setGeometry(enlarged ? fullScreenRect : normalVideoRect);
    channelTree->setGeometry(layout.tree);

    panModeKey->setGeometry(layout.panMode);
    arrowA->setGeometry(layout.arrowA);
    arrowB->setGeometry(layout.arrowB);
    lensModeKey->setGeometry(layout.lensMode);
    lensPlus->setGeometry(layout.lensPlus);
    lensMinus->setGeometry(layout.lensMinus);
    panModeKey->SetImages(kImageModeKey, kImageModeKeyPressed);
    lensModeKey->SetImages(kImageModeKey, kImageModeKeyPressed);
    arrowA->SetImages(kImageArrowA, kImageArrowAPressed);
    arrowB->SetImages(kImageArrowB, kImageArrowBPressed);
    lensPlus->SetImages(kImageLensPlus, kImageLensPlusPressed);
    lensMinus->SetImages(kImageLensMinus, kImageLensMinusPressed);

    headerImage = MakeHeaderImage(*this, cx, headerHeight);
    // Covering the screen means covering the other controls too.
    if (enlarged) wall->raise();
    update();
}

void CDlgMain::paintEvent(QPaintEvent*) {
    if (!isVisible()) return;
    QPainter painter(this);
    // The desktop's window is in the desktop's colours, light or dark; the video stays dark.
    painter.fillRect(rect(),
                     desktop ? palette().color(QPalette::Window) : ColorFromRef(kBlackBackground));
    PaintHeaderBand(painter, headerImage, width(), headerHeight);
    const int bandTop = height() - softKeyHeight - ptzBandHeight;
    painter.fillRect(QRect(0, bandTop, width(), ptzBandHeight),
                     desktop ? palette().color(QPalette::Button) : ColorFromRef(kDarkBackground));
    painter.fillRect(QRect(0, bandTop, width(), 1),
                     desktop ? palette().color(QPalette::Mid) : kPtzBandLine);
}

void CDlgMain::ShowLivePage(bool show) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             arrowA, arrowB, lensPlus, lensMinus, panModeKey, lensModeKey, statusLabel, wall,
             loginKey, cameraKey, fullKey, aboutKey, exitKey})
        control->setVisible(show);
    if (desktop) {
        for (CImageButton* key : layoutKeys)
            key->setVisible(show);
        snapshotKey->setVisible(show);
        channelTree->setVisible(show && treeShown);
    }
    livePageVisible = show;
    wall->SetShown(show);
}

void CDlgMain::ShowChannelPage(bool show) {
    for (QWidget* control : std::initializer_list<QWidget*>{channelTree, backKey, channelExitKey})
        control->setVisible(show);
}

void CDlgMain::OnCommand(int id) {
    switch (id) {
        case kIdLogin:
            RunLoginFlow();
            break;
        case kIdCamera:
            if (desktop) {
                // The tree beside the wall, shown or hidden.
                treeShown = !treeShown;
                channelTree->setVisible(treeShown);
                Layout(width(), height());
                break;
            }
            ShowLivePage(false);
            ShowChannelPage(true);
            break;
        case kIdBack:
            ShowChannelPage(false);
            ShowLivePage(true);
            break;
        case kIdFull:
        case kIdVideoWindow:
            ToggleEnlarged();
            break;
        case kIdAbout:
            ShowAbout();
            break;
        case kIdExit:
            ExitFlow();
            break;
        case kIdArrowA:
        case kIdArrowB:
        case kIdLensPlus:
        case kIdLensMinus:
        case kIdPanMode:
        case kIdLensMode:
            OnPtzCommand(id);
            break;
        case kIdSnapshot:
            TakeSnapshot();
            break;
        case kIdLayout1:
        case kIdLayout4:
        case kIdLayout9:
        case kIdLayout16:
            SetLayout(static_cast<int>(std::find(kLayoutIds, kLayoutIds + 4, id) - kLayoutIds) + 1);
            break;
        default:
            break;
    }
}

void CDlgMain::ClearTree() {
    // The channels play on until they are stopped; only their items are gone. Other
    // recorders' nodes stay.
    delete RecorderNode(-1);
}

void CDlgMain::RunLoginFlow() {
    // During an outage LOGIN is the user's way out of the tries: logged out, nothing plays.
    if (sessionLost) {
        sessionLost = false;
        client.Logout();
        Stop();
        ClearTree();
    }
    // The tree and the tiles stay while the dialog is merely open: a cancel leaves them as
    // they were. A new login ends the session they come from.
    CDlgLogin* login = new CDlgLogin(client, desktop ? this : nullptr);
    if (!startView.isEmpty()) {
        // The start view's recorder is logged in to as it was last, with its saved password.
        const SavedView* view = FindView(views, startView);
        QString key;
        for (size_t i = 0; view != nullptr && i < view->tiles.size() && key.isEmpty(); ++i)
            key = view->tiles[i].recorder;
        bool known = false;
        if (const RecorderEntry* listed = FindRecorder(recorderBook, key)) {
            login->LogInTo(listed->login, RecorderPassword(*listed));
            known = true;
        }
        for (const RecorderLogin& recent : LoadRecentRecorders())
            if (!known && !key.isEmpty() && RecorderKey(recent.address, recent.port) == key) {
                login->LogInTo(recent);
                known = true;
            }
        if (!known) {
            ShowStatus(Text(u"VIEW_UNKNOWN") + startView);
            startView.clear();
        }
    }
    connect(login, &CDlgLogin::LoginStarted, this, [this] {
        Stop();
        ClearTree();
    });
    openLoginDialog = login;
    login->exec();
    const int exitChosen = login->ExitChosen();
    const bool loggedIn = login->LoggedIn();
    if (loggedIn) {
        recorder = login->Recorder();
        wallRestored = false;
        // One client per recorder: a link to the same one gives way to the login.
        if (RecorderLink* same = LinkOf(recorder)) DropLink(same);
        if (desktop && FindRecorder(recorderBook, recorder) == nullptr) {
            // A recorder logged in to joins the list, the first one first.
            RecorderEntry entry;
            RecorderLogin saved;
            if (LoadSavedLogin(saved, entry.filePassword)) entry.login = saved;
            if (entry.Key() == recorder) {
                entry.name = recorder;
                recorderBook.recorders.push_back(entry);
                StoreRecorders(recorderBook);
            }
        }
    }
    delete login;
    openLoginDialog = nullptr;
    if (exitChosen != 0) {
        ExitFlow();
        return;
    }
    if (desktop) {
        ShowLivePage(true);
        if (startFullScreen && loggedIn && !enlarged) ToggleEnlarged();
        startFullScreen = false;
        return;
    }
    ShowLivePage(false);
    ShowChannelPage(true);
}

void CDlgMain::ExitFlow() {
    reject();
}

void CDlgMain::done(int result) {
    // Every way out (EXIT, the handheld's Esc, the platform's accept or cancel) stops the
    // channels and logs out before the window goes.
    if (!exiting) {
        exiting = true;
        if (desktop) SaveWindowGeometry(saveGeometry());
        Stop();
        wall->StopAll();
        links.clear();
        client.Logout();
    }
    QDialog::done(result);
}

void CDlgMain::closeEvent(QCloseEvent* event) {
    if (!exiting) ExitFlow();
    QDialog::closeEvent(event);
}

void CDlgMain::DisconnectFlow() {
    Stop();
    ClearTree();  // the session they came from is gone
    QMessageBox box(QMessageBox::Critical, ToQString(appTitle), Text(u"D_DIS"), QMessageBox::Ok,
                    this);
    box.exec();
    // A login dialog that is already open (LOGIN was chosen while connected) takes the new
    // login; a second one on top of it would never learn its result.
    if (openLoginDialog == nullptr) RunLoginFlow();
}

void CDlgMain::ReconnectingFlow(int channel) {
    if (channel >= 0) {
        const int index = wall->TileOf(channel);
        if (index >= 0) wall->Tile(index)->SetReconnecting();
        return;
    }
    const bool first = !sessionLost;
    sessionLost = true;
    for (int i = 0; i < VideoWall::kMaxTiles; ++i)
        if (&wall->Tile(i)->Client() == &client) wall->Tile(i)->SetReconnecting();
    UpdateRecorderNodes();
    statusLabel->setText(Text(u"D_DIS"));
    emit StatusShown(statusLabel->text());
    // The handheld says so in a box as it always did; the tries go on behind it.
    if (!desktop && first) {
        QMessageBox box(QMessageBox::Critical, ToQString(appTitle), Text(u"D_DIS"), QMessageBox::Ok,
                        this);
        box.exec();
    }
}

void CDlgMain::ReconnectedFlow() {
    sessionLost = false;
    UpdateRecorderNodes();
    OnTileStatus(wall->SelectedIndex(), wall->SelectedTile()->StatusText());
}

void CDlgMain::ToggleEnlarged() {
    // The handheld enlarges a playing channel only; the desktop's window goes full screen
    // whatever its tiles show.
    if (!desktop && wall->SelectedTile()->Channel() == -1) return;
    enlarged = !enlarged;
    wall->SetEnlarged(enlarged);
    if (desktop) {
        if (enlarged)
            showFullScreen();
        else
            showNormal();
    }
    wall->setGeometry(enlarged ? fullScreenRect : normalVideoRect);
    // Covering the screen means covering the other controls too.
    if (enlarged) wall->raise();
}

void CDlgMain::keyPressEvent(QKeyEvent* event) {
    // On the desktop Esc steps back out of the full screen or the single tile; it does not end
    // the program as the handheld's cancel does.
    if (desktop && event->key() == Qt::Key_Escape) {
        if (enlarged)
            ToggleEnlarged();
        else if (wall->AloneIndex() >= 0)
            wall->ShowAlone(-1);
        else if (channelTree->hasFocus())
            setFocus();  // the arrow keys steer the camera again
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgMain::ShowAbout() {
    const QString text = ToQString(appTitle) + u'\n' + Text(u"VERSION") + ToQString(appVersion) +
                         u'\n' + Text(u"BUILD") + QStringLiteral(" : 2011-08-25\n");
    QMessageBox box(QMessageBox::Information, Text(u"ABOUT"), text, QMessageBox::Ok, this);
    box.exec();
}

void CDlgMain::FillTree(int code, const ChannelNameList* list) {
    ClearTree();
    // The recorder logged in to comes first.
    auto* root = new QTreeWidgetItem(QStringList(Text(u"DEVICE")));
    channelTree->insertTopLevelItem(0, root);
    root->setData(0, kLinkRole, -1);
    root->setIcon(0, TreeImage(0));
    UpdateRecorderNodes();
    if (list == nullptr) return;
    const int count = std::clamp<int>(list->count, 0, kMaxChannelEntries);
    for (int i = 0; i < count; ++i) {
        const char* name = list->entries[i].name;
        const QString text = QString::fromUtf8(name, strnlen(name, kChannelNameBytes));
        auto* item = new QTreeWidgetItem(root, QStringList(text));
        item->setData(0, Qt::UserRole, i);
    }
    root->setExpanded(true);
    if (code == 0 && desktop && !wallRestored) RestoreWall();
    MarkPlayingChannels();
}

bool CDlgMain::event(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == WM_LOGIN_RESULT) {
        const int code = static_cast<DeviceEvent*>(event)->wParam;
        if (openLoginDialog != nullptr) {
            openLoginDialog->HandleLoginResult(code);
        } else if (code != 0) {
            // The device refused the client's own login again: the tries are over, and the
            // user is asked, with the reason, as after a refused login of theirs.
            sessionLost = false;
            Stop();
            QMessageBox box(QMessageBox::Critical, ToQString(appTitle), Text(u"LOGIN_ERR"),
                            QMessageBox::Ok, this);
            box.exec();
            RunLoginFlow();
        }
        if (code == 0) client.RequestChannelList();
        return true;
    }
    if (type == WM_DEVICE_DISCONNECTED) {
        DisconnectFlow();
        return true;
    }
    if (type == WM_RECONNECTING) {
        ReconnectingFlow(static_cast<DeviceEvent*>(event)->wParam);
        return true;
    }
    if (type == WM_RECONNECTED) {
        if (static_cast<DeviceEvent*>(event)->wParam == -1) ReconnectedFlow();
        return true;
    }
    if (type == WM_STREAM_RESULT) {
        const auto* result = static_cast<DeviceEvent*>(event);
        const int index = wall->TileOf(result->lParam);
        if (index >= 0) wall->Tile(index)->OnStreamResult(result->wParam);
        return true;
    }
    return QDialog::event(event);
}

void CDlgMain::OnLoginResult(int code, int channelCount) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_LOGIN_RESULT, code, channelCount));
}

void CDlgMain::OnChannelList(int code, const ChannelNameList* list) {
    if (QThread::currentThread() == thread()) {
        FillTree(code, list);
        return;
    }
    PostChannelList(code, list).wait();
}

std::future<void> CDlgMain::PostChannelList(int code, const ChannelNameList* list) {
    // The list lives only during the device client's call: the caller waits on the returned
    // future while the window's thread fills the tree. The future is also ready (abandoned)
    // when the request is dropped unrun, as when the window goes first.
    auto filled = std::make_shared<std::promise<void>>();
    std::future<void> done = filled->get_future();
    Post([this, code, list, filled = std::move(filled)] {
        FillTree(code, list);
        filled->set_value();
    });
    return done;
}

void CDlgMain::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> hold(postedLock);
        posted.push_back(std::move(work));
    }
    // Called by name: Qt then makes the call record itself, and nothing this thread writes
    // reaches the window's thread outside the lock.
    QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void CDlgMain::RunPosted() {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard<std::mutex> hold(postedLock);
        work.swap(posted);
    }
    for (const std::function<void()>& w : work)
        w();
}

void CDlgMain::DropPosted() {
    std::vector<std::function<void()>> dropped;  // goes after the lock: it may wake a waiter
    std::lock_guard<std::mutex> hold(postedLock);
    dropped.swap(posted);
}

void CDlgMain::OnStreamResult(int channel, int code) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_STREAM_RESULT, code, channel));
}

void CDlgMain::OnDisconnected(int code, int) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_DEVICE_DISCONNECTED, code, 0));
}

void CDlgMain::OnReconnecting(int channel, int reason) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_RECONNECTING, channel, reason));
}

void CDlgMain::OnReconnected(int channel) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_RECONNECTED, channel, 0));
}

void CDlgMain::OnTreeTap(QTreeWidgetItem* item) {
    // The root (the device) and the space below the items open nothing.
    if (item == nullptr || item->parent() == nullptr) return;
    const int channel = item->data(0, Qt::UserRole).toInt();
    const ChannelSource source = NodeSource(item->parent()->data(0, kLinkRole).toInt());
    const int playingAt = wall->TileOf(*source.client, channel);
    if (playingAt >= 0) {
        // A channel that plays already: its tile is the one steered now.
        wall->Select(playingAt);
    } else {
        waitingTiles.erase(wall->SelectedIndex());
        wall->SelectedTile()->Play(source, channel, item->text(0));
        // The next tap fills the next tile.
        if (desktop && wall->AloneIndex() < 0 && wall->TileCount() > 1)
            wall->Select((wall->SelectedIndex() + 1) % wall->TileCount());
        SaveWall();
    }
    OnTileStatus(wall->SelectedIndex(), wall->SelectedTile()->StatusText());
    MarkPlayingChannels();
    if (!desktop) {
        ShowChannelPage(false);
        ShowLivePage(true);
    }
}

void CDlgMain::OnChannelDropped(int index, int link, int channel) {
    if (link != -1 && LinkById(link) == nullptr) return;  // disconnected since the drag began
    const ChannelSource source = NodeSource(link);
    const QString name = ChannelName(source.recorder, channel);
    if (name.isEmpty()) return;
    // A channel plays in one tile at a time: from where it played, it moves here.
    const int playingAt = wall->TileOf(*source.client, channel);
    if (playingAt == index) return;
    if (playingAt >= 0) wall->Tile(playingAt)->Stop();
    waitingTiles.erase(index);
    wall->Tile(index)->Play(source, channel, name);
    wall->Select(index);
    OnTileStatus(index, wall->Tile(index)->StatusText());
    MarkPlayingChannels();
    SaveWall();
}

void CDlgMain::OnTileTapped(int index) {
    // The handheld's one tile: a tap enlarges it; the desktop: a click selects.
    if (!desktop) {
        OnCommand(kIdVideoWindow);
        return;
    }
    wall->Select(index);
    OnTileStatus(index, wall->Tile(index)->StatusText());
}

void CDlgMain::OnTileDoubleTapped(int index) {
    if (!desktop) return;
    if (wall->TileCount() == 1)
        ToggleEnlarged();
    else
        wall->ShowAlone(wall->AloneIndex() >= 0 ? -1 : index);
}

void CDlgMain::OnTileStatus(int index, const QString& text) {
    // While the session is lost the status line says so.
    if (index != wall->SelectedIndex() || sessionLost) return;
    statusLabel->setText(text);
    emit StatusShown(text);
}

void CDlgMain::CloseTile(int index) {
    if (index < 0) return;
    waitingTiles.erase(index);
    if (wall->Tile(index)->Channel() == -1) return;
    wall->Tile(index)->Stop();
    MarkPlayingChannels();
    SaveWall();
}

void CDlgMain::SetLayout(int side) {
    SetWallLayout(GridLayout(side, side));
}

void CDlgMain::StepLayout(int step) {
    const std::vector<WallLayout>& offered = OfferedLayouts();
    const auto at = std::find(offered.begin(), offered.end(), wall->Layout());
    // From a layout of the user's own, forward is the first offered and back the last.
    const int count = static_cast<int>(offered.size());
    const int next =
        at == offered.end()
            ? (step > 0 ? 0 : count - 1)
            : ((static_cast<int>(at - offered.begin()) + step) % count + count) % count;
    SetWallLayout(offered[static_cast<size_t>(next)]);
    ShowStatus(Text(u"LAYOUTS") + QStringLiteral(": ") + LayoutName(wall->Layout()));
}

void CDlgMain::SetWallLayout(const WallLayout& layout) {
    wall->SetLayout(layout);
    OnTileStatus(wall->SelectedIndex(), wall->SelectedTile()->StatusText());
    MarkPlayingChannels();
    SaveWall();
}

void CDlgMain::AddShortcuts() {
    const auto add = [this](QKeySequence keys, std::function<void()> action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, std::move(action));
    };
    for (int i = 0; i < 4; ++i) {
        const int side = i + 1;
        add(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i)),
            [this, side] { SetLayout(side); });
    }
    add(QKeySequence(Qt::Key_F11), [this] { ToggleEnlarged(); });
    add(QKeySequence(Qt::Key_Delete), [this] { CloseTile(wall->SelectedIndex()); });
    add(QKeySequence(Qt::CTRL | Qt::Key_L), [this] { OnCommand(kIdLogin); });
    add(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { TakeSnapshot(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_I),
        [this] { wall->SetStatisticsShown(!wall->StatisticsShown()); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Tab), [this] { SelectNextTile(1); });
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), [this] { SelectNextTile(-1); });
    add(QKeySequence(Qt::CTRL | Qt::Key_T), [this] {
        // The tree, shown, takes the keys: arrows choose a channel, Enter plays it.
        if (!treeShown) OnCommand(kIdCamera);
        channelTree->setFocus();
    });
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { ExitFlow(); });
    add(QKeySequence(Qt::Key_F2), [this] { SaveViewAs(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_R), [this] { ShowRecorders(); });
    add(QKeySequence(Qt::Key_PageUp), [this] { StepLayout(-1); });
    add(QKeySequence(Qt::Key_PageDown), [this] { StepLayout(1); });
    // Digital zoom of the selected tile, about its middle; Ctrl+arrows move it (eventFilter).
    for (const QKeySequence& in :
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)})
        add(in, [this] { ZoomSelected(1.25); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { ZoomSelected(0.8); });
    add(QKeySequence(Qt::CTRL | Qt::Key_0), [this] { wall->SelectedTile()->ResetZoom(); });
    add(QKeySequence(Qt::Key_F3), [this] { StepView(1); });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { StepView(-1); });
    add(QKeySequence(Qt::Key_F1), [this] { ShowKeys(); });
    add(QKeySequence(Qt::Key_Question), [this] { ShowKeys(); });
}

void CDlgMain::ShowKeys() {
    const struct {
        const char* keys;
        const char16_t* what;
    } kKeys[] = {
        {"Ctrl+L", u"LOGIN_KEY"},
        {"Ctrl+1 .. Ctrl+4", u"LAYOUT_KEY"},
        {"Page Up, Page Down", u"LAYOUT_STEP_KEY"},
        {"Shift+click, Shift+drag", u"MERGE_KEY"},
        {"F11, Esc", u"FULL_KEY"},
        {"Ctrl+Tab, Ctrl+Shift+Tab", u"TILE_KEY"},
        {"Delete", u"STOP_KEY"},
        {"Ctrl+S", u"SNAPSHOT_KEY"},
        {"Ctrl+I", u"STATS_KEY"},
        {"F2; F3, Shift+F3", u"VIEW_KEY"},
        {"Ctrl+R", u"REC_KEY"},
        {"\u2190 \u2191 \u2192 \u2193", u"PTZ_KEY"},
        {"+, -", u"ZOOM_KEY"},
        {"Ctrl++, Ctrl+-, Ctrl+0, Ctrl+\u2190 \u2191 \u2192 \u2193", u"DIGITAL_KEY"},
        {"\u2195 wheel, drag", u"DIGITAL_MOUSE_KEY"},
        {"Ctrl+T, Enter", u"TREE_KEY"},
        {"Ctrl+Q", u"EXIT_KEY"},
        {"F1, ?", u"HELP_KEY"},
    };
    QString table = QStringLiteral("<table>");
    for (const auto& k : kKeys)
        table += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                     .arg(QString::fromUtf8(k.keys).toHtmlEscaped(), Text(k.what).toHtmlEscaped());
    table += QStringLiteral("</table>");
    QMessageBox box(QMessageBox::Information, Text(u"KEYS"), table, QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void CDlgMain::SelectNextTile(int step) {
    const int count = wall->TileCount();
    wall->Select((wall->SelectedIndex() + step + count) % count);
    OnTileStatus(wall->SelectedIndex(), wall->SelectedTile()->StatusText());
}

void CDlgMain::ShowStatus(const QString& text) {
    statusLabel->setText(text);
    emit StatusShown(text);
}

void CDlgMain::TakeSnapshot() {
    LiveTile* tile = wall->SelectedTile();
    if (tile->Channel() != -1) tile->TakeSnapshot();
}

void CDlgMain::SaveSnapshot(int index, const QImage& picture) {
    if (picture.isNull()) {
        ShowStatus(Text(u"SNAPSHOT_FAILED"));
        return;
    }
    LiveTile* tile = wall->Tile(index);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/Pictures");
    folder += QStringLiteral("/Tavix");
    QString name =
        QStringLiteral("%1 %2 %3.png")
            .arg(RecorderName(tile->Source().recorder.isEmpty() ? recorder
                                                                : tile->Source().recorder),
                 tile->ChannelName(),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss.zzz")));
    // Nothing of the name may make a folder or stand for a drive.
    for (QChar& c : name)
        if (c == u'/' || c == u'\\' || c == u':') c = u'-';
    const QString path = folder + u'/' + name;
    // Written under a temporary name and renamed when complete: never an empty or half file.
    QSaveFile file(path);
    const bool saved = QDir().mkpath(folder) && file.open(QIODevice::WriteOnly) &&
                       picture.save(&file, "PNG") && file.commit();
    // A zoomed tile's picture is saved whole: the status line says so.
    const QString whole = tile->Zoom() > 1 ? Text(u"SNAPSHOT_WHOLE") : QString();
    ShowStatus(
        saved
            ? Text(u"SNAPSHOT_SAVED") + path +
                  QStringLiteral(" (%1\u00d7%2)").arg(picture.width()).arg(picture.height()) + whole
            : Text(u"SNAPSHOT_FAILED"));
}

void CDlgMain::Stop() {
    // The tiles of the recorder logged in to; other recorders' play on.
    wall->ForgetClient(client);
    MarkPlayingChannels();
    // Left enlarged, the handheld's video would cover the screen with nothing to show and no
    // channel to toggle it back with.
    if (enlarged && !desktop) {
        enlarged = false;
        wall->SetEnlarged(false);
        wall->setGeometry(normalVideoRect);
    }
}

void CDlgMain::MarkPlayingChannels() {
    for (int n = 0; n < channelTree->topLevelItemCount(); ++n) {
        QTreeWidgetItem* node = channelTree->topLevelItem(n);
        RecorderLink* link = LinkById(node->data(0, kLinkRole).toInt());
        const DeviceClient& from = link != nullptr ? link->Client() : client;
        for (int i = 0; i < node->childCount(); ++i) {
            QTreeWidgetItem* item = node->child(i);
            const bool playing = wall->TileOf(from, item->data(0, Qt::UserRole).toInt()) >= 0;
            item->setIcon(0, TreeImage(playing ? 1 : 2));
        }
    }
}

void CDlgMain::SaveWall() {
    if (!desktop || recorder.isEmpty()) return;
    SavedWall saved;
    saved.layout = wall->Layout();
    for (int i = 0; i < wall->TileCount(); ++i) {
        const LiveTile* tile = wall->Tile(i);
        // A tile of a recorder still connecting keeps what it waits for.
        const auto waiting = waitingTiles.find(i);
        const bool own = &tile->Client() == &client;
        const QString other = waiting != waitingTiles.end() ? waiting->second.recorder
                              : own                         ? QString()
                                                            : tile->Source().recorder;
        saved.channels.push_back(waiting != waitingTiles.end() ? waiting->second.channel
                                                               : tile->Channel());
        saved.streams.push_back(static_cast<int>(tile->Choice()));
        saved.recorders.push_back(other == recorder ? QString() : other);
    }
    StoreWall(recorder, saved);
}

void CDlgMain::RestoreWall() {
    wallRestored = true;
    // The view asked for at the start, else the one shown last, where it shows this recorder.
    const SavedView* view = FindView(views, startView.isEmpty() ? views.last : startView);
    startView.clear();
    const bool ofThisRecorder =
        view != nullptr && std::any_of(view->tiles.begin(), view->tiles.end(),
                                       [&](const ViewTile& t) { return t.recorder == recorder; });
    if (ofThisRecorder) {
        ShowView(*view);
        return;
    }
    const SavedWall saved = LoadSavedWall(recorder);
    SavedView played;
    played.layout = saved.layout;
    for (size_t i = 0; i < saved.channels.size(); ++i) {
        ViewTile tile;
        if (saved.channels[i] >= 0) {
            tile.recorder = i < saved.recorders.size() && !saved.recorders[i].isEmpty()
                                ? saved.recorders[i]
                                : recorder;
            tile.channel = saved.channels[i];
        }
        tile.stream = i < saved.streams.size() ? saved.streams[i] : 0;
        played.tiles.push_back(tile);
    }
    PlayTiles(played);
    wall->Select(0);
    OnTileStatus(0, wall->SelectedTile()->StatusText());
}

void CDlgMain::StartWith(const QString& view, bool fullScreen) {
    startView = view;
    startFullScreen = fullScreen;
}

QString CDlgMain::ChannelName(const QString& key, int channel) const {
    if (const RecorderLink* link = LinkOf(key))
        return channel >= 0 && channel < static_cast<int>(link->Channels().size())
                   ? link->Channels()[static_cast<size_t>(channel)]
                   : QString();
    const QTreeWidgetItem* root = RecorderNode(-1);
    if (root == nullptr || key != recorder) return {};
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->data(0, Qt::UserRole).toInt() == channel)
            return root->child(i)->text(0);
    return {};
}

QString CDlgMain::PlayTiles(const SavedView& view) {
    wall->SetLayout(view.layout);
    waitingTiles.clear();
    QString unlisted;
    std::vector<QString> toConnect;
    struct Shown {
        ChannelSource source;
        int channel = -1;
        QString name;
    };
    std::vector<Shown> shown(static_cast<size_t>(wall->TileCount()));
    for (size_t i = 0; i < shown.size() && i < view.tiles.size(); ++i) {
        const ViewTile& tile = view.tiles[i];
        if (tile.recorder.isEmpty()) continue;
        const ChannelSource source = SourceOf(tile.recorder);
        const QString name = ChannelName(tile.recorder, tile.channel);
        const bool twice = std::any_of(
            shown.begin(), shown.begin() + static_cast<long>(i), [&](const Shown& before) {
                return before.source.client == source.client && before.channel == tile.channel;
            });
        if (twice) continue;
        if (source.client != nullptr && !name.isEmpty()) {
            shown[i] = {source, tile.channel, name};
        } else if (FindRecorder(recorderBook, tile.recorder) != nullptr) {
            // Its recorder is connecting, or is connected now: the tile plays once its
            // channels are in.
            waitingTiles[static_cast<int>(i)] = tile;
            if (source.client == nullptr) toConnect.push_back(tile.recorder);
        } else if (tile.recorder != recorder) {
            unlisted = tile.recorder;
        }
    }
    // Every tile that changes stops first: a channel plays in one tile at a time.
    for (size_t i = 0; i < shown.size(); ++i) {
        LiveTile* tile = wall->Tile(static_cast<int>(i));
        if (tile->Channel() != shown[i].channel || &tile->Client() != shown[i].source.client)
            tile->Stop();
    }
    for (size_t i = 0; i < VideoWall::kMaxTiles; ++i) {
        LiveTile* tile = wall->Tile(static_cast<int>(i));
        tile->SetStreamChoice(
            static_cast<StreamChoice>(i < view.tiles.size() ? view.tiles[i].stream : 0));
        if (i < shown.size() && shown[i].channel != -1 && tile->Channel() == -1)
            tile->Play(shown[i].source, shown[i].channel, shown[i].name);
    }
    // Last: reading a password from the keyring runs events, a waiting tile's among them.
    for (const QString& key : toConnect)
        ConnectRecorder(key, true);
    MarkPlayingChannels();
    return unlisted;
}

void CDlgMain::ShowView(const SavedView& view) {
    const QString unlisted = PlayTiles(view);
    currentView = view.name;
    if (views.last != view.name) {
        views.last = view.name;
        StoreViews(views);
    }
    wall->Select(0);
    SaveWall();
    ShowStatus(!unlisted.isEmpty() ? Text(u"VIEW_OTHER") + unlisted
                                   : Text(u"VIEW_SHOWN") + view.name);
}

QString CDlgMain::AskViewName(const char16_t* titleKey) {
    bool ok = false;
    const QString name = QInputDialog::getText(this, Text(titleKey), Text(u"VIEW_NAME"),
                                               QLineEdit::Normal, currentView, &ok)
                             .trimmed();
    return ok ? name : QString();
}

void CDlgMain::SaveViewAs() {
    if (!desktop) return;
    const QString name = AskViewName(u"VIEW_SAVE");
    if (name.isEmpty()) return;
    SavedView view;
    view.name = name;
    view.layout = wall->Layout();
    for (int i = 0; i < wall->TileCount(); ++i) {
        const LiveTile* tile = wall->Tile(i);
        ViewTile shown;
        if (waitingTiles.count(i) != 0) {
            shown = waitingTiles[i];
        } else if (tile->Channel() != -1) {
            shown.recorder = tile->Source().recorder.isEmpty() ? recorder : tile->Source().recorder;
            shown.channel = tile->Channel();
        }
        shown.stream = static_cast<int>(tile->Choice());
        view.tiles.push_back(shown);
    }
    if (SavedView* same = FindView(views, name))
        *same = view;
    else
        views.views.push_back(view);
    views.last = currentView = name;
    ShowStatus(StoreViews(views) ? Text(u"VIEW_SAVED") + name : Text(u"VIEW_NOT_SAVED"));
}

void CDlgMain::RenameView() {
    SavedView* view = FindView(views, currentView);
    if (view == nullptr) return;
    const QString name = AskViewName(u"VIEW_RENAME");
    if (name.isEmpty() || (name != currentView && FindView(views, name) != nullptr)) return;
    view->name = name;
    views.last = currentView = name;
    ShowStatus(StoreViews(views) ? Text(u"VIEW_SAVED") + name : Text(u"VIEW_NOT_SAVED"));
}

void CDlgMain::DeleteView() {
    auto gone = std::find_if(views.views.begin(), views.views.end(),
                             [&](const SavedView& view) { return view.name == currentView; });
    if (gone == views.views.end()) return;
    views.views.erase(gone);
    if (views.last == currentView) views.last.clear();
    currentView.clear();
    if (!StoreViews(views)) ShowStatus(Text(u"VIEW_NOT_SAVED"));
}

void CDlgMain::StepView(int step) {
    if (!desktop || views.views.empty()) return;
    const int count = static_cast<int>(views.views.size());
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (views.views[static_cast<size_t>(i)].name == currentView) at = i;
    // From no view, forward is the first and back the last.
    const int next = at < 0 ? (step > 0 ? 0 : count - 1) : ((at + step) % count + count) % count;
    ShowView(views.views[static_cast<size_t>(next)]);
}

void CDlgMain::ZoomSelected(double factor) {
    LiveTile* tile = wall->SelectedTile();
    if (tile->Channel() != -1) tile->ZoomAt(QPointF(tile->width(), tile->height()) / 2, factor);
}

void CDlgMain::AddLayoutsMenu(QMenu& menu) {
    QMenu* sub = menu.addMenu(Text(u"LAYOUTS"));
    for (const WallLayout& layout : OfferedLayouts()) {
        QAction* action = sub->addAction(LayoutName(layout));
        action->setCheckable(true);
        action->setChecked(layout == wall->Layout());
        connect(action, &QAction::triggered, this, [this, layout] { SetWallLayout(layout); });
    }
}

void CDlgMain::AddViewsMenu(QMenu& menu) {
    AddLayoutsMenu(menu);
    connect(menu.addAction(Text(u"RECORDERS")), &QAction::triggered, this,
            [this] { ShowRecorders(); });
    QMenu* sub = menu.addMenu(Text(u"VIEWS"));
    for (const SavedView& view : views.views) {
        QAction* action = sub->addAction(view.name);
        action->setCheckable(true);
        action->setChecked(view.name == currentView);
        const QString name = view.name;
        connect(action, &QAction::triggered, this, [this, name] {
            if (const SavedView* chosen = FindView(views, name)) ShowView(*chosen);
        });
    }
    if (!views.views.empty()) sub->addSeparator();
    connect(sub->addAction(Text(u"VIEW_SAVE")), &QAction::triggered, this,
            [this] { SaveViewAs(); });
    const bool current = FindView(views, currentView) != nullptr;
    QAction* rename = sub->addAction(Text(u"VIEW_RENAME"));
    rename->setEnabled(current);
    connect(rename, &QAction::triggered, this, [this] { RenameView(); });
    QAction* remove = sub->addAction(Text(u"VIEW_DELETE"));
    remove->setEnabled(current);
    connect(remove, &QAction::triggered, this, [this] { DeleteView(); });
}

void CDlgMain::ShowRecorders() {
    if (!desktop || recordersDialog != nullptr) return;
    CDlgRecorders::Hooks hooks;
    hooks.state = [this](const QString& key) { return StateOf(key); };
    hooks.connect = [this](const QString& key, bool on) { ConnectRecorder(key, on); };
    hooks.changed = [this](const QString& gone) {
        if (!StoreRecorders(recorderBook)) ShowStatus(Text(u"REC_NOT_SAVED"));
        (void)gone;
        UpdateRecorderNodes();
    };
    CDlgRecorders dialog(recorderBook, std::move(hooks), this);
    recordersDialog = &dialog;
    dialog.exec();
    recordersDialog = nullptr;
}

ChannelSource CDlgMain::SourceOf(const QString& key) {
    if (!key.isEmpty() && key == recorder && RecorderNode(-1) != nullptr)
        return {&client, recorder, RecorderName(recorder)};
    if (RecorderLink* link = LinkOf(key)) return {&link->Client(), key, RecorderName(key)};
    return {};
}

ChannelSource CDlgMain::NodeSource(int id) {
    if (RecorderLink* link = LinkById(id))
        return {&link->Client(), link->Key(), RecorderName(link->Key())};
    return {&client, recorder, RecorderName(recorder)};
}

LinkState CDlgMain::StateOf(const QString& key) const {
    if (!key.isEmpty() && key == recorder && RecorderNode(-1) != nullptr)
        return sessionLost ? LinkState::kLost : LinkState::kConnected;
    const RecorderLink* link = LinkOf(key);
    return link != nullptr ? link->State() : LinkState::kOffline;
}

QString CDlgMain::RecorderName(const QString& key) const {
    for (const RecorderEntry& entry : recorderBook.recorders)
        if (entry.Key() == key) return entry.name;
    return key;
}

RecorderLink* CDlgMain::LinkOf(const QString& key) const {
    for (const auto& link : links)
        if (link->Key() == key) return link.get();
    return nullptr;
}

RecorderLink* CDlgMain::LinkById(int id) const {
    for (const auto& link : links)
        if (link->Id() == id) return link.get();
    return nullptr;
}

void CDlgMain::ConnectRecorder(const QString& key, bool on) {
    if (!on) {
        if (RecorderLink* link = LinkOf(key)) {
            DropLink(link);
        } else if (key == recorder && RecorderNode(-1) != nullptr) {
            // The recorder logged in to: logged out, as during an outage's LOGIN.
            sessionLost = false;
            client.Logout();
            Stop();
            ClearTree();
        }
        for (auto waiting = waitingTiles.begin(); waiting != waitingTiles.end();)
            waiting = waiting->second.recorder == key ? waitingTiles.erase(waiting) : ++waiting;
        if (recordersDialog != nullptr) recordersDialog->Refresh();
        return;
    }
    const RecorderEntry* entry = FindRecorder(recorderBook, key);
    if (entry == nullptr || StateOf(key) != LinkState::kOffline) return;
    const RecorderLogin login = entry->login;
    // The keyring's answer is waited for in a loop of events: what they did is looked at after.
    const QString password = RecorderPassword(*entry);
    if (StateOf(key) != LinkState::kOffline) return;
    links.push_back(std::make_unique<RecorderLink>(
        nextLinkId++, login, password,
        [this](std::function<void()> work) { Post(std::move(work)); },
        [this](int id, const LinkEvent& event) { OnLinkEvent(id, event); }));
    FillLinkNode(*links.back());
    if (recordersDialog != nullptr) recordersDialog->Refresh();
}

void CDlgMain::DropLink(RecorderLink* link) {
    // Its tiles stop before its client goes.
    wall->ForgetClient(link->Client());
    delete RecorderNode(link->Id());
    links.erase(std::find_if(links.begin(), links.end(),
                             [&](const auto& held) { return held.get() == link; }));
    MarkPlayingChannels();
}

void CDlgMain::OnLinkEvent(int id, const LinkEvent& event) {
    RecorderLink* link = LinkById(id);
    if (link == nullptr) return;  // disconnected since
    DeviceClient& from = link->Client();
    const int index = event.channel >= 0 ? wall->TileOf(from, event.channel) : -1;
    switch (event.kind) {
        case LinkEvent::kLogin:
            if (event.code == 0) {
                link->SetState(LinkState::kConnected);
                from.RequestChannelList();
            } else if (IsLoginRefusal(event.code)) {
                // The credentials will not do: its tiles stop; the user edits and connects it.
                link->SetState(LinkState::kRefused);
                wall->ForgetClient(from);
                from.Logout();
            } else {
                // Not reached (yet): tried again in a while, as a lost link is.
                link->SetState(LinkState::kLost);
                QTimer::singleShot(RecorderLink::kRetryMs, this, [this, id] {
                    RecorderLink* again = LinkById(id);
                    if (again == nullptr || again->State() != LinkState::kLost) return;
                    again->SetState(LinkState::kConnecting);
                    again->LogIn();
                    UpdateRecorderNodes();
                });
            }
            break;
        case LinkEvent::kChannels:
            link->SetChannels(event.names);
            FillLinkNode(*link);
            PlayWaitingTiles(link->Key());
            break;
        case LinkEvent::kStream:
            if (index >= 0) wall->Tile(index)->OnStreamResult(event.code);
            break;
        case LinkEvent::kReconnecting:
            if (event.channel >= 0) {
                if (index >= 0) wall->Tile(index)->SetReconnecting();
                break;
            }
            link->SetState(LinkState::kLost);
            for (int i = 0; i < VideoWall::kMaxTiles; ++i)
                if (&wall->Tile(i)->Client() == &from) wall->Tile(i)->SetReconnecting();
            break;
        case LinkEvent::kReconnected:
            if (event.channel == -1) link->SetState(LinkState::kConnected);
            break;
        case LinkEvent::kDisconnected:
            link->SetState(LinkState::kLost);
            break;
    }
    UpdateRecorderNodes();
    MarkPlayingChannels();
    if (recordersDialog != nullptr) recordersDialog->Refresh();
}

QTreeWidgetItem* CDlgMain::RecorderNode(int id) const {
    for (int i = 0; i < channelTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = channelTree->topLevelItem(i);
        if (node->data(0, kLinkRole).toInt() == id) return node;
    }
    return nullptr;
}

void CDlgMain::FillLinkNode(RecorderLink& link) {
    QTreeWidgetItem* node = RecorderNode(link.Id());
    if (node == nullptr) {
        node = new QTreeWidgetItem(channelTree);
        node->setData(0, kLinkRole, link.Id());
        node->setIcon(0, TreeImage(0));
    }
    qDeleteAll(node->takeChildren());
    for (size_t i = 0; i < link.Channels().size(); ++i) {
        auto* item = new QTreeWidgetItem(node, QStringList(link.Channels()[i]));
        item->setData(0, Qt::UserRole, static_cast<int>(i));
    }
    node->setExpanded(true);
    UpdateRecorderNodes();
    MarkPlayingChannels();
}

void CDlgMain::UpdateRecorderNodes() {
    // The handheld has one recorder, and its node says "Device" as it always did.
    if (!desktop) return;
    for (int i = 0; i < channelTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = channelTree->topLevelItem(i);
        const RecorderLink* link = LinkById(node->data(0, kLinkRole).toInt());
        const QString key = link != nullptr ? link->Key() : recorder;
        node->setText(
            0, QStringLiteral("%1  (%2)").arg(RecorderName(key), LinkStateText(StateOf(key))));
    }
}

void CDlgMain::PlayWaitingTiles(const QString& key) {
    const ChannelSource source = SourceOf(key);
    for (auto waiting = waitingTiles.begin(); waiting != waitingTiles.end();) {
        const ViewTile& tile = waiting->second;
        if (tile.recorder != key) {
            ++waiting;
            continue;
        }
        const QString name = ChannelName(key, tile.channel);
        LiveTile* shown = waiting->first < wall->TileCount() ? wall->Tile(waiting->first) : nullptr;
        if (shown != nullptr && shown->Channel() == -1 && !name.isEmpty() &&
            wall->TileOf(*source.client, tile.channel) < 0)
            shown->Play(source, tile.channel, name);
        waiting = waitingTiles.erase(waiting);
    }
    MarkPlayingChannels();
}

void CDlgMain::OnPtzCommand(int id) {
    switch (id) {
        case kIdArrowA:
            SendPtz(panMode == 0 ? PtzAction::kUp : PtzAction::kLeft);
            break;
        case kIdArrowB:
            SendPtz(panMode == 0 ? PtzAction::kDown : PtzAction::kRight);
            break;
        case kIdLensPlus:
            SendPtz(kLensPlusAction[lensMode]);
            break;
        case kIdLensMinus:
            SendPtz(kLensMinusAction[lensMode]);
            break;
        case kIdPanMode:
            panMode = (panMode + 1) % 2;
            panModeKey->setText(Text(panMode == 1 ? u"LEFT_RIGHT" : u"UP_DOWN"));
            break;
        case kIdLensMode:
            lensMode = (lensMode + 1) % 3;
            lensModeKey->setText(Text(kLensModeLabel[lensMode]));
            break;
        default:
            break;
    }
}

void CDlgMain::SendPtz(PtzAction action) {
    LiveTile* tile = wall->SelectedTile();
    if (tile->Channel() != -1) tile->Client().Ptz(tile->Channel(), action, 0);
}

bool CDlgMain::eventFilter(QObject* watched, QEvent* event) {
    // Keys the tree takes (choosing a channel) steer nothing.
    if (event->type() == QEvent::KeyPress && !(desktop && channelTree->hasFocus())) {
        const auto* press = static_cast<QKeyEvent*>(event);
        const int key = press->key();
        const bool arrow = key >= Qt::Key_Left && key <= Qt::Key_Down;
        if (desktop && arrow && (press->modifiers() & Qt::ControlModifier)) {
            // Ctrl+arrows move a zoomed picture: a tenth of the tile a press.
            LiveTile* tile = wall->SelectedTile();
            const QPointF step(tile->width() / 10.0, tile->height() / 10.0);
            const QPointF kMoves[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
            const QPointF move = kMoves[key - Qt::Key_Left];
            tile->PanBy(QPointF(move.x() * step.x(), move.y() * step.y()));
        } else if (arrow) {
            OnArrowKey(key);
        }
        // + and - zoom the camera's lens (Page Up and Down step through the layouts).
        if (desktop && !(press->modifiers() & Qt::ControlModifier)) {
            if (key == Qt::Key_Plus) SendPtz(PtzAction::kZoomPlus);
            if (key == Qt::Key_Minus) SendPtz(PtzAction::kZoomMinus);
        }
    }
    // The key goes on to the window as usual.
    return QDialog::eventFilter(watched, event);
}

void CDlgMain::OnArrowKey(int key) {
    // The turned table is fixed: it follows the enlarged view on a tall window, not the
    // picture's own turn.
    const bool turned = enlarged && width() < height();
    SendPtz((turned ? kTurnedArrowAction : kArrowAction)[key - Qt::Key_Left]);
}

}  // namespace tavix

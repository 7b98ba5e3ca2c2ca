#include "ui/dlg_main.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <new>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "ui/control_ids.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_login.h"
#include "ui/header_band.h"
#include "ui/image_button.h"
#include "ui/main_layout.h"
#include "ui/picture_fit.h"
#include "ui/ui_text.h"
#include "ui/video_window.h"

namespace tavix {

namespace {

constexpr int kTreeIconSize = 16;
// The presenter's first picture size, until a stream tells its own.
constexpr int kFirstPictureWidth = 352;
constexpr int kFirstPictureHeight = 288;
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

// A rotate buffer of this many pixels or more is not made: the view stays unturned.
constexpr int64_t kMaxTurnedPixels = int64_t{1} << 30;

void SetBackground(QWidget* widget, const QColor& color) {
    QPalette colours = widget->palette();
    colours.setColor(QPalette::Window, color);
    widget->setPalette(colours);
    widget->setAutoFillBackground(true);
}

}  // namespace

CDlgMain::CDlgMain(DeviceClient& client, QWidget* parent) : QDialog(parent), client(client) {
    // The controls of the window's template: the channel tree and the video window.
    channelTree = new QTreeWidget(this);
    SetControlId(channelTree, kIdChannelTree);
    channelTree->setHeaderHidden(true);
    channelTree->setRootIsDecorated(true);
    channelTree->setColumnCount(1);
    videoWindow = new VideoWindow(this);
    connect(videoWindow, &VideoWindow::Tapped, this, [this] { OnCommand(kIdVideoWindow); });
    connect(channelTree, &QTreeWidget::itemClicked, this, &CDlgMain::OnTreeTap);

    setWindowTitle(ToQString(appTitle));
    // The dialog's own background, and that of every control but the status line and the tree.
    QPalette black = palette();
    black.setColor(QPalette::Window, ColorFromRef(kBlackBackground));
    setPalette(black);

    // The live view's tick runs for the whole life of the window, also while nothing plays.
    timer.Start(kTickMs, [this] { Tick(); });
}

CDlgMain::~CDlgMain() {
    closing.store(true, std::memory_order_release);
    timer.Stop();
    DeviceEventRelay::Instance().Detach(this);
    rotateBuffer.reset();
    presenter.Release();
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

    // The whole screen, above other windows, without caption.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    if (QScreen* screen = this->screen()) {
        setGeometry(screen->geometry());
        // A turned or resized screen: the window follows it and lays itself out anew.
        connect(screen, &QScreen::geometryChanged, this,
                [this](const QRect& geometry) { setGeometry(geometry); });
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
    QPalette statusColours = statusLabel->palette();
    statusColours.setColor(QPalette::WindowText, ColorFromRef(kLightText));
    statusLabel->setPalette(statusColours);
    SetBackground(statusLabel, ColorFromRef(kDarkBackground));
    statusLabel->show();

    treeImages = {QIcon(LoadImage(kIconDevice)), QIcon(LoadImage(kIconChannelPlaying)),
                  QIcon(LoadImage(kIconChannel))};
    channelTree->setIconSize(QSize(kTreeIconSize, kTreeIconSize));

    initDone = 1;
    // The presenter draws into the video window; the depth it reports is the depth the
    // decoder converts pictures to.
    const int bits = CreatePresenter(kFirstPictureWidth, kFirstPictureHeight);
    displayBits.store(bits, std::memory_order_relaxed);
    // Qt reports no size change after this point, as the window already has its size.
    Layout(width(), height());
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
        ComputeMainLayout(QSize(cx, cy), keyFont.height(), modeLabel, screenSize);

    softKeyHeight = layout.softKeyHeight;
    CImageButton* liveKeys[5] = {loginKey, cameraKey, fullKey, aboutKey, exitKey};
    for (int i = 0; i < 5; ++i)
        liveKeys[i]->setGeometry(layout.liveKeys[i]);
    backKey->setGeometry(layout.back);
    channelExitKey->setGeometry(layout.channelExit);
    for (CImageButton* key :
         {loginKey, cameraKey, fullKey, aboutKey, exitKey, backKey, channelExitKey})
        key->SetImages(kImageSoftKey, kImageSoftKeyPressed);

    headerHeight = HeaderHeight(*this);
    ptzBandHeight = layout.ptzBandHeight;
    normalVideoRect = layout.normalVideo;
    fullScreenRect = layout.fullScreen;
    statusLabel->setGeometry(layout.status);
    videoWindow->setGeometry(normalVideoRect);
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
    if (enlarged.load(std::memory_order_relaxed) != 0) videoWindow->setGeometry(fullScreenRect);
    geometryDirty.store(1, std::memory_order_release);
    update();
}

void CDlgMain::paintEvent(QPaintEvent*) {
    if (!isVisible()) return;
    QPainter painter(this);
    painter.fillRect(rect(), ColorFromRef(kBlackBackground));
    PaintHeaderBand(painter, headerImage, width(), headerHeight);
    const int bandTop = height() - softKeyHeight - ptzBandHeight;
    painter.fillRect(QRect(0, bandTop, width(), ptzBandHeight), ColorFromRef(kDarkBackground));
    painter.fillRect(QRect(0, bandTop, width(), 1), kPtzBandLine);
}

void CDlgMain::ShowLivePage(bool show) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             arrowA, arrowB, lensPlus, lensMinus, panModeKey, lensModeKey, statusLabel, videoWindow,
             loginKey, cameraKey, fullKey, aboutKey, exitKey})
        control->setVisible(show);
    livePageVisible.store(show ? 1 : 0, std::memory_order_relaxed);
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
        default:
            break;
    }
}

void CDlgMain::ClearTree() {
    channelTree->clear();
    // The playing channel's item is gone; the channel itself plays on until it is stopped.
    playingItem = nullptr;
}

void CDlgMain::RunLoginFlow() {
    ClearTree();
    CDlgLogin* login = new CDlgLogin(client);
    openLoginDialog = login;
    login->exec();
    const int exitChosen = login->ExitChosen();
    delete login;
    openLoginDialog = nullptr;
    if (exitChosen != 0) {
        ExitFlow();
        return;
    }
    ShowLivePage(false);
    ShowChannelPage(true);
}

void CDlgMain::ExitFlow() {
    Stop();
    client.Logout();
    reject();
}

void CDlgMain::DisconnectFlow() {
    Stop();
    QMessageBox box(QMessageBox::Critical, ToQString(appTitle), Text(u"D_DIS"), QMessageBox::Ok,
                    this);
    box.exec();
    // A login dialog that is already open (LOGIN was chosen while connected) takes the new
    // login; a second one on top of it would never learn its result.
    if (openLoginDialog == nullptr) RunLoginFlow();
}

void CDlgMain::ToggleEnlarged() {
    if (currentChannel.load(std::memory_order_relaxed) == -1) return;
    const bool wasEnlarged = enlarged.load(std::memory_order_relaxed) != 0;
    enlarged.store(wasEnlarged ? 0 : 1, std::memory_order_relaxed);
    videoWindow->setGeometry(wasEnlarged ? normalVideoRect : fullScreenRect);
    // Covering the screen means covering the other controls too.
    if (!wasEnlarged) videoWindow->raise();
    geometryDirty.store(1, std::memory_order_release);
}

void CDlgMain::ShowAbout() {
    const QString text = ToQString(appTitle) + u'\n' + Text(u"VERSION") + ToQString(appVersion) +
                         u'\n' + Text(u"BUILD") + QStringLiteral(" : 2011-08-25\n");
    QMessageBox box(QMessageBox::Information, Text(u"ABOUT"), text, QMessageBox::Ok, this);
    box.exec();
}

void CDlgMain::FillTree(int, const ChannelNameList* list) {
    ClearTree();
    auto* root = new QTreeWidgetItem(channelTree, QStringList(Text(u"DEVICE")));
    root->setIcon(0, TreeImage(0));
    if (list == nullptr) return;
    const int count = std::clamp<int>(list->count, 0, kMaxChannelEntries);
    for (int i = 0; i < count; ++i) {
        const char* name = list->entries[i].name;
        const QString text = QString::fromUtf8(name, strnlen(name, kChannelNameBytes));
        auto* item = new QTreeWidgetItem(root, QStringList(text));
        item->setIcon(0, TreeImage(2));
        item->setData(0, Qt::UserRole, i);
    }
    root->setExpanded(true);
}

bool CDlgMain::event(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == WM_LOGIN_RESULT) {
        const int code = static_cast<DeviceEvent*>(event)->wParam;
        if (openLoginDialog != nullptr) openLoginDialog->HandleLoginResult(code);
        if (code == 0) client.RequestChannelList();
        return true;
    }
    if (type == WM_DEVICE_DISCONNECTED) {
        DisconnectFlow();
        return true;
    }
    if (type == WM_STREAM_RESULT) {
        OnStreamResult(static_cast<DeviceEvent*>(event)->wParam);
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

void CDlgMain::OnMediaData(int, const uint8_t*, int) {}

void CDlgMain::OnStreamResult(int channel, int code) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_STREAM_RESULT, code, channel));
}

void CDlgMain::OnDisconnected(int code, int) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_DEVICE_DISCONNECTED, code, 0));
}

void CDlgMain::SetStatus(const char16_t* key) {
    const QString text = Text(key);
    statusLabel->setText(text);
    emit StatusShown(text);
}

void CDlgMain::OnTreeTap(QTreeWidgetItem* item) {
    // The root (the device) and the space below the items open nothing.
    if (item == nullptr || item->parent() == nullptr) return;
    OpenChannel(item);
}

void CDlgMain::OpenChannel(QTreeWidgetItem* item) {
    if (item != playingItem) {
        Stop();
        const int index = item->data(0, Qt::UserRole).toInt();
        client.Decoder(index).SetDisplayBits(displayBits.load(std::memory_order_relaxed));
        client.OpenChannel(index, 1);
        channelGeneration.fetch_add(1, std::memory_order_relaxed);
        currentChannel.store(index, std::memory_order_release);
        playingItem = item;
        item->setIcon(0, TreeImage(1));
        SetStatus(u"OPENING_V");
    }
    ShowChannelPage(false);
    ShowLivePage(true);
}

void CDlgMain::Stop() {
    // A channel plays from its open to its stop, even when the tree lost its item meanwhile.
    const int channel = currentChannel.load(std::memory_order_relaxed);
    if (channel == -1) return;
    client.CloseChannel(channel);
    if (playingItem != nullptr) playingItem->setIcon(0, TreeImage(2));
    playingItem = nullptr;
    channelGeneration.fetch_add(1, std::memory_order_relaxed);
    SetStatus(u"STOP");
    currentChannel.store(-1, std::memory_order_release);
    pictureWidth.store(0, std::memory_order_relaxed);
    pictureHeight.store(0, std::memory_order_relaxed);
    // Left enlarged, the video window would cover the screen with nothing to show and no
    // channel to toggle it back with.
    if (enlarged.exchange(0, std::memory_order_relaxed) != 0) {
        videoWindow->setGeometry(normalVideoRect);
        geometryDirty.store(1, std::memory_order_release);
    }
}

void CDlgMain::OnStreamResult(int code) {
    if (code != 0) {
        // The channel stays current: the tick keeps asking the decoder.
        SetStatus(u"OPEN_ERR");
        return;
    }
    bufferingShown.store(1, std::memory_order_relaxed);
    SetStatus(u"BUFFERING");
}

int CDlgMain::CreatePresenter(int width, int height) {
    if (forcedBits != 0)
        return presenter.CreateWithBits(videoWindow, width, height, forcedBits) ? forcedBits : 0;
    int bits = 0;
    presenter.Create(videoWindow, width, height, bits);
    return bits;
}

void CDlgMain::Tick() {
    const int channel = currentChannel.load(std::memory_order_acquire);
    if (channel < 0) {
        if (rotateBuffer) {
            rotateBuffer.reset();
            pictureWidth.store(0, std::memory_order_relaxed);
            pictureHeight.store(0, std::memory_order_relaxed);
        }
        return;
    }
    const int generation = channelGeneration.load(std::memory_order_relaxed);
    CDecoder& decoder = client.Decoder(channel);
    const int shown = bufferingShown.load(std::memory_order_relaxed);
    int width = 0;
    int height = 0;
    int status = shown;
    const uint8_t* picture = decoder.GetPicture(width, height, status);
    if (status != shown) {
        bufferingShown.store(status, std::memory_order_relaxed);
        const char16_t* key = status == kStatusBuffering ? u"BUFFERING" : u"PLAYING";
        // Shown by the window's thread, unless a stop or another channel came first.
        Post([this, key, generation] {
            if (channelGeneration.load(std::memory_order_relaxed) == generation) SetStatus(key);
        });
    }
    if (picture == nullptr) return;
    if (width > 0 && height > 0 && livePageVisible.load(std::memory_order_relaxed) != 0) {
        const bool refit = geometryDirty.exchange(0, std::memory_order_acq_rel) != 0 ||
                           width != pictureWidth.load(std::memory_order_relaxed) ||
                           height != pictureHeight.load(std::memory_order_relaxed);
        if (!refit || Refit(width, height)) {
            const int bits = displayBits.load(std::memory_order_relaxed);
            if (rotateBuffer) {
                TurnPicture(picture, width, height, bits, rotateBuffer.get());
                presenter.Present(rotateBuffer.get(), destination, RowOrder::kTopRowFirst);
            } else {
                presenter.Present(picture, destination,
                                  bits == 16 ? RowOrder::kTopRowFirst : RowOrder::kBottomRowFirst);
            }
        }
    }
    decoder.ReleasePicture();
}

bool CDlgMain::Refit(int width, int height) {
    // The presenter and the video window belong to the window's thread: the placement is made
    // there while this thread waits, unless the window is going.
    auto placed = std::make_shared<std::promise<ScreenRect>>();
    std::future<ScreenRect> result = placed->get_future();
    Post([this, width, height, placed] { placed->set_value(Place(width, height)); });
    while (result.wait_for(std::chrono::milliseconds(kTickMs)) != std::future_status::ready) {
        if (closing.load(std::memory_order_acquire)) return false;
    }
    try {
        destination = result.get();
    } catch (const std::future_error&) {
        return false;  // dropped unrun
    }
    pictureWidth.store(width, std::memory_order_relaxed);
    pictureHeight.store(height, std::memory_order_relaxed);
    return true;
}

ScreenRect CDlgMain::Place(int width, int height) {
    const bool isEnlarged = enlarged.load(std::memory_order_relaxed) != 0;
    const QSize area = (isEnlarged ? fullScreenRect : normalVideoRect).size();
    const QSize picture(width, height);
    PictureFit fit = FitPicture(area, picture, isEnlarged);
    // The tick waits meanwhile: its rotate buffer can be made here.
    rotateBuffer.reset();
    if (fit.turned) {
        const int64_t pixels = int64_t{width} * height;
        if (pixels < kMaxTurnedPixels)
            rotateBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(pixels) * 4]);
        if (!rotateBuffer) fit = FitPicture(area, picture, false);
    }
    // Around the picture the video window shows its own black.
    if (!isEnlarged) videoWindow->update();
    const QPoint topLeft = videoWindow->mapToGlobal(fit.destination.topLeft());
    const int bits = CreatePresenter(fit.displayed.width(), fit.displayed.height());
    if (bits != 0) {
        // The decoder converts the next pictures to the depth the new presenter shows.
        displayBits.store(bits, std::memory_order_relaxed);
        const int channel = currentChannel.load(std::memory_order_relaxed);
        if (channel != -1) client.Decoder(channel).SetDisplayBits(bits);
    }
    return {topLeft.x(), topLeft.y(), topLeft.x() + fit.destination.width(),
            topLeft.y() + fit.destination.height()};
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
    const int channel = currentChannel.load(std::memory_order_relaxed);
    if (channel != -1) client.Ptz(channel, action, 0);
}

bool CDlgMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key >= Qt::Key_Left && key <= Qt::Key_Down) OnArrowKey(key);
    }
    // The key goes on to the window as usual.
    return QDialog::eventFilter(watched, event);
}

void CDlgMain::OnArrowKey(int key) {
    // The turned table is fixed: it follows the enlarged view on a tall window, not the
    // picture's own turn.
    const bool turned = enlarged.load(std::memory_order_relaxed) != 0 && width() < height();
    SendPtz((turned ? kTurnedArrowAction : kArrowAction)[key - Qt::Key_Left]);
}

}  // namespace tavix

#include "ui/dlg_main.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "ui/control_ids.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_login.h"
#include "ui/header_band.h"
#include "ui/image_button.h"
#include "ui/main_layout.h"
#include "ui/ui_text.h"
#include "ui/video_window.h"

namespace tavix {

namespace {

constexpr int kTreeIconSize = 16;
// The presenter's first picture size, until a stream tells its own.
constexpr int kFirstPictureWidth = 352;
constexpr int kFirstPictureHeight = 288;
const QColor kPtzBandLine = ColorFromRef(0x2E322D);

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

    setWindowTitle(ToQString(appTitle));
    // The dialog's own background, and that of every control but the status line and the tree.
    QPalette black = palette();
    black.setColor(QPalette::Window, ColorFromRef(kBlackBackground));
    setPalette(black);
}

CDlgMain::~CDlgMain() {
    DeviceEventRelay::Instance().Detach(this);
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
    presenter.Create(videoWindow, kFirstPictureWidth, kFirstPictureHeight, displayBits);
    client.Decoder().SetDisplayBits(displayBits);
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
    geometryDirty.store(1, std::memory_order_relaxed);
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
        default:
            break;
    }
}

void CDlgMain::RunLoginFlow() {
    channelTree->clear();
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

void CDlgMain::Stop() {
    if (playingItem == nullptr) return;
    client.CloseChannel(currentChannel.load(std::memory_order_relaxed));
    playingItem->setIcon(0, TreeImage(2));
    playingItem = nullptr;
    statusLabel->setText(Text(u"STOP"));
    currentChannel.store(-1, std::memory_order_relaxed);
    enlarged.store(0, std::memory_order_relaxed);
}

void CDlgMain::ToggleEnlarged() {
    if (currentChannel.load(std::memory_order_relaxed) == -1) return;
    const bool wasEnlarged = enlarged.load(std::memory_order_relaxed) != 0;
    enlarged.store(wasEnlarged ? 0 : 1, std::memory_order_relaxed);
    videoWindow->setGeometry(wasEnlarged ? normalVideoRect : fullScreenRect);
    geometryDirty.store(1, std::memory_order_relaxed);
}

void CDlgMain::ShowAbout() {
    const QString text = ToQString(appTitle) + u'\n' + Text(u"VERSION") + ToQString(appVersion) +
                         u'\n' + Text(u"BUILD") + QStringLiteral(" : 2011-08-25\n");
    QMessageBox box(QMessageBox::Information, Text(u"ABOUT"), text, QMessageBox::Ok, this);
    box.exec();
}

void CDlgMain::FillTree(int, const ChannelNameList* list) {
    channelTree->clear();
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
    if (type == WM_STREAM_RESULT) return true;
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
    QMetaObject::invokeMethod(
        this,
        [this, code, list, filled = std::move(filled)] {
            FillTree(code, list);
            filled->set_value();
        },
        Qt::QueuedConnection);
    return done;
}

void CDlgMain::OnMediaData(int, const uint8_t*, int) {}

void CDlgMain::OnStreamResult(int channel, int code) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_STREAM_RESULT, code, channel));
}

void CDlgMain::OnDisconnected(int code, int) {
    QCoreApplication::postEvent(this, new DeviceEvent(WM_DEVICE_DISCONNECTED, code, 0));
}

}  // namespace tavix

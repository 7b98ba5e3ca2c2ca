#include "ui/dlg_login.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QStyle>
#include <QValidator>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "app/app_strings.h"
#include "client/device_client.h"
#include "platform/system.h"
#include "profile/ini_file.h"
#include "ui/control_ids.h"
#include "ui/desktop_settings.h"
#include "ui/header_band.h"
#include "ui/image_button.h"
#include "ui/keyring.h"
#include "ui/login_layout.h"
#include "ui/system_code_page.h"
#include "ui/ui_text.h"

namespace tavix {

namespace {

constexpr char16_t kSection[] = u"login";
constexpr char16_t kDefaultAddress[] = u"0.0.0.0";
constexpr int kDefaultPort = 34567;
constexpr char16_t kDefaultUser[] = u"admin";
constexpr char16_t kDefaultPassword[] = u"702914";
constexpr int kLoginTimeoutMs = 10000;
constexpr int kMaxPortDigits = 5;
constexpr int kMaxPort = 65535;

// A TCP port as typed: digits only, and never more than a port can be, so that the box cannot
// hold a number the login would have to clip.
class PortValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.size() > kMaxPortDigits) return Invalid;
        for (QChar c : input)
            if (!c.isDigit() || c.unicode() > '9') return Invalid;
        if (!input.isEmpty() && input.toInt() > kMaxPort) return Invalid;
        return Acceptable;
    }
};

bool MakeFolder(const std::string& folder) {
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string UserConfigFolder() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (configHome != nullptr && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return {};
        base = std::string(home) + "/.config";
    }
    const std::string folder = base + "/tavix/";
    return MakeFolder(base) && MakeFolder(folder) ? folder : std::string();
}

std::u16string FromQString(const QString& text) {
    return text.toStdU16String();
}

// An earlier version kept login.ini beside the program when it could: it moves to `path` once,
// while there is none there yet. It may hold a password, so only its owner may read it.
void MoveOldLoginIni(const std::string& path) {
    const std::string old = appDirectory + "login.ini";
    if (appDirectory.empty() || old == path || access(path.c_str(), F_OK) == 0 ||
        access(old.c_str(), F_OK) != 0)
        return;
    if (rename(old.c_str(), path.c_str()) != 0) {
        // Another file system: copied, and the old one removed where the folder allows it.
        if (!QFile::copy(QString::fromStdString(old), QString::fromStdString(path))) return;
        QFile::remove(QString::fromStdString(old));
    }
    chmod(path.c_str(), 0600);
}

constexpr int kRecorderRole = Qt::UserRole;     // the row's index in the recent recorders
constexpr int kAddressRole = Qt::UserRole + 1;  // what completes the address box

}  // namespace

bool IsPortText(const QString& text) {
    int position = 0;
    QString copy = text;
    return !text.isEmpty() && PortValidator().validate(copy, position) == QValidator::Acceptable;
}

QString KeyringAccount(const RecorderLogin& login) {
    return login.user + u'@' + RecorderKey(login.address, login.port);
}

bool LoadSavedLogin(RecorderLogin& login, QString& filePassword) {
    const std::string path = LoginIniPath();
    if (!QFile::exists(QString::fromStdString(path))) return false;
    login = {ToQString(IniReadString(kSection, u"IP0", kDefaultAddress, path)),
             IniReadInt(kSection, u"Port0", kDefaultPort, path),
             ToQString(IniReadString(kSection, u"User0", kDefaultUser, path))};
    filePassword = ToQString(IniReadString(kSection, u"Pwd0", kDefaultPassword, path));
    return true;
}

std::string LoginIniPath() {
    const std::string folder = UserConfigFolder();
    // Without a home there is no configuration folder; the program's folder is all there is.
    if (folder.empty()) return appDirectory + "login.ini";
    const std::string path = folder + "login.ini";
    MoveOldLoginIni(path);
    return path;
}

SoftKeyCaptions SoftKeyCaptionsFor(int languageId) {
    switch (languageId & 0x3FF) {
        case 0x04:
            return {u"登录", u"取消"};
        case 0x1F:
            return {u"Giriş", u"Çıkış"};
        default:
            return {u"Login", u"Cancel"};
    }
}

CDlgLogin::CDlgLogin(DeviceClient& client, QWidget* owner)
    : QDialog(owner), client(client), owner(owner) {
    // Handheld: a pop-up over the whole screen, without caption; kept above the main window,
    // which is itself kept above other windows. Desktop: a normal dialog.
    if (owner == nullptr)
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(ToQString(appTitle));

    // The boxes in tab order: address, port, user name, password.
    const int boxIds[4] = {kIdAddressBox, kIdPortBox, kIdUserBox, kIdPasswordBox};
    QLineEdit* boxes[4];
    for (int i = 0; i < 4; ++i) {
        boxes[i] = new QLineEdit(this);
        SetControlId(boxes[i], boxIds[i]);
    }
    addressBox = boxes[0];
    portBox = boxes[1];
    userBox = boxes[2];
    passwordBox = boxes[3];
    portBox->setValidator(new PortValidator(portBox));
    passwordBox->setEchoMode(QLineEdit::Password);

    const char16_t* labelKeys[4] = {u"D_IP", u"D_PORT", u"U_NAME", u"PASSWORD"};
    // The handheld's dialog is dark; the desktop's takes the desktop's colours, light or dark.
    QPalette labelColours = palette();
    if (owner == nullptr) labelColours.setColor(QPalette::WindowText, ColorFromRef(kLightText));
    for (int i = 0; i < 4; ++i) {
        labels[i] = new QLabel(Text(labelKeys[i]), this);
        SetControlId(labels[i], kIdAddressLabel + i);
        labels[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (owner == nullptr) labels[i]->setPalette(labelColours);
    }
    setTabOrder(addressBox, portBox);
    setTabOrder(portBox, userBox);
    setTabOrder(userBox, passwordBox);

    const std::string path = LoginIniPath();
    address = IniReadString(kSection, u"IP0", kDefaultAddress, path);
    port = IniReadInt(kSection, u"Port0", kDefaultPort, path);
    userName = IniReadString(kSection, u"User0", kDefaultUser, path);
    fileLogin = {ToQString(address), port, ToQString(userName)};
    filePassword = ToQString(IniReadString(kSection, u"Pwd0", kDefaultPassword, path));
    password = FromQString(PasswordFor(fileLogin));
    BoxesFromMembers();
    OfferRecentRecorders();

    // Said once, quietly: without a keyring the password is kept in login.ini.
    passwordNote = new QLabel(Text(u"PWD_FILE"), this);
    SetControlId(passwordNote, kIdPasswordNote);
    QFont small = passwordNote->font();
    small.setPixelSize(std::max(1, fontMetrics().height() * 3 / 4));
    passwordNote->setFont(small);
    if (owner == nullptr) passwordNote->setPalette(labelColours);
    passwordNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    passwordNote->setWordWrap(true);
    passwordNote->setVisible(!PasswordNoteShown() && !KeyringAvailable());
    if (passwordNote->isVisibleTo(this)) SetPasswordNoteShown();

    // The soft-key bar: login and exit, captioned in the system's language.
    const SoftKeyCaptions captions = SoftKeyCaptionsFor(UiLanguageId());
    loginKey = new CImageButton(kCommandLogin, this);
    exitKey = new CImageButton(kCommandExit, this);
    loginKey->setText(QString::fromUtf16(captions.login));
    exitKey->setText(QString::fromUtf16(captions.exit));
    for (CImageButton* key : {loginKey, exitKey})
        key->SetTextColor(ColorFromRef(kWhiteText));
    // Return logs in, as the login key does; Escape is the platform's cancel (see reject).
    loginKey->setDefault(true);
    connect(loginKey, &QPushButton::clicked, this, &CDlgLogin::OnLoginCommand);
    connect(exitKey, &QPushButton::clicked, this, &CDlgLogin::OnExitCommand);

    addressBox->setFocus();
    // A turned or resized screen: the dialog follows it.
    if (QScreen* screen = this->screen())
        connect(screen, &QScreen::geometryChanged, this, &CDlgLogin::PlaceOnScreen);
}

CDlgLogin::~CDlgLogin() {
    SetWaiting(false);
}

QString CDlgLogin::PasswordFor(const RecorderLogin& login) const {
    // The file's password is its own login's, and newer than the keyring's where it is there:
    // only a login without a keyring writes it.
    if (login == fileLogin && !filePassword.isEmpty()) return filePassword;
    return ReadKeyringPassword(KeyringAccount(login)).value_or(QString());
}

void CDlgLogin::OfferRecentRecorders() {
    recentRecorders = LoadRecentRecorders();
    if (recentRecorders.empty()) return;
    auto* model = new QStandardItemModel(this);
    for (size_t i = 0; i < recentRecorders.size(); ++i) {
        const RecorderLogin& login = recentRecorders[i];
        auto* item = new QStandardItem(RecorderKey(login.address, login.port) +
                                       QStringLiteral("  ") + login.user);
        item->setData(static_cast<int>(i), kRecorderRole);
        item->setData(login.address, kAddressRole);
        model->appendRow(item);
    }
    auto* completer = new QCompleter(model, this);
    completer->setCompletionRole(kAddressRole);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    addressBox->setCompleter(completer);
    connect(completer, qOverload<const QModelIndex&>(&QCompleter::activated), this,
            [this](const QModelIndex& index) { PickRecorder(index.data(kRecorderRole).toInt()); });
    // The whole list, from the arrow at the box's end or Alt+Down, as a combo box has it.
    QAction* showList = addressBox->addAction(style()->standardIcon(QStyle::SP_ArrowDown),
                                              QLineEdit::TrailingPosition);
    showList->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
    showList->setShortcutContext(Qt::WidgetShortcut);
    connect(showList, &QAction::triggered, completer, [completer] {
        completer->setCompletionPrefix(QString());
        completer->complete();
    });
}

void CDlgLogin::PickRecorder(int index) {
    if (index < 0 || index >= static_cast<int>(recentRecorders.size())) return;
    const RecorderLogin& login = recentRecorders[static_cast<size_t>(index)];
    addressBox->setText(login.address);
    portBox->setText(QString::number(login.port));
    userBox->setText(login.user);
    passwordBox->setText(PasswordFor(login));
}

void CDlgLogin::BoxesFromMembers() {
    addressBox->setText(ToQString(address));
    portBox->setText(QString::number(port));
    userBox->setText(ToQString(userName));
    passwordBox->setText(ToQString(password));
}

void CDlgLogin::MembersFromBoxes() {
    address = FromQString(addressBox->text());
    port = portBox->text().toInt();
    userName = FromQString(userBox->text());
    password = FromQString(passwordBox->text());
}

void CDlgLogin::SetWaiting(bool wait) {
    if (wait == waiting) return;
    waiting = wait;
    setEnabled(!wait);
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
        addressBox->setFocus();
    }
}

void CDlgLogin::ShowStop(const QString& text) {
    QMessageBox box(QMessageBox::Critical, ToQString(appTitle), text, QMessageBox::Ok, this);
    box.exec();
}

void CDlgLogin::OnLoginCommand() {
    // An empty port box logs in on the default port; so does a port no device can have (one
    // stored by hand in login.ini). The other boxes keep what the user typed.
    QString portText = portBox->text();
    if (!IsPortText(portText)) {
        portText = QString::fromUtf16(kDefaultPortText);
        portBox->setText(portText);
    }
    MembersFromBoxes();
    SetWaiting(true);

    // Saved before they are checked: an empty address is remembered as empty.
    const std::string path = LoginIniPath();
    IniWriteString(kSection, u"IP0", address, path);
    IniWriteString(kSection, u"Port0", FromQString(portText), path);
    IniWriteString(kSection, u"User0", userName, path);
    // The password goes to the keyring where one runs; only where none does, the file keeps it.
    // A login without address or user name, which goes no further, leaves the keyring alone.
    const RecorderLogin login{ToQString(address), port, ToQString(userName)};
    const bool keyringKeepsIt =
        address.empty() || userName.empty()
            ? KeyringAvailable()
            : WriteKeyringPassword(KeyringAccount(login), ToQString(password));
    IniWriteString(kSection, u"Pwd0", keyringKeepsIt ? std::u16string() : password, path);

    if (address.empty() || userName.empty()) {
        SetWaiting(false);
        ShowStop(Text(address.empty() ? u"IP_ISNULL" : u"U_NULL"));
        return;
    }

    // There is no connection manager to ask for a network connection: that step fails, which
    // gives the dialog back to the user while the login is under way.
    SetWaiting(false);

    const std::string address8 = ToSystemCodePage(address);
    const std::string userName8 = ToSystemCodePage(userName);
    const std::string password8 = ToSystemCodePage(password);
    // A session left over from an earlier attempt is closed before the new login.
    emit LoginStarted();
    client.Logout();
    client.Login(address8, port, userName8, password8, kLoginTimeoutMs);
}

void CDlgLogin::HandleLoginResult(int code) {
    SetWaiting(false);
    if (code != 0) {
        ShowStop(Text(u"LOGIN_ERR"));
        return;
    }
    loggedIn = true;
    RememberRecorder({ToQString(address), port, ToQString(userName)});
    reject();
}

void CDlgLogin::OnExitCommand() {
    exitChosen = 1;
    reject();
}

QString CDlgLogin::Recorder() const {
    return RecorderKey(ToQString(address), port);
}

void CDlgLogin::PlaceOnScreen() {
    if (owner != nullptr) {
        // As large as its content needs, over the middle of the main window.
        const QFontMetrics metrics = labels[1]->fontMetrics();
        const QSize size =
            LoginDialogSize(addressBox->sizeHint().height(),
                            QSize(metrics.horizontalAdvance(Text(u"D_PORT")), metrics.height()),
                            fontMetrics().height());
        setFixedSize(size);
        const QRect over = owner->frameGeometry();
        move(over.center() - QPoint(size.width() / 2, size.height() / 2));
        return;
    }
    QScreen* screen = this->screen();
    if (screen == nullptr) return;
    setGeometry(screen->geometry());
}

void CDlgLogin::showEvent(QShowEvent* event) {
    PlaceOnScreen();
    QDialog::showEvent(event);
    if (autoLogin.address.isEmpty()) return;
    const auto recent = std::find(recentRecorders.begin(), recentRecorders.end(), autoLogin);
    if (recent != recentRecorders.end()) {
        PickRecorder(static_cast<int>(recent - recentRecorders.begin()));
    } else {
        // A recorder of the list never logged in to here: its own password.
        addressBox->setText(autoLogin.address);
        portBox->setText(QString::number(autoLogin.port));
        userBox->setText(autoLogin.user);
        passwordBox->setText(autoPassword);
    }
    autoLogin = {};
    autoPassword.clear();
    QMetaObject::invokeMethod(this, &CDlgLogin::OnLoginCommand, Qt::QueuedConnection);
}

void CDlgLogin::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout(width(), height());
}

void CDlgLogin::Layout(int cx, int cy) {
    const QString portText = Text(u"D_PORT");
    const QFontMetrics metrics = labels[1]->fontMetrics();
    const QSize labelText(metrics.horizontalAdvance(portText), metrics.height());
    const int boxHeight = addressBox->sizeHint().height();
    const LoginLayout layout =
        ComputeLoginLayout(QSize(cx, cy), boxHeight, labelText, fontMetrics().height());
    QLineEdit* boxes[4] = {addressBox, portBox, userBox, passwordBox};
    for (int i = 0; i < 4; ++i) {
        labels[i]->setGeometry(layout.labels[i]);
        boxes[i]->setGeometry(layout.boxes[i]);
    }
    // The note under the password box, down to the soft keys.
    const QRect lastRow = layout.boxes[3];
    passwordNote->setGeometry(QRect(QPoint(layout.labels[3].left(), lastRow.bottom() + 3),
                                    QPoint(lastRow.right(), layout.loginKey.top() - 1)));
    headerHeight = layout.headerHeight;
    headerImage = MakeHeaderImage(*this, cx, headerHeight);
    loginKey->setGeometry(layout.loginKey);
    exitKey->setGeometry(layout.exitKey);
    loginKey->SetImages(kImageSoftKey, kImageSoftKeyPressed);
    exitKey->SetImages(kImageSoftKey, kImageSoftKeyPressed);
}

void CDlgLogin::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintHeaderBand(painter, headerImage, width(), headerHeight);
    // Everything below the band, the strip behind the soft keys included.
    painter.fillRect(QRect(0, headerHeight, width(), height() - headerHeight),
                     owner == nullptr ? QBrush(ColorFromRef(kDarkBackground)) : palette().window());
}

}  // namespace tavix

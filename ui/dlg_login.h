// CDlgLogin: the modal dialog in which the user enters the device's address, port, user name
// and password and starts the login: a header band with the application's title, the four
// labelled boxes, and two soft keys at the bottom (login, exit) captioned in the system's
// language. On a handheld it covers the whole screen; on a desktop it is a normal dialog over
// the main window, sized to its content.
//
// The values are kept in login.ini between runs (see LoginIniPath), the password in the user's
// keyring where one runs (then the file's is empty), else in the file, which the dialog then
// says once in a small note. The recorders logged in to last are offered in a list on the
// address box; picking one fills the boxes. The login itself is
// asynchronous: the dialog queues it with the device client, and the main window hands it the
// result with HandleLoginResult; success closes the dialog, failure shows an error and lets the
// user try again. The exit key closes it with ExitChosen() set.
//
// User-interface thread only.
#pragma once

#include <QDialog>
#include <QPixmap>

#include <string>
#include <vector>

#include "ui/desktop_settings.h"

class QLabel;
class QLineEdit;

namespace tavix {

class CImageButton;
class DeviceClient;

// Where the saved login lives: login.ini in the user's configuration folder
// ($XDG_CONFIG_HOME/tavix, by default ~/.config/tavix), which is created when missing. A login.ini
// that an earlier version left beside the program is moved there while there is none yet. Without a
// home folder, beside the program.
std::string LoginIniPath();

// The saved login (the boxes' last values) and the password login.ini holds, empty where the
// keyring keeps it; false while none was saved.
bool LoadSavedLogin(RecorderLogin& login, QString& filePassword);

// The keyring's name for a recorder login.
QString KeyringAccount(const RecorderLogin& login);

// The port box's rule: digits only, at most 65535.
bool IsPortText(const QString& text);
inline constexpr char16_t kDefaultPortText[] = u"34567";

// The soft-key captions (login, exit) for a UI language id, chosen by its primary language.
struct SoftKeyCaptions {
    const char16_t* login;
    const char16_t* exit;
};
SoftKeyCaptions SoftKeyCaptionsFor(int languageId);

class CDlgLogin : public QDialog {
    Q_OBJECT

  public:
    // Logs in through `client`, which must outlive it. Without `owner` a top-level pop-up over
    // the whole screen; with one (the desktop's main window) a dialog over it.
    explicit CDlgLogin(DeviceClient& client, QWidget* owner = nullptr);
    ~CDlgLogin() override;

    // 1 once the exit key was chosen; read by the main window after the dialog closed.
    int ExitChosen() const { return exitChosen; }
    // Whether a login succeeded, and the recorder it reached ("address:port").
    bool LoggedIn() const { return loggedIn; }
    QString Recorder() const;

    // The result of the queued login: 0 closes the dialog, anything else shows "LOGIN_ERR" and
    // leaves the dialog open for another try.
    void HandleLoginResult(int code);

    // Once shown, logs in to `login` with its saved password (one of the recorders logged in
    // to last), else with `password`, as a pick from the list and the login key would; a
    // failure leaves the dialog to the user.
    void LogInTo(const RecorderLogin& login, const QString& password = {}) {
        autoLogin = login;
        autoPassword = password;
    }

    // The two soft-key commands (also what their keys do).
    void OnLoginCommand();
    void OnExitCommand();

  signals:
    // A login is about to start: the session before it ends.
    void LoginStarted();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void PlaceOnScreen();
    void Layout(int cx, int cy);
    void BoxesFromMembers();
    void MembersFromBoxes();
    void SetWaiting(bool waiting);
    void ShowStop(const QString& text);
    // The password saved for `login`: the file's for its own login, else the keyring's.
    QString PasswordFor(const RecorderLogin& login) const;
    void OfferRecentRecorders();
    void PickRecorder(int index);

    DeviceClient& client;
    QWidget* owner = nullptr;
    int exitChosen = 0;
    bool loggedIn = false;
    QLabel* labels[4] = {};  // ids 1004 to 1007
    QLineEdit* addressBox = nullptr;
    QLineEdit* portBox = nullptr;
    QLineEdit* userBox = nullptr;
    QLineEdit* passwordBox = nullptr;
    std::u16string address;
    int port = 0;
    std::u16string userName;
    std::u16string password;
    RecorderLogin fileLogin;  // the login and password login.ini held at the start
    QString filePassword;
    std::vector<RecorderLogin> recentRecorders;
    QLabel* passwordNote = nullptr;
    QPixmap headerImage;
    int headerHeight = 0;
    CImageButton* loginKey = nullptr;
    CImageButton* exitKey = nullptr;
    bool waiting = false;     // the wait cursor is shown
    RecorderLogin autoLogin;  // LogInTo's, until shown
    QString autoPassword;
};

}  // namespace tavix

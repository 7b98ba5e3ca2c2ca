// The login dialog as a user meets it: real widgets, login.ini in a folder of the test's own.
#include <QAbstractItemView>
#include <QCompleter>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "profile/ini_file.h"
#include "tests/ui/modal_driver.h"
#include "tests/ui/ui_test_support.h"
#include "ui/control_ids.h"
#include "ui/dlg_login.h"
#include "ui/image_button.h"

namespace tavix {
namespace {

QLineEdit* Box(QWidget* dialog, int id) {
    return qobject_cast<QLineEdit*>(FindControl(dialog, id));
}

void Press(QWidget* dialog, int command) {
    QTest::mouseClick(FindControl(dialog, command), Qt::LeftButton);
}

class LoginDialogTest : public ProgramFolderTest {};

TEST_F(LoginDialogTest, FirstStartShowsTheDefaultsAndLoginSavesThemInOrder) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    QStringList shown;
    QStringList labels;
    bool noteShown = false;
    driver.WhenShown<CDlgLogin>("login dialog", [&](CDlgLogin* d) {
        noteShown = FindControl(d, kIdPasswordNote)->isVisible();
        for (int id : {kIdAddressBox, kIdPortBox, kIdUserBox, kIdPasswordBox})
            shown << Box(d, id)->text();
        for (int id : {kIdAddressLabel, kIdPortLabel, kIdUserLabel, kIdPasswordLabel})
            labels << qobject_cast<QLabel*>(FindControl(d, id))->text();
        EXPECT_EQ(QLineEdit::Password, Box(d, kIdPasswordBox)->echoMode());
        Press(d, kCommandLogin);
        d->reject();
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(QStringList({"0.0.0.0", "34567", "admin", "702914"}), shown);
    EXPECT_EQ(QStringList({"Address", "Port number", "User", "Password"}), labels);
    EXPECT_EQ(u"[login]\r\nPwd0=702914\r\nUser0=admin\r\nPort0=34567\r\nIP0=0.0.0.0\r\n",
              LoginIniText());
    // No keyring here: the password is in the file, as the dialog says once.
    EXPECT_TRUE(noteShown);
    CDlgLogin next(client);
    EXPECT_FALSE(FindControl(&next, kIdPasswordNote)->isVisibleTo(&next));
}

TEST_F(LoginDialogTest, TabGoesAddressPortUserPassword) {
    CDlgLogin dialog(client);
    dialog.show();
    QWidget* expected[] = {Box(&dialog, kIdAddressBox), Box(&dialog, kIdPortBox),
                           Box(&dialog, kIdUserBox), Box(&dialog, kIdPasswordBox)};
    QWidget* next = expected[0];
    for (int i = 1; i < 4; ++i) {
        next = next->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        EXPECT_EQ(expected[i], next) << i;
    }
}

TEST_F(LoginDialogTest, MissingValuesAreSavedThenReportedAddressFirst) {
    struct Case {
        const char* address;
        const char* user;
        const char* message;
    } cases[] = {
        {"", "", "Please enter the device address."},
        {"", "admin", "Please enter the device address."},
        {"10.1.2.3", "", "Please enter the user name."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        CDlgLogin dialog(client);
        ModalDriver driver;
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int messages = 0;
        driver
            .WhenShown<CDlgLogin>("login dialog",
                                  [&](CDlgLogin* d) {
                                      Box(d, kIdAddressBox)->setText(c.address);
                                      Box(d, kIdUserBox)->setText(c.user);
                                      Press(d, kCommandLogin);
                                  })
            .WhenShown<QMessageBox>("message",
                                    [&](QMessageBox* box) {
                                        ++messages;
                                        text = box->text();
                                        title = box->windowTitle();
                                        icon = box->icon();
                                        box->accept();
                                    })
            .WhenShown<CDlgLogin>("login dialog again", [&](CDlgLogin* d) {
                // Still open and usable, with what the user typed.
                EXPECT_TRUE(d->isEnabled());
                EXPECT_EQ(c.address, Box(d, kIdAddressBox)->text());
                QTimer::singleShot(50, d, &QDialog::reject);
            });
        dialog.exec();
        ASSERT_TRUE(driver.Done());
        EXPECT_EQ(1, messages);
        EXPECT_EQ(c.message, text);
        EXPECT_EQ("Tavix", title);
        EXPECT_EQ(QMessageBox::Critical, icon);
        EXPECT_EQ(0, dialog.ExitChosen());
        // Saved before the check: the next start shows the empty value, not the default.
        CDlgLogin next(client);
        EXPECT_EQ(c.address, Box(&next, kIdAddressBox)->text());
        EXPECT_EQ(c.user, Box(&next, kIdUserBox)->text());
        QFile::remove(QString::fromStdString(LoginIni()));
    }
}

TEST_F(LoginDialogTest, EmptyPortBoxLogsInOnTheDefaultPortAndKeepsTheOtherEdits) {
    IniWriteString(u"login", u"Port0", u"8000", LoginIni());
    CDlgLogin dialog(client);
    ModalDriver driver;
    QString port, address;
    driver.WhenShown<CDlgLogin>("login dialog", [&](CDlgLogin* d) {
        EXPECT_EQ("8000", Box(d, kIdPortBox)->text());
        Box(d, kIdPortBox)->clear();
        Box(d, kIdAddressBox)->setText("127.0.0.9");
        Press(d, kCommandLogin);
        port = Box(d, kIdPortBox)->text();
        address = Box(d, kIdAddressBox)->text();
        d->reject();
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ("34567", port);
    EXPECT_EQ("127.0.0.9", address);
    EXPECT_EQ(u"34567", IniReadString(u"login", u"Port0", u"", LoginIni()));
    EXPECT_EQ(u"127.0.0.9", IniReadString(u"login", u"IP0", u"", LoginIni()));
}

TEST_F(LoginDialogTest, PortBoxTakesOnlyWhatAPortCanBe) {
    struct Case {
        const char* typed;
        const char* kept;
    } cases[] = {
        {"8080", "8080"},  {"65535", "65535"}, {"654321", "65432"},
        {"70000", "7000"}, {"12ab34", "1234"}, {"-5", "5"},
    };
    CDlgLogin dialog(client);
    dialog.show();
    QLineEdit* box = Box(&dialog, kIdPortBox);
    for (const Case& c : cases) {
        box->clear();
        QTest::keyClicks(box, QString::fromUtf8(c.typed));
        EXPECT_EQ(c.kept, box->text()) << c.typed;
    }
    box->clear();
    box->insert(QString::fromUtf8("٣٤"));  // digits of another script
    EXPECT_EQ("", box->text());
}

TEST_F(LoginDialogTest, AHandEditedPortOutOfRangeLogsInOnTheDefault) {
    IniWriteString(u"login", u"Port0", u"99999999999", LoginIni());
    CDlgLogin dialog(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [&](CDlgLogin* d) {
        Press(d, kCommandLogin);
        EXPECT_EQ("34567", Box(d, kIdPortBox)->text());
        d->reject();
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(u"34567", IniReadString(u"login", u"Port0", u"", LoginIni()));
}

TEST_F(LoginDialogTest, RefusedLoginShowsTheErrorAndStaysOpenSuccessCloses) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    QString text;
    driver.WhenShown<CDlgLogin>("login dialog", [&](CDlgLogin* d) { d->HandleLoginResult(4101); })
        .DismissMessage("login error", &text)
        .WhenShown<CDlgLogin>("still open", [&](CDlgLogin* d) {
            EXPECT_TRUE(d->isVisible());
            EXPECT_EQ("admin", Box(d, kIdUserBox)->text());
            d->HandleLoginResult(0);
        });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ("Login failed. Check the address, port, user name and password.", text);
    EXPECT_EQ(0, dialog.ExitChosen());
}

TEST_F(LoginDialogTest, ExitKeyClosesWithExitChosenAndSavesNothing) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) {
        Box(d, kIdAddressBox)->setText("10.9.9.9");
        Press(d, kCommandExit);
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(1, dialog.ExitChosen());
    EXPECT_EQ(u"", LoginIniText());
}

TEST_F(LoginDialogTest, ReturnLogsInLikeTheLoginKey) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) {
        QTest::keyClick(Box(d, kIdPasswordBox), Qt::Key_Return);
        d->reject();
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(u"0.0.0.0", IniReadString(u"login", u"IP0", u"", LoginIni()));
}

TEST_F(LoginDialogTest, EscapeClosesWithoutExitChosen) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog",
                                [](CDlgLogin* d) { QTest::keyClick(d, Qt::Key_Escape); });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(0, dialog.ExitChosen());
}

TEST_F(LoginDialogTest, CoversTheScreenWithTheBandBoxesAndSoftKeys) {
    CDlgLogin dialog(client);
    ModalDriver driver;
    QImage picture;
    QRect keys[2];
    QString captions[2];
    driver.WhenShown<CDlgLogin>("login dialog", [&](CDlgLogin* d) {
        picture = d->grab().toImage();
        for (int i = 0; i < 2; ++i) {
            auto* key =
                static_cast<CImageButton*>(FindControl(d, i == 0 ? kCommandLogin : kCommandExit));
            keys[i] = key->geometry();
            captions[i] = key->text();
        }
        d->reject();
    });
    dialog.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(QRect(0, 0, kScreenWidth, kScreenHeight), dialog.geometry());
    EXPECT_EQ(QRect(0, 295, 120, 25), keys[0]);
    EXPECT_EQ(QRect(120, 295, 120, 25), keys[1]);
    EXPECT_EQ("Login", captions[0]);
    EXPECT_EQ("Cancel", captions[1]);
    ASSERT_EQ(QSize(kScreenWidth, kScreenHeight), picture.size());
    // The band's light top line over its dark gradient, then the dialog's dark grey.
    const QColor top = picture.pixelColor(200, 0);
    EXPECT_GT(top.red(), 120);
    EXPECT_LT(picture.pixelColor(200, 20).red(), 60);
    EXPECT_EQ(QColor(24, 24, 24), picture.pixelColor(2, 60));
    EXPECT_EQ(QColor(24, 24, 24), picture.pixelColor(2, 290 - 30));
}

TEST(SoftKeyCaptionsTest, ChosenByThePrimaryLanguage) {
    struct Case {
        int languageId;
        std::u16string login, exit;
    } cases[] = {
        {0x0804, u"登录", u"取消"},    {0x0404, u"登录", u"取消"},    {0x041F, u"Giriş", u"Çıkış"},
        {0x0409, u"Login", u"Cancel"}, {0x0411, u"Login", u"Cancel"}, {0, u"Login", u"Cancel"},
    };
    for (const Case& c : cases) {
        const SoftKeyCaptions captions = SoftKeyCaptionsFor(c.languageId);
        EXPECT_EQ(c.login, captions.login) << c.languageId;
        EXPECT_EQ(c.exit, captions.exit) << c.languageId;
    }
}

TEST_F(LoginDialogTest, LoginIniIsInTheUsersConfigFolderWhereAnOldOneBesideTheProgramMoves) {
    // Even a program folder the user can write to keeps none; one left there earlier moves, for
    // its owner alone.
    IniWriteString(u"login", u"Pwd0", u"secret", appDirectory + "login.ini");
    EXPECT_EQ(LoginIni(), LoginIniPath());
    EXPECT_EQ(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser,
              QFile::permissions(QString::fromStdString(LoginIni())));
    EXPECT_EQ(u"secret", IniReadString(u"login", u"Pwd0", u"", LoginIni()));
}

TEST_F(LoginDialogTest, TheLastTenRecordersAreOfferedOnTheAddressBoxAndOneIsPicked) {
    // Eleven logins, to 127.0.0.1 to 127.0.0.11 as users u1 to u11, the last one preselected.
    for (int i = 1; i <= 11; ++i) {
        CDlgLogin login(client);
        Box(&login, kIdAddressBox)->setText(QStringLiteral("127.0.0.%1").arg(i));
        Box(&login, kIdUserBox)->setText(QStringLiteral("u%1").arg(i));
        login.OnLoginCommand();
        login.HandleLoginResult(0);
    }
    CDlgLogin dialog(client);
    dialog.show();
    QLineEdit* address = Box(&dialog, kIdAddressBox);
    EXPECT_EQ("127.0.0.11", address->text());
    // The arrow at the box's end lists them, the most recent first, the oldest forgotten; the
    // fourth picked fills the boxes (its password is in no keyring here, nor in the file).
    QTest::mouseClick(address->findChild<QToolButton*>(), Qt::LeftButton);
    QAbstractItemView* list = address->completer()->popup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }));
    ASSERT_EQ(10, list->model()->rowCount());
    EXPECT_EQ("127.0.0.2:34567  u2", list->model()->index(9, 0).data().toString());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(3, 0)).center());
    EXPECT_EQ(QStringList({"127.0.0.8", "u8", ""}),
              QStringList({address->text(), Box(&dialog, kIdUserBox)->text(),
                           Box(&dialog, kIdPasswordBox)->text()}));
}

}  // namespace
}  // namespace tavix

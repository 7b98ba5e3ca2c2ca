// The main window with real widgets: its layout on the screen, its pages, its messages, and the
// device events as the device client's thread delivers them.
#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "tests/ui/modal_driver.h"
#include "tests/ui/ui_test_support.h"
#include "ui/control_ids.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_login.h"
#include "ui/dlg_main.h"

namespace tavix {
namespace {

class MainWindowTest : public ProgramFolderTest {
  protected:
    // The controls of `window` that are visible, by id (the two EXIT keys as 1128 and -1128).
    static std::set<int> VisibleControls(CDlgMain& window) {
        std::set<int> visible;
        bool firstExit = true;
        for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            int id = ControlId(child);
            if (id == kIdExit) {
                if (!firstExit) id = -kIdExit;
                firstExit = false;
            }
            if (id != 0 && child->isVisible()) visible.insert(id);
        }
        return visible;
    }

    static QRect Place(CDlgMain& window, int id, int which = 0) {
        return FindControls(&window, id).value(which)->geometry();
    }

    static void Tap(CDlgMain& window, int id, int which = 0) {
        QTest::mouseClick(FindControls(&window, id).value(which), Qt::LeftButton);
    }

    static void CheckPortraitThenLandscape(CDlgMain& window) {
        EXPECT_EQ(QRect(0, 0, 240, 320), window.geometry());
        // The presenter told the display's depth (the offscreen screen stores 32 bits a pixel).
        EXPECT_EQ(32, window.DisplayBits());
        const int liveKeys[] = {kIdLogin, kIdCamera, kIdFull, kIdAbout, kIdExit};
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(QRect(48 * i, 295, 48, 25), Place(window, liveKeys[i]));
        EXPECT_EQ(QRect(0, 295, 120, 25), Place(window, kIdBack));
        EXPECT_EQ(QRect(120, 295, 120, 25), Place(window, kIdExit, 1));
        EXPECT_EQ(QRect(0, 25, 240, 17), Place(window, kIdStatusLabel));
        EXPECT_EQ(QRect(0, 42, 240, 221), Place(window, kIdVideoWindow));
        EXPECT_EQ(QRect(0, 25, 240, 270), Place(window, kIdChannelTree));
        // The PTZ band: 19-pixel squares on y 269, each group centred on its quarter.
        const QRect panMode = Place(window, kIdPanMode);
        const QRect lensMode = Place(window, kIdLensMode);
        EXPECT_EQ(QRect(panMode.left() - 19, 269, 19, 19), Place(window, kIdArrowA));
        EXPECT_EQ(QRect(panMode.right() + 1, 269, 19, 19), Place(window, kIdArrowB));
        EXPECT_EQ(QRect(lensMode.left() - 19, 269, 19, 19), Place(window, kIdLensPlus));
        EXPECT_EQ(QRect(lensMode.right() + 1, 269, 19, 19), Place(window, kIdLensMinus));
        EXPECT_EQ(60 - panMode.width() / 2, panMode.left());
        EXPECT_EQ(180 - lensMode.width() / 2, lensMode.left());
        EXPECT_EQ(panMode.size(), lensMode.size());
        EXPECT_EQ(19, panMode.height());

        // The screen turned: the next size change places everything anew.
        window.resize(320, 240);
        EXPECT_EQ(QRect(256, 215, 64, 25), Place(window, kIdExit));
        EXPECT_EQ(QRect(160, 215, 160, 25), Place(window, kIdExit, 1));
        EXPECT_EQ(QRect(0, 42, 320, 141), Place(window, kIdVideoWindow));
        EXPECT_EQ(QRect(0, 25, 320, 190), Place(window, kIdChannelTree));
        EXPECT_EQ(189, Place(window, kIdPanMode).top());
        EXPECT_EQ(80 - panMode.width() / 2, Place(window, kIdPanMode).left());
        EXPECT_EQ(240 - lensMode.width() / 2, Place(window, kIdLensMode).left());
        Tap(window, kIdExit, 1);
    }
};

const std::set<int> kLivePage = {
    kIdArrowA,      kIdArrowB, kIdLensPlus, kIdLensMinus, kIdPanMode, kIdLensMode, kIdStatusLabel,
    kIdVideoWindow, kIdLogin,  kIdCamera,   kIdFull,      kIdAbout,   kIdExit};
const std::set<int> kChannelPage = {kIdChannelTree, kIdBack, -kIdExit};

TEST_F(MainWindowTest, LaysItselfOutOverThePortraitScreenAndAfterTurning) {
    CDlgMain window(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) { CheckPortraitThenLandscape(*w); });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
}

TEST_F(MainWindowTest, CameraAndBackSwitchBetweenExactlyTheirPages) {
    CDlgMain window(client);
    ModalDriver driver;
    std::set<int> afterLogin, afterBack, afterCamera;
    // The platform's cancel leaves the login dialog without exit: on to the channel page.
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) {
            afterLogin = VisibleControls(*w);
            Tap(*w, kIdBack);
            afterBack = VisibleControls(*w);
            EXPECT_TRUE(w->LivePageVisible());
            Tap(*w, kIdCamera);
            afterCamera = VisibleControls(*w);
            EXPECT_FALSE(w->LivePageVisible());
            Tap(*w, kIdExit, 1);  // the channel page's EXIT
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(kChannelPage, afterLogin);
    EXPECT_EQ(kLivePage, afterBack);
    EXPECT_EQ(kChannelPage, afterCamera);
}

TEST_F(MainWindowTest, LivePageExitEndsTheWindow) {
    CDlgMain window(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) {
            Tap(*w, kIdBack);
            Tap(*w, kIdExit, 0);
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
}

TEST_F(MainWindowTest, AboutBoxText) {
    CDlgMain window(client);
    ModalDriver driver;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("main window",
                             [&](CDlgMain* w) {
                                 Tap(*w, kIdBack);
                                 Tap(*w, kIdAbout);
                             })
        .DismissMessage("about box", &text, &title, &icon)
        .WhenShown<CDlgMain>("main window again", [](CDlgMain* w) { Tap(*w, kIdExit); });
    window.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(QString("Tavix\nVersion : 1.00.4\nBuild : 2011-08-25\n"), text);
    EXPECT_EQ("About", title);
    EXPECT_EQ(QMessageBox::Information, icon);
}

// A channel list as the device client hands it over.
ChannelNameList MakeList(std::initializer_list<const char*> names) {
    ChannelNameList list{};
    for (const char* name : names) {
        ChannelNameEntry& entry = list.entries[list.count];
        entry.number = list.count + 1;
        std::strncpy(entry.name, name, kChannelNameBytes - 1);
        ++list.count;
    }
    return list;
}

TEST_F(MainWindowTest, DeviceEventsFromTheClientThread) {
    CDlgMain window(client);
    ModalDriver driver;
    std::thread client;
    auto fromClient = [&](std::function<void()> call) {
        if (client.joinable()) client.join();
        client = std::thread(std::move(call));
    };
    QString refused, lost;
    QStringList tree;
    QList<int> data;
    bool expanded = false;
    driver
        .WhenShown<CDlgLogin>(
            "login dialog", [&](CDlgLogin*) { fromClient([&] { window.OnLoginResult(4101, 0); }); })
        .DismissMessage("refused", &refused)
        .WhenShown<CDlgLogin>("login dialog, still open",
                              [&](CDlgLogin*) {
                                  EXPECT_EQ(window.OpenLoginDialog(),
                                            QApplication::activeModalWidget());
                                  fromClient([&] { window.OnLoginResult(0, 3); });
                              })
        .WhenShown<CDlgMain>(
            "channel page",
            [&](CDlgMain* w) {
                EXPECT_EQ(nullptr, w->OpenLoginDialog());
                // The list lives only during the call.
                std::atomic<bool> delivered{false};
                fromClient([&] {
                    ChannelNameList list = MakeList({"Front door", "Garage", "大门"});
                    window.OnChannelList(0, &list);
                    std::memset(&list, 0xEE, sizeof list);
                    delivered = true;
                });
                // The client thread waits for this thread to fill the tree.
                ASSERT_TRUE(QTest::qWaitFor([&] { return delivered.load(); }));
                auto* t = qobject_cast<QTreeWidget*>(FindControl(w, kIdChannelTree));
                ASSERT_EQ(1, t->topLevelItemCount());
                QTreeWidgetItem* root = t->topLevelItem(0);
                tree << root->text(0);
                expanded = root->isExpanded();
                for (int i = 0; i < root->childCount(); ++i) {
                    tree << root->child(i)->text(0);
                    data << root->child(i)->data(0, Qt::UserRole).toInt();
                }
                fromClient([&] { window.OnDisconnected(0, -1); });
            })
        .DismissMessage("connection lost", &lost)
        .WhenShown<CDlgLogin>("login dialog after the loss", [&](CDlgLogin* login) {
            // The tree was emptied for the new login.
            auto* t = qobject_cast<QTreeWidget*>(FindControl(&window, kIdChannelTree));
            EXPECT_EQ(0, t->topLevelItemCount());
            login->OnExitCommand();
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    if (client.joinable()) client.join();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ("Login failed. Check the address, port, user name and password.", refused);
    EXPECT_EQ(QStringList({"Device", "Front door", "Garage", "大门"}), tree);
    EXPECT_EQ(QList<int>({0, 1, 2}), data);
    EXPECT_TRUE(expanded);
    EXPECT_EQ("The connection to the device was lost.", lost);
}

TEST_F(MainWindowTest, ConnectionLostWhileTheLoginDialogIsUpKeepsThatDialog) {
    CDlgMain window(client);
    ModalDriver driver;
    CDlgLogin* first = nullptr;
    QString lost;
    driver
        .WhenShown<CDlgLogin>("login dialog",
                              [&](CDlgLogin* login) {
                                  first = login;
                                  std::thread([&] { window.OnDisconnected(0, -1); }).join();
                              })
        .DismissMessage("connection lost", &lost)
        .WhenShown<CDlgLogin>("the same login dialog", [&](CDlgLogin* login) {
            // Not a second dialog on top of the first.
            EXPECT_EQ(first, login);
            EXPECT_EQ(first, window.OpenLoginDialog());
            login->OnExitCommand();
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ("The connection to the device was lost.", lost);
}

TEST_F(MainWindowTest, FailedChannelListLeavesTheDeviceAlone) {
    CDlgMain window(client);
    ModalDriver driver;
    int topLevel = -1, children = -1;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("channel page", [&](CDlgMain* w) {
            std::atomic<bool> delivered{false};
            std::thread client([&] {
                window.OnChannelList(3, nullptr);
                delivered = true;
            });
            EXPECT_TRUE(QTest::qWaitFor([&] { return delivered.load(); }));
            client.join();
            auto* t = qobject_cast<QTreeWidget*>(FindControl(w, kIdChannelTree));
            topLevel = t->topLevelItemCount();
            children = topLevel > 0 ? t->topLevelItem(0)->childCount() : -1;
            Tap(*w, kIdExit, 1);
        });
    window.exec();
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(1, topLevel);
    EXPECT_EQ(0, children);
}

TEST_F(MainWindowTest, NoEventReachesAWindowThatIsGone) {
    DeviceEventRelay& relay = DeviceEventRelay::Instance();
    auto window = std::make_unique<CDlgMain>(client);
    relay.Attach(window.get());
    // The client thread hands over a list and waits for the window's thread, which closes
    // the window instead of taking it.
    std::atomic<bool> returned{false};
    std::thread client([&] {
        ChannelNameList list = MakeList({"Yard"});
        relay.OnChannelList(0, &list);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    window.reset();
    client.join();
    EXPECT_TRUE(returned.load());
    // Later events are dropped.
    std::thread([&] {
        relay.OnLoginResult(0, 1);
        relay.OnDisconnected(0, -1);
        ChannelNameList list = MakeList({"Yard"});
        relay.OnChannelList(0, &list);
    }).join();
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace tavix

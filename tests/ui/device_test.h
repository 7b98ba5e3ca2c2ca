// What the ui tests against a running tavix-sim share: login.ini pointing at the simulator, the
// device client's events reaching the window as in the program, and the main window's controls
// by id.
#pragma once

#include <QLabel>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <string>

#include "profile/ini_file.h"
#include "tests/tools/sim_process.h"
#include "tests/ui/modal_driver.h"
#include "tests/ui/ui_test_support.h"
#include "ui/control_ids.h"
#include "ui/device_event_relay.h"
#include "ui/dlg_login.h"
#include "ui/dlg_main.h"

namespace tavix {

class DeviceTest : public ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        client.SetEventSink(&DeviceEventRelay::Instance());
    }

    // The saved login: the simulator's address and port, user admin and `password`.
    void SaveLogin(uint16_t port, const std::u16string& password = u"702914") {
        const std::string path = LoginIni();
        IniWriteString(u"login", u"IP0", u"127.0.0.1", path);
        const std::string portText = std::to_string(port);
        IniWriteString(u"login", u"Port0", std::u16string(portText.begin(), portText.end()), path);
        IniWriteString(u"login", u"User0", u"admin", path);
        IniWriteString(u"login", u"Pwd0", password, path);
    }

    static void Press(QWidget* dialog, int id, int which = 0) {
        QTest::mouseClick(FindControls(dialog, id).value(which), Qt::LeftButton);
    }

    static QTreeWidget* Tree(CDlgMain& window) {
        return qobject_cast<QTreeWidget*>(FindControl(&window, kIdChannelTree));
    }

    // The tree's texts, root first, then its children in order.
    static QStringList TreeTexts(CDlgMain& window) {
        QStringList texts;
        QTreeWidget* tree = Tree(window);
        if (tree->topLevelItemCount() == 0) return texts;
        QTreeWidgetItem* root = tree->topLevelItem(0);
        texts << root->text(0);
        for (int i = 0; i < root->childCount(); ++i)
            texts << root->child(i)->text(0);
        return texts;
    }

    // Logs in from the saved login, then runs `onChannelPage` once the device's channels are in
    // the tree; returns when the window ended.
    void RunLoggedIn(CDlgMain& window, std::function<void(CDlgMain*)> onChannelPage) {
        ModalDriver driver;
        driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { Press(d, kCommandLogin); })
            .WhenShown<CDlgMain>("channel page", [&](CDlgMain* w) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return TreeTexts(*w).size() > 2; }));
                onChannelPage(w);
            });
        window.exec();
        EXPECT_TRUE(driver.Done());
    }

    static QTreeWidgetItem* Channel(CDlgMain& window, int index) {
        return Tree(window)->topLevelItem(0)->child(index);
    }

    static void TapTree(CDlgMain& window, QTreeWidgetItem* item) {
        QTreeWidget* tree = Tree(window);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(item).center());
    }

    static bool IsPlayingIcon(CDlgMain& window, QTreeWidgetItem* item) {
        return item->icon(0).cacheKey() == window.TreeImage(1).cacheKey();
    }

    static QString StatusText(CDlgMain& window) {
        return qobject_cast<QLabel*>(FindControl(&window, kIdStatusLabel))->text();
    }

    // Whether the simulator saw the connection that logged in closed.
    static bool ControlConnectionClosed(SimProcess& sim) {
        auto login = sim.WaitFor([](const SimLine& line) { return line.IsRequest("login"); });
        return login && sim.WaitFor([&](const SimLine& line) {
            return line.Is("event", "closed") &&
                   line.Number("connection") == login->Number("connection");
        });
    }
};

}  // namespace tavix

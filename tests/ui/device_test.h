// What the ui tests against a running tavix-sim share: login.ini pointing at the simulator, the
// device client's events reaching the window as in the program, and the main window's controls
// by id.
#pragma once

#include <QTest>
#include <QTreeWidget>

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

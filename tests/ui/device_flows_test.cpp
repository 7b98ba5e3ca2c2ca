// The login, exit and disconnect flows of the two dialogs against tavix-sim on an ephemeral
// port, with the program's own device client and event relay.
#include <gtest/gtest.h>

#include "tests/client/session_rig.h"
#include "tests/ui/device_test.h"

namespace tavix {
namespace {

class DeviceFlowTest : public DeviceTest {};

TEST_F(DeviceFlowTest, GoodLoginClosesTheDialogAndFillsTheTreeFromTheDevice) {
    SimProcess sim({"--channels", "3", "--name", "1=Çatı"});
    ASSERT_NE(0, sim.Port());
    SaveLogin(sim.Port());
    CDlgMain window(client);
    ModalDriver driver;
    QStringList tree;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { Press(d, kCommandLogin); })
        .WhenShown<CDlgMain>("channel page", [&](CDlgMain* w) {
            EXPECT_EQ(nullptr, w->OpenLoginDialog());
            EXPECT_TRUE(QTest::qWaitFor([&] { return TreeTexts(*w).size() == 4; }));
            tree = TreeTexts(*w);
            Press(w, kIdExit, 1);
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ(QStringList({"Device", "Front door", "Çatı", "Otopark"}), tree);
    EXPECT_EQ(1u, sim.WaitForRequests("login", 1).size());
    EXPECT_EQ(1u, sim.WaitForRequests("channel-names", 1).size());
}

TEST_F(DeviceFlowTest, RefusedLoginShowsLoginErrAndKeepsTheDialog) {
    struct Case {
        std::vector<std::string> sim;
        std::u16string password;
    } cases[] = {
        {{"--refuse", "2"}, u"702914"},
        {{}, u"wrong"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.password.begin(), c.password.end()));
        SimProcess sim(c.sim);
        ASSERT_NE(0, sim.Port());
        SaveLogin(sim.Port(), c.password);
        CDlgMain window(client);
        ModalDriver driver;
        QString text;
        driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { Press(d, kCommandLogin); })
            .DismissMessage("login error", &text)
            .WhenShown<CDlgLogin>("the same login dialog", [&](CDlgLogin* d) {
                EXPECT_EQ(window.OpenLoginDialog(), d);
                EXPECT_TRUE(d->isEnabled());
                Press(d, kCommandExit);
            });
        EXPECT_EQ(QDialog::Rejected, window.exec());
        ASSERT_TRUE(driver.Done());
        EXPECT_EQ("Login failed. Check the address, port, user name and password.", text);
        EXPECT_TRUE(sim.Requests("channel-names").empty());
    }
}

TEST_F(DeviceFlowTest, DeviceDroppingTheConnectionShowsDDisThenTheLoginAgain) {
    SimProcess sim({"--close-after", "0.2"});
    ASSERT_NE(0, sim.Port());
    SaveLogin(sim.Port());
    // Heartbeats every 10 s of a clock that runs 20 times fast: the lost connection shows
    // within a second.
    TestClock clock(20);
    DeviceClient fast(clock.Function());
    fast.SetEventSink(&DeviceEventRelay::Instance());
    CDlgMain window(fast);
    ModalDriver driver;
    QString lost;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { Press(d, kCommandLogin); })
        .DismissMessage("connection lost", &lost)
        .WhenShown<CDlgLogin>("login dialog again", [](CDlgLogin* d) { Press(d, kCommandExit); });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    ASSERT_TRUE(driver.Done());
    EXPECT_EQ("The connection to the device was lost.", lost);
}

}  // namespace
}  // namespace tavix

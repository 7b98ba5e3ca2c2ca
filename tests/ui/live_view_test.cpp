// The live view, the channel tree, the PTZ band and the enlarged video: the placement arithmetic
// and the quarter turn on their own, then the main window playing tavix-sim's live channels.
#include <QLabel>
#include <QMessageBox>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/ui/device_test.h"
#include "tests/ui/pattern_check.h"
#include "ui/image_button.h"
#include "ui/picture_fit.h"

namespace tavix {
namespace {

TEST(PictureFitTest, FitsLetterboxesAndTurnsOnlyWhereThatFillsATallScreen) {
    struct Case {
        QSize area;
        QSize picture;
        bool enlarged;
        bool turned;
        QRect destination;
    } cases[] = {
        {{240, 210}, {352, 288}, false, false, {0, 7, 240, 196}},
        {{240, 320}, {352, 288}, true, true, {0, 13, 240, 293}},
        {{320, 240}, {352, 288}, true, false, {13, 0, 293, 240}},
        {{240, 320}, {352, 288}, false, false, {0, 62, 240, 196}},
        {{1280, 720}, {352, 288}, true, false, {200, 0, 880, 720}},
        {{240, 320}, {1920, 1080}, true, true, {30, 0, 180, 320}},
        // Wide screens keep a wider picture straight, even where it is the wider of the two.
        {{1920, 1200}, {1920, 1080}, true, false, {0, 60, 1920, 1080}},
        {{1024, 768}, {1920, 1080}, true, false, {0, 96, 1024, 576}},
    };
    for (const Case& c : cases) {
        const PictureFit fit = FitPicture(c.area, c.picture, c.enlarged);
        EXPECT_EQ(c.turned, fit.turned) << c.area.width() << "x" << c.area.height();
        EXPECT_EQ(c.turned ? c.picture.transposed() : c.picture, fit.displayed);
        EXPECT_EQ(c.destination, fit.destination) << c.area.width() << "x" << c.area.height();
    }
}

class LiveViewTest : public DeviceTest {
  protected:
    static QRect VideoPlace(CDlgMain& window) {
        return FindControl(&window, kIdVideoWindow)->geometry();
    }

    // Waits until the video window shows the pattern, straight or turned.
    static bool WaitForPattern(CDlgMain& window, bool turned) {
        return QTest::qWaitFor(
            [&] {
                const QImage screen = window.grab().toImage();
                return ShowsPattern(screen, VideoPlace(window), turned);
            },
            10000);
    }
};

TEST_F(LiveViewTest, PlaysUprightStraightAndTurnedAtEveryDepth) {
    for (int bits : {16, 24, 32}) {
        SCOPED_TRACE(bits);
        SimProcess sim;
        ASSERT_NE(0, sim.Port());
        SaveLogin(sim.Port());
        CDlgMain window(client);
        window.UseDisplayBits(bits);
        QStringList statuses;
        QObject::connect(&window, &CDlgMain::StatusShown, [&](const QString& text) {
            if (statuses.isEmpty() || statuses.back() != text) statuses << text;
        });
        QRect normal, enlarged, back;
        bool straight = false, turned = false, straightAgain = false, newDepth = false;
        int bitsShown = 0;
        RunLoggedIn(window, [&](CDlgMain* w) {
            normal = VideoPlace(*w);
            TapTree(*w, Channel(*w, 0));
            EXPECT_TRUE(w->LivePageVisible());
            straight = WaitForPattern(*w, false);
            // The window hears of the first picture through its loop, which the waits above may
            // not have run.
            EXPECT_TRUE(QTest::qWaitFor([&] { return StatusText(*w) == "Playing"; }));
            // Enlarged on the portrait screen: the picture turns to fill it.
            Press(w, kIdFull);
            enlarged = VideoPlace(*w);
            turned = WaitForPattern(*w, true);
            QTest::mouseClick(FindControl(w, kIdVideoWindow), Qt::LeftButton);
            back = VideoPlace(*w);
            straightAgain = WaitForPattern(*w, false);
            bitsShown = w->DisplayBits();
            // Another depth while it plays: the decoder converts to it from then on.
            const int other = bits == 16 ? 32 : 16;
            w->UseDisplayBits(other);
            newDepth = QTest::qWaitFor([&] { return w->DisplayBits() == other; }) &&
                       WaitForPattern(*w, false);
            Press(w, kIdExit);
        });
        EXPECT_EQ(bits, bitsShown);
        EXPECT_TRUE(newDepth);
        EXPECT_TRUE(straight);
        EXPECT_TRUE(turned);
        EXPECT_TRUE(straightAgain);
        EXPECT_EQ(QRect(0, 0, kScreenWidth, kScreenHeight), enlarged);
        EXPECT_EQ(normal, back);
        EXPECT_EQ(QStringList({"Opening video...", "Buffering...", "Playing", "Stopped"}),
                  statuses);
        EXPECT_EQ("Stopped", StatusText(window));
        // Stopped before the logout closed the control connection.
        const auto streams = sim.WaitForRequests("stream", 2);
        ASSERT_EQ(2u, streams.size());
        EXPECT_EQ("0/0", streams[1].Get("channel") + "/" + streams[1].Get("operate"));
        EXPECT_TRUE(ControlConnectionClosed(sim));
    }
}

TEST_F(LiveViewTest, TheTreeOpensTheTappedChannelAndMarksIt) {
    SimProcess sim;
    ASSERT_NE(0, sim.Port());
    SaveLogin(sim.Port());
    CDlgMain window(client);
    RunLoggedIn(window, [&](CDlgMain* w) {
        // The device itself opens nothing.
        TapTree(*w, Tree(*w)->topLevelItem(0));
        EXPECT_FALSE(w->LivePageVisible());
        EXPECT_TRUE(StatusText(*w).isEmpty());

        TapTree(*w, Channel(*w, 0));
        EXPECT_TRUE(IsPlayingIcon(*w, Channel(*w, 0)));
        EXPECT_EQ("Opening video...", StatusText(*w));
        Press(w, kIdCamera);
        TapTree(*w, Channel(*w, 2));
        EXPECT_FALSE(IsPlayingIcon(*w, Channel(*w, 0)));
        EXPECT_TRUE(IsPlayingIcon(*w, Channel(*w, 2)));
        EXPECT_EQ(Tree(*w)->topLevelItem(0)->icon(0).cacheKey(), w->TreeImage(0).cacheKey());
        // The playing channel again only brings its live page back.
        Press(w, kIdCamera);
        TapTree(*w, Channel(*w, 2));
        EXPECT_TRUE(w->LivePageVisible());
        // The handheld's cancel key ends the program as EXIT does.
        QTest::keyClick(w, Qt::Key_Escape);
    });
    // Channel 0 opened, closed before channel 2 opened (a second time when its stream had not
    // started when the window closed it), channel 2 closed at the exit.
    ASSERT_TRUE(sim.WaitFor([](const SimLine& line) {
        return line.IsRequest("stream") && line.Is("channel", "2") && line.Is("operate", "0");
    }));
    QStringList seen;
    for (const SimLine& line : sim.Requests("stream")) {
        const QString request =
            QString::fromStdString(line.Get("channel") + "/" + line.Get("operate"));
        if (seen.isEmpty() || seen.back() != request) seen << request;
    }
    EXPECT_EQ(QStringList({"0/1", "0/0", "2/1", "2/0"}), seen);
}

TEST_F(LiveViewTest, ALostDeviceLeavesTheVideoBlackInEveryView) {
    SimProcess sim({"--close-after", "4"});
    SaveLogin(sim.Port());
    CDlgMain window(client);
    ModalDriver driver;
    bool turned = false;
    QImage atLoss;
    QRect normal;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { Press(d, kCommandLogin); })
        .WhenShown<CDlgMain>(
            "channel page",
            [&](CDlgMain* w) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return TreeTexts(*w).size() > 2; }));
                normal = VideoPlace(*w);
                TapTree(*w, Channel(*w, 0));
                Press(w, kIdFull);
                turned = WaitForPattern(*w, true);
            })
        .When(
            "connection lost", [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
            [&](QWidget* box) {
                atLoss = window.grab().toImage();
                qobject_cast<QMessageBox*>(box)->accept();
            },
            10000)
        .WhenShown<CDlgLogin>("login dialog again", [](CDlgLogin* d) { Press(d, kCommandExit); });
    window.exec();
    EXPECT_TRUE(driver.Done());
    ASSERT_TRUE(turned);
    EXPECT_FALSE(ShowsPattern(atLoss, atLoss.rect(), true));
    EXPECT_FALSE(ShowsPattern(atLoss, normal, false));
}

TEST_F(LiveViewTest, PtzKeysAndArrowKeysReachTheDeviceWithTheirCodes) {
    SimProcess sim;
    ASSERT_NE(0, sim.Port());
    SaveLogin(sim.Port());
    CDlgMain window(client);
    QStringList lensLabels, panLabels;
    RunLoggedIn(window, [&](CDlgMain* w) {
        Press(w, kIdBack);
        // No channel: FULL changes nothing; the mode keys still cycle their labels.
        const QRect normal = VideoPlace(*w);
        Press(w, kIdFull);
        EXPECT_EQ(normal, VideoPlace(*w));
        auto label = [&](int id) { return FindControl(w, id)->property("text").toString(); };
        for (int i = 0; i < 3; ++i) {
            Press(w, kIdLensMode);
            lensLabels << label(kIdLensMode);
        }
        for (int i = 0; i < 2; ++i) {
            Press(w, kIdPanMode);
            panLabels << label(kIdPanMode);
        }

        Press(w, kIdCamera);
        TapTree(*w, Channel(*w, 1));
        // The camera takes commands once its media connection is up.
        ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(*w) != "Opening video..."; }));
        // Pan mode up/down, then left/right; lens mode zoom, iris, focus.
        for (int id : {kIdArrowA, kIdArrowB, kIdPanMode, kIdArrowA, kIdArrowB, kIdPanMode,
                       kIdLensPlus, kIdLensMinus, kIdLensMode, kIdLensPlus, kIdLensMinus,
                       kIdLensMode, kIdLensPlus, kIdLensMinus, kIdLensMode})
            Press(w, id);
        QWindow* display = w->windowHandle();
        const Qt::Key arrows[] = {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down};
        for (Qt::Key key : arrows)
            QTest::keyClick(display, key);
        QTest::keyClick(display, Qt::Key_Space);  // not an arrow: nothing
        // Enlarged on the portrait screen, the keys follow the turned view.
        Press(w, kIdFull);
        for (Qt::Key key : arrows)
            QTest::keyClick(display, key);
        // A landscape window does not turn.
        w->resize(320, 240);
        QTest::keyClick(display, Qt::Key_Up);
        // Logged out behind the window's back, the next open fails at once, and its error
        // stays: nothing streams, so nothing buffers.
        client.Logout();
        Press(w, kIdCamera);
        TapTree(*w, Channel(*w, 0));
        ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText(*w) == "Cannot open video"; }));
        QTest::qWait(500);  // fifteen ticks
        EXPECT_EQ("Cannot open video", StatusText(*w));
        Press(w, kIdExit);
    });
    EXPECT_EQ(QStringList({"Iris", "Focus", "Zoom"}), lensLabels);
    EXPECT_EQ(QStringList({"Left/Right", "Up/Down"}), panLabels);
    const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 9, 10, 7, 8,  // the PTZ band
                                       2, 0, 3, 1,                     // arrows, straight
                                       0, 3, 1, 2,                     // arrows, turned
                                       0};
    const auto ptz = sim.WaitForRequests("ptz", expected.size());
    std::vector<int> codes;
    for (const SimLine& line : ptz) {
        codes.push_back(static_cast<int>(line.Number("code")));
        EXPECT_EQ(1, line.Number("channel"));
    }
    EXPECT_EQ(expected, codes);
}

}  // namespace
}  // namespace tavix

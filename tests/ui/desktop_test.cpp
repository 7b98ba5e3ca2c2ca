// The viewer on a desktop's screen (1280 x 720): a normal window that goes full screen and back
// and remembers its place, and a wall of four tiles against tavix-sim.
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "tests/ui/device_test.h"
#include "tests/ui/pattern_check.h"
#include "ui/dlg_recorders.h"
#include "ui/saved_views.h"
#include "ui/video_wall.h"

namespace tavix {
namespace {

class DesktopTest : public DeviceTest {
  protected:
    // A simulator's arguments for `count` live channels of 352 x 288, then `more`.
    static std::vector<std::string> CifChannels(int count, std::vector<std::string> more = {}) {
        more.insert(more.end(), {"--channels", std::to_string(count)});
        for (int channel = 0; channel < count; ++channel)
            more.insert(more.end(), {"--size", std::to_string(channel) + "=352x288"});
        return more;
    }

    // Where tile `index` lies in the window.
    static QRect TilePlace(CDlgMain& window, int index) {
        const QWidget* tile = window.Wall().Tile(index);
        return QRect(tile->mapTo(&window, QPoint(0, 0)), tile->size());
    }

    static bool WaitForPatternIn(CDlgMain& window, int index) {
        return QTest::qWaitFor(
            [&] { return ShowsPattern(window.grab().toImage(), TilePlace(window, index), false); },
            10000);
    }

    static void ClickTile(CDlgMain& window, int index, bool twice = false) {
        VideoWall& wall = window.Wall();
        const QPoint at = wall.Tile(index)->geometry().center();
        if (twice)
            QTest::mouseDClick(&wall, Qt::LeftButton, {}, at);
        else
            QTest::mouseClick(&wall, Qt::LeftButton, {}, at);
    }
};

TEST_F(DesktopTest, ANormalWindowGoesFullScreenAndBackAndKeepsItsPlace) {
    QRect loginPlace, mainPlace;
    {
        CDlgMain window(client);
        ModalDriver driver;
        driver
            .WhenShown<CDlgLogin>("login dialog",
                                  [&](CDlgLogin* login) {
                                      EXPECT_FALSE(login->windowFlags() & Qt::FramelessWindowHint);
                                      loginPlace = login->geometry();
                                      login->reject();
                                  })
            .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) {
                EXPECT_TRUE(w->Desktop());
                EXPECT_FALSE(w->windowFlags() &
                             (Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));
                EXPECT_NE(w->minimumSize(), w->maximumSize());
                mainPlace = w->geometry();
                // Keys reach the window's shortcuts once it is the active one.
                w->activateWindow();
                EXPECT_TRUE(QTest::qWaitForWindowActive(w));
                // FULL or F11 make it full screen, the video over the whole window; F11 or Esc
                // return.
                for (int key : {int(Qt::Key_F11), int(Qt::Key_Escape)}) {
                    if (key == Qt::Key_F11)
                        QTest::keyClick(w, Qt::Key_F11);
                    else
                        Press(w, kIdFull);
                    EXPECT_TRUE(QTest::qWaitFor([&] { return w->Wall().geometry() == w->rect(); }));
                    EXPECT_TRUE(w->isFullScreen());
                    QTest::keyClick(w, static_cast<Qt::Key>(key));
                    EXPECT_TRUE(QTest::qWaitFor([&] { return !w->isFullScreen(); })) << key;
                }
                w->setGeometry(100, 80, 900, 600);
                Press(w, kIdExit);
            });
        window.exec();
        EXPECT_TRUE(driver.Done());
    }
    // Two thirds of the screen in its middle; the login dialog a small one over it.
    EXPECT_EQ(QSize(853, 480), mainPlace.size());
    EXPECT_TRUE(mainPlace.contains(loginPlace.center()));
    EXPECT_LT(loginPlace.width(), mainPlace.width() / 2);

    // The next start opens where the window was left.
    CDlgMain again(client);
    ModalDriver driver;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* login) { login->reject(); })
        .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) {
            mainPlace = w->geometry();
            Press(w, kIdExit);
        });
    again.exec();
    EXPECT_EQ(QRect(100, 80, 900, 600), mainPlace);
}

TEST_F(DesktopTest, AWallOfFourPlaysIsSteeredTileByTileAndComesBackAtTheNextLogin) {
    // Five channels, so that a fifth can replace one of the four.
    SimProcess sim(CifChannels(5));
    SaveLogin(sim.Port());
    CDlgMain window(client);
    std::vector<int> afterLogin;
    RunLoggedIn(window, [&](CDlgMain* w) {
        VideoWall& wall = w->Wall();
        // 2x2, then a tap on each of four channels fills the tiles in turn.
        Press(w, kIdLayout4);
        ASSERT_EQ(4, wall.TileCount());
        for (int channel = 0; channel < 4; ++channel)
            TapTree(*w, Channel(*w, channel));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(i, wall.Tile(i)->Channel());
            EXPECT_TRUE(WaitForPatternIn(*w, i)) << "tile " << i;
            EXPECT_TRUE(IsPlayingIcon(*w, Channel(*w, i)));
        }
        EXPECT_FALSE(IsPlayingIcon(*w, Channel(*w, 4)));

        // A click selects a tile: the PTZ band steers its channel.
        ClickTile(*w, 2);
        EXPECT_EQ(2, wall.SelectedIndex());
        Press(w, kIdArrowA);
        // A double click shows a tile alone, another brings the grid back.
        ClickTile(*w, 1, true);
        EXPECT_EQ(1, wall.AloneIndex());
        EXPECT_EQ(wall.rect(), wall.Tile(1)->geometry());
        ClickTile(*w, 1, true);
        EXPECT_EQ(-1, wall.AloneIndex());
        // The login dialog, cancelled, leaves the tree and the tiles as they were.
        ModalDriver cancel;
        cancel.WhenShown<CDlgLogin>("login dialog, cancelled", [](CDlgLogin* d) { d->reject(); });
        Press(w, kIdLogin);
        EXPECT_TRUE(cancel.Done());
        EXPECT_EQ(6, TreeTexts(*w).size());
        EXPECT_EQ(3, wall.Tile(3)->Channel());
        // The tree plays into the selected tile, replacing its channel; a snapshot asked for
        // before a stop, and the figures of the channel before, are not the new channel's.
        LiveTile* first = wall.Tile(0);
        first->SetStatisticsShown(true);
        first->UpdateStatistics(1000);
        first->Play(1, QStringLiteral("Camera 2"));
        first->TakeSnapshot();
        first->Stop();
        QSignalSpy snapshots(first, &LiveTile::SnapshotTaken);
        ClickTile(*w, 0);
        TapTree(*w, Channel(*w, 4));
        first->UpdateStatistics(1000);
        EXPECT_EQ(4, wall.Tile(0)->Channel());
        EXPECT_FALSE(IsPlayingIcon(*w, Channel(*w, 0)));
        EXPECT_TRUE(WaitForPatternIn(*w, 0));
        EXPECT_EQ(0, snapshots.count());
        for (QLabel* label : first->findChildren<QLabel*>())
            EXPECT_FALSE(label->text().contains(QRegularExpression("-\\d+ kbit/s")))
                << label->text().toStdString();

        // Logged in again: the wall comes back as it was.
        ModalDriver relogin;
        relogin.WhenShown<CDlgLogin>("login dialog again",
                                     [](CDlgLogin* d) { Press(d, kCommandLogin); });
        Press(w, kIdLogin);
        EXPECT_TRUE(relogin.Done());
        ASSERT_TRUE(QTest::qWaitFor([&] { return wall.Tile(3)->Channel() != -1; }));
        for (int i = 0; i < wall.TileCount(); ++i)
            afterLogin.push_back(wall.Tile(i)->Channel());
        EXPECT_TRUE(WaitForPatternIn(*w, 0));
        Press(w, kIdExit);
    });
    EXPECT_EQ((std::vector<int>{4, 1, 2, 3}), afterLogin);
    const auto ptz = sim.WaitForRequests("ptz", 1);
    ASSERT_EQ(1u, ptz.size());
    EXPECT_EQ(2, ptz[0].Number("channel"));
    EXPECT_EQ(0, ptz[0].Number("code"));
}

TEST_F(DesktopTest, AWallComesBackByItselfAfterTheRecorderRestarted) {
    // The recorder goes away 2 s after the login and listens again a second later.
    SimProcess sim(CifChannels(4, {"--restart-after", "2", "--down-for", "1"}));
    SaveLogin(sim.Port());
    client.SetReconnect(true);
    CDlgMain window(client);
    std::vector<int> afterRecovery;
    RunLoggedIn(window, [&](CDlgMain* w) {
        VideoWall& wall = w->Wall();
        Press(w, kIdLayout4);
        for (int channel = 0; channel < 4; ++channel)
            TapTree(*w, Channel(*w, channel));
        // A fifth tile's channel the recorder does not have: its open fails.
        Press(w, kIdLayout9);
        wall.Tile(4)->Play(7, QStringLiteral("none"));
        auto all = [&](const QString& status) {
            for (int i = 0; i < 4; ++i)
                if (wall.Tile(i)->StatusText() != status) return false;
            return true;
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return all("Playing"); }, 10000));
        // Its result may still be on the way when the others play already.
        const QString failed = QStringLiteral("Cannot open video");
        ASSERT_TRUE(QTest::qWaitFor([&] { return wall.Tile(4)->StatusText() == failed; }));
        QStringList statuses;
        for (int i = 0; i < 4; ++i)
            QObject::connect(wall.Tile(i), &LiveTile::StatusChanged,
                             [&](LiveTile*, const QString& text) { statuses << text; });
        // Every tile says so while the recorder is away, and the status line that the
        // connection was lost; then every tile plays again, untouched, without a word of
        // buffering meanwhile, and the failed one fails again.
        ASSERT_TRUE(QTest::qWaitFor([&] { return all("Reconnecting..."); }, 10000));
        EXPECT_EQ("The connection to the device was lost.", StatusText(*w));
        EXPECT_TRUE(QTest::qWaitFor([&] { return all("Playing"); }, 10000));
        for (int i = 0; i < 4; ++i) {
            afterRecovery.push_back(wall.Tile(i)->Channel());
            EXPECT_TRUE(WaitForPatternIn(*w, i)) << "tile " << i;
        }
        EXPECT_FALSE(statuses.contains("Buffering...")) << statuses.join(", ").toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return wall.Tile(4)->StatusText() == failed; }));
        Press(w, kIdExit);
    });
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), afterRecovery);
    EXPECT_GE(sim.Requests("login").size(), 2u);
}

TEST_F(DesktopTest, AWallPlaysSubStreamsAndATileShownAloneItsMainStream) {
    SimProcess sim({"--channels", "2", "--size", "0=704x576", "--size", "1=704x576"});
    SaveLogin(sim.Port());
    CDlgMain window(client);
    RunLoggedIn(window, [&](CDlgMain* w) {
        VideoWall& wall = w->Wall();
        Press(w, kIdLayout4);
        TapTree(*w, Channel(*w, 0));
        TapTree(*w, Channel(*w, 1));
        const auto plays = [&](int index, int streamType, QSize size) {
            return QTest::qWaitFor(
                [&] {
                    LiveTile* tile = wall.Tile(index);
                    return tile->PlayedStream() == streamType && tile->StatusText() == "Playing" &&
                           ShowsPattern(w->grab().toImage(), TilePlace(*w, index), false) &&
                           (size.isEmpty() || tile->MainSize() == size);
                },
                10000);
        };
        EXPECT_TRUE(plays(0, kSubStream, {}));
        EXPECT_TRUE(plays(1, kSubStream, {}));
        // Alone, a tile plays the main stream; back in the grid, the sub stream again.
        ClickTile(*w, 1, true);
        EXPECT_TRUE(plays(1, kMainStream, QSize(704, 576)));
        ClickTile(*w, 1, true);
        EXPECT_TRUE(plays(1, kSubStream, QSize(704, 576)));
        // A snapshot of a tile playing the sub stream is of the main one, at its size.
        QSignalSpy snapshots(&wall, &VideoWall::SnapshotTaken);
        wall.Tile(0)->TakeSnapshot();
        ASSERT_TRUE(QTest::qWaitFor([&] { return snapshots.count() == 1; }, 10000));
        EXPECT_EQ(QSize(704, 576), snapshots[0][1].value<QImage>().size());
        EXPECT_TRUE(plays(0, kSubStream, QSize(704, 576)));
        // The user's choice holds in the grid.
        wall.Tile(0)->SetStreamChoice(StreamChoice::kMain);
        EXPECT_TRUE(plays(0, kMainStream, QSize(704, 576)));
        Press(w, kIdExit);
    });
    // The switches came as fresh media connections: two for each tile's first two streams, and
    // more for the switches back.
    EXPECT_LE(6u, sim.Requests("announce").size());
}

TEST_F(DesktopTest, AWallSavedAsAViewComesBackByKeyAndAsTheStartOfAKiosk) {
    SimProcess sim(CifChannels(3));
    SaveLogin(sim.Port());
    {
        CDlgMain window(client);
        RunLoggedIn(window, [&](CDlgMain* w) {
            VideoWall& wall = w->Wall();
            Press(w, kIdLayout4);
            TapTree(*w, Channel(*w, 2));
            TapTree(*w, Channel(*w, 0));
            // The keys are the active window's.
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            ModalDriver name;
            name.WhenShown<QInputDialog>("the view's name", [](QInputDialog* d) {
                d->setTextValue(QStringLiteral("Gate"));
                d->accept();
            });
            QTest::keyClick(w, Qt::Key_F2);
            EXPECT_TRUE(name.Done());
            ViewBook saved = LoadViews();
            ASSERT_EQ(1u, saved.views.size());
            EXPECT_EQ("Gate", saved.views[0].name);
            EXPECT_EQ(2, saved.views[0].tiles[0].channel);
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            // Another wall, then the view again by its key.
            QTest::keyClick(w, Qt::Key_1, Qt::ControlModifier);
            TapTree(*w, Channel(*w, 1));
            QTest::keyClick(w, Qt::Key_F3);
            EXPECT_EQ(2, wall.Side());
            EXPECT_EQ(2, wall.Tile(0)->Channel());
            EXPECT_EQ(0, wall.Tile(1)->Channel());
            EXPECT_EQ(-1, wall.Tile(2)->Channel());
            Press(w, kIdExit);
        });
    }
    // tavix --view Gate --fullscreen: logged in without a word, the view plays full screen.
    CDlgMain window(client);
    window.StartWith(QStringLiteral("Gate"), true);
    ModalDriver driver;
    driver.WhenShown<CDlgMain>("the kiosk", [&](CDlgMain* w) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->Wall().Tile(1)->Channel() == 0; }, 10000));
        EXPECT_EQ(2, w->Wall().Tile(0)->Channel());
        EXPECT_TRUE(WaitForPatternIn(*w, 0));
        EXPECT_TRUE(w->isFullScreen());
        Press(w, kIdExit);
    });
    window.exec();
    EXPECT_TRUE(driver.Done());
}

TEST_F(DesktopTest, TwoRecordersShareAViewAndOneGoingAwayLeavesTheOthersTilesPlaying) {
    SimProcess shop(CifChannels(2));
    SimProcess warehouse(CifChannels(2));
    SaveLogin(shop.Port());
    {
        CDlgMain window(client);
        RunLoggedIn(window, [&](CDlgMain* w) {
            Press(w, kIdLayout4);
            // The second recorder: added in the list, then connected.
            ModalDriver list;
            const auto isForm = [](QWidget* d) { return d->findChild<QLineEdit*>("address"); };
            list.WhenShown<CDlgRecorders>(
                    "the list",
                    [](CDlgRecorders* d) { d->findChild<QPushButton*>("add")->click(); })
                .When("the form", isForm,
                      [&](QWidget* d) {
                          d->findChild<QLineEdit*>("name")->setText("Warehouse");
                          d->findChild<QLineEdit*>("address")->setText("127.0.0.1");
                          d->findChild<QLineEdit*>("port")->setText(
                              QString::number(warehouse.Port()));
                          d->findChild<QLineEdit*>("user")->setText("admin");
                          d->findChild<QLineEdit*>("password")->setText("702914");
                          d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
                      })
                .WhenShown<CDlgRecorders>("the list again", [](CDlgRecorders* d) {
                    d->findChild<QPushButton*>("connect")->click();
                    d->reject();
                });
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            QTest::keyClick(w, Qt::Key_R, Qt::ControlModifier);
            EXPECT_TRUE(list.Done());
            QTreeWidget* tree = Tree(*w);
            ASSERT_TRUE(QTest::qWaitFor([&] {
                return tree->topLevelItemCount() == 2 && tree->topLevelItem(1)->childCount() == 2;
            }));
            EXPECT_TRUE(tree->topLevelItem(1)->text(0).startsWith("Warehouse  (connected"));
            // A camera of each, saved as a view.
            TapTree(*w, Channel(*w, 0));
            TapTree(*w, tree->topLevelItem(1)->child(1));
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            ModalDriver name;
            name.WhenShown<QInputDialog>("the view's name", [](QInputDialog* d) {
                d->setTextValue(QStringLiteral("Both"));
                d->accept();
            });
            QTest::keyClick(w, Qt::Key_F2);
            EXPECT_TRUE(name.Done());
            Press(w, kIdExit);
        });
    }
    ASSERT_EQ(2u, LoadRecorders().recorders.size());
    // The kiosk needs only the list: the recorders logged in to last are forgotten.
    QSettings(QSettings::IniFormat, QSettings::UserScope, "tavix", "tavix").remove("recorders");
    // tavix --view Both --fullscreen: both recorders' tiles play; the warehouse goes away.
    CDlgMain window(client);
    window.StartWith(QStringLiteral("Both"), true);
    ModalDriver driver;
    driver.WhenShown<CDlgMain>("the kiosk", [&](CDlgMain* w) {
        VideoWall& wall = w->Wall();
        ASSERT_TRUE(QTest::qWaitFor([&] { return wall.Tile(1)->Channel() == 1; }, 10000));
        EXPECT_EQ(0, wall.Tile(0)->Channel());
        EXPECT_NE(&client, &wall.Tile(1)->Client());
        EXPECT_TRUE(WaitForPatternIn(*w, 0));
        EXPECT_TRUE(WaitForPatternIn(*w, 1));
        warehouse.Stop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return wall.Tile(1)->StatusText() == "Reconnecting..."; },
                                    10000));
        EXPECT_TRUE(Tree(*w)->topLevelItem(1)->text(0).endsWith("(lost)"));
        EXPECT_EQ("Playing", wall.Tile(0)->StatusText());
        EXPECT_TRUE(WaitForPatternIn(*w, 0));
        Press(w, kIdExit);
    });
    window.exec();
    EXPECT_TRUE(driver.Done());
}

TEST_F(DesktopTest, ALargeTileLayoutIsFilledByDraggingAndAZoomedTileIsPannedAndReset) {
    SimProcess sim(CifChannels(6));
    SaveLogin(sim.Port());
    const auto dropOn = [](VideoWall& wall, int index, QMimeData* carried) {
        const QPointF at = wall.Tile(index)->geometry().center();
        QDragEnterEvent enter(at.toPoint(), Qt::MoveAction, carried, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&wall, &enter);
        QDropEvent drop(at, Qt::MoveAction, carried, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&wall, &drop);
        delete carried;
    };
    {
        CDlgMain window(client);
        RunLoggedIn(window, [&](CDlgMain* w) {
            VideoWall& wall = w->Wall();
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            // 1, 2x2, 3x2, 1+5.
            for (int step = 0; step < 3; ++step)
                QTest::keyClick(w, Qt::Key_PageDown);
            ASSERT_EQ(LargeTileLayout(3, 2), wall.Layout());
            // Six cameras dragged from the tree, the last one onto the large tile.
            QTreeWidget* tree = Tree(*w);
            const QModelIndex device = tree->model()->index(0, 0);
            for (int channel = 0; channel < 6; ++channel)
                dropOn(wall, (channel + 1) % 6,
                       tree->model()->mimeData({tree->model()->index(channel, 0, device)}));
            for (int index = 0; index < 6; ++index)
                EXPECT_EQ((index + 5) % 6, wall.Tile(index)->Channel()) << index;
            // A tile dragged onto another: they change places, playing on.
            auto* carried = new QMimeData;
            carried->setData(VideoWall::kTileMime, "1");
            dropOn(wall, 0, carried);
            EXPECT_EQ(0, wall.Tile(0)->Channel());
            EXPECT_EQ(5, wall.Tile(1)->Channel());

            // The wheel zooms the large tile about the cursor, a drag moves it, Ctrl+0 resets.
            LiveTile* large = wall.Tile(0);
            const QPointF at = large->geometry().center();
            for (int notch = 0; notch < 7; ++notch) {
                QWheelEvent wheel(at, wall.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                                  {}, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(&wall, &wheel);
            }
            EXPECT_GT(large->Zoom(), 4);
            ASSERT_TRUE(QTest::qWaitFor([&] { return large->PlayedStream() == kMainStream; }));
            const QRectF before = large->ShownPart();
            QTest::mousePress(&wall, Qt::LeftButton, {}, at.toPoint());
            QTest::mouseMove(&wall, at.toPoint() + QPoint(60, 40));
            QTest::mouseRelease(&wall, Qt::LeftButton, {}, at.toPoint() + QPoint(60, 40));
            EXPECT_LT(large->ShownPart().x(), before.x());
            EXPECT_LT(large->ShownPart().y(), before.y());
            wall.Select(0);
            QTest::keyClick(w, Qt::Key_0, Qt::ControlModifier);
            EXPECT_EQ(1, large->Zoom());
            EXPECT_TRUE(WaitForPatternIn(*w, 0));
            // Shift+drag marks a rectangle of tiles for a merge.
            const QPointF from = wall.Tile(3)->geometry().center();
            const QPointF to = wall.Tile(4)->geometry().center();
            QTest::mousePress(&wall, Qt::LeftButton, Qt::ShiftModifier, from.toPoint());
            QMouseEvent move(QEvent::MouseMove, to, wall.mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, Qt::ShiftModifier);
            QCoreApplication::sendEvent(&wall, &move);
            QTest::mouseRelease(&wall, Qt::LeftButton, Qt::ShiftModifier, to.toPoint());
            EXPECT_EQ(3, wall.SelectedIndex());
            EXPECT_TRUE(wall.Tile(4)->Selected());
            EXPECT_FALSE(wall.Tile(5)->Selected());
            // A dark desktop: the window and its tree follow it, the video stays black.
            const QPalette light = QApplication::palette();
            QPalette dark(QColor(0x30, 0x30, 0x30), QColor(0x20, 0x20, 0x20));
            QApplication::setPalette(dark);
            QCoreApplication::processEvents();  // the change reaches the widgets as events
            EXPECT_EQ(dark.color(QPalette::Base), tree->palette().color(QPalette::Base));
            EXPECT_EQ(dark.color(QPalette::Window), w->palette().color(QPalette::Window));
            EXPECT_EQ(QColor(Qt::black), wall.palette().color(QPalette::Window));
            CDlgLogin login(client, w);
            EXPECT_EQ(dark.color(QPalette::WindowText),
                      qobject_cast<QLabel*>(FindControl(&login, kIdAddressLabel))
                          ->palette()
                          .color(QPalette::WindowText));
            QApplication::setPalette(light);
            QCoreApplication::processEvents();
            Press(w, kIdExit);
        });
    }
    // The layout and its tiles come back at the next login.
    CDlgMain window(client);
    RunLoggedIn(window, [&](CDlgMain* w) {
        ASSERT_EQ(LargeTileLayout(3, 2), w->Wall().Layout());
        EXPECT_EQ(0, w->Wall().Tile(0)->Channel());
        EXPECT_EQ(4, w->Wall().Tile(5)->Channel());
        Press(w, kIdExit);
    });
}

TEST_F(DesktopTest, ANewUserDoesEverythingWithTheKeyboard) {
    SimProcess sim(CifChannels(2));
    SaveLogin(sim.Port());
    // Snapshots go to the pictures folder the user's folders file names.
    const QString pictures = folder.path() + QStringLiteral("/pictures");
    QFile dirs(folder.path() + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"" + pictures.toUtf8() + "\"\n");
    dirs.close();

    CDlgMain window(client);
    ModalDriver driver;
    QString keysText;
    QImage saved;
    QString statistics;
    driver.WhenShown<CDlgLogin>("login dialog", [](CDlgLogin* d) { d->reject(); })
        .WhenShown<CDlgMain>("main window", [&](CDlgMain* w) {
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            ModalDriver login;
            login.WhenShown<CDlgLogin>("login by Ctrl+L",
                                       [](CDlgLogin* d) { QTest::keyClick(d, Qt::Key_Return); });
            QTest::keyClick(w, Qt::Key_L, Qt::ControlModifier);
            ASSERT_TRUE(QTest::qWaitFor([&] { return TreeTexts(*w).size() > 2; }));
            // The window is the active one again once the dialog has gone.
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            VideoWall& wall = w->Wall();
            QTest::keyClick(w, Qt::Key_2, Qt::ControlModifier);
            EXPECT_EQ(2, wall.Side());
            // The tree takes the arrows; Enter plays the channel into the selected tile.
            QTest::keyClick(w, Qt::Key_T, Qt::ControlModifier);
            QTreeWidget* tree = Tree(*w);
            tree->setCurrentItem(Tree(*w)->topLevelItem(0));
            for (int channel = 0; channel < 2; ++channel) {
                QTest::keyClick(tree, Qt::Key_Down);
                QTest::keyClick(tree, Qt::Key_Return);
            }
            EXPECT_TRUE(wall.Tile(0)->Channel() == 0 && wall.Tile(1)->Channel() == 1);
            QTest::keyClick(w, Qt::Key_Escape);
            QTest::keyClick(w, Qt::Key_Tab, Qt::ControlModifier);
            EXPECT_EQ(3, wall.SelectedIndex());
            QTest::keyClick(w, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
            QTest::keyClick(w, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_EQ(1, wall.SelectedIndex());
            ASSERT_TRUE(QTest::qWaitFor([&] { return wall.Tile(1)->StatusText() == "Playing"; }));

            // Ctrl+S saves the selected tile's picture; Ctrl+I shows the figures.
            QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return StatusText(*w).startsWith("Picture saved"); }));
            const QStringList files =
                QDir(pictures + QStringLiteral("/Tavix")).entryList(QDir::Files);
            if (files.size() == 1) saved = QImage(pictures + QStringLiteral("/Tavix/") + files[0]);
            QTest::keyClick(w, Qt::Key_I, Qt::ControlModifier);
            QTest::qWait(2200);
            for (QLabel* label : wall.Tile(1)->findChildren<QLabel*>())
                if (label->isVisible() && label->text().contains("fps")) statistics = label->text();

            // Delete stops the tile; F1 lists the keys; Ctrl+Q ends the program.
            QTest::keyClick(w, Qt::Key_Delete);
            EXPECT_EQ(-1, wall.Tile(1)->Channel());
            ModalDriver keys;
            keys.DismissMessage("the keys", &keysText);
            QTest::keyClick(w, Qt::Key_F1);
            EXPECT_TRUE(keys.Done());
            w->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(w));
            QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
            if (w->isVisible()) {
                ADD_FAILURE() << "Ctrl+Q did not end the program";
                Press(w, kIdExit);
            }
        });
    EXPECT_EQ(QDialog::Rejected, window.exec());
    EXPECT_TRUE(driver.Done());
    ASSERT_EQ(QSize(352, 288), saved.size());
    EXPECT_TRUE(ShowsPattern(saved, saved.rect(), false));
    EXPECT_TRUE(statistics.contains("H.264 352\u00d7288") && statistics.contains("delay"))
        << statistics.toStdString();
    EXPECT_TRUE(keysText.contains("Ctrl+S"));
}

}  // namespace
}  // namespace tavix

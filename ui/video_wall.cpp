#include "ui/video_wall.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

#include "ui/control_ids.h"
#include "ui/ui_text.h"

namespace tavix {

VideoWall::VideoWall(DeviceClient& client, LiveTile::Post post, QWidget* parent)
    : QWidget(parent), client(client) {
    SetControlId(this, kIdVideoWindow);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    for (size_t i = 0; i < tiles.size(); ++i) {
        tiles[i] = new LiveTile(client, post, this);
        connect(tiles[i], &LiveTile::StatusChanged, this,
                [this, i](LiveTile*, const QString& text) {
                    // A first picture may have told a main stream's size.
                    ChooseStreams();
                    emit StatusChanged(static_cast<int>(i), text);
                });
        connect(tiles[i], &LiveTile::SnapshotTaken, this,
                [this, i](LiveTile*, const QImage& picture) {
                    emit SnapshotTaken(static_cast<int>(i), picture);
                });
    }
    LayoutTiles();
    statisticsTimer.setInterval(kStatisticsPeriodMs);
    connect(&statisticsTimer, &QTimer::timeout, this, [this] {
        for (LiveTile* tile : tiles)
            tile->UpdateStatistics(kStatisticsPeriodMs);
    });
}

VideoWall::~VideoWall() {
    Shutdown();
}

void VideoWall::Shutdown() {
    for (LiveTile* tile : tiles)
        tile->Close();
}

void VideoWall::SetSide(int newSide) {
    newSide = std::clamp(newSide, 1, kMaxSide);
    if (newSide == side) return;
    side = newSide;
    for (int i = TileCount(); i < kMaxTiles; ++i)
        Tile(i)->Stop();
    if (selected >= TileCount()) selected = 0;
    alone = -1;
    LayoutTiles();
}

void VideoWall::Select(int index) {
    if (index < 0 || index >= TileCount()) return;
    selected = index;
    for (int i = 0; i < kMaxTiles; ++i)
        Tile(i)->SetSelected(i == selected);
}

int VideoWall::TileOf(int channel) const {
    return TileOf(client, channel);
}

int VideoWall::TileOf(const DeviceClient& from, int channel) const {
    for (int i = 0; i < TileCount(); ++i)
        if (Tile(i)->Channel() == channel && &Tile(i)->Client() == &from) return i;
    return -1;
}

void VideoWall::ForgetClient(DeviceClient& gone) {
    for (LiveTile* tile : tiles)
        tile->ForgetClient(gone, client);
    std::erase_if(mainSizes, [&](const auto& known) { return known.first.first == &gone; });
}

void VideoWall::ShowAlone(int index) {
    alone = index >= 0 && index < TileCount() ? index : -1;
    LayoutTiles();
}

void VideoWall::SetEnlarged(bool enlarged) {
    for (LiveTile* tile : tiles)
        tile->SetEnlarged(enlarged);
}

void VideoWall::SetShown(bool on) {
    shown = on;
    LayoutTiles();
}

void VideoWall::StopAll() {
    for (LiveTile* tile : tiles)
        tile->Stop();
    // The next channels may be another recorder's.
    mainSizes.clear();
}

void VideoWall::UseDisplayBits(int bits) {
    for (LiveTile* tile : tiles)
        tile->UseDisplayBits(bits);
}

void VideoWall::SetStatisticsShown(bool on) {
    for (LiveTile* tile : tiles) {
        tile->SetStatisticsShown(on);
        tile->UpdateStatistics(0);  // counts from now
    }
    if (on)
        statisticsTimer.start();
    else
        statisticsTimer.stop();
}

void VideoWall::LayoutTiles() {
    // One tile is the live view as it always was: no frame, no caption.
    const bool grid = side > 1 && alone < 0;
    for (int i = 0; i < kMaxTiles; ++i) {
        LiveTile* tile = Tile(i);
        const bool inLayout = i < TileCount() && (alone < 0 || i == alone);
        tile->setVisible(inLayout);
        tile->SetShown(shown && inLayout);
        tile->SetCaptioned(grid);
        tile->SetSelected(i == selected);
        if (!inLayout) continue;
        if (alone >= 0) {
            tile->setGeometry(rect());
            continue;
        }
        const int column = i % side;
        const int row = i / side;
        const int left = column * width() / side;
        const int top = row * height() / side;
        tile->setGeometry(left, top, (column + 1) * width() / side - left,
                          (row + 1) * height() / side - top);
    }
    ChooseStreams();
}

int VideoWall::ChooseStream(bool alone, QSize shown, QSize mainSize) {
    if (alone) return kMainStream;
    // Until the main stream has shown its size, a tile of a grid is taken to be smaller.
    if (mainSize.isEmpty()) return kSubStream;
    return shown.width() >= mainSize.width() && shown.height() >= mainSize.height() ? kMainStream
                                                                                    : kSubStream;
}

void VideoWall::ChooseStreams() {
    for (int i = 0; i < kMaxTiles; ++i) {
        LiveTile* tile = Tile(i);
        const int channel = tile->Channel();
        if (channel == -1) {
            tile->SetAutoStream(ChooseStream(side == 1, tile->size(), QSize()));
            continue;
        }
        const std::pair<const DeviceClient*, int> played(&tile->Client(), channel);
        if (!tile->MainSize().isEmpty()) mainSizes[played] = tile->MainSize();
        const auto known = mainSizes.find(played);
        const bool single = (side == 1 && i == 0) || alone == i;
        tile->SetAutoStream(
            ChooseStream(single, tile->size(), known != mainSizes.end() ? known->second : QSize()));
    }
}

int VideoWall::TileAt(QPoint point) const {
    for (int i = 0; i < TileCount(); ++i)
        if (Tile(i)->isVisible() && Tile(i)->geometry().contains(point)) return i;
    return -1;
}

void VideoWall::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutTiles();
}

void VideoWall::mousePressEvent(QMouseEvent* event) {
    pressedInside = event->button() == Qt::LeftButton;
}

void VideoWall::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const bool tap = pressedInside && event->button() == Qt::LeftButton && rect().contains(at);
    pressedInside = false;
    if (!tap) return;
    // A press sent to the wall itself (not through a tile) counts for the tile under it, or for
    // the only one.
    const int index = TileAt(at);
    emit Tapped(index >= 0 ? index : selected);
}

void VideoWall::mouseDoubleClickEvent(QMouseEvent* event) {
    pressedInside = false;
    if (event->button() != Qt::LeftButton) return;
    const int index = TileAt(event->position().toPoint());
    if (index >= 0) emit DoubleTapped(index);
}

void VideoWall::contextMenuEvent(QContextMenuEvent* event) {
    const int index = TileAt(event->pos());
    if (index < 0) return;
    LiveTile* tile = Tile(index);
    const bool playing = tile->Channel() != -1;
    if (!playing && !menuExtension) return;
    QMenu menu(this);
    QAction* close = nullptr;
    QActionGroup* choices = nullptr;
    if (playing) {
        close = menu.addAction(Text(u"TILE_CLOSE"));
        menu.addSeparator();
        const struct {
            const char16_t* key;
            StreamChoice choice;
        } kChoices[] = {{u"STREAM_AUTO", StreamChoice::kAuto},
                        {u"STREAM_MAIN", StreamChoice::kMain},
                        {u"STREAM_SUB", StreamChoice::kSub}};
        choices = new QActionGroup(&menu);
        for (const auto& c : kChoices) {
            QAction* action = menu.addAction(Text(c.key));
            action->setCheckable(true);
            action->setChecked(tile->Choice() == c.choice);
            action->setData(static_cast<int>(c.choice));
            choices->addAction(action);
        }
        menu.addSeparator();
    }
    if (menuExtension) menuExtension(menu);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen != nullptr && chosen == close) {
        emit CloseAsked(index);
    } else if (chosen != nullptr && choices != nullptr && chosen->actionGroup() == choices) {
        tile->SetStreamChoice(static_cast<StreamChoice>(chosen->data().toInt()));
        emit StreamChoiceChanged(index);
    }
}

}  // namespace tavix

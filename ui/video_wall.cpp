#include "ui/video_wall.h"

#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

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
    setAcceptDrops(true);
    // Tiles change places (a swap, a merge): the index is looked up when the signal comes.
    const auto indexOf = [this](const LiveTile* tile) {
        return static_cast<int>(std::find(tiles.begin(), tiles.end(), tile) - tiles.begin());
    };
    for (LiveTile*& tile : tiles) {
        tile = new LiveTile(client, post, this);
        connect(tile, &LiveTile::StatusChanged, this,
                [this, indexOf](LiveTile* from, const QString& text) {
                    // A first picture may have told a main stream's size.
                    ChooseStreams();
                    emit StatusChanged(indexOf(from), text);
                });
        connect(tile, &LiveTile::SnapshotTaken, this,
                [this, indexOf](LiveTile* from, const QImage& picture) {
                    emit SnapshotTaken(indexOf(from), picture);
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
    SetLayout(GridLayout(newSide, newSide));
}

void VideoWall::SetLayout(const WallLayout& to) {
    if (to == layout || to.TileCount() < 1 || to.TileCount() > kMaxTiles) return;
    layout = to;
    for (int i = TileCount(); i < kMaxTiles; ++i)
        Tile(i)->Stop();
    if (selected >= TileCount()) selected = 0;
    alone = -1;
    rangeEnd = -1;
    LayoutTiles();
}

void VideoWall::Rearrange(const WallLayout& to) {
    std::array<LiveTile*, kMaxTiles> placed{};
    std::vector<LiveTile*> spare;
    for (int i = 0; i < TileCount(); ++i) {
        const QPoint corner = layout.cells[static_cast<size_t>(i)].topLeft();
        const int at = TileAtCell(to, corner.x(), corner.y());
        if (at >= 0 && to.cells[static_cast<size_t>(at)].topLeft() == corner)
            placed[static_cast<size_t>(at)] = Tile(i);
        else
            spare.push_back(Tile(i));
    }
    // A tile without a place of its own stops: its cells went to another, or it had none.
    for (LiveTile* tile : spare)
        tile->Stop();
    for (int i = TileCount(); i < kMaxTiles; ++i)
        spare.push_back(Tile(i));
    for (LiveTile*& tile : placed)
        if (tile == nullptr) {
            tile = spare.front();
            spare.erase(spare.begin());
        }
    // The selected tile stays selected where it went.
    const LiveTile* chosen = SelectedTile();
    tiles = placed;
    layout = to;
    alone = -1;
    rangeEnd = -1;
    const auto kept = std::find(tiles.begin(), tiles.begin() + TileCount(), chosen);
    selected = kept != tiles.begin() + TileCount() ? static_cast<int>(kept - tiles.begin()) : 0;
    LayoutTiles();
}

bool VideoWall::MergeTo(int index) {
    const std::optional<WallLayout> merged = MergeTiles(layout, selected, index);
    if (!merged) return false;
    Rearrange(*merged);
    return true;
}

bool VideoWall::Split(int index) {
    const WallLayout split = SplitTile(layout, index);
    if (split == layout) return false;
    Rearrange(split);
    return true;
}

void VideoWall::SwapTiles(int a, int b) {
    if (a == b || a < 0 || b < 0 || a >= TileCount() || b >= TileCount()) return;
    std::swap(tiles[static_cast<size_t>(a)], tiles[static_cast<size_t>(b)]);
    if (selected == a || selected == b) selected = selected == a ? b : a;
    LayoutTiles();
}

void VideoWall::Select(int index) {
    if (index < 0 || index >= TileCount()) return;
    selected = index;
    rangeEnd = -1;
    MarkRange();
}

void VideoWall::MarkRange() {
    const QRect first = layout.cells[static_cast<size_t>(selected)];
    const QRect range =
        rangeEnd >= 0 ? first.united(layout.cells[static_cast<size_t>(rangeEnd)]) : first;
    for (int i = 0; i < kMaxTiles; ++i)
        Tile(i)->SetSelected(i == selected ||
                             (i < TileCount() && rangeEnd >= 0 &&
                              range.intersects(layout.cells[static_cast<size_t>(i)])));
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
    const bool grid = TileCount() > 1 && alone < 0;
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
        const QRect cell = layout.cells[static_cast<size_t>(i)];
        const int left = cell.left() * width() / layout.columns;
        const int top = cell.top() * height() / layout.rows;
        tile->setGeometry(left, top, (cell.right() + 1) * width() / layout.columns - left,
                          (cell.bottom() + 1) * height() / layout.rows - top);
    }
    MarkRange();
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
            tile->SetAutoStream(ChooseStream(TileCount() == 1, tile->size(), QSize()));
            continue;
        }
        const std::pair<const DeviceClient*, int> played(&tile->Client(), channel);
        if (!tile->MainSize().isEmpty()) mainSizes[played] = tile->MainSize();
        const auto known = mainSizes.find(played);
        const bool single = (TileCount() == 1 && i == 0) || alone == i;
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
    pressedAt = lastAt = event->position().toPoint();
    pressedTile = pressedInside ? TileAt(pressedAt) : -1;
    panned = false;
}

void VideoWall::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedInside || pressedTile < 0 || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint at = event->position().toPoint();
    if (event->modifiers() & Qt::ShiftModifier) {
        // Shift+drag marks the rectangle of tiles from where it began, as Shift+click does.
        const int over = TileAt(at);
        if (!panned) emit Tapped(pressedTile);
        panned = true;
        if (over < 0) return;
        rangeEnd = over == selected ? -1 : over;
        MarkRange();
        return;
    }
    LiveTile* tile = Tile(pressedTile);
    if (tile->Zoom() > 1) {
        // A zoomed picture follows the mouse.
        tile->PanBy(at - lastAt);
        lastAt = at;
        panned = true;
        return;
    }
    if (tile->Channel() == -1 ||
        (at - pressedAt).manhattanLength() < QApplication::startDragDistance())
        return;
    pressedInside = false;
    auto* carried = new QMimeData;
    carried->setData(QString::fromLatin1(kTileMime), QByteArray::number(pressedTile));
    auto* drag = new QDrag(this);
    drag->setMimeData(carried);
    drag->setPixmap(tile->grab().scaledToWidth(std::min(160, tile->width())));
    drag->exec(Qt::MoveAction);
}

void VideoWall::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const bool tap =
        pressedInside && !panned && event->button() == Qt::LeftButton && rect().contains(at);
    pressedInside = false;
    if (!tap) return;
    // Shift+click marks the tiles from the selected one to this one, for a merge.
    if (event->modifiers() & Qt::ShiftModifier) {
        const int index = TileAt(at);
        if (index >= 0 && index != selected) {
            rangeEnd = index;
            MarkRange();
            return;
        }
    }
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

void VideoWall::wheelEvent(QWheelEvent* event) {
    const int index = TileAt(event->position().toPoint());
    if (index < 0 || Tile(index)->Channel() == -1) return;
    LiveTile* tile = Tile(index);
    // 1.25 times per notch of the wheel, about the point under the cursor.
    tile->ZoomAt(event->position() - QPointF(tile->pos()),
                 std::pow(1.25, event->angleDelta().y() / 120.0));
}

void VideoWall::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* carried = event->mimeData();
    if (carried->hasFormat(QString::fromLatin1(kTileMime)) ||
        carried->hasFormat(QString::fromLatin1(kChannelMime)))
        event->acceptProposedAction();
}

void VideoWall::dragMoveEvent(QDragMoveEvent* event) {
    if (TileAt(event->position().toPoint()) >= 0)
        event->acceptProposedAction();
    else
        event->ignore();
}

void VideoWall::dropEvent(QDropEvent* event) {
    const int index = TileAt(event->position().toPoint());
    const QMimeData* carried = event->mimeData();
    if (index < 0) return;
    event->acceptProposedAction();
    if (carried->hasFormat(QString::fromLatin1(kTileMime))) {
        // Untrusted like any drop: another program may offer the type.
        bool number = false;
        const int from = carried->data(QString::fromLatin1(kTileMime)).toInt(&number);
        if (!number || from < 0 || from >= TileCount() || from == index) return;
        SwapTiles(from, index);
        emit TilesSwapped(from, index);
        return;
    }
    const QList<QByteArray> parts = carried->data(QString::fromLatin1(kChannelMime)).split(' ');
    bool linkOk = false, channelOk = false;
    const int link = parts.value(0).toInt(&linkOk);
    const int channel = parts.value(1).toInt(&channelOk);
    if (parts.size() == 2 && linkOk && channelOk && channel >= 0)
        emit ChannelDropped(index, link, channel);
}

void VideoWall::contextMenuEvent(QContextMenuEvent* event) {
    const int index = TileAt(event->pos());
    if (index < 0) return;
    LiveTile* tile = Tile(index);
    const bool playing = tile->Channel() != -1;

    QMenu menu(this);
    QAction* close = nullptr;
    QAction* unzoom = nullptr;
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
        unzoom = menu.addAction(Text(u"ZOOM_RESET"));
        unzoom->setEnabled(tile->Zoom() > 1);
    }
    QAction* merge = menu.addAction(Text(u"TILES_MERGE"));
    merge->setEnabled(MergeTiles(layout, selected, rangeEnd >= 0 ? rangeEnd : index).has_value());
    QAction* split = menu.addAction(Text(u"TILE_SPLIT"));
    split->setEnabled(SplitTile(layout, index) != layout);
    menu.addSeparator();
    if (menuExtension) menuExtension(menu);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == nullptr) return;
    if (chosen == merge) {
        if (MergeTo(rangeEnd >= 0 ? rangeEnd : index)) emit LayoutEdited();
    } else if (chosen == split) {
        if (Split(index)) emit LayoutEdited();
    } else if (chosen == unzoom) {
        tile->ResetZoom();
    } else if (chosen == close) {
        emit CloseAsked(index);
    } else if (chosen != nullptr && choices != nullptr && chosen->actionGroup() == choices) {
        tile->SetStreamChoice(static_cast<StreamChoice>(chosen->data().toInt()));
        emit StreamChoiceChanged(index);
    }
}

}  // namespace tavix

// VideoWall: the live page's wall of tiles in a layout (WallLayout: a grid whose tiles may
// cover several cells), one selected, and one of them shown alone over the whole wall when
// asked. It owns the tiles, each showing its pictures as they come. The wall reports taps; what
// they mean is the window's to say. The mouse wheel zooms the tile under it, a drag pans a
// zoomed tile or carries a tile onto another (they swap, playing on), and a channel dragged
// from the tree is reported where it is dropped. Shift+click or Shift+drag marks a rectangle of
// tiles, which the tile's menu merges into one; a merged tile can be split again.
//
// It chooses the stream of every tile left to it (ChooseStream): a tile shown alone plays the
// channel's main stream; in a grid a tile plays the sub stream unless it is shown at least as
// large as the main stream's picture, which is known once the channel's main stream has been
// shown here.
//
// Threads: the window's thread.
#pragma once

#include <QWidget>

#include <QTimer>

#include <array>
#include <functional>
#include <map>
#include <utility>

class QMenu;

#include "ui/live_tile.h"
#include "ui/wall_layout.h"

namespace tavix {

class VideoWall : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kMaxSide = kMaxWallSide;
    static constexpr int kMaxTiles = kMaxWallTiles;
    // What a drag carries: a tile of this wall ("INDEX"), a channel of the tree ("LINK CHANNEL").
    static constexpr char kTileMime[] = "application/x-tavix-tile";
    static constexpr char kChannelMime[] = "application/x-tavix-channel";
    static constexpr int kStatisticsPeriodMs = 1000;

    VideoWall(DeviceClient& client, LiveTile::Post post, QWidget* parent);
    // Shuts down first.
    ~VideoWall() override;

    // Ends every tile's stream quietly (waiting for its decoding thread); the window calls it
    // before anything the tiles' posts reach goes away.
    void Shutdown();

    // The tiles of a grid of `side` x `side`, or of `layout`: tile i keeps its channel while
    // the layout has it; the channels of tiles it no longer has are stopped.
    void SetSide(int side);
    void SetLayout(const WallLayout& layout);
    const WallLayout& Layout() const { return layout; }
    // Columns of the layout's grid (a square grid's side).
    int Side() const { return layout.columns; }
    int TileCount() const { return layout.TileCount(); }
    // The tiles from the selected one to `index` merged into one tile (the first of them
    // keeps its channel, the others stop), or tile `index` split into its cells (it keeps its
    // channel in the first); false when nothing changed.
    bool MergeTo(int index);
    bool Split(int index);
    // Tiles `a` and `b` change places, their channels playing on.
    void SwapTiles(int a, int b);
    LiveTile* Tile(int index) const { return tiles[static_cast<size_t>(index)]; }
    LiveTile* SelectedTile() const { return Tile(selected); }
    int SelectedIndex() const { return selected; }
    void Select(int index);
    // The tile of the layout playing `channel` of the wall's own client, or of `from`; -1 when
    // none does.
    int TileOf(int channel) const;
    int TileOf(const DeviceClient& from, int channel) const;
    // `gone`'s client is about to go: its tiles stop and play the wall's own client's again.
    void ForgetClient(DeviceClient& gone);
    // Tile `index` alone over the whole wall (the others play on, unseen), or the grid (-1).
    void ShowAlone(int index);
    int AloneIndex() const { return alone; }
    void SetEnlarged(bool enlarged);
    // Whether the wall is on screen (the live page shows).
    void SetShown(bool shown);
    void StopAll();
    // For tests: see LiveTile::UseDisplayBits.
    void UseDisplayBits(int bits);
    // The statistics over every tile, updated every second while shown.
    void SetStatisticsShown(bool shown);
    bool StatisticsShown() const { return statisticsTimer.isActive(); }

    // Adds the window's entries to every tile's menu (shown also over an empty tile).
    void SetMenuExtension(std::function<void(QMenu&)> extend) { menuExtension = std::move(extend); }

    // The stream for a tile left to the wall: kMainStream or kSubStream. `mainSize` is empty
    // while the main stream's picture size is not known.
    static int ChooseStream(bool alone, QSize shown, QSize mainSize);

  signals:
    // A tile's snapshot (see LiveTile::TakeSnapshot) is here.
    void SnapshotTaken(int index, const QImage& picture);
    // A click released over tile `index`, a double click on it, its context menu's close.
    void Tapped(int index);
    void DoubleTapped(int index);
    void CloseAsked(int index);
    // The user chose the stream of tile `index` from its menu.
    void StreamChoiceChanged(int index);
    // The user merged or split tiles, or swapped two (tiles `a` and `b`).
    void LayoutEdited();
    void TilesSwapped(int a, int b);
    // A channel of the tree (`link` and `channel` as the drag carried them) was dropped on
    // tile `index`.
    void ChannelDropped(int index, int link, int channel);
    // A tile's status text changed.
    void StatusChanged(int index, const QString& text);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void LayoutTiles();
    // The tiles put where `to` has their cells: a tile whose top-left cell starts a tile of
    // `to` keeps its channel there; the others stop.
    void Rearrange(const WallLayout& to);
    // Tiles from the selected one to the range's end are marked.
    void MarkRange();
    // Tells every tile the stream the wall would have it play.
    void ChooseStreams();
    // The tile shown at `point` (wall coordinates), or -1.
    int TileAt(QPoint point) const;

    std::array<LiveTile*, kMaxTiles> tiles{};
    WallLayout layout;
    int selected = 0;
    int rangeEnd = -1;  // Shift+click's or Shift+drag's last tile, while a range is marked
    int alone = -1;
    bool shown = true;
    bool pressedInside = false;
    int pressedTile = -1;
    QPoint pressedAt;
    QPoint lastAt;
    bool panned = false;
    QTimer statisticsTimer;
    DeviceClient& client;
    std::map<std::pair<const DeviceClient*, int>, QSize> mainSizes;  // by channel, once shown
    std::function<void(QMenu&)> menuExtension;
};

}  // namespace tavix

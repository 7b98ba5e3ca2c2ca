// VideoWall: the live page's wall of tiles: 1, 2x2, 3x3 or 4x4 of them, one selected, and one
// of them shown alone over the whole wall when asked. It owns the tiles, each showing its
// pictures as they come. The wall reports taps; what they mean is the window's to say.
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

namespace tavix {

class VideoWall : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kMaxSide = 4;
    static constexpr int kMaxTiles = kMaxSide * kMaxSide;
    static constexpr int kStatisticsPeriodMs = 1000;

    VideoWall(DeviceClient& client, LiveTile::Post post, QWidget* parent);
    // Shuts down first.
    ~VideoWall() override;

    // Ends every tile's stream quietly (waiting for its decoding thread); the window calls it
    // before anything the tiles' posts reach goes away.
    void Shutdown();

    // Tiles per side (1..4); the channels of tiles it no longer shows are stopped.
    void SetSide(int side);
    int Side() const { return side; }
    int TileCount() const { return side * side; }
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
    // A tile's status text changed.
    void StatusChanged(int index, const QString& text);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void LayoutTiles();
    // Tells every tile the stream the wall would have it play.
    void ChooseStreams();
    // The tile shown at `point` (wall coordinates), or -1.
    int TileAt(QPoint point) const;

    std::array<LiveTile*, kMaxTiles> tiles{};
    int side = 1;
    int selected = 0;
    int alone = -1;
    bool shown = true;
    bool pressedInside = false;
    QTimer statisticsTimer;
    DeviceClient& client;
    std::map<std::pair<const DeviceClient*, int>, QSize> mainSizes;  // by channel, once shown
    std::function<void(QMenu&)> menuExtension;
};

}  // namespace tavix

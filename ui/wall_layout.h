// The wall's layouts: a grid of columns x rows cells, each tile covering a rectangle of them
// (one cell, or several merged). The layouts the wall offers, merging a rectangle of cells into
// one tile and splitting it again, and the text a layout is saved as. Pure code.
#pragma once

#include <QRect>
#include <QString>

#include <optional>
#include <vector>

namespace tavix {

struct WallLayout {
    int columns = 1;
    int rows = 1;
    // In grid cells, ordered by their top-left corner row by row: tile i covers cells[i].
    std::vector<QRect> cells{QRect(0, 0, 1, 1)};

    int TileCount() const { return static_cast<int>(cells.size()); }
    bool operator==(const WallLayout&) const = default;
};

inline constexpr int kMaxWallSide = 6;
inline constexpr int kMaxWallTiles = kMaxWallSide * kMaxWallSide;

// `columns` x `rows` tiles of one cell each.
WallLayout GridLayout(int columns, int rows);
// One large tile of `big` x `big` cells at the top left of a `side` x `side` grid, the other
// cells small tiles: 1+5 (2 of 3), 1+7 (3 of 4). 1+12 is a 2x2 tile in the middle of a 4x4 grid.
WallLayout LargeTileLayout(int side, int big);
WallLayout CentreTileLayout();

// The layouts offered, in the order Page Down steps through them: 1, 2x2, 2x3, 1+5, 3x3, 1+7,
// 1+12, 4x4, 5x5, 6x6.
const std::vector<WallLayout>& OfferedLayouts();
// A layout's name as its menu shows it ("2×2", "1+5"); a user's own "3×3*".
QString LayoutName(const WallLayout& layout);

// The tiles `first` and `last` and every tile between them merged into one: the smallest
// rectangle of cells that holds both and cuts no tile. Nothing when that is a single tile.
std::optional<WallLayout> MergeTiles(const WallLayout& layout, int first, int last);
// Tile `index` split into its cells (the layout as it was when it is one cell).
WallLayout SplitTile(const WallLayout& layout, int index);
// The tile index of cell (column, row) in `layout`, or -1.
int TileAtCell(const WallLayout& layout, int column, int row);

// "COLUMNSxROWS x,y,w,h ..." and back; read as untrusted text: what is not a layout whose tiles
// cover the grid once (at most kMaxWallSide a side) gives nothing.
QString FormatLayout(const WallLayout& layout);
std::optional<WallLayout> ParseLayout(const QString& text);

}  // namespace tavix

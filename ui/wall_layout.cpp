#include "ui/wall_layout.h"

#include <QStringList>

#include <algorithm>

namespace tavix {

namespace {

// Orders the tiles by their top-left corner, row by row.
void Order(WallLayout& layout) {
    std::sort(layout.cells.begin(), layout.cells.end(), [](const QRect& a, const QRect& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    });
}

// Whether every cell of the grid is covered exactly once.
bool CoversOnce(const WallLayout& layout) {
    std::vector<int> covered(static_cast<size_t>(layout.columns * layout.rows), 0);
    for (const QRect& cell : layout.cells) {
        if (cell.x() < 0 || cell.y() < 0 || cell.width() < 1 || cell.height() < 1 ||
            cell.right() >= layout.columns || cell.bottom() >= layout.rows)
            return false;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                if (covered[static_cast<size_t>(y * layout.columns + x)]++ != 0) return false;
    }
    return std::all_of(covered.begin(), covered.end(), [](int n) { return n == 1; });
}

}  // namespace

WallLayout GridLayout(int columns, int rows) {
    WallLayout layout;
    layout.columns = std::clamp(columns, 1, kMaxWallSide);
    layout.rows = std::clamp(rows, 1, kMaxWallSide);
    layout.cells.clear();
    for (int y = 0; y < layout.rows; ++y)
        for (int x = 0; x < layout.columns; ++x)
            layout.cells.emplace_back(x, y, 1, 1);
    return layout;
}

WallLayout LargeTileLayout(int side, int big) {
    WallLayout layout = GridLayout(side, side);
    return MergeTiles(layout, 0, TileAtCell(layout, big - 1, big - 1)).value_or(layout);
}

WallLayout CentreTileLayout() {
    const WallLayout grid = GridLayout(4, 4);
    return MergeTiles(grid, TileAtCell(grid, 1, 1), TileAtCell(grid, 2, 2)).value_or(grid);
}

const std::vector<WallLayout>& OfferedLayouts() {
    static const std::vector<WallLayout> offered{
        GridLayout(1, 1), GridLayout(2, 2),      GridLayout(3, 2),   LargeTileLayout(3, 2),
        GridLayout(3, 3), LargeTileLayout(4, 3), CentreTileLayout(), GridLayout(4, 4),
        GridLayout(5, 5), GridLayout(6, 6)};
    return offered;
}

QString LayoutName(const WallLayout& layout) {
    const bool grid = layout.TileCount() == layout.columns * layout.rows;
    if (grid) return QStringLiteral("%1\u00d7%2").arg(layout.columns).arg(layout.rows);
    const auto& offered = OfferedLayouts();
    if (std::find(offered.begin(), offered.end(), layout) != offered.end())
        return QStringLiteral("1+%1").arg(layout.TileCount() - 1);
    return QStringLiteral("%1\u00d7%2*").arg(layout.columns).arg(layout.rows);
}

int TileAtCell(const WallLayout& layout, int column, int row) {
    for (int i = 0; i < layout.TileCount(); ++i)
        if (layout.cells[static_cast<size_t>(i)].contains(column, row)) return i;
    return -1;
}

std::optional<WallLayout> MergeTiles(const WallLayout& layout, int first, int last) {
    if (first < 0 || last < 0 || first >= layout.TileCount() || last >= layout.TileCount())
        return std::nullopt;
    QRect merged =
        layout.cells[static_cast<size_t>(first)].united(layout.cells[static_cast<size_t>(last)]);
    // Grown until no tile sticks out of it.
    for (bool grown = true; grown;) {
        grown = false;
        for (const QRect& cell : layout.cells)
            if (merged.intersects(cell) && !merged.contains(cell)) {
                merged = merged.united(cell);
                grown = true;
            }
    }
    WallLayout result = layout;
    std::erase_if(result.cells, [&](const QRect& cell) { return merged.contains(cell); });
    if (static_cast<int>(result.cells.size()) + 1 == layout.TileCount()) return std::nullopt;
    result.cells.push_back(merged);
    Order(result);
    return result;
}

WallLayout SplitTile(const WallLayout& layout, int index) {
    if (index < 0 || index >= layout.TileCount()) return layout;
    WallLayout result = layout;
    const QRect cell = result.cells[static_cast<size_t>(index)];
    result.cells.erase(result.cells.begin() + index);
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            result.cells.emplace_back(x, y, 1, 1);
    Order(result);
    return result;
}

QString FormatLayout(const WallLayout& layout) {
    QStringList parts{QStringLiteral("%1x%2").arg(layout.columns).arg(layout.rows)};
    for (const QRect& cell : layout.cells)
        parts << QStringLiteral("%1,%2,%3,%4")
                     .arg(cell.x())
                     .arg(cell.y())
                     .arg(cell.width())
                     .arg(cell.height());
    return parts.join(u' ');
}

std::optional<WallLayout> ParseLayout(const QString& text) {
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    if (parts.isEmpty()) return std::nullopt;
    const QStringList size = parts[0].split(u'x');
    WallLayout layout;
    bool columnsOk = false, rowsOk = false;
    if (size.size() != 2) return std::nullopt;
    layout.columns = size[0].toInt(&columnsOk);
    layout.rows = size[1].toInt(&rowsOk);
    if (!columnsOk || !rowsOk || layout.columns < 1 || layout.rows < 1 ||
        layout.columns > kMaxWallSide || layout.rows > kMaxWallSide ||
        parts.size() - 1 > layout.columns * layout.rows)
        return std::nullopt;
    layout.cells.clear();
    for (int i = 1; i < parts.size(); ++i) {
        const QStringList numbers = parts[i].split(u',');
        if (numbers.size() != 4) return std::nullopt;
        int value[4];
        for (int n = 0; n < 4; ++n) {
            bool ok = false;
            value[n] = numbers[n].toInt(&ok);
            // Small before a rectangle is made of them: its corners must not overflow.
            if (!ok || value[n] < (n < 2 ? 0 : 1) || value[n] > kMaxWallSide) return std::nullopt;
        }
        layout.cells.emplace_back(value[0], value[1], value[2], value[3]);
    }
    if (!CoversOnce(layout)) return std::nullopt;
    Order(layout);
    return layout;
}

}  // namespace tavix

// The wall's layouts: those offered, merging and splitting tiles, and the saved text read as
// untrusted.
#include <gtest/gtest.h>

#include "ui/wall_layout.h"

namespace tavix {
namespace {

TEST(WallLayoutTest, TheOfferedLayoutsCoverTheirGridsAndReadBackAsSaved) {
    const struct {
        const char* name;
        int tiles;
    } kWant[] = {{"1\u00d71", 1},  {"2\u00d72", 4}, {"3\u00d72", 6}, {"1+5", 6},
                 {"3\u00d73", 9},  {"1+7", 8},      {"1+12", 13},    {"4\u00d74", 16},
                 {"5\u00d75", 25}, {"6\u00d76", 36}};
    ASSERT_EQ(std::size(kWant), OfferedLayouts().size());
    for (size_t i = 0; i < std::size(kWant); ++i) {
        const WallLayout& layout = OfferedLayouts()[i];
        EXPECT_EQ(QString::fromUtf8(kWant[i].name), LayoutName(layout));
        EXPECT_EQ(kWant[i].tiles, layout.TileCount());
        EXPECT_EQ(layout, ParseLayout(FormatLayout(layout)));
    }
    // 1+12: the large tile in the middle.
    EXPECT_EQ(QRect(1, 1, 2, 2), CentreTileLayout().cells[5]);
}

TEST(WallLayoutTest, MergingTakesTheSmallestRectangleThatCutsNoTileAndSplittingUndoesIt) {
    const WallLayout grid = GridLayout(3, 3);
    EXPECT_EQ(LargeTileLayout(3, 2), MergeTiles(grid, 0, 4));
    EXPECT_EQ(LargeTileLayout(3, 2), MergeTiles(grid, 4, 0));
    EXPECT_FALSE(MergeTiles(grid, 4, 4).has_value());
    EXPECT_FALSE(MergeTiles(grid, 0, 9).has_value());
    EXPECT_EQ(grid, SplitTile(LargeTileLayout(3, 2), 0));
    EXPECT_EQ(grid, SplitTile(grid, 3));  // one cell: nothing to split
    // In 1+12, a tile left of the middle one and a tile above it: the rectangle grows over it.
    const WallLayout centre = CentreTileLayout();
    const std::optional<WallLayout> grown =
        MergeTiles(centre, TileAtCell(centre, 0, 1), TileAtCell(centre, 1, 0));
    ASSERT_TRUE(grown.has_value());
    EXPECT_EQ(QRect(0, 0, 3, 3), grown->cells[0]);
    EXPECT_EQ(8, grown->TileCount());
}

TEST(WallLayoutTest, SavedTextThatIsNoLayoutGivesNothing) {
    for (const char* text :
         {"", "2x2", "7x7", "2x2 0,0,1,1", "2x2 0,0,2,2 1,1,1,1", "2x2 0,0,2147483647,1 0,1,2,1",
          "2x1 0,0,1,1 x,0,1,1", "1x1 0,0,1,1 0,0,1,1", "2x1 -1,0,1,1 1,0,1,1"})
        EXPECT_FALSE(ParseLayout(QString::fromUtf8(text)).has_value()) << text;
    EXPECT_EQ(GridLayout(2, 1), ParseLayout(QStringLiteral("2x1 1,0,1,1 0,0,1,1")));
}

}  // namespace
}  // namespace tavix

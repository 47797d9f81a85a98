#include <gtest/gtest.h>

#include "support/tile_model.h"

namespace {

std::vector<int> numbersAfter(const BlockMove& move, int columns, int rows)
{
    TileModel model(columns, rows);
    model.apply(blockMoveSteps(move));
    return model.numbers;
}

}  // namespace

TEST(MoveTiles, LandedOnTilesFillThePlacesLeftInReadingOrder)
{
    // A 2 x 1 block moved one column right trades places with that column's tile.
    EXPECT_EQ(numbersAfter({QRect(0, 0, 2, 1), QPoint(1, 0)}, 3, 1), (std::vector<int>{2, 0, 1}));
    // Dropped on tiles of its own size elsewhere, a block swaps with them.
    EXPECT_EQ(numbersAfter({QRect(0, 0, 1, 2), QPoint(2, 0)}, 3, 2),
              (std::vector<int>{2, 1, 0, 5, 4, 3}));
    // Moved diagonally by one, the L of tiles it lands on fills the L it left, both row by row.
    EXPECT_EQ(numbersAfter({QRect(0, 0, 2, 2), QPoint(1, 1)}, 3, 3),
              (std::vector<int>{5, 7, 2, 8, 0, 1, 6, 3, 4}));
}

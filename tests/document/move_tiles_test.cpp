#include <gtest/gtest.h>

#include <random>

#include "support/test_images.h"
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

// Random moves, overlapping ones included, refusals, undo and redo at awkward pitches, each
// compared with the plain model, pixels and map.
TEST(MoveTiles, MovesUndoAndRedoAgreeWithThePlainModel)
{
    std::mt19937 random(19);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
    for (int round = 0; round < 12; ++round) {
        const int tileSize = std::vector{2, 5, 8, 16, 32}[size_t(round % 5)];
        const int gridFlag = round % 2;
        const int pitch = tileSize + gridFlag;
        const int columns = pick(1, 7), rows = pick(1, 6);
        const QImage original = makeTestImage(columns * pitch + pick(0, pitch - 1), rows * pitch + pick(0, pitch - 1),
                                              round % 3 ? QImage::Format_BGR888 : QImage::Format_RGB32);
        Document doc;
        doc.replaceSheet(original, tileSize, gridFlag);
        std::vector<TileModel> done{TileModel(columns, rows)};
        size_t now = 0;
        SCOPED_TRACE(testing::Message() << "round " << round);
        for (int action = 0; action < 30; ++action) {
            const int kind = pick(0, 5);
            if (kind == 0) {
                EXPECT_EQ(doc.undo().isEmpty(), true);
                now = now > 0 ? now - 1 : 0;
            } else if (kind == 1) {
                EXPECT_EQ(doc.redo().isEmpty(), true);
                now = std::min(now + 1, done.size() - 1);
            } else {
                const QRect block(pick(0, columns - 1), pick(0, rows - 1), 0, 0);
                const QRect sized(block.topLeft(), QSize(pick(1, columns - block.x()), pick(1, rows - block.y())));
                // Now and then one tile too far, which must change nothing.
                const QPoint to(pick(0, columns - sized.width() + (kind == 2)),
                                pick(0, rows - sized.height()));
                const BlockMove move{sized, to - sized.topLeft()};
                const bool fits = blockMoveProblem(doc.tileMap(), move).isEmpty();
                EXPECT_EQ(doc.moveTiles(move.block, move.offset).isEmpty(), fits);
                // A move by nothing succeeds without a step.
                if (fits && !move.offset.isNull()) {
                    done.erase(done.begin() + std::ptrdiff_t(now) + 1, done.end());
                    done.push_back(done.back());
                    done.back().apply(blockMoveSteps(move));
                    ++now;
                    EXPECT_EQ(doc.undoName(), QStringLiteral("Move Tiles"));
                }
            }
            expectArrangedAs(doc, original, done[now]);
            EXPECT_EQ(doc.remapped(), now > 0 ? 1 : 0);
            ASSERT_TRUE(doc.tileMap().isPermutation());
        }
    }
}

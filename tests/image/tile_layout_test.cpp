#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "image/tile_layout.h"

namespace
{

// One side of a sheet laid out the plain way, pixel by pixel: margin pixels, then each tile's own
// pixels, its gutter and, before the next tile, the spacing. tileOf and cellOf name the tile each
// pixel belongs to (-1: none), over more pixels than the sheet has so that blocks beyond its
// whole tiles have pixels too; whole counts the tiles whose cell and the closing margin fit.
struct Axis {
    std::vector<int> tileOf;
    std::vector<int> cellOf;
    int whole = 0;
    int end = 0; // where the last whole tile's cell ends (the margin for none)
};

Axis walk(int side, int tile, int margin, int spacing, int gutter)
{
    Axis axis;
    const int length = std::max(side, 100) + 8 * (tile + gutter + spacing) + 2 * margin;
    axis.tileOf.assign(size_t(length), -1);
    axis.cellOf.assign(size_t(length), -1);
    axis.end = margin;
    int at = margin;
    for (int index = 0; at + tile + gutter <= length; ++index) {
        for (int i = 0; i < tile + gutter; ++i) {
            axis.cellOf[size_t(at + i)] = index;
            if (i < tile)
                axis.tileOf[size_t(at + i)] = index;
        }
        at += tile + gutter;
        if (at + margin <= side) {
            axis.whole = index + 1;
            axis.end = at;
        }
        at += spacing;
    }
    return axis;
}

// The pixels of a block of tiles along one side: from the first pixel of the first cell to the
// last of the last.
std::pair<int, int> blockAlong(const Axis& axis, int first, int count)
{
    int from = -1, to = -1;
    for (int x = 0; x < int(axis.cellOf.size()); ++x)
        if (axis.cellOf[size_t(x)] >= first && axis.cellOf[size_t(x)] < first + count) {
            if (from < 0)
                from = x;
            to = x;
        }
    return {from, to};
}

TEST(TileLayout, AgreesWithThePixelByPixelReadingOfItsLayout)
{
    std::mt19937 random(7);
    for (int round = 0; round < 250; ++round) {
        const int tileWidth = 1 + int(random() % 9);
        const int tileHeight = round % 2 ? tileWidth : 1 + int(random() % 9);
        const int margin = round % 3 ? int(random() % 4) : 0;
        const int spacing = round % 5 ? int(random() % 4) : 0;
        const int gutter = round % 4 ? int(random() % 3) : 0;
        const QSize image(int(random() % 60), int(random() % 60));
        const TileLayout layout{tileWidth, tileHeight, margin, spacing, gutter};
        SCOPED_TRACE(testing::Message()
                     << "round " << round << ": " << tileWidth << "x" << tileHeight << " margin "
                     << margin << " spacing " << spacing << " gutter " << gutter << " on "
                     << image.width() << "x" << image.height());
        const Axis across = walk(image.width(), tileWidth, margin, spacing, gutter);
        const Axis down = walk(image.height(), tileHeight, margin, spacing, gutter);
        const QSize tiles(across.whole, down.whole);

        ASSERT_EQ(layout.tilesIn(image), tiles);
        ASSERT_EQ(layout.tileCountIn(image), int64_t(tiles.width()) * tiles.height());
        const TileLayout64 wide{tileWidth, tileHeight, margin, spacing, gutter};
        ASSERT_EQ(wide.columnsIn(image.width()), tiles.width());
        ASSERT_EQ(wide.rowsIn(image.height()), tiles.height());
        ASSERT_EQ(layout.strips(image), QSize(std::max(image.width() - across.end - margin, 0),
                                              std::max(image.height() - down.end - margin, 0)));

        // Every pixel of the sheet lies in the rectangle of the tile (and cell) the reading gives
        // it, and in no other; rows and columns place it alike.
        std::vector<QRect> tileRects, cellRects;
        for (int row = 0; row < tiles.height(); ++row)
            for (int column = 0; column < tiles.width(); ++column) {
                tileRects.push_back(layout.tileRect(QPoint(column, row)));
                cellRects.push_back(layout.cellRect(QPoint(column, row)));
                ASSERT_EQ(layout.tileRect(row * tiles.width() + column, tiles.width()),
                          tileRects.back());
            }
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const int column = across.tileOf[size_t(x)];
                const int row = down.tileOf[size_t(y)];
                const bool inTile =
                    column >= 0 && column < tiles.width() && row >= 0 && row < tiles.height();
                const int cellColumn = across.cellOf[size_t(x)];
                const int cellRow = down.cellOf[size_t(y)];
                const bool inCell = cellColumn >= 0 && cellColumn < tiles.width() && cellRow >= 0 &&
                                    cellRow < tiles.height();
                for (size_t t = 0; t < tileRects.size(); ++t) {
                    const bool mine = inTile && size_t(row * tiles.width() + column) == t;
                    ASSERT_EQ(tileRects[t].contains(x, y), mine) << "pixel " << x << "," << y;
                    const bool myCell = inCell && size_t(cellRow * tiles.width() + cellColumn) == t;
                    ASSERT_EQ(cellRects[t].contains(x, y), myCell) << "pixel " << x << "," << y;
                }
                const auto placeX = layout.columnAt(x);
                const auto placeY = layout.rowAt(y);
                ASSERT_EQ(placeX.at >= 0 && placeX.within < tileWidth, column >= 0);
                ASSERT_EQ(placeY.at >= 0 && placeY.within < tileHeight, row >= 0);
                ASSERT_EQ(placeX.at >= 0 && placeX.within < tileWidth + gutter, cellColumn >= 0);
                ASSERT_EQ(placeY.at >= 0 && placeY.within < tileHeight + gutter, cellRow >= 0);
                if (cellColumn >= 0) {
                    ASSERT_EQ(placeX.at, cellColumn);
                }
                if (cellRow >= 0) {
                    ASSERT_EQ(placeY.at, cellRow);
                }
            }

        // A block of tiles, inside the sheet or beyond it, to its pixels and back; any other
        // rectangle spans no block.
        const QRect block(int(random() % 4), int(random() % 4), 1 + int(random() % 3),
                          1 + int(random() % 3));
        const auto [left, right] = blockAlong(across, block.left(), block.width());
        const auto [top, bottom] = blockAlong(down, block.top(), block.height());
        const QRect pixels(QPoint(left, top), QPoint(right, bottom));
        ASSERT_EQ(layout.blockRect(block), pixels);
        ASSERT_EQ(layout.tilesSpanning(pixels), block);
        const QRect other = pixels.adjusted(int(random() % 3) - 1, int(random() % 3) - 1,
                                            int(random() % 3) - 1, int(random() % 3) - 1);
        std::optional<QRect> spanned;
        for (int column = 0; column < 8; ++column)
            for (int columns = 1; columns < 8; ++columns)
                for (int row = 0; row < 8; ++row)
                    for (int rows = 1; rows < 8; ++rows)
                        if (blockAlong(across, column, columns) ==
                                std::pair(other.left(), other.right()) &&
                            blockAlong(down, row, rows) == std::pair(other.top(), other.bottom()))
                            spanned = QRect(column, row, columns, rows);
        ASSERT_EQ(layout.tilesSpanning(other), spanned)
            << "pixels " << other.x() << "," << other.y() << " " << other.width() << "x"
            << other.height();
        // Any rectangle to the whole tiles with a pixel of their own inside it.
        const QPoint corner(int(random() % 70) - 5, int(random() % 70) - 5);
        const QRect probe(corner, QSize(int(random() % 20), int(random() % 20)));
        QRect touched;
        for (int y = std::max(probe.top(), 0); y <= probe.bottom(); ++y)
            for (int x = std::max(probe.left(), 0); x <= probe.right(); ++x) {
                const int column = across.tileOf[size_t(x)];
                const int row = down.tileOf[size_t(y)];
                if (column >= 0 && column < tiles.width() && row >= 0 && row < tiles.height())
                    touched |= QRect(column, row, 1, 1);
            }
        ASSERT_EQ(layout.tilesTouching(probe, tiles), touched)
            << "probe " << probe.x() << "," << probe.y() << " " << probe.width() << "x"
            << probe.height();

        // count tiles packed into columns, and the sheet they make, read back whole.
        const int count = 1 + int(random() % 30);
        const int columns = 1 + int(random() % 7);
        int rows = 0;
        for (int k = 0; k < count; ++k)
            rows = std::max(rows, k / columns + 1);
        const QSize packed = TileLayout::packed(count, columns);
        ASSERT_EQ(packed, QSize(columns, rows));
        const QSize size = layout.imageSize(packed);
        const Axis packedAcross = walk(size.width(), tileWidth, margin, spacing, gutter);
        const Axis packedDown = walk(size.height(), tileHeight, margin, spacing, gutter);
        ASSERT_EQ(size, QSize(blockAlong(packedAcross, 0, columns).second + 1 + margin,
                              blockAlong(packedDown, 0, rows).second + 1 + margin));
        ASSERT_EQ(layout.tilesIn(size), packed);
        ASSERT_EQ(layout.strips(size), QSize(0, 0));
    }
}

} // namespace

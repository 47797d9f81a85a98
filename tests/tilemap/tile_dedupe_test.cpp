#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "level/tile_remap.h"
#include "support/test_images.h"
#include "tilemap/tile_dedupe.h"

namespace {

QImage tileAt(const QImage& sheet, int number, TileShape tile, TileShape cell)
{
    const int columns = sheet.width() / cell.width;
    return sheet.copy(number % columns * cell.width, number / columns * cell.height, tile.width,
                      tile.height);
}

// Random sheets with planted copies, turned copies and copies that differ in one alpha value: every
// tile is its kept tile turned by its symmetry (checked with whole-image mirrors and transposes, so
// a tile that is not square and is said to be a quarter turn of another fails), and kept tiles are
// the first of their group and no two are alike. Half the sheets have tiles that are not square;
// some give tiles kinds and mark some unturned, which only tiles of one kind may join, unturned.
TEST(TileDedupe, KeepsTheFirstOfEveryGroup)
{
    std::mt19937 random(5);
    for (int round = 0; round < 60; ++round) {
        const bool flips = round % 2 == 1;
        const int gutter = round % 3 == 0 ? 1 : 0;
        const int side = 2 + int(random() % 4);
        const TileShape shape =
            round % 4 < 2 ? TileShape(side) : TileShape(side, 2 + int(random() % 4));
        const TileShape cell = shape.grown(gutter);
        const int columns = 1 + int(random() % 7);
        const int rows = 1 + int(random() % 5);
        QImage sheet(columns * cell.width + int(random() % unsigned(cell.width)),
                     rows * cell.height, QImage::Format_ARGB32);
        sheet.fill(qRgba(9, 9, 9, 9));
        for (int t = 0; t < columns * rows; ++t) {
            QImage tile(shape.size(), QImage::Format_ARGB32);
            const int kind = int(random() % 4);
            if (t == 0 || kind == 0) {
                for (int y = 0; y < shape.height; ++y)
                    for (int x = 0; x < shape.width; ++x)
                        tile.setPixel(x, y, qRgba(int(random() % 2) * 255, 0, 0,
                                                  int(random() % 2) * 255));
            } else {
                // Only the mirrors keep a tile that is not square in its shape.
                const unsigned turn = kind == 1 ? 0 : random() % 8 & (shape.square() ? 7u : 6u);
                tile = turnedTile(tileAt(sheet, int(random() % unsigned(t)), shape, cell), turn);
                if (kind == 3)
                    tile.setPixel(1, 1, tile.pixel(1, 1) ^ 0x01000000u);
            }
            for (int y = 0; y < shape.height; ++y)
                for (int x = 0; x < shape.width; ++x)
                    sheet.setPixel(t % columns * cell.width + x, t / columns * cell.height + y,
                                   tile.pixel(x, y));
        }

        TileKinds kinds;
        if (round % 5 > 2)  // a shorter list: the tiles past it are of kind 0
            for (int t = 0; t + 1 < columns * rows; ++t) {
                kinds.kind.push_back(uint32_t(random() % 3 == 0 ? random() % 3 : 0));
                kinds.unturned.push_back(random() % 3 == 0);
            }
        const auto kindOf = [&](size_t t) { return t < kinds.kind.size() ? kinds.kind[t] : 0; };
        const auto unturned = [&](size_t t) {
            return t < kinds.unturned.size() && kinds.unturned[t];
        };
        const TileDuplicates groups = findDuplicateTiles(sheet, shape, cell, flips, kinds);
        ASSERT_EQ(groups.keptIndexOf.size(), size_t(columns * rows));
        for (int t = 0; t < columns * rows; ++t) {
            const int kept = groups.kept.at(size_t(groups.keptIndexOf[size_t(t)]));
            EXPECT_LE(kept, t);
            EXPECT_EQ(kindOf(size_t(kept)), kindOf(size_t(t)));
            EXPECT_TRUE((flips && !unturned(size_t(t)) && !unturned(size_t(kept))) ||
                        groups.symmetryOf[size_t(t)].isIdentity());
            EXPECT_EQ(turnedTile(tileAt(sheet, kept, shape, cell),
                                 groups.symmetryOf[size_t(t)].bits()),
                      tileAt(sheet, t, shape, cell))
                << round << " " << t;
        }
        for (size_t a = 0; a < groups.kept.size(); ++a) {
            EXPECT_EQ(groups.keptIndexOf[size_t(groups.kept[a])], int32_t(a));
            for (size_t b = 0; b < a; ++b)
                for (unsigned g = 0; kindOf(size_t(groups.kept[a])) == kindOf(size_t(groups.kept[b])) &&
                                     g < (flips && !unturned(size_t(groups.kept[a])) &&
                                                  !unturned(size_t(groups.kept[b]))
                                              ? 8u
                                              : 1u);
                     ++g)
                    EXPECT_NE(turnedTile(tileAt(sheet, groups.kept[b], shape, cell), g),
                              tileAt(sheet, groups.kept[a], shape, cell));
        }
    }
}

}  // namespace

// Random kept tiles (some tiles merged into earlier ones, some dropped) with random blocks of
// kept tiles: laid out in new columns, every tile still shows its kept tile, each kept tile has
// one place, and every block moves together as the levels' remap checks it.
TEST(TileDedupe, BlocksOfKeptTilesKeepTheirShape)
{
    std::mt19937 random(8);
    int laidOut = 0; // rounds whose blocks moved
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const int columns = 2 + int(random() % 5), rows = 1 + int(random() % 5);
        const int count = columns * rows;
        std::vector<TileBlock> blocks;
        std::vector<bool> inBlock(size_t(count), false);
        for (int b = int(random() % 3); b > 0; --b) {
            TileBlock block{0, columns, int32_t(random() % rows), int32_t(random() % columns),
                            1, 1};
            block.across = 1 + int32_t(random() % (columns - block.column));
            block.down = 1 + int32_t(random() % (rows - block.row));
            blocks.push_back(block);
            for (int r = 0; r < block.down; ++r)
                for (int c = 0; c < block.across; ++c)
                    inBlock[size_t((block.row + r) * columns + block.column + c)] = true;
        }
        std::vector<int32_t> kept, keptIndexOf(size_t(count), TileRemap::kDropped);
        for (int t = 0; t < count; ++t) {
            const unsigned fate = inBlock[size_t(t)] ? 0 : random() % 4;
            if (fate == 0 || kept.empty()) {
                keptIndexOf[size_t(t)] = int32_t(kept.size());
                kept.push_back(t);
            } else if (fate == 1) {
                keptIndexOf[size_t(t)] = int32_t(random() % kept.size());
            }
        }
        std::vector<int32_t> shows(size_t(count), -1); // tile -> the kept tile it shows
        for (int t = 0; t < count; ++t)
            if (keptIndexOf[size_t(t)] >= 0)
                shows[size_t(t)] = kept[size_t(keptIndexOf[size_t(t)])];
        const int newColumns = columns + int(random() % 3) - 1;
        const std::vector<int32_t> before = kept, indexBefore = keptIndexOf;
        keepBlocksTogether(kept, keptIndexOf, blocks, std::max(newColumns, 1));
        // Every place shows a tile: the kept ones, and dropped ones that fill places.
        std::vector<int32_t> placed = kept;
        std::sort(placed.begin(), placed.end());
        EXPECT_TRUE(std::includes(placed.begin(), placed.end(), before.begin(), before.end()));
        for (const int32_t tile : kept) {
            EXPECT_TRUE(tile >= 0 && (std::count(before.begin(), before.end(), tile) ||
                                      shows[size_t(tile)] < 0));
        }
        for (int t = 0; t < count; ++t) {
            if (shows[size_t(t)] < 0 && keptIndexOf[size_t(t)] < 0)
                continue;
            EXPECT_EQ(kept[size_t(keptIndexOf[size_t(t)])],
                      shows[size_t(t)] >= 0 ? shows[size_t(t)] : t);
        }
        TileRemap remap;
        remap.newIndexOf = keptIndexOf;
        remap.newTiles = int32_t(kept.size());
        remap.columns = columns;
        remap.newColumnCount = std::max(newColumns, 1);
        EXPECT_EQ(remap.check(), QString());
        // Where too few tiles are dropped to fill the places, nothing changes.
        if (kept == before && keptIndexOf == indexBefore)
            continue;
        laidOut += !blocks.empty();
        for (const TileBlock& block : blocks) {
            if (block.across > std::max(newColumns, 1))
                continue;
            EXPECT_TRUE(remap.movesTogether(block.row * columns + block.column, block.across,
                                            block.down, columns, std::max(newColumns, 1)));
        }
    }
    EXPECT_GT(laidOut, 30);
}

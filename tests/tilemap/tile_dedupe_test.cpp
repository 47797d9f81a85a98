#include <gtest/gtest.h>

#include <random>

#include "support/test_images.h"
#include "tilemap/tile_dedupe.h"

namespace {

constexpr int kTile = 4;

QImage tileAt(const QImage& sheet, int number, int pitch)
{
    const int columns = sheet.width() / pitch;
    return sheet.copy(number % columns * pitch, number / columns * pitch, kTile, kTile);
}

// Random sheets with planted copies, turned copies and copies that differ in one alpha value: every
// tile is its kept tile turned by its symmetry (checked with whole-image mirrors), and kept tiles
// are the first of their group and no two are alike.
TEST(TileDedupe, KeepsTheFirstOfEveryGroup)
{
    std::mt19937 random(5);
    for (int round = 0; round < 40; ++round) {
        const bool flips = round % 2 == 1;
        const int gutter = round % 3 == 0 ? 1 : 0;
        const int pitch = kTile + gutter;
        const int columns = 1 + int(random() % 7);
        const int rows = 1 + int(random() % 5);
        QImage sheet(columns * pitch + int(random() % pitch), rows * pitch, QImage::Format_ARGB32);
        sheet.fill(qRgba(9, 9, 9, 9));
        for (int t = 0; t < columns * rows; ++t) {
            QImage tile(kTile, kTile, QImage::Format_ARGB32);
            const int kind = int(random() % 4);
            if (t == 0 || kind == 0) {
                for (int y = 0; y < kTile; ++y)
                    for (int x = 0; x < kTile; ++x)
                        tile.setPixel(x, y, qRgba(int(random() % 2) * 255, 0, 0,
                                                  int(random() % 2) * 255));
            } else {
                tile = turnedTile(tileAt(sheet, int(random() % unsigned(t)), pitch),
                                  kind == 1 ? 0 : random() % 8);
                if (kind == 3)
                    tile.setPixel(1, 2, tile.pixel(1, 2) ^ 0x01000000u);
            }
            for (int y = 0; y < kTile; ++y)
                for (int x = 0; x < kTile; ++x)
                    sheet.setPixel(t % columns * pitch + x, t / columns * pitch + y,
                                   tile.pixel(x, y));
        }

        const TileDuplicates groups = findDuplicateTiles(sheet, kTile, pitch, flips);
        ASSERT_EQ(groups.keptIndexOf.size(), size_t(columns * rows));
        for (int t = 0; t < columns * rows; ++t) {
            const int kept = groups.kept.at(size_t(groups.keptIndexOf[size_t(t)]));
            EXPECT_LE(kept, t);
            EXPECT_TRUE(flips || groups.symmetryOf[size_t(t)].isIdentity());
            EXPECT_EQ(turnedTile(tileAt(sheet, kept, pitch), groups.symmetryOf[size_t(t)].bits()),
                      tileAt(sheet, t, pitch))
                << round << " " << t;
        }
        for (size_t a = 0; a < groups.kept.size(); ++a) {
            EXPECT_EQ(groups.keptIndexOf[size_t(groups.kept[a])], int32_t(a));
            for (size_t b = 0; b < a; ++b)
                for (unsigned g = 0; g < (flips ? 8u : 1u); ++g)
                    EXPECT_NE(turnedTile(tileAt(sheet, groups.kept[b], pitch), g),
                              tileAt(sheet, groups.kept[a], pitch));
        }
    }
}

}  // namespace

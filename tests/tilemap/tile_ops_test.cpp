#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "support/test_images.h"
#include "tilemap/map_file.h"
#include "tilemap/tile_ops.h"

namespace {

Sheet makeSheet(int width, int height, int tileSize, int gridFlag,
                QImage::Format format = QImage::Format_BGR888)
{
    Sheet sheet;
    sheet.tileSize = tileSize;
    sheet.gridFlag = gridFlag;
    sheet.workingImage = makeTestImage(width, height, format);
    rebuildTileMap(sheet);
    return sheet;
}

// ---- rebuildTileMap ----

struct RebuildCase {
    int width;
    int height;
    int tileSize;
    int gridFlag;
    int columns;
    int rows;
};

class Rebuild : public ::testing::TestWithParam<RebuildCase> {};

TEST_P(Rebuild, NumbersTheFullTilesRowByRowAndLeavesTheSpareEntriesZero)
{
    const RebuildCase c = GetParam();
    Sheet sheet;
    sheet.tileSize = c.tileSize;
    sheet.gridFlag = c.gridFlag;
    if (c.width > 0)
        sheet.workingImage = QImage(c.width, c.height, QImage::Format_BGR888);
    sheet.tileMap.at(0, 0) = 77;
    sheet.remapped = 1;

    rebuildTileMap(sheet);

    const TileMap& map = sheet.tileMap;
    EXPECT_EQ(sheet.remapped, 0);
    ASSERT_EQ(map.columns(), c.columns);
    ASSERT_EQ(map.rows(), c.rows);
    EXPECT_EQ(map.extentX(), c.columns + 1);
    EXPECT_EQ(map.extentY(), c.rows + 1);
    int expected = 0;
    for (int y = 0; y <= c.rows; ++y) {
        for (int x = 0; x <= c.columns; ++x) {
            const bool full = x < c.columns && y < c.rows;
            EXPECT_EQ(isFullTile(map, x, y), full) << x << "," << y;
            EXPECT_EQ(map.at(x, y), full ? expected++ : 0) << x << "," << y;
        }
    }
    EXPECT_EQ(expected, c.columns * c.rows);
}

INSTANTIATE_TEST_SUITE_P(Geometries, Rebuild,
                         ::testing::Values(RebuildCase{40, 24, 8, 0, 5, 3},
                                           RebuildCase{20, 20, 16, 0, 1, 1},
                                           RebuildCase{45, 18, 8, 1, 5, 2},
                                           RebuildCase{7, 40, 8, 0, 0, 5},
                                           RebuildCase{40, 16, 16, 1, 2, 0},
                                           RebuildCase{0, 0, 16, 0, 0, 0}),
                         [](const testing::TestParamInfo<RebuildCase>& info) {
                             const RebuildCase& c = info.param;
                             return std::to_string(c.width) + "x" + std::to_string(c.height) +
                                    "_Tile" + std::to_string(c.tileSize) +
                                    (c.gridFlag ? "_Grid" : "");
                         });

TEST(RebuildTileMap, TheExampleSheetHoldsFourteenAtColumnFourRowTwo)
{
    Sheet sheet;
    sheet.tileSize = 8;
    sheet.workingImage = QImage(40, 24, QImage::Format_BGR888);
    rebuildTileMap(sheet);
    EXPECT_EQ(sheet.tileMap.at(4, 2), 14);
}

TEST(RebuildTileMap, NumbersBeyondSixteenBitsStayExact)
{
    // 256 x 128 tiles is exactly 32768; 256 x 256 is 65536.
    for (const int height : {1024, 2048}) {
        Sheet sheet;
        sheet.tileSize = 8;
        sheet.workingImage = QImage(2048, height, QImage::Format_BGR888);
        rebuildTileMap(sheet);
        const TileMap& map = sheet.tileMap;
        ASSERT_EQ(map.fullTiles(), 256 * (height / 8));
        EXPECT_EQ(map.at(map.columns() - 1, map.rows() - 1), map.fullTiles() - 1);
        EXPECT_EQ(map.at(0, map.rows() - 1), (map.rows() - 1) * 256);
        EXPECT_TRUE(map.isIdentity());
        EXPECT_EQ(map.at(map.columns(), map.rows() - 1), 0);
    }
}

// ---- swapTiles ----

class SwapAtPitch : public ::testing::TestWithParam<std::tuple<int, int, QImage::Format>> {};

TEST_P(SwapAtPitch, ExchangesWholePitchBlocksAndMapEntries)
{
    const auto [tileSize, gridFlag, format] = GetParam();
    const int p = tileSize + gridFlag;
    // Three full columns and two full rows, with partial strips at the right and bottom.
    Sheet sheet = makeSheet(3 * p + 5, 2 * p + 3, tileSize, gridFlag, format);
    const QImage original = sheet.workingImage.copy();
    const TileMap originalMap = sheet.tileMap;

    ASSERT_TRUE(swapTiles(sheet, 0, 0, 2, 1));

    EXPECT_EQ(sheet.remapped, 1);
    EXPECT_EQ(sheet.tileMap.at(0, 0), originalMap.at(2, 1));
    EXPECT_EQ(sheet.tileMap.at(2, 1), originalMap.at(0, 0));
    // Every pixel of the two blocks, grid lines included, moved; every other pixel stayed.
    const QImage& image = sheet.workingImage;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            int fromX = x, fromY = y;
            if (x < p && y < p)
                fromX += 2 * p, fromY += p;
            else if (x >= 2 * p && x < 3 * p && y >= p && y < 2 * p)
                fromX -= 2 * p, fromY -= p;
            ASSERT_EQ(rgbAt(image, x, y), rgbAt(original, fromX, fromY)) << x << "," << y;
        }
    }

    // The same swap again puts everything back; the map stays marked as remapped.
    ASSERT_TRUE(swapTiles(sheet, 2, 1, 0, 0));
    EXPECT_TRUE(sameRgb(sheet.workingImage, original));
    EXPECT_EQ(sheet.tileMap, originalMap);
    EXPECT_EQ(sheet.remapped, 1);
}

INSTANTIATE_TEST_SUITE_P(Pitches, SwapAtPitch,
                         ::testing::Combine(::testing::Values(8, 16), ::testing::Values(0, 1),
                                            ::testing::Values(QImage::Format_BGR888,
                                                              QImage::Format_RGB32)),
                         [](const auto& info) {
                             return "Tile" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_Grid" : "_NoGrid") +
                                    (std::get<2>(info.param) == QImage::Format_BGR888 ? "_24bit"
                                                                                      : "_32bit");
                         });

TEST(SwapTiles, RefusesAnythingButTwoDifferentFullTiles)
{
    struct Refused {
        const char* what;
        int x1, y1, x2, y2;
    };
    // 3 x 2 full tiles of 8 with partial strips.
    const Refused cases[] = {
        {"same tile", 1, 1, 1, 1},       {"partial column", 0, 0, 3, 0},
        {"partial row", 1, 0, 1, 2},     {"partial corner", 3, 2, 0, 0},
        {"left of the sheet", -1, 0, 0, 0}, {"above the sheet", 0, 0, 0, -1},
        {"far outside", 0, 0, 40, 40},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what);
        Sheet sheet = makeSheet(3 * 8 + 5, 2 * 8 + 3, 8, 0);
        const QImage before = sheet.workingImage.copy();
        const TileMap mapBefore = sheet.tileMap;

        EXPECT_FALSE(swapTiles(sheet, c.x1, c.y1, c.x2, c.y2));

        EXPECT_EQ(sheet.workingImage, before);
        EXPECT_EQ(sheet.tileMap, mapBefore);
        EXPECT_EQ(sheet.remapped, 0);
    }
}

TEST(SwapTiles, WithoutAnImageNothingHappens)
{
    Sheet sheet;
    rebuildTileMap(sheet);
    EXPECT_FALSE(swapTiles(sheet, 0, 0, 1, 0));
    EXPECT_EQ(sheet.remapped, 0);
}

// ---- restoring ----

// Restoring as a user would do it by hand: split the list in half, sort both halves, merge taking
// the first half's record whenever its number is less than or equal. Gives, for each position row
// by row, where its tile stood.
std::vector<int> referenceOrder(const std::vector<int32_t>& numbers, std::vector<int> positions)
{
    if (positions.size() < 2)
        return positions;
    const auto half = positions.begin() + std::ptrdiff_t(positions.size() / 2);
    std::vector<int> left = referenceOrder(numbers, std::vector<int>(positions.begin(), half));
    std::vector<int> right = referenceOrder(numbers, std::vector<int>(half, positions.end()));
    std::vector<int> merged;
    size_t i = 0, j = 0;
    while (i < left.size() && j < right.size())
        merged.push_back(numbers[size_t(left[i])] <= numbers[size_t(right[j])] ? left[i++]
                                                                                : right[j++]);
    merged.insert(merged.end(), left.begin() + std::ptrdiff_t(i), left.end());
    merged.insert(merged.end(), right.begin() + std::ptrdiff_t(j), right.end());
    return merged;
}

// Checks that restoredImage put the tile from order[k] at position k and left the partial strips.
void expectPlacedBy(const QImage& restored, const QImage& source, const TileMap& map, int pitch,
                    const std::vector<int>& order)
{
    ASSERT_EQ(restored.size(), source.size());
    ASSERT_EQ(restored.format(), source.format());
    const int columns = map.columns();
    for (size_t k = 0; k < order.size(); ++k) {
        const int from = order[k];
        EXPECT_TRUE(sameBlock(restored, int(k) % columns * pitch, int(k) / columns * pitch, source,
                              from % columns * pitch, from / columns * pitch, pitch, pitch))
            << "position " << k << " should hold the tile from " << from;
    }
    const int tilesWidth = columns * pitch;
    const int tilesHeight = map.rows() * pitch;
    EXPECT_TRUE(sameBlock(restored, tilesWidth, 0, source, tilesWidth, 0,
                          source.width() - tilesWidth, source.height()));
    EXPECT_TRUE(sameBlock(restored, 0, tilesHeight, source, 0, tilesHeight, source.width(),
                          source.height() - tilesHeight));
}

std::vector<int32_t> numbersOf(const TileMap& map)
{
    std::vector<int32_t> numbers;
    for (int y = 0; y < map.rows(); ++y)
        for (int x = 0; x < map.columns(); ++x)
            numbers.push_back(map.at(x, y));
    return numbers;
}

std::vector<int> positionsOf(const TileMap& map)
{
    std::vector<int> positions(size_t(map.fullTiles()));
    for (size_t i = 0; i < positions.size(); ++i)
        positions[i] = int(i);
    return positions;
}

TEST(RestoreTileOrder, AnIdentityMapLeavesEveryPixel)
{
    for (const int gridFlag : {0, 1}) {
        Sheet sheet = makeSheet(61, 45, 8, gridFlag);
        const QImage before = sheet.workingImage.copy();
        sheet.remapped = 1;
        ASSERT_TRUE(restoreTileOrder(sheet));
        EXPECT_TRUE(sameRgb(sheet.workingImage, before));
        EXPECT_EQ(sheet.workingImage.format(), before.format());
        EXPECT_EQ(sheet.remapped, 0);
    }
}

TEST(RestoreTileOrder, PutsTwoSwappedTilesOfAThreeByTwoSheetBack)
{
    Sheet sheet = makeSheet(3 * 16, 2 * 16, 16, 0);
    const QImage original = sheet.workingImage.copy();
    ASSERT_TRUE(swapTiles(sheet, 0, 0, 2, 1));
    EXPECT_EQ(numbersOf(sheet.tileMap), (std::vector<int32_t>{5, 1, 2, 3, 4, 0}));

    ASSERT_TRUE(restoreTileOrder(sheet));

    EXPECT_TRUE(sameRgb(sheet.workingImage, original));
    EXPECT_EQ(sheet.remapped, 0);
    // The map is for the caller to rebuild.
    EXPECT_EQ(sheet.tileMap.at(0, 0), 5);
}

TEST(RestoredImage, RepeatedNumbersKeepTheOrderWhereTheTilesStood)
{
    const QImage source = makeTestImage(3 * 8, 8);
    TileMap map(4, 2);
    map.at(0, 0) = 1;
    map.at(1, 0) = 0;
    map.at(2, 0) = 0;
    const QImage restored = restoredImage(source, map, 8);
    // Position 0 gets the tile from 1, position 1 the one from 2, position 2 the one from 0.
    expectPlacedBy(restored, source, map, 8, {1, 2, 0});
}

TEST(RestoredImage, AgreesWithTheReferenceMergeSortOnAnyNumbers)
{
    std::mt19937 random(20240607);
    for (int round = 0; round < 200; ++round) {
        std::uniform_int_distribution<int> side(1, 6);
        const int columns = side(random), rows = side(random);
        const int pitch = round % 2 ? 9 : 8;
        const QImage source = makeTestImage(columns * pitch + round % 5, rows * pitch + round % 3,
                                            round % 3 ? QImage::Format_BGR888
                                                      : QImage::Format_RGB32);
        // Few distinct values, many repeats, negatives and the 32-bit extremes.
        const int32_t values[] = {-3, -1, 0, 0, 1, 2, 2, 5, INT32_MIN, INT32_MAX};
        std::uniform_int_distribution<size_t> pick(0, std::size(values) - 1);
        TileMap map(columns + 1, rows + 1);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x)
                map.at(x, y) = values[pick(random)];

        const QImage restored = restoredImage(source, map, pitch);

        SCOPED_TRACE(round);
        expectPlacedBy(restored, source, map, pitch,
                       referenceOrder(numbersOf(map), positionsOf(map)));
    }
}

TEST(RestoreOrder, AgreesWithTheReferenceMergeSortForPermutationsAndNearPermutations)
{
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        const int columns = 1 + round % 7, rows = 1 + round / 7 % 5;
        std::vector<int32_t> numbers(size_t(columns) * size_t(rows));
        for (size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = int32_t(i);
        std::shuffle(numbers.begin(), numbers.end(), random);
        // A true permutation, one number repeated, all shifted up by one, or one negative.
        switch (round % 4) {
        case 1: numbers[size_t(round) % numbers.size()] = numbers[0]; break;
        case 2: for (int32_t& n : numbers) ++n; break;
        case 3: numbers[size_t(round) % numbers.size()] = -1; break;
        }
        TileMap map(columns + 1, rows + 1);
        for (size_t i = 0; i < numbers.size(); ++i)
            map.at(int(i) % columns, int(i) / columns) = numbers[i];

        SCOPED_TRACE(round);
        EXPECT_EQ(restoreOrder(map), referenceOrder(numbers, positionsOf(map)));
    }
}

TEST(RestoredImage, AMapLargerThanTheImageIsRefused)
{
    const QImage source = makeTestImage(16, 16);
    EXPECT_TRUE(restoredImage(source, TileMap::identity(3, 2), 8).isNull());
    EXPECT_TRUE(restoredImage(QImage(), TileMap::identity(1, 1), 8).isNull());
}

TEST(RestoreTileOrder, WithoutAnImageOnlyClearsRemapped)
{
    Sheet sheet;
    sheet.remapped = 1;
    sheet.tileMap.at(1, 1) = 4;
    const TileMap before = sheet.tileMap;
    EXPECT_TRUE(restoreTileOrder(sheet));
    EXPECT_EQ(sheet.remapped, 0);
    EXPECT_EQ(sheet.tileMap, before);
}

TEST(RestoreTileOrder, UndoesRandomSwapsThroughASavedAndReloadedMap)
{
    std::mt19937 random(7);
    for (const int gridFlag : {0, 1}) {
        for (const int tileSize : {8, 16}) {
            SCOPED_TRACE(testing::Message() << tileSize << " grid " << gridFlag);
            Sheet sheet = makeSheet(11 * (tileSize + gridFlag) + 3, 7 * (tileSize + gridFlag) + 1,
                                    tileSize, gridFlag);
            const QImage original = sheet.workingImage.copy();
            const TileMap& map = sheet.tileMap;
            std::uniform_int_distribution<int> column(0, map.columns() - 1);
            std::uniform_int_distribution<int> row(0, map.rows() - 1);
            for (int i = 0; i < 100; ++i)
                swapTiles(sheet, column(random), row(random), column(random), row(random));
            ASSERT_FALSE(sameRgb(sheet.workingImage, original));

            // What a user does another day: the rearranged image, then its map file, then restore.
            const QByteArray text = writeMapText(sheet.tileMap);
            Sheet later;
            later.tileSize = tileSize;
            later.gridFlag = gridFlag;
            later.workingImage = sheet.workingImage;
            rebuildTileMap(later);
            MapParseResult parsed =
                parseMapText(text, later.tileMap.columns(), later.tileMap.rows(), "a", tileSize);
            ASSERT_TRUE(parsed.map) << parsed.error.toStdString();
            later.tileMap = *parsed.map;

            ASSERT_TRUE(restoreTileOrder(later));
            EXPECT_TRUE(sameRgb(later.workingImage, original));
        }
    }
}

TEST(TileMapValue, InverseComposeAndApplyAgreeWithMovingTheTiles)
{
    std::mt19937 random(31);
    for (int round = 0; round < 40; ++round) {
        const int columns = 1 + round % 6, rows = 1 + round / 6 % 4, pitch = round % 2 ? 9 : 8;
        const QImage original = makeTestImage(columns * pitch + round % 4, rows * pitch + 1,
                                              round % 3 ? QImage::Format_BGR888
                                                        : QImage::Format_RGB32);
        auto randomMap = [&] {
            std::vector<int32_t> numbers(size_t(columns) * size_t(rows));
            std::iota(numbers.begin(), numbers.end(), 0);
            std::shuffle(numbers.begin(), numbers.end(), random);
            return TileMap::identity(columns, rows).withNumbers(numbers);
        };
        const TileMap first = randomMap(), next = randomMap();
        SCOPED_TRACE(round);
        ASSERT_TRUE(first.isPermutation());

        // Applying a map puts original tile map[p] at p, and restoring takes it back.
        const QImage arranged = appliedImage(original, first, pitch);
        const std::vector<int32_t> numbers = first.numbers();
        expectPlacedBy(arranged, original, first, pitch,
                       std::vector<int>(numbers.begin(), numbers.end()));
        EXPECT_TRUE(sameRgb(restoredImage(arranged, first, pitch), original));
        // inverse(): where each original tile stands now.
        const TileMap inverse = first.inverse();
        for (int t = 0; t < first.fullTiles(); ++t) {
            const int32_t at = inverse.at(t % columns, t / columns);
            EXPECT_EQ(first.at(at % columns, at / columns), t);
        }
        EXPECT_TRUE(first.compose(inverse).isIdentity());
        // compose(): one rearrangement after the other.
        EXPECT_TRUE(sameRgb(appliedImage(arranged, next, pitch),
                            appliedImage(original, first.compose(next), pitch)));
    }
    TileMap repeated = TileMap::identity(2, 1);
    repeated.at(1, 0) = 0;
    EXPECT_FALSE(repeated.isPermutation());
    EXPECT_TRUE(appliedImage(makeTestImage(16, 8), repeated, 8).isNull());
}

}  // namespace

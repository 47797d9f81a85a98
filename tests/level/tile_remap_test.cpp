#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "level/layer_codec.h"
#include "level/remap_file.h"
#include "level/tile_remap.h"

namespace {

// The remap of a sheet's tile map is its inverse: the tile that now stands at position p came
// from map(p), so that original tile's new index is p.
TEST(TileRemap, OfATileMapIsItsInverse)
{
    std::vector<int32_t> numbers(12);
    std::iota(numbers.begin(), numbers.end(), 0);
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(3));
    TileMap map(5, 4);  // 4 x 3 whole tiles
    for (int p = 0; p < 12; ++p)
        map.at(p % 4, p / 4) = numbers[size_t(p)];

    const TileRemap remap = TileRemap::fromTileMap(map, TileRemap::GridChange::Added);
    EXPECT_TRUE(remap.check().isEmpty());
    EXPECT_EQ(remap.columns, 4);
    for (int p = 0; p < 12; ++p)
        EXPECT_EQ(remap.newIndexOf[size_t(map.at(p % 4, p / 4))], p);
    const TileRemap back = remap.inverse();
    EXPECT_EQ(back.grid, TileRemap::GridChange::Removed);
    for (int tile = 0; tile < 12; ++tile)
        EXPECT_EQ(back.newIndexOf[size_t(remap.newIndexOf[size_t(tile)])], tile);
}

TEST(TileRemap, RefusesWhatIsNoPermutation)
{
    const struct {
        std::vector<int32_t> newIndexOf;
        int columns;
        const char* reason;  // empty: accepted
    } cases[] = {
        {{}, 0, ""},
        {{1, 0, 2}, 3, ""},
        {{0, 0, 2}, 0, "two tiles would stand at position 0"},
        {{0, 3, 1}, 0, "tile 1 has no place among the 3 tiles"},
        {{0, -1}, 0, "tile 1 has no place among the 2 tiles"},
        {{0, 1, 2}, 2, "3 tiles do not fill 2 columns"},
    };
    for (const auto& c : cases) {
        TileRemap remap;
        remap.newIndexOf = c.newIndexOf;
        remap.columns = c.columns;
        EXPECT_EQ(remap.check(), QString::fromUtf8(c.reason));
    }
    TileMap twice = TileMap::identity(2, 1);
    twice.at(1, 0) = 0;
    EXPECT_FALSE(TileRemap::fromTileMap(twice).check().isEmpty());
}

// A remap file gives back every tile's number, symmetry or drop; a damaged one is refused with
// the line at fault.
TEST(RemapFile, ReadsBackWhatItWroteAndNamesTheBadLine)
{
    std::mt19937 random(11);
    TileRemap remap;
    remap.newTiles = 9;
    remap.newColumnCount = 4;
    for (int tile = 0; tile < 40; ++tile) {
        remap.newIndexOf.push_back(tile < 9 ? tile : int32_t(random() % 10) - 1);
        remap.symmetryOf.push_back(TileSymmetry(tile < 9 ? 0 : random() % 8));
    }
    const RemapParseResult back = parseRemapText(writeRemapText(RemapFile{{}, {{{}, remap}}}));
    ASSERT_TRUE(back.single()) << back.error.toStdString();
    EXPECT_EQ(back.single()->newIndexOf, remap.newIndexOf);
    for (size_t tile = 0; tile < 40; ++tile)
        EXPECT_EQ(back.single()->symmetry(tile),
                  remap.newIndexOf[tile] < 0 ? TileSymmetry() : remap.symmetryOf[tile]);
    EXPECT_EQ(back.single()->newTileCount(), 9);
    EXPECT_EQ(back.single()->newColumns(), 4);

    // Version 2 names the atlas and each sheet (paths with spaces too) with its tiles' shape and
    // columns. The tiles of two sheets together show every new tile; neither does alone.
    TileRemap first = remap, second = remap;
    first.newIndexOf.assign(remap.newIndexOf.begin(), remap.newIndexOf.begin() + 5);
    first.symmetryOf.assign(remap.symmetryOf.begin(), remap.symmetryOf.begin() + 5);
    second.newIndexOf.assign(remap.newIndexOf.begin() + 5, remap.newIndexOf.end());
    second.symmetryOf.assign(remap.symmetryOf.begin() + 5, remap.symmetryOf.end());
    first.tile = TileShape(32, 64);
    first.columns = 5;
    second.tile = TileShape(32, 64);
    second.columns = 7;
    const RemapFile merged{QStringLiteral("atlas.png"),
                           {{QStringLiteral("art/tree sheet.png"), first},
                            {QStringLiteral("b.png"), second}}};
    const RemapParseResult named = parseRemapText(writeRemapText(merged));
    ASSERT_TRUE(named.file) << named.error.toStdString();
    EXPECT_EQ(named.single(), nullptr);
    EXPECT_EQ(named.file->atlas, QStringLiteral("atlas.png"));
    ASSERT_EQ(named.file->sheets.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const TileRemap& read = named.file->sheets[i].remap;
        const TileRemap& written = merged.sheets[i].remap;
        EXPECT_EQ(named.file->sheets[i].path, merged.sheets[i].path);
        EXPECT_EQ(read.newIndexOf, written.newIndexOf);
        for (size_t tile = 0; tile < read.newIndexOf.size(); ++tile)
            EXPECT_EQ(read.symmetry(tile), read.newIndexOf[tile] < 0 ? TileSymmetry()
                                                                     : written.symmetryOf[tile]);
        EXPECT_TRUE(read.tile == TileShape(32, 64));
        EXPECT_EQ(read.columns, written.columns);
        EXPECT_EQ(read.newTileCount(), 9);
    }

    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"tilegrid-remap 3\n1 1\n0\n", "line 1: "},
        {"tilegrid-remap 2\n1 1\n0\n", "line 2: the second line names the atlas"},
        {"tilegrid-remap 2\natlas a.png\n1\n", "line 3: the third line holds"},
        {"tilegrid-remap 2\natlas a.png\n1 1\n0\n", "line 4: the tiles of a sheet follow its line"},
        {"tilegrid-remap 2\natlas a.png\n1 1\nsheet b.png\ntiles 8x 2\n0\n", "line 5: "},
        {"tilegrid-remap 2\natlas a.png\n1 1\nsheet b.png\n", "line 4: the file ends before"},
        {"tilegrid-remap 2\natlas a.png\n1 1\nsheet b.png\ntiles 8x8 1\n1\n", "line 6: tile 0"},
        {"tilegrid-remap 2\natlas a.png\n2 1\nsheet b.png\ntiles 8x8 1\n0\nsheet c.png\ntiles 8x8 1\n0\n",
         "line 3: new tile 1 is shown by no tile"},
        {"tilegrid-remap 1\n1\n0\n", "line 2: "},
        {"tilegrid-remap 1\n2 0\n0\n1\n", "line 2: "},
        {"tilegrid-remap 1\r\n2 2\r\n0\r\n1 hx\r\n", "line 4: "},
        {"tilegrid-remap 1\n2 2\n0\n1 hh\n", "line 4: "},
        {"tilegrid-remap 1\n2 2\n0\n\n1\n", "line 4: "},
        {"tilegrid-remap 1\n2 2\n0\n2 v\n", "line 4: tile 1 becomes 2"},
        {"tilegrid-remap 1\n2 2\n0 v\ndropped\n\n", "line 2: new tile 1 is shown by no tile"},
        {"tilegrid-remap 1\n", "line 1: "},
        // At most nine digits, leading zeros counted.
        {"tilegrid-remap 1\n0000000001 1\n0\n", "line 2: the second line holds"},
        {"tilegrid-remap 1\n1 0000000001\n0\n", "line 2: the second line holds"},
        {"tilegrid-remap 1\n1 1\n0000000000\n", "line 3: \"0000000000\" is not a tile number"},
    };
    for (const auto& c : bad) {
        const RemapParseResult result = parseRemapText(QByteArray(c.text));
        EXPECT_FALSE(result.file) << c.text;
        EXPECT_TRUE(result.error.startsWith(QLatin1StringView(c.error))) << result.error.toStdString();
    }
}

// Layer data that lies about its size or is damaged is refused with the reason, whatever the
// method; a claim of many cells backed by little data is refused without taking their memory.
TEST(LayerCodec, RefusesDataThatDoesNotFitTheLayer)
{
    const std::vector<uint32_t> four = {1, 2, 3, 4};
    const struct {
        LayerCompression method;
        QByteArray text;
        qint64 cells;
        const char* reason;
    } cases[] = {
        {LayerCompression::None, encodeLayerData(four, LayerCompression::None), 5,
         "the data holds 4 cells instead of 5"},
        {LayerCompression::None, "AQAAAAI=", 2, "the data ends in the middle of a cell"},
        {LayerCompression::None, "AQ$A", 1, "the data is not valid base64"},
        {LayerCompression::Zlib, encodeLayerData(four, LayerCompression::Zlib), 3,
         "the data holds more cells than the layer"},
        {LayerCompression::Zlib, encodeLayerData(four, LayerCompression::Zlib), 5,
         "the data holds 4 cells instead of 5"},
        {LayerCompression::Zlib, encodeLayerData(four, LayerCompression::Gzip), 4,
         "the zlib data is damaged"},
        {LayerCompression::Gzip, encodeLayerData(four, LayerCompression::Zlib), 4,
         "the gzip data is damaged"},
        {LayerCompression::Gzip,
         QByteArray::fromBase64(encodeLayerData(four, LayerCompression::Gzip))
             .append("x")
             .toBase64(),
         4, "bytes follow the end of the gzip data"},
        {LayerCompression::Zstd, encodeLayerData(four, LayerCompression::Zstd), 3,
         "the data holds more cells than the layer"},
        {LayerCompression::Zstd, encodeLayerData(four, LayerCompression::Zstd), 5,
         "the data holds 4 cells instead of 5"},
        {LayerCompression::Zstd,
         QByteArray::fromBase64(encodeLayerData(four, LayerCompression::Zstd))
             .chopped(3)
             .toBase64(),
         4, "the zstd data ends too early"},
        {LayerCompression::Zstd, encodeLayerData(four, LayerCompression::Zlib), 4,
         "the zstd data is damaged"},
        {LayerCompression::Zlib, encodeLayerData(four, LayerCompression::Zlib), qint64(1) << 40,
         "it holds 1099511627776 cells, more than the 67108864"},
        {LayerCompression::None, encodeLayerData(four, LayerCompression::None), -1,
         "the layer's size is negative"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::vector<uint32_t> cells;
        QString error;
        EXPECT_FALSE(decodeLayerData(c.text, c.method, c.cells, cells, error));
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.reason))) << error.toStdString();
    }
    // Blanks and line breaks between the characters are allowed.
    std::vector<uint32_t> cells;
    QString error;
    EXPECT_TRUE(decodeLayerData("\n  AQAAAAIA\r\n  AAADAAAABAAAAA==\n", LayerCompression::None, 4,
                                cells, error));
    EXPECT_EQ(cells, four);
}

}  // namespace

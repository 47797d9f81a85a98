#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <ostream>
#include <random>
#include <vector>

#include "level/tile_remap.h"

// Messages show as text in test failures.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << text.toStdString();
}

// Levels made and read back for the remap tests, independently of the remap's own readers: the
// XML side reads with a plain QXmlStreamReader, the JSON side with QJsonDocument. Only the base64
// layer codec is shared.

struct TestTileset {
    int64_t firstGid = 1;
    int tileCount = 0;
    int columns = 1;
    QString image;  // its image source
    int tileWidth = 8;
    int tileHeight = 8;
};

struct TestLayer {
    QString name;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> cells;  // row by row
    bool inGroup = false;         // written inside a group layer
};

struct TestLevel {
    std::vector<TestTileset> tilesets;
    size_t sheet = 0;  // which tileset shows the sheet
    std::vector<TestLayer> layers;
    std::vector<uint32_t> objectGids;  // tile objects in one object layer
    int chunkSize = 0;                 // > 0: an infinite map, layers written in chunks this wide
    // Tile ids of the sheet named in its tileset: <tile id> entries (each with one animation
    // frame naming the next tile, and a property "tile" naming its own tile), Wang tiles and a
    // Wang set's tile, in this order.
    std::vector<int> tileEntries;
    std::vector<int> wangTiles;
    int wangSetTile = -1;
};

enum class TestEncoding { Elements, Csv, Base64, Zlib, Gzip, Zstd };
inline constexpr TestEncoding kAllTestEncodings[] = {TestEncoding::Elements, TestEncoding::Csv,
                                                     TestEncoding::Base64,   TestEncoding::Zlib,
                                                     TestEncoding::Gzip,     TestEncoding::Zstd};
const char* encodingName(TestEncoding encoding);

// What a reader finds again: each layer's cells (chunks put together), the tile objects' gids and
// the sheet tileset's tile ids in the order the writer put them (entries each followed by their
// frame, then Wang tiles, then the Wang set's tile).
struct ReadBack {
    std::vector<std::vector<uint32_t>> layers;
    std::vector<uint32_t> objectGids;
    std::vector<int> sheetTileIds;
    std::vector<int> tileProperties;  // the values of the entries' "tile" properties, in order
    QString error;  // set when the text could not be read
};

QByteArray writeTmx(const TestLevel& level, TestEncoding encoding);
ReadBack readTmx(const QByteArray& text);
// JSON forms have no element encoding: Elements and Csv both give arrays.
QByteArray writeTmj(const TestLevel& level, TestEncoding encoding, bool indented);
ReadBack readTmj(const QByteArray& text);

// The tile ids the writers put into a sheet tileset, in order (see ReadBack::sheetTileIds).
std::vector<int> writtenTileIds(const TestLevel& level);

// A random remap of columns x rows tiles.
TileRemap randomRemap(int columns, int rows, std::mt19937& random);

// A random level: a sheet of remap's tile count among up to three other tilesets, one to three
// layers of random size whose cells are empty, tiles of the sheet or of the others, each with
// random flip flags; tile objects; per-tile data. chunkSize > 0 makes it infinite.
TestLevel randomLevel(const TileRemap& remap, int columns, std::mt19937& random, int chunkSize = 0);

// What the cells show, 3 x 3 pixels a cell: the tile each gid names, flipped and rotated as its
// top four bits say, black for empty cells. Every tile has its own asymmetric pattern. The sheet's
// position p shows original tile positionHolds[p]; the identity for the sheet as it was.
QImage renderCells(const std::vector<uint32_t>& cells, int width,
                   const std::vector<TestTileset>& tilesets, size_t sheet,
                   const std::vector<int32_t>& positionHolds);

// The identity of n tiles, and where each position's tile came from after remap.
std::vector<int32_t> identityPositions(int count);
std::vector<int32_t> positionsAfter(const TileRemap& remap);

// A sheet image of columns x rows tiles of edge tile: each tile its own asymmetric pattern, and a
// grid line of gridColour after every tile when grid is set.
QImage makePatternSheet(int columns, int rows, TileShape tile, bool grid = false,
                        QRgb gridColour = qRgb(255, 0, 255));
// The sheet after remap: position p holds the tile that was at the position remap sends there.
QImage rearrangedSheet(const QImage& sheet, const TileRemap& remap, int columns, TileShape tile,
                       TileShape pitch);

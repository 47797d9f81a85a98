#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "level/tile_remap.h"

// What the remap needs to know of one tileset, wherever it stands: embedded in a map or in a file
// of its own.
struct TilesetFacts {
    QString name;
    QString image;  // the image source as written; empty when the tileset has no single image
    QString folder;  // the folder image is relative to: that of the file holding the tileset
    QString file;  // a map's external tileset: its file (absolute); empty when embedded
    int64_t firstGid = 0;  // in a map; 0 in a tileset file
    int64_t tileCount = -1;  // -1 where the file does not say
    int64_t columns = -1;
    int64_t tileWidth = 0;
    int64_t tileHeight = 0;
    int64_t spacing = 0;
    int64_t margin = 0;
    int64_t imageWidth = -1;
    int64_t imageHeight = -1;
    int64_t key = -1;  // the number the file's sites name the tileset by, where they do
    // A format that states every value of its geometry names them here (spacing, margin, image
    // width, image height, columns, rows, tile size): a value it leaves out cannot change, and a
    // tileset without a tile size or columns is refused. Empty: missing values are left out, or go
    // in where a missing spacing goes.
    QStringList geometryNames;

    // The tile count and columns as given, or as the image size implies; -1 when neither says.
    int64_t knownTileCount() const;
    int64_t knownColumns() const;

    // “name”, for messages.
    QString label() const;
};

// Where tileset leaves out its tile count or columns and its image's size too, takes the size
// from the image file itself. The reason, naming the image, when it cannot be read; empty when it
// was read or nothing was missing.
QString completeFromImage(TilesetFacts& tileset);

// Whether the tileset counts fewer tiles than remap, only those of the sheet's last row that a
// packed sheet left empty: a level made against a packed sheet. Only a packing may do so; a
// rearrangement could move those empty tiles among the tileset's.
bool leavesOutPadding(const TilesetFacts& tileset, const TileRemap& remap);

// Why tileset cannot be the sheet that remap rearranged (tile count, columns, the grid change),
// or an empty string when it can.
QString checkSheetTileset(const TilesetFacts& tileset, const TileRemap& remap);

// The tileset's spacing and image size once the sheet's grid changed as remap says; only for a
// tileset that checkSheetTileset accepted.
struct SheetGeometry {
    int64_t margin = 0;
    int64_t spacing = 0;
    int64_t imageWidth = 0;
    int64_t imageHeight = 0;
};
SheetGeometry geometryAfter(const TilesetFacts& tileset, const TileRemap& remap);

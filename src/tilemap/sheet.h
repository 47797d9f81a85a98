#pragma once

#include <QImage>

#include "image/tile_layout.h"
#include "tilemap/tile_map.h"

// The open sheet: its pixels, how they divide into tiles, and where each tile came from.
struct Sheet {
    QImage workingImage;  // null while no sheet is open
    TileMap tileMap = TileMap(2, 2);
    // 8 or 16 from the list; from Settings "Tile Size.." each side 2 to 256, width and height
    // apart (32 x 64).
    TileShape tileSize{16};
    int gridFlag = 0;  // 1 when a one-pixel grid follows every tile
    int remapped = 0;  // 1 when tileMap may differ from the identity

    // A tile with the grid line after it: from one tile to the next.
    TileShape tilePitch() const { return tileSize.grown(gridFlag); }
    // The grid's line, when there is one, is the gutter after every tile.
    TileLayout tileLayout() const { return TileLayout::grid(tileSize, gridFlag); }
    bool hasImage() const { return !workingImage.isNull(); }
};

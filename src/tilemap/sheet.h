#pragma once

#include <QImage>

#include "image/tile_layout.h"
#include "tilemap/tile_map.h"

// The open sheet: its pixels, how they divide into tiles, and where each tile came from.
struct Sheet {
    QImage workingImage;  // null while no sheet is open
    TileMap tileMap = TileMap(2, 2);
    int tileSize = 16;  // 8 or 16 from the list, 2 to 256 from Settings "Tile Size.."
    int gridFlag = 0;   // 1 when a one-pixel grid follows every tile
    int remapped = 0;   // 1 when tileMap may differ from the identity

    int tilePitch() const { return tileSize + gridFlag; }
    // The grid's line, when there is one, is the gutter after every tile.
    TileLayout tileLayout() const { return TileLayout::grid(tileSize, tileSize, gridFlag); }
    bool hasImage() const { return !workingImage.isNull(); }
};

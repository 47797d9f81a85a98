#pragma once

#include <QImage>
#include <optional>

#include "image/tile_layout.h"
#include "tilemap/tile_map.h"

struct TileMatch {
    std::optional<TileMap> map;  // set when every tile found its original
    int unmatched = -1;         // otherwise the first position (row by row) that did not
    bool used = false;          // true when its pixels are in the original, but each copy is taken
};

// The map that turns original into rearranged: for each whole tile of rearranged, row by row, the
// number of the original tile with the same pixels; when several are the same, the first one not
// yet taken, in reading order. Tiles stand where layout puts them; what lies between them (grid
// lines) and the partial strips are not compared. Both images must have the same format and the
// same number of whole tile columns and rows in that layout.
TileMatch matchTiles(const QImage& original, const QImage& rearranged, const TileLayout& layout);

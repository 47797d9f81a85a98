#pragma once

#include <QImage>
#include <vector>

#include "tilemap/sheet.h"
#include "tilemap/tile_map.h"

// Sizes and numbers the map for the sheet's image at its current pitch; clears remapped.
void rebuildTileMap(Sheet& sheet);

// True when tile (x, y) is a full tile of the map, not the spare column or row.
bool isFullTile(const TileMap& map, int x, int y);

// Exchanges two full tiles (whole cells, grid lines included) and their map entries and
// sets remapped. Returns false and changes nothing when there is no image, the tiles are the same,
// or either is not a full tile.
bool swapTiles(Sheet& sheet, int x1, int y1, int x2, int y2);

// For each full-tile position, row by row, the position (row by row) whose tile it receives when
// the tiles are put in order of their map numbers, ties in the row-by-row order of where they stood.
std::vector<int> restoreOrder(const TileMap& map);

// The image with every full tile placed in order of its map number, ties in the row-by-row order
// of where the tiles stood (a stable sort). Partial tiles and anything outside the full tiles stay.
// Returns a null image when memory for the result cannot be had, or when the map's full tiles do
// not lie inside the image at this cell (a tile and its gutter).
QImage restoredImage(const QImage& image, const TileMap& map, TileShape cell);

// The image with position k (row by row) of the columns x rows full tiles taking the tile that
// stands at position sourceOf[k]; partial strips stay. Null when the tiles do not lie inside the
// image, sourceOf has the wrong size, or memory for the result cannot be had.
QImage arrangedImage(const QImage& image, const std::vector<int>& sourceOf, int columns, int rows,
                     TileShape cell);

// The other way round from restoredImage: image holds the tiles in their original order, and the
// result is arranged as map says (position p takes original tile map[p]). Null when map is not a
// permutation, does not fit the image, or memory runs out.
QImage appliedImage(const QImage& image, const TileMap& map, TileShape cell);

// Puts every tile back at its original place and clears remapped; the map itself is left for the
// caller to rebuild. Without an image only remapped is cleared. Returns false, changing nothing,
// when restoredImage gives no image.
bool restoreTileOrder(Sheet& sheet);

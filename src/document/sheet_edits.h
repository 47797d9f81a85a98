#pragma once

#include <QRgb>
#include <QPoint>
#include <QRect>
#include <memory>
#include <optional>

#include "document/edit.h"
#include "tilemap/tile_map.h"

// The steps a user takes on a sheet, as undoable edits. Each checks in its forward prepare()
// whether it can be done and refuses with a reason otherwise.

// Exchanges two whole tiles (grid lines included) and their map entries; keeps the two positions.
std::unique_ptr<Edit> makeSwapTilesEdit(int x1, int y1, int x2, int y2);

// Moves a block of whole tiles (block in tiles) by offset tiles, the tiles it lands on filling the
// places it left; keeps only the block and the offset, as its undo is the move back.
std::unique_ptr<Edit> makeMoveTilesEdit(const QRect& block, QPoint offset);

// Inserts or removes the one-pixel grid at the sheet's tile size in gridColor. Keeps what the
// step drops: the partial strips, and on removal the grid lines.
std::unique_ptr<Edit> makeGridEdit(bool insert, QRgb gridColor);

// Puts every tile back at its original place and numbers the map afresh. Keeps the previous map;
// its undo arranges the tiles forward again.
std::unique_ptr<Edit> makeResetMapEdit();

// The tile-mode change: with restoreFirst (the user answered Yes while tiles were moved) the
// tiles go back first; then the tile size (and, when given, whether the sheet has a grid) changes
// and the map is numbered afresh.
std::unique_ptr<Edit> makeTileModeEdit(TileShape tileSize, bool restoreFirst,
                                       std::optional<int> gridFlag = std::nullopt);

// Makes map (read from a file, of the sheet's geometry) the tile map and sets remapped.
std::unique_ptr<Edit> makeOpenMapEdit(const TileMap& map);

#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <vector>

#include <QImage>
#include "image/tile_layout.h"
#include "tilemap/tile_map.h"

// A block of whole tiles moved by an offset, both in tiles. The tiles the block lands on that lie
// outside it fill the places it left, both taken in reading order (row by row): a block dropped on
// tiles of its own size swaps with them, and a block moved one column right trades places with that
// column. Its inverse is the moved block moved back, so a move is undone by the same rule.
struct BlockMove {
    QRect block;
    QPoint offset;

    QRect target() const { return block.translated(offset); }
    BlockMove inverse() const { return {target(), -offset}; }
};

// One tile of a move: the tile standing at from goes to to.
struct TileStep {
    QPoint from;
    QPoint to;
};

// Every tile the move puts elsewhere: the block's tiles first, row by row, then the tiles it lands
// on outside itself. Places not named keep their tile; the steps form a permutation.
std::vector<TileStep> blockMoveSteps(const BlockMove& move);

// Empty when the move can be made on the full tiles of map (a non-empty block, block and target
// inside the full tiles); otherwise why not, in plain words. A zero offset is a move that changes
// nothing.
QString blockMoveProblem(const TileMap& map, const BlockMove& move);

// The memory moveBlock puts the landed-on tiles aside in, for a sheet of this cell (a tile and
// its gutter) and pixel size.
size_t blockMoveScratchBytes(const BlockMove& move, TileShape cell, int bytesPerPixel);

// Moves the tiles (whole cells, grid lines included) and their map entries in place,
// using scratch (blockMoveScratchBytes long) and no other new memory. Returns false and changes
// nothing when blockMoveProblem names one or the map's tiles do not lie inside the image.
bool moveBlock(QImage& image, TileMap& map, TileShape cell, const BlockMove& move, uchar* scratch);
// The same with scratch of its own; false, changing nothing, also when memory for it cannot be had.
bool moveBlock(QImage& image, TileMap& map, TileShape cell, const BlockMove& move);

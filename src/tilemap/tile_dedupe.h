#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "image/tile_layout.h"
#include "tilemap/tile_symmetry.h"

// The groups of identical whole tiles of a sheet. Tiles of a shape each stand in a cell (the tile
// and any grid after it), numbered in reading order; all four channels of every pixel are
// compared, grid lines not at all.
struct TileDuplicates {
    std::vector<int32_t> kept;         // the first tile of each group, in reading order
    std::vector<int32_t> keptIndexOf;  // tile -> the index in kept of its group
    // tile -> the symmetry that shows its group's kept tile as this one; identity without flips.
    std::vector<TileSymmetry> symmetryOf;

    int32_t merged() const { return int32_t(keptIndexOf.size() - kept.size()); }
};

// What keeps tiles apart beyond their pixels (what levels keep for them): tiles of different
// kinds never merge, and a tile marked unturned merges only as it stands, with a tile that
// stands as it does.
struct TileKinds {
    std::vector<uint32_t> kind;    // tile -> its kind; a tile past the end is of kind 0
    std::vector<uint8_t> unturned; // tile -> 1 when it may not be turned; past the end: 0
};

// Groups the columns x rows whole tiles (as many cells as fit). With flips a tile that is a kept
// tile turned by one of the 8 symmetries joins it (the identity preferred); a tile that is not
// square only by the three mirrors. Linear in the sheet:
// tiles are hashed (with flips, a hash all turns of a tile share), and only tiles of equal hash
// are compared.
TileDuplicates findDuplicateTiles(const QImage& sheet, TileShape tile, TileShape cell, bool flips,
                                  const TileKinds& kinds = {});

// A rectangle of tiles that a level draws as one (an entity's tile, a stamp): across x down
// tiles from row, column of a sheet of columns columns whose tile 0 is tile base.
struct TileBlock {
    int32_t base = 0;
    int32_t columns = 0;
    int32_t row = 0;
    int32_t column = 0;
    int32_t across = 0;
    int32_t down = 0;
};

// Lays kept (tiles in reading order, keptIndexOf: tile -> index in kept, -1 dropped) out in
// columns columns as packing does, except that the tiles of each block keep their places against
// each other: the block goes whole at the first place it fits (a dropped tile of it taking its
// own place), and the tiles after it fill the places left before it. Overlapping blocks are one.
// A place still empty takes a dropped tile, so that every place shows a tile; where too few are
// dropped, nothing changes. kept becomes the tile at each place and keptIndexOf follows. A block
// wider than columns is laid out as any tiles are.
void keepBlocksTogether(std::vector<int32_t>& kept, std::vector<int32_t>& keptIndexOf,
                        const std::vector<TileBlock>& blocks, int columns);

// The kept tiles, each with the grid after it, packed in reading order into columns tile columns
// and as many rows as they need; the rest of the last row is transparent (black when the sheet
// has no alpha). Null when the memory cannot be had.
QImage packTiles(const QImage& sheet, const std::vector<int32_t>& kept, TileShape cell,
                 int columns);

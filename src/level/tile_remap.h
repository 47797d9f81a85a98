#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image/tile_layout.h"
#include "tilemap/tile_map.h"
#include "tilemap/tile_symmetry.h"

// Where each tile of a sheet went: what a level made against the sheet before a change needs in
// order to name the same pictures afterwards. Tile numbers count whole tiles row by row. In general
// each original tile becomes a new tile shown turned by a symmetry (the original's pixels are the
// new tile's turned that way), or is dropped; the sheet afterwards has newTileCount() tiles in
// newColumns() columns. A rearrangement (a tile map's permutation) is the case of no symmetry, no
// drop and as many tiles as before.
struct TileRemap {
    enum class GridChange {
        None,
        Added,    // a one-pixel line now follows every tile: the tileset's spacing becomes 1
        Removed,  // the lines are gone: spacing becomes 0
    };

    static constexpr int32_t kDropped = -1;

    std::vector<int32_t> newIndexOf;  // original tile number -> its new number, or kDropped
    std::vector<TileSymmetry> symmetryOf;  // original tile number -> how it shows its new tile;
                                           // empty: every tile unturned
    GridChange grid = GridChange::None;
    int columns = 0;  // whole tile columns of the sheet when known (0: tilesets go unchecked)
    // The margin and spacing the sheet's tilesets get (its tiles extruded, say); -1 keeps each
    // tileset's own. Their image size follows.
    int margin = -1;
    int spacing = -1;
    // The tile numbers stay as they are (newIndexOf is not used): only the tilesets change.
    bool keepsIds = false;
    int32_t newTiles = -1;  // tiles afterwards; -1: as many as before
    int newColumnCount = 0;  // columns afterwards; 0: as before
    // The shape the sheet's tiles were cut at, when known: its tilesets must have it.
    std::optional<TileShape> tile;

    // The remap of a sheet's tile map (position -> original tile): its inverse, with the map's
    // columns. A map that is not a permutation gives a remap that check() refuses.
    static TileRemap fromTileMap(const TileMap& map, GridChange grid = GridChange::None);

    int tileCount() const { return int(newIndexOf.size()); }
    bool changesLayout() const { return margin >= 0 || spacing >= 0; }
    int newTileCount() const { return newTiles < 0 ? tileCount() : newTiles; }
    int newColumns() const { return newColumnCount > 0 ? newColumnCount : columns; }
    TileSymmetry symmetry(size_t tile) const
    {
        return symmetryOf.empty() ? TileSymmetry() : symmetryOf[tile];
    }
    // True when the remap only moves tiles: no symmetry, no drop, no change of count or columns.
    bool isRearrangement() const;

    // Whether the tiles (original numbers, counted over columns columns) moved together as one
    // block: every one keeps a number, shows unturned, and lies against the first as before, in
    // the newColumns columns afterwards. A remap that keeps the numbers moves nothing apart.
    bool movesTogether(std::span<const int64_t> tiles, int64_t columns, int64_t newColumns) const;
    // The same for the across x down block of whole tiles whose top-left tile is first.
    bool movesTogether(int64_t first, int64_t across, int64_t down, int64_t columns,
                       int64_t newColumns) const;

    // Empty when the remap can be carried out, otherwise why not: a rearrangement must be a
    // permutation of 0 .. n-1; in general every tile keeps a number below newTileCount() or is
    // dropped, and every new tile is shown by some original tile.
    QString check() const;

    // The remap that undoes a valid rearrangement (the grid change reversed too); tiles that were
    // turned, dropped or merged cannot be undone.
    TileRemap inverse() const;
};

#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "tilemap/tile_map.h"

// Where each tile of a sheet went: what a level made against the sheet before a rearrangement needs
// in order to name the same pictures afterwards. Tile numbers count whole tiles row by row.
struct TileRemap {
    enum class GridChange {
        None,
        Added,    // a one-pixel line now follows every tile: the tileset's spacing becomes 1
        Removed,  // the lines are gone: spacing becomes 0
    };

    std::vector<int32_t> newIndexOf;  // original tile number -> the position it stands at now
    GridChange grid = GridChange::None;
    int columns = 0;  // whole tile columns of the sheet when known (0: tilesets go unchecked)
    // The margin and spacing the sheet's tilesets get (its tiles extruded, say); -1 keeps each
    // tileset's own. Their image size follows.
    int margin = -1;
    int spacing = -1;
    // The tile numbers stay as they are (newIndexOf is not used): only the tilesets change.
    bool keepsIds = false;

    // The remap of a sheet's tile map (position -> original tile): its inverse, with the map's
    // columns. A map that is not a permutation gives a remap that check() refuses.
    static TileRemap fromTileMap(const TileMap& map, GridChange grid = GridChange::None);

    int tileCount() const { return int(newIndexOf.size()); }
    bool changesLayout() const { return margin >= 0 || spacing >= 0; }

    // Empty when newIndexOf is a permutation of 0 .. n-1 and columns fits, otherwise why not.
    QString check() const;

    // The remap that undoes this one (the grid change reversed too). Only for a valid remap.
    TileRemap inverse() const;
};

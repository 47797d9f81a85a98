#pragma once

#include <QString>
#include <vector>

#include "level/tile_remap.h"

// One of the sheets merged into an atlas, with where its tiles went.
struct MergedSheet {
    QString image;  // absolute
    TileRemap remap;
};

// Several sheets merged into one atlas. In each map, the tilesets that show merged sheets become
// one tileset of the atlas, which gathers their per-tile data; the map's other tilesets stay, and
// move to later gids only where the atlas's would overlap them.
struct AtlasMerge {
    QString atlas;  // absolute
    std::vector<MergedSheet> sheets;
    // Where the atlas's tileset goes (absolute) when the merged tilesets were files of their own;
    // empty: such maps are refused.
    QString tilesetOut;
    // Per merged sheet, the tileset file (absolute) that the levels name for it, or empty: the
    // atlas's tileset file gathers them all. Empty: each level's own are gathered.
    std::vector<QString> tilesetFiles;
};

#pragma once

#include <QString>
#include <vector>

#include "level/tile_remap.h"
#include "level/tileset_facts.h"

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

// For each of tilesets, the first of merge's sheets it shows, or -1.
std::vector<int> mergedSheetsShown(const std::vector<TilesetFacts>& tilesets,
                                   const AtlasMerge& merge);
// “sheet.png”: the merge's sheet'th sheet, from the working folder.
QString mergedSheetName(const AtlasMerge& merge, size_t sheet);
// "tile 3 of the sheet “a.png” and tile 0 of the sheet “b.png” both become tile 5 of the atlas,
// but WHY": the first tiles of the sheets one and other that become atlas tile now.
QString bothBecome(const AtlasMerge& merge, size_t one, size_t other, int64_t now,
                   const QString& why);

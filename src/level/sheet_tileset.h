#pragma once

#include <map>
#include <optional>

#include "level/level_sites.h"

// One of the sheet's tilesets in a file, before and after the remap.
struct SheetTileset {
    const TilesetSite* site = nullptr;  // null for a tileset only read here (a project's)
    TilesetFacts facts;
    int64_t count = 0;
    int64_t columns = 0;
    int64_t newMargin = 0;
    int64_t newSpacing = 0;
    int64_t newColumns = 0;
    int64_t newRows = 0;
    int64_t newWidth = 0;
    int64_t newHeight = 0;

    int64_t x(int64_t tile) const { return facts.margin + tile % columns * pitchX(); }
    int64_t y(int64_t tile) const { return facts.margin + tile / columns * pitchY(); }
    int64_t newX(int64_t tile) const
    {
        return newMargin + tile % newColumns * (facts.tileWidth + newSpacing);
    }
    int64_t newY(int64_t tile) const
    {
        return newMargin + tile / newColumns * (facts.tileHeight + newSpacing);
    }
    int64_t pitchX() const { return facts.tileWidth + facts.spacing; }
    int64_t pitchY() const { return facts.tileHeight + facts.spacing; }
};

// Checks a tileset that shows the sheet against the remap and works out its geometry after it;
// the reason when it cannot be the sheet. facts have been completed from the image.
QString planSheetTileset(const TilesetSite* site, const TilesetFacts& facts,
                         const TileRemap& remap, SheetTileset& sheet);

// Writes the tileset's new geometry and per-tile caches.
void rewriteSheetTileset(const SheetTileset& sheet, const TileRemap& remap,
                         const QByteArray& bytes, TextSplice& splice);

// Rewrites the sites that name tiles of a keyed tileset: named tiles, stamps, placed tiles and
// rectangles, for the sheet's tilesets among sheets.
std::optional<Problem> remapKeyedSites(const LevelSites& sites, const QByteArray& bytes,
                                       const TileRemap& remap,
                                       const std::map<int64_t, SheetTileset>& sheets,
                                       TileUse* use, LevelBytesResult& result, TextSplice& splice);

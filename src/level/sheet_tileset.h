#pragma once

#include <map>
#include <optional>

#include "image/tile_layout.h"
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

    TileLayout64 layout() const
    {
        return TileLayout64::spaced(facts.tileWidth, facts.tileHeight, facts.margin, facts.spacing);
    }
    TileLayout64 newLayout() const
    {
        return TileLayout64::spaced(facts.tileWidth, facts.tileHeight, newMargin, newSpacing);
    }
    int64_t x(int64_t tile) const { return layout().columnLeft(tile % columns); }
    int64_t y(int64_t tile) const { return layout().rowTop(tile / columns); }
    int64_t newX(int64_t tile) const { return newLayout().columnLeft(tile % newColumns); }
    int64_t newY(int64_t tile) const { return newLayout().rowTop(tile / newColumns); }
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

#pragma once

#include "level/json_scanner.h"
#include "level/level_format.h"

// Tiled's JSON files: TMJ maps, TSJ tilesets and TJ object templates.
const LevelFormat& tmjFormat();

// Each element of array (the objects among them) as an entry of list in site, its tile id under
// key, in a container of its own so that entries can leave with their commas.
void addJsonArrayEntries(const JsonScanner& json, TilesetSite& site, JsonScanner::Value array,
                         int list, QStringView key);

#pragma once

#include <QString>
#include <map>
#include <memory>

#include "tilemap/tile_map.h"

class BackgroundWork;
class Dialogs;
class Document;

// How the sheet was arranged when a level file was last brought along to it: its tile map and
// whether it had the grid.
struct LevelArrangement {
    TileMap map;
    int gridFlag = 0;
};

// The level files (tilesets among them) brought along since the sheet was opened, by canonical
// path. A file not in it still knows the sheet as it was opened.
using LevelArrangements = std::map<QString, std::shared_ptr<const LevelArrangement>>;

// Map "Apply to Level Files..": carries the sheet's rearrangement (and a grid inserted or removed)
// into the level files the user picks, each from the arrangement it knows, so a file applied
// before in this sitting gets only what changed since. First it makes sure that the image files
// the levels name hold the sheet as they will show it, and offers to save the sheet over any that
// does not. The work runs in the background; Cancel leaves every file as it was. Says what it did.
void applyToLevelFiles(Document& doc, Dialogs& dialogs, BackgroundWork& work,
                       LevelArrangements& brought);

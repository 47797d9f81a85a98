#pragma once

#include "level/level_format.h"

// Godot 4's text scenes (.tscn) and resources (.tres). A TileSet, in its own resource or inside a
// scene, keeps its tiles in atlas sources, each showing one texture and naming its tiles by their
// column and row in it ("3:1/0 = 0", and the tile's data beneath that prefix). Cells of a
// TileMapLayer (and of the older TileMap node's layers) name a source and a tile's column and row,
// with the flips in the alternative tile's number. A remap moves the definitions of the sheet's
// tiles with them, sets the source's margins and separation, and rewrites the cells that show
// the sheet; everything else stays as written.
const LevelFormat& godotFormat();

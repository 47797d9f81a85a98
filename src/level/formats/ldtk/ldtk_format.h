#pragma once

#include "level/level_format.h"

// LDtk projects (.ldtk) and their level files (.ldtkl). A project defines its tilesets, with the
// image each shows (relPath), its tile size, padding and spacing; layers name tiles by number (t)
// and by their pixel place in the image (src), with X and Y flips (f); definitions name tiles by
// number (rules, custom data, enum tags, saved selections) and entities and fields show rectangles
// of a tileset in pixels. A remap rewrites all of that for the sheet's tilesets and nothing else.
// A level file takes its tileset definitions from its project: the one that carried it along, or
// else where LDtk keeps it, beside the level's folder and named after it (world.ldtk for
// world/Level_0.ldtkl).
const LevelFormat& ldtkFormat();

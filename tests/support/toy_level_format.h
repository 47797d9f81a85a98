#pragma once

#include "level/level_format.h"

// A level format that only the tests know, to show that a format is one class and one line of
// registration. A toy level is a header line "toy IMAGE TILE COLUMNS COUNT" naming its one
// tileset, then cells: whitespace-separated gids counted from 1, flip flags in their high bits.
const LevelFormat& toyLevelFormat();

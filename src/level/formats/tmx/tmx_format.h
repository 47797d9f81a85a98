#pragma once

#include "level/level_format.h"

// Tiled's XML files: TMX maps, TSX tilesets and TX object templates.
const LevelFormat& tmxFormat();

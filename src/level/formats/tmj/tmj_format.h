#pragma once

#include "level/level_format.h"

// Tiled's JSON files: TMJ maps, TSJ tilesets and TJ object templates.
const LevelFormat& tmjFormat();

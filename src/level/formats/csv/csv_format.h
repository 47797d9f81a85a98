#pragma once

#include "level/level_format.h"

// Rows of tile numbers, one row per line, separated by commas or blanks. Numbers from the run's
// first id to first id + n - 1 name the sheet's tiles; smaller ones (negative numbers among them)
// and empty fields are empty cells and stay, as does every separator.
const LevelFormat& csvFormat();

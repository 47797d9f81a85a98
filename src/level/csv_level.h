#pragma once

#include <QByteArray>

#include "level/level_remap.h"

// Remaps a CSV level: rows of tile numbers, one row per line, separated by commas or blanks.
// Numbers from firstId to firstId + n - 1 name the sheet's tiles; smaller ones (negative numbers
// among them) and empty fields are empty cells and stay, as does every separator. named, when
// given, gets each tile a cell shows marked.
LevelBytesResult remapCsvLevel(const QByteArray& bytes, const TileRemap& remap, int firstId,
                               std::vector<uint8_t>* named = nullptr);

#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

// The parts of a tile's data, each by a key ("@type" for an attribute, "animation",
// "property:solid") with its text written one way, so that equal parts compare equal. Each format
// reads its own entries into parts (LevelEdits::dataParts).
using TileDataParts = std::vector<std::pair<QString, QString>>;

// Whether an entry's key names its tile ("id", "tileid", "tileId"), which is none of its data.
bool isTileIdKey(QStringView key);

// Says what tells apart the data two tiles carry, for refusing to merge them: "tile 148 has an
// animation, tile 175 none", "they have different types". No parts: a tile without an entry.
// Empty when no single part of the data can be named.
QString tileDataDifference(const TileDataParts& first, int64_t firstTile,
                           const TileDataParts& second, int64_t secondTile);

#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>

// Says what tells apart the data two tiles carry, for refusing to merge them: "tile 148 has an
// animation, tile 175 none", "they have different types". Each entry is the text of its tile's
// element (XML) or object or keyed member (JSON); an empty one is a tile without an entry. keyed
// says that the entries' members are properties themselves (an older JSON file's tileproperties).
// Empty when no single part of the data can be named.
QString tileDataDifference(QByteArrayView first, int64_t firstTile, QByteArrayView second,
                           int64_t secondTile, bool xml, bool keyed);

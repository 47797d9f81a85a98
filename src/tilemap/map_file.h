#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "image/tile_layout.h"
#include "tilemap/tile_map.h"

// The text of a map file: one decimal number per full tile, row by row, each line ending in CR LF.
QByteArray writeMapText(const TileMap& map);

// The number on one line of a map file, read leniently: leading blanks and tabs, an optional sign,
// then "$" and hex digits, "%" and binary digits, or decimal digits; the rest of the line is
// ignored. No digits gives 0. nullopt when the value does not fit in 32 bits.
std::optional<int32_t> parseMapNumber(QByteArrayView line);

struct MapParseResult {
    std::optional<TileMap> map;  // set when the file fits the sheet
    QString error;               // otherwise why not, in plain words
};

// Reads a map file for a sheet of columns x rows full tiles. Accepted only when the file holds
// exactly columns * rows numbers (trailing empty lines aside) that are each of
// 0 .. columns * rows - 1 exactly once. fileName (as the message should show it, quoted by the
// caller) and tile only make the message concrete.
MapParseResult parseMapText(QByteArrayView text, int columns, int rows, const QString& fileName,
                            TileShape tile);

// How many tile numbers parseMapText looks for in text: one a line, trailing empty lines aside. For
// a map read without a sheet to fit, such as the one carried into level files.
qsizetype mapLineCount(QByteArrayView text);

#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "level/tile_remap.h"

// Remap files carry a general remap from the sheet commands to levels remap. Plain text, lines
// ending in LF (CR LF read too):
//   tilegrid-remap 1
//   NEW_TILES NEW_COLUMNS
// then one line per original tile, in order: its new number, followed by the letters of its
// symmetry (h, v, d: the flip bits that show the new tile as the original) when it has one, or
// the word "dropped".
QByteArray writeRemapText(const TileRemap& remap);

struct RemapParseResult {
    std::optional<TileRemap> remap;  // set when the text is a valid remap
    QString error;                   // otherwise "line N: why"
};
RemapParseResult parseRemapText(QByteArrayView text);

// The file's remap, or why not, naming the file and the line.
RemapParseResult readRemapFile(const QString& path);
// Written whole or not at all; empty on success, otherwise the reason naming the file.
QString writeRemapFile(const TileRemap& remap, const QString& path);

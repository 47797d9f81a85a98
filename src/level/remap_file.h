#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "level/tile_remap.h"

// Remap files carry a general remap from the sheet commands to levels remap. Plain text, lines
// ending in LF (CR LF read too):
//   tilegrid-remap 2
//   sheet PATH               the sheet the levels show, from the remap file's folder
//   atlas PATH               the sheet written, from there too
//   tiles WxH COLUMNS        the sheet's tile shape and tile columns
//   NEW_TILES NEW_COLUMNS
// then one line per original tile, in order: its new number, followed by the letters of its
// symmetry (h, v, d: the flip bits that show the new tile as the original) when it has one, or
// the word "dropped". Version 1 has only the first line and the tiles.

// The files a remap file names, as paths (from the working folder once read).
struct RemapFiles {
    QString sheet;  // empty: a version 1 file, which names none
    QString atlas;
};

// Version 2 when files names a sheet (the remap's tile shape and columns are then written too),
// version 1 otherwise. The paths are written as they are given.
QByteArray writeRemapText(const TileRemap& remap, const RemapFiles& files = {});

struct RemapParseResult {
    std::optional<TileRemap> remap;  // set when the text is a valid remap
    RemapFiles files;                // as written
    QString error;                   // otherwise "line N: why"
};
RemapParseResult parseRemapText(QByteArrayView text);

// The file's remap, or why not, naming the file and the line; the paths it names resolved from
// its folder.
RemapParseResult readRemapFile(const QString& path);
// Written whole or not at all, with the paths of files made relative to the file's folder; empty
// on success, otherwise the reason naming the file.
QString writeRemapFile(const TileRemap& remap, const QString& path, const RemapFiles& files = {});

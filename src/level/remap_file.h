#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "level/tile_remap.h"

// Remap files carry a general remap from the sheet commands to levels remap. Plain text, lines
// ending in LF (CR LF read too):
//   tilegrid-remap 2
//   atlas PATH               the sheet written, from the remap file's folder
//   NEW_TILES NEW_COLUMNS    of the atlas
// then, for each sheet whose tiles went into it:
//   sheet PATH               a sheet the levels show, from the remap file's folder too
//   tiles WxH COLUMNS        its tile shape and tile columns
// and one line per tile of that sheet, in order: its new number, followed by the letters of its
// symmetry (h, v, d: the flip bits that show the new tile as the original) when it has one, or
// the word "dropped". Version 1 has only the first line, the count line and the tiles of one
// sheet it does not name.

// One sheet of a remap: the sheet the levels show and what became of each of its tiles. Its
// remap's new tile and column counts are the atlas's.
struct RemapSheet {
    QString path;  // empty in a version 1 file
    TileRemap remap;
};

struct RemapFile {
    QString atlas;                  // empty in a version 1 file
    std::vector<RemapSheet> sheets; // in the order their tiles went into the atlas
};

// Version 2 when the sheets are named (each remap's tile shape and columns are then written
// too), version 1 for one sheet that is not. The paths are written as they are given.
QByteArray writeRemapText(const RemapFile& file);

struct RemapParseResult {
    std::optional<RemapFile> file;  // set when the text is a valid remap of at least one sheet
    QString error;                  // otherwise "line N: why"
    // The remap of the one sheet a file holds; null for none or several.
    const TileRemap* single() const
    {
        return file && file->sheets.size() == 1 ? &file->sheets.front().remap : nullptr;
    }
};
RemapParseResult parseRemapText(QByteArrayView text);

// The file's remap, or why not, naming the file and the line; the paths it names resolved from
// its folder.
RemapParseResult readRemapFile(const QString& path);
// Written whole or not at all, with the paths made relative to the file's folder; empty on
// success, otherwise the reason naming the file.
QString writeRemapFile(const RemapFile& file, const QString& path);

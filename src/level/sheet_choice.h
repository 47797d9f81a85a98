#pragma once

#include <QString>
#include <vector>

#include "level/tileset_facts.h"

// Which of a level's tilesets show the sheet. The sheet is named by a path (relative ones from the
// working folder) or a bare file name; a tileset shows it when its image resolves (from the folder
// of the file holding the tileset) to the same file, or, when none does, has the same file name.
// Unnamed, the sheet is the one image the level's tilesets show.
struct SheetChoice {
    enum class Verdict {
        Use,     // isSheet marks the sheet's tilesets (at least one)
        Skip,    // the level does not use the sheet; reason says why
        Refuse,  // the level's tilesets leave it open which is the sheet; reason says why
    };
    Verdict verdict = Verdict::Skip;
    std::vector<bool> isSheet;
    QString reason;
};

SheetChoice chooseSheet(const std::vector<TilesetFacts>& tilesets, const QString& sheet);

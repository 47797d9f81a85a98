#pragma once

#include <QString>
#include <vector>

#include "level/tileset_facts.h"

// Which of a level's tilesets show the sheet. The sheet is named by a path (relative ones from the
// working folder) or a bare file name. Named by a path, a tileset shows it when its image resolves
// (from the folder of the file holding the tileset) to the same file; another image of that name
// is another sheet. Named by a file name alone, it is the one image of that name the tilesets show,
// and several files of that name leave it open; so it is for a path that no tileset shows when
// orByName is set (the window, which asks before it renumbers for another file of that name).
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

// Whether sheet is a file name alone ("tiles.png"), matched by name, rather than a path.
bool isBareFileName(const QString& sheet);

SheetChoice chooseSheet(const std::vector<TilesetFacts>& tilesets, const QString& sheet,
                        bool orByName = false);

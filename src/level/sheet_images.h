#pragma once

#include <QString>
#include <QStringList>

// The image files that show a level's sheet: what the sheet has to be saved over for the level to
// show it as it is now. The sheet is named as LevelRemapOptions::sheet and sheetOrByName name it.
// Each path is the file's canonical path where it exists. Empty for CSV levels (they name no image), for levels
// that do not use the sheet and for files that cannot be read or understood (the remap reports
// those).
QStringList levelSheetImages(const QString& path, const QString& sheet, bool orByName = false);

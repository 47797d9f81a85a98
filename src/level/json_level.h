#pragma once

#include <QByteArray>
#include <QString>

#include "level/json_scanner.h"
#include "level/level_sites.h"

// Finds the sites of a TMJ map or TSJ tileset (the JSON forms) in its text. folder is where the
// file's relative sources start. False, with problem, when the text is not JSON or neither a map
// nor a tileset.
bool scanJsonLevel(const QByteArray& bytes, const QString& folder, LevelSites& sites,
                   LevelProblem& problem);

// Each element of array (the objects among them) as an entry of list in site, its tile id under
// key, in a container of its own so that entries can leave with their commas.
void addJsonArrayEntries(const JsonScanner& json, TilesetSite& site, JsonScanner::Value array,
                         int list, QStringView key);

#pragma once

#include <QByteArray>
#include <QString>

#include "level/level_sites.h"

// Finds the sites of a TMX map or TSX tileset in its text. folder is where the file's relative
// sources start. False, with problem, when the text is not well-formed UTF-8 XML or neither a map
// nor a tileset.
bool scanXmlLevel(const QByteArray& bytes, const QString& folder, LevelSites& sites,
                  LevelProblem& problem);

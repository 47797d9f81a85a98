#pragma once

#include "level/level_sites.h"

// Carries an LDtk project or level file through a merge of several sheets into one atlas
// (context.options.merge): the project's tileset definitions of the merged sheets become one, the
// first of them, which shows the atlas and gathers their custom data, enum tags and saved
// selections; every tile, rule, rectangle and reference to the others follows it.
LevelBytesResult mergeLdtkSites(const LevelSites& sites, const QByteArray& bytes,
                                const LevelContext& context);

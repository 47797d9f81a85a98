#pragma once

#include "cli/job.h"
#include "level/level_remap.h"

// levels remap: carries the map file's rearrangement into every level of the job in one run, so
// that a tileset shared by several maps is remapped once. Updated and skipped files and the run's
// summary go into the report (none with --quiet); each file that failed is one line of the error.
JobResult remapLevelsJob(const CommandOptions& options, const Job& job);

// How levels remap reads the levels: the sheet --sheet names, CSV's first id and the tile
// properties that hold tile ids.
LevelRemapOptions levelRemapOptions(const CommandOptions& options);

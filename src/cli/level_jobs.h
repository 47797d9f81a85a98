#pragma once

#include "cli/job.h"

// levels remap: carries the map file's rearrangement into every level of the job in one run, so
// that a tileset shared by several maps is remapped once. Updated and skipped files and the run's
// summary go into the report (none with --quiet); each file that failed is one line of the error.
JobResult remapLevelsJob(const CommandOptions& options, const Job& job);

#pragma once

#include "cli/job.h"

// The work of each command on one job. Each reads its inputs, changes nothing on failure and
// writes its output through the atomic writers, so a failed job leaves no file behind.

JobResult addGridJob(const CommandOptions& options, const Job& job);
JobResult removeGridJob(const CommandOptions& options, const Job& job);
JobResult extrudeJob(const CommandOptions& options, const Job& job);
JobResult unextrudeJob(const CommandOptions& options, const Job& job);
JobResult restoreMapJob(const CommandOptions& options, const Job& job);
JobResult applyMapJob(const CommandOptions& options, const Job& job);
JobResult moveBlocksJob(const CommandOptions& options, const Job& job);
JobResult deriveMapJob(const CommandOptions& options, const Job& job);
JobResult dedupeJob(const CommandOptions& options, const Job& job);
JobResult pruneJob(const CommandOptions& options, const Job& job);
// Packs the tiles of every input, in order, into one atlas (identical ones as one with --dedupe)
// and writes the remap of each input's tiles.
JobResult mergeSheetsJob(const CommandOptions& options, const Job& job);
JobResult infoJob(const CommandOptions& options, const Job& job);

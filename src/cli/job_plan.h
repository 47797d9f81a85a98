#pragma once

#include <QString>
#include <vector>

#include "cli/command_table.h"

struct JobPlan {
    std::vector<Job> jobs;
    QString error;  // a usage error: nothing may run
};

// Turns a command's parsed options into its jobs, deciding where each result goes, and refuses
// what the command line gets wrong: missing or surplus inputs, a missing --map, no or several
// output choices, a sheet output that is not .png, .bmp or .webp, --in-place on a sheet that cannot be
// written as its own format, an output that is an input (unless --in-place), two results with one
// target. A command that runs its inputs as one gets one job of them all.
JobPlan planJobs(const CommandSpec& command, const CommandOptions& options);

// Where --out-dir puts the result of input: the input's file name inside folder, with .png in
// place of the extension unless it already is .png, .bmp or .webp.
QString outDirTarget(const QString& folder, const QString& input);

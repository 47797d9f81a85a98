#pragma once

#include <QString>
#include <QStringList>

#include "cli/command_options.h"

// One unit of work of a command: usually one input and where its result goes.
struct Job {
    QStringList inputs;  // one sheet, two for a command that compares sheets, or a run's levels
    QString output;     // empty when the command only reports or follows the options itself
};

struct JobResult {
    QString error;   // empty on success; otherwise the reason in plain words, naming the file (a
                     // line for each file that failed when the job has several)
    QString report;  // text for standard output, for commands that report
};

// Runs one job of a command. Called on worker threads, one job per call, so it must touch nothing
// shared.
using JobFunction = JobResult (*)(const CommandOptions& options, const Job& job);

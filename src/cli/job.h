#pragma once

#include <QString>
#include <QStringList>

#include "cli/command_options.h"

// One unit of work of a command: usually one input and where its result goes.
struct Job {
    QStringList inputs;  // one sheet, or two for a command that compares sheets
    QString output;     // empty when the command only reports
};

struct JobResult {
    QString error;  // empty on success; otherwise the reason in plain words, naming the file
    QString report;  // text for standard output, for commands that report
};

// Runs one job of a command. Called on worker threads, one job per call, so it must touch nothing
// shared.
using JobFunction = JobResult (*)(const CommandOptions& options, const Job& job);

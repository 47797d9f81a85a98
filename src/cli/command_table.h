#pragma once

#include <QString>
#include <QStringList>
#include <span>

#include "cli/command_options.h"
#include "cli/job.h"
#include "cli/option_checks.h"

// What a command leaves behind.
enum class OutputKind {
    Sheets,  // one image per input: -o OUT, --out-dir DIR or --in-place
    Levels,  // level files, each under its own name: -o OUT, --out-dir DIR or --in-place
    MapFile, // one map file: -o M
    Report,  // text on standard output
};

// How many inputs a command takes, and so how they become jobs.
enum class InputCount {
    OneOrMore, // a job per input
    Two,       // one job of exactly two inputs
    OneRun,    // one or more inputs in one job: they depend on each other (maps share tilesets)
    AllInOne,  // one or more inputs in one job with one result (sheets merged into an atlas)
};

// One row per command. Adding a command is adding a row and its job function.
struct CommandSpec {
    const char* group;    // first word: "grid"
    const char* name;     // second word: "add"; empty for a one-word command
    const char* synopsis; // the arguments after the command words
    const char* summary;  // one line for the program's help
    const char* details;  // the rest of the command's own help, examples included
    OptionSet options;    // accepted beyond --jobs, --quiet and --help
    InputCount inputs;
    OutputKind output;
    JobFunction run;
    OptionCheck check = nullptr; // the combinations of options it needs, beyond each one's value

    QString words() const; // "grid add"
};

std::span<const CommandSpec> commandTable();

// True when word is the first word of some command.
bool isCommandGroup(const QString& word);

// The command named by group and name, or nullptr.
const CommandSpec* findCommand(const QString& group, const QString& name);

// The commands of a group, in table order.
std::vector<const CommandSpec*> commandsOf(const QString& group);

QString programHelp();
QString commandHelp(const CommandSpec& command);
// The help of a group word alone ("tilegrid grid --help"): its commands with their summaries.
QString groupHelp(const QString& group);
QString versionText();

// The parts of the program's help that the manual page shows under headings of their own.
QString overviewHelp();    // what N, G, sheets and levels are
QString outputHelp();      // -o, --out-dir, --in-place and --compression
QString exitHelp();        // the exit status
QString programExamples(); // a few command lines, one per line, indented

#pragma once

#include <QStringList>
#include <optional>

// Decides from the program's arguments whether the window starts, before anything of Qt's GUI is
// set up. When argv[1] is a command word, --help, -h or --version, runs that command with no window
// and no display and returns its exit code. When argv[1] is neither an option nor an existing file,
// it can only be a mistyped command: says so and returns 2. Otherwise returns nullopt, and the
// window starts with all arguments.
std::optional<int> runCommandLineIfAsked(int argc, char** argv);

// Runs one command line (the arguments after the program name) and returns its exit code: 0 when
// every file succeeded, 1 when any failed, 2 for a usage error. Prints results and per-file lines
// on standard output, failures, usage errors and the progress line on standard error.
int runCommandLine(const QStringList& arguments);

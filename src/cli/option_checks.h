#pragma once

#include <QString>

#include "cli/command_options.h"

struct CommandSpec;

// The combinations of options a command needs beyond each option's own value: each command's row
// names its check, and the check returns a usage error or an empty string.
using OptionCheck = QString (*)(const CommandSpec& command, const CommandOptions& options);

QString checkMapGiven(const CommandSpec& command, const CommandOptions& options); // --map M
QString checkBlockMoves(const CommandSpec& command, const CommandOptions& options);
QString checkRemapOut(const CommandSpec& command, const CommandOptions& options);
QString checkDedupe(const CommandSpec& command, const CommandOptions& options);
QString checkPrune(const CommandSpec& command, const CommandOptions& options);
// sheet merge: --flips only with --dedupe, and the remap's place.
QString checkMerge(const CommandSpec& command, const CommandOptions& options);
QString checkLevelRemap(const CommandSpec& command, const CommandOptions& options);

#include "cli/option_checks.h"

#include "cli/command_table.h"

QString checkMapGiven(const CommandSpec& command, const CommandOptions& options)
{
    if (options.mapPath.isEmpty())
        return QStringLiteral("%1 needs the map file: --map M.").arg(command.words());
    return {};
}

QString checkBlockMoves(const CommandSpec& command, const CommandOptions& options)
{
    // The sheet is taken in its original order unless a map says otherwise.
    if (options.blocks.empty() || options.blocks.size() != options.targets.size())
        return QStringLiteral("%1 needs each --block C,R,W,H followed by its --to C,R.")
            .arg(command.words());
    if (!options.mapOut.isEmpty() && options.inputs.size() > 1)
        return QStringLiteral("--map-out takes one input, but %1 are given.")
            .arg(options.inputs.size());
    return {};
}

static QString remapOutMissing(const CommandSpec& command, const CommandOptions& options)
{
    return options.remapOut.isEmpty()
               ? QStringLiteral("%1 needs --remap-out R for the remap file the levels need.")
                     .arg(command.words())
               : QString();
}

QString checkRemapOut(const CommandSpec& command, const CommandOptions& options)
{
    if (const QString why = remapOutMissing(command, options); !why.isEmpty())
        return why;
    if (options.inputs.size() > 1)
        return QStringLiteral("--remap-out takes one input, but %1 are given.")
            .arg(options.inputs.size());
    return {};
}

QString checkDedupe(const CommandSpec& command, const CommandOptions& options)
{
    if (options.usedBy.isEmpty() &&
        (!options.tileProperties.isEmpty() || !options.sheet.isEmpty() || options.firstId != 0))
        return QStringLiteral("%1 takes --tile-property, --sheet and --first-id only with the "
                              "levels they speak of: --used-by LEVEL...")
            .arg(command.words());
    return checkRemapOut(command, options);
}

namespace {

QString flipsWithoutDedupe(const CommandSpec& command, const CommandOptions& options)
{
    if (options.flips && !options.dedupe)
        return QStringLiteral("%1 takes --flips with --dedupe: only merged tiles are turned.")
            .arg(command.words());
    return {};
}

}  // namespace

QString checkMerge(const CommandSpec& command, const CommandOptions& options)
{
    if (QString why = flipsWithoutDedupe(command, options); !why.isEmpty())
        return why;
    return remapOutMissing(command, options);
}

QString checkPrune(const CommandSpec& command, const CommandOptions& options)
{
    if (options.usedBy.isEmpty())
        return QStringLiteral("%1 needs the levels that use the sheet: --used-by LEVEL...")
            .arg(command.words());
    if (QString why = flipsWithoutDedupe(command, options); !why.isEmpty())
        return why;
    return checkRemapOut(command, options);
}

QString checkLevelRemap(const CommandSpec& command, const CommandOptions& options)
{
    // Levels may only take the sheet's new margin and spacing with their tile ids as they are.
    const bool layoutGiven = options.margin || options.spacing;
    const bool gridGiven = options.gridChange != TileRemap::GridChange::None;
    if (layoutGiven && gridGiven)
        return QStringLiteral("--grid is short for a margin and spacing: give either it or "
                              "--margin and --spacing.");
    if (layoutGiven && !options.remapPath.isEmpty())
        return QStringLiteral("--remap packs the sheet anew: run --margin and --spacing in a "
                              "run of their own after it.");
    if (options.mapPath.isEmpty() && options.remapPath.isEmpty() && !layoutGiven && !gridGiven)
        return QStringLiteral("%1 needs the map file (--map M) or the remap file (--remap R), the "
                              "sheet's new margin and spacing (--margin M --spacing S), or both.")
            .arg(command.words());
    if (!options.mapPath.isEmpty() && !options.remapPath.isEmpty())
        return QStringLiteral("%1 takes --map M or --remap R, not both.").arg(command.words());
    return {};
}

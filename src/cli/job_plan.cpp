#include "cli/job_plan.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "document/path_extension.h"
#include "document/sheet_files.h"
#include "level/level_remap.h"

namespace {

QString formatError(const QString& output)
{
    return QStringLiteral("%1 must end in .png or .bmp, which picks the format.")
        .arg(quotedPath(output));
}

// Where each result of a command that writes sheets or levels goes, or a usage error.
QString planFileOutputs(OutputKind kind, const CommandOptions& options, std::vector<Job>& jobs)
{
    const bool sheets = kind == OutputKind::Sheets;
    const int choices =
        int(!options.output.isEmpty()) + int(!options.outDir.isEmpty()) + int(options.inPlace);
    if (choices == 0)
        return QStringLiteral("say where the results go: -o OUT, --out-dir DIR or --in-place.");
    if (choices > 1)
        return QStringLiteral("give only one of -o, --out-dir and --in-place.");
    if (!options.output.isEmpty() && jobs.size() > 1)
        return QStringLiteral(
                   "-o takes one input, but %1 are given; use --out-dir DIR for several.")
            .arg(jobs.size());
    if (sheets && !options.output.isEmpty() && !imageFormatOf(options.output))
        return formatError(options.output);

    // Levels keep their places below the folder that holds all the run's files.
    LevelOutputPath levelTree;
    if (!sheets && !options.outDir.isEmpty())
        levelTree = levelOutputIntoTree(
            options.outDir,
            levelRunFiles(options.inputs,
                          LevelRemapOptions{options.sheet, options.firstId, nullptr, {}}));
    for (Job& job : jobs) {
        const QString& input = job.inputs.front();
        if (options.inPlace) {
            if (sheets && !imageFormatOf(input))
                return QStringLiteral("%1 cannot be written in place: only .png and .bmp files "
                                      "can. Use -o or --out-dir.")
                    .arg(quotedPath(input));
            job.output = input;
        } else if (!options.outDir.isEmpty()) {
            job.output = sheets ? outDirTarget(options.outDir, input) : levelTree(input);
        } else {
            job.output = options.output;
        }
    }
    return {};
}

// Refuses a result written over an input (unless it is its own input, in place) and two results
// with one target.
QString checkTargets(const CommandSpec& command, const CommandOptions& options,
                     const std::vector<Job>& jobs)
{
    QHash<QString, QString> inputs;  // key -> the input as given
    for (const Job& job : jobs)
        for (const QString& input : job.inputs)
            inputs.insert(fileIdentity(input), input);
    if (!options.mapPath.isEmpty())
        inputs.insert(fileIdentity(options.mapPath), options.mapPath);
    if (!options.remapPath.isEmpty())
        inputs.insert(fileIdentity(options.remapPath), options.remapPath);
    for (const QString& level : options.usedBy)
        inputs.insert(fileIdentity(level), level);

    QHash<QString, QString> targets;  // key -> the input whose result goes there
    if (!options.mapOut.isEmpty()) {
        const QString key = fileIdentity(options.mapOut);
        // In place, the map that came in may be brought up to date too.
        const bool ownMap = options.inPlace && key == fileIdentity(options.mapPath);
        if (inputs.contains(key) && !ownMap)
            return QStringLiteral("%1 is an input and would be written over.").arg(quotedPath(options.mapOut));
        targets.insert(key, jobs.front().inputs.front());
    }
    for (const Job& job : jobs) {
        if (job.output.isEmpty())
            continue;
        const QString key = fileIdentity(job.output);
        const QString& input = job.inputs.front();
        if (const auto other = targets.constFind(key); other != targets.cend())
            return QStringLiteral("%1 and %2 would both be written to %3.")
                .arg(quotedPath(*other), quotedPath(input), quotedPath(job.output));
        targets.insert(key, input);
        const bool ownInput = options.inPlace && key == fileIdentity(input);
        if (inputs.contains(key) && !ownInput)
            return QStringLiteral("%1 is an input and would be written over.%2")
                .arg(quotedPath(job.output),
                     command.options.has(Option::InPlace)
                         ? QStringLiteral(" Use --in-place to replace inputs.")
                         : QString());
    }
    return {};
}

}  // namespace

QString outDirTarget(const QString& folder, const QString& input)
{
    QString name = QFileInfo(input).fileName();
    if (!imageFormatOf(name)) {
        const QString extension = pathExtension(name);
        if (!extension.isEmpty())
            name.chop(extension.size() + 1);
        name += QStringLiteral(".png");
    }
    return QDir(folder).filePath(name);
}

JobPlan planJobs(const CommandSpec& command, const CommandOptions& options)
{
    JobPlan plan;
    const qsizetype count = options.inputs.size();
    if (command.inputs == InputCount::Two && count != 2) {
        plan.error = QStringLiteral("%1 takes exactly two sheets, but %2 given.")
                         .arg(command.words(), count == 1 ? QStringLiteral("1 is")
                                                          : QStringLiteral("%1 are").arg(count));
        return plan;
    }
    if (count == 0) {
        plan.error = QStringLiteral("%1 needs at least one %2.")
                         .arg(command.words(), command.output == OutputKind::Levels
                                                   ? QStringLiteral("level file")
                                                   : QStringLiteral("sheet"));
        return plan;
    }
    // Block moves take a sheet in its original order unless a map says otherwise.
    const bool movesBlocks = command.options.has(Option::Block);
    // Levels may only take the sheet's new margin and spacing, with their tile ids as they are.
    const bool takesLayout =
        command.options.has(Option::Margin) && command.output == OutputKind::Levels;
    const bool layoutGiven = options.margin || options.spacing;
    if (takesLayout && layoutGiven && options.gridChange != TileRemap::GridChange::None) {
        plan.error = QStringLiteral("--grid is short for a margin and spacing: give either it or "
                                    "--margin and --spacing.");
        return plan;
    }
    if (takesLayout && layoutGiven && !options.remapPath.isEmpty()) {
        plan.error = QStringLiteral("--remap packs the sheet anew: run --margin and --spacing in a "
                                    "run of their own after it.");
        return plan;
    }
    const bool takesRemap = command.options.has(Option::Remap);
    if (command.options.has(Option::Map) && !movesBlocks && options.mapPath.isEmpty() &&
        options.remapPath.isEmpty() &&
        !(takesLayout && (layoutGiven || options.gridChange != TileRemap::GridChange::None))) {
        plan.error = takesLayout
                         ? QStringLiteral("%1 needs the map file (--map M) or the remap file "
                                          "(--remap R), the sheet's new margin and spacing "
                                          "(--margin M --spacing S), or both.")
                               .arg(command.words())
                         : QStringLiteral("%1 needs the map file: --map M.").arg(command.words());
        return plan;
    }
    if (takesRemap && !options.mapPath.isEmpty() && !options.remapPath.isEmpty()) {
        plan.error = QStringLiteral("%1 takes --map M or --remap R, not both.").arg(command.words());
        return plan;
    }
    if (command.options.has(Option::UsedBy) && options.usedBy.isEmpty()) {
        plan.error = QStringLiteral("%1 needs the levels that use the sheet: --used-by LEVEL...")
                         .arg(command.words());
        return plan;
    }
    if (command.options.has(Option::RemapOut)) {
        if (options.mapOut.isEmpty()) {
            plan.error = QStringLiteral("%1 needs --remap-out R for the remap file the levels need.")
                             .arg(command.words());
            return plan;
        }
        if (count > 1) {
            plan.error = QStringLiteral("--remap-out takes one input, but %1 are given.").arg(count);
            return plan;
        }
    }
    if (movesBlocks) {
        if (options.blocks.empty() || options.blocks.size() != options.targets.size()) {
            plan.error = QStringLiteral("%1 needs each --block C,R,W,H followed by its --to C,R.")
                             .arg(command.words());
            return plan;
        }
        if (!options.mapOut.isEmpty() && count > 1) {
            plan.error = QStringLiteral("--map-out takes one input, but %1 are given.").arg(count);
            return plan;
        }
    }

    if (command.inputs == InputCount::Two)
        plan.jobs.push_back(Job{options.inputs, QString()});
    else
        for (const QString& input : options.inputs)
            plan.jobs.push_back(Job{QStringList{input}, QString()});

    switch (command.output) {
    case OutputKind::Sheets:
    case OutputKind::Levels:
        plan.error = planFileOutputs(command.output, options, plan.jobs);
        break;
    case OutputKind::MapFile:
        if (options.output.isEmpty())
            plan.error = QStringLiteral("%1 needs -o M for the map file.").arg(command.words());
        plan.jobs.front().output = options.output;
        break;
    case OutputKind::Report:
        break;
    }
    if (plan.error.isEmpty())
        plan.error = checkTargets(command, options, plan.jobs);
    // Each input's target was checked; the job itself follows the options to the same places.
    if (plan.error.isEmpty() && command.inputs == InputCount::OneRun)
        plan.jobs = {Job{options.inputs, QString()}};
    return plan;
}

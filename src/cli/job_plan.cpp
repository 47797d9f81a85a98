#include "cli/job_plan.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "cli/level_jobs.h"
#include "document/file_identity.h"
#include "document/file_messages.h"
#include "document/path_extension.h"
#include "document/sheet_files.h"
#include "level/level_remap.h"

namespace
{

QString formatError(const QString& output)
{
    return QStringLiteral("%1 must end in .png, .bmp or .webp, which picks the format.")
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
            levelRunFiles(options.inputs, levelRemapOptions(options)));
    for (Job& job : jobs) {
        const QString& input = job.inputs.front();
        if (options.inPlace) {
            if (sheets && !imageFormatOf(input))
                return QStringLiteral("%1 cannot be written in place: only .png, .bmp and .webp "
                                      "files can. Use -o or --out-dir.")
                    .arg(quotedPath(input));
            job.output = input;
        } else if (!options.outDir.isEmpty()) {
            job.output = sheets ? outDirTarget(options.outDir, input) : levelTree(input).path;
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
    QHash<QString, QString> inputs; // key -> the input as given
    for (const Job& job : jobs)
        for (const QString& input : job.inputs)
            inputs.insert(fileIdentity(input), input);
    if (!options.mapPath.isEmpty())
        inputs.insert(fileIdentity(options.mapPath), options.mapPath);
    if (!options.remapPath.isEmpty())
        inputs.insert(fileIdentity(options.remapPath), options.remapPath);
    for (const QString& level : options.usedBy)
        inputs.insert(fileIdentity(level), level);

    QHash<QString, QString> targets; // key -> the input whose result goes there
    for (const QString& written : {options.mapOut, options.remapOut}) {
        if (written.isEmpty())
            continue;
        const QString key = fileIdentity(written);
        // In place, the map that came in may be brought up to date too.
        const bool ownMap = options.inPlace && key == fileIdentity(options.mapPath);
        if (inputs.contains(key) && !ownMap)
            return QStringLiteral("%1 is an input and would be written over.")
                .arg(quotedPath(written));
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

} // namespace

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
    if (command.check) {
        plan.error = command.check(command, options);
        if (!plan.error.isEmpty())
            return plan;
    }

    if (command.inputs == InputCount::Two || command.inputs == InputCount::AllInOne)
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

#include "cli/level_jobs.h"

#include <QDir>
#include <QFileInfo>
#include <set>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "document/sheet_files.h"
#include "level/atlas_merge.h"
#include "level/level_format.h"
#include "level/level_remap.h"
#include "level/remap_file.h"

namespace {

// Where each file of the run goes. A run also writes the tileset and template files that maps
// keep apart; such a file gets no place when -o names one for the level alone. --out-dir keeps
// the files' places relative to each other, and gives no place where a result would be written
// over a file the run reads.
LevelOutputPath levelTargets(const CommandOptions& options, const Job& job,
                             const LevelRemapOptions& levels)
{
    if (options.inPlace)
        return levelOutputInPlace();
    if (!options.outDir.isEmpty()) {
        const QStringList files = levelRunFiles(job.inputs, levels);
        const LevelOutputPath tree = levelOutputIntoTree(options.outDir, files);
        std::set<QString> read;
        for (const QString& file : files + QStringList{options.mapPath, options.remapPath})
            if (!file.isEmpty())
                read.insert(fileIdentity(file));
        return [tree, read](const QString& path) {
            const QString target = tree(path).path;
            const QString key = fileIdentity(target);
            if (key != fileIdentity(path) && read.count(key) == 0)
                return LevelOutput{target, {}};
            return LevelOutput{
                {},
                key == fileIdentity(path)
                    ? QStringLiteral("--out-dir would write it over itself; name another folder, "
                                     "or give --in-place")
                    : QStringLiteral("--out-dir would write it over %1, which this run reads; "
                                     "name another folder")
                          .arg(quotedPath(target))};
        };
    }
    return [level = fileIdentity(job.inputs.front()), output = options.output](const QString& path) {
        if (fileIdentity(path) == level)
            return LevelOutput{output, {}};
        return LevelOutput{{}, QStringLiteral("-o is the place of the level alone, but this tileset or "
                                       "template of it is remapped too; use --out-dir DIR or "
                                       "--in-place")};
    };
}

JobResult reportRun(const CommandOptions& options, const LevelRemapRun& run);
JobResult followMerge(const CommandOptions& options, const Job& job, const RemapFile& file);

}  // namespace

JobResult remapLevelsJob(const CommandOptions& options, const Job& job)
{
    TileRemap remap;
    QString namedSheet;  // the sheet the remap file was made for
    if (!options.remapPath.isEmpty()) {
        if (options.gridChange != TileRemap::GridChange::None)
            return JobResult{QStringLiteral("--grid goes with --map; a remap file says all."),
                             QString()};
        RemapParseResult read = readRemapFile(options.remapPath);
        if (!read.file)
            return JobResult{read.error, QString()};
        if (!read.single())
            return followMerge(options, job, *read.file);
        remap = *read.single();
        namedSheet = read.file->sheets.front().path;
    } else if (options.mapPath.isEmpty()) {
        remap.keepsIds = true;
        remap.grid = options.gridChange;
    } else {
        const MapParseResult read = readMapFileAsOneRow(options.mapPath);
        if (!read.map)
            return JobResult{read.error, QString()};
        remap = TileRemap::fromTileMap(*read.map, options.gridChange);
        // The file holds no column count: the map was read as one row, which no tileset's
        // columns should be checked against.
        remap.columns = 0;
    }
    remap.margin = options.margin.value_or(-1);
    remap.spacing = options.spacing.value_or(-1);

    LevelRemapOptions levels = levelRemapOptions(options);
    // The tilesets that show the sheet the remap was made for, without --sheet; when that file is
    // gone from where the remap names it, those that show an image of its name.
    if (levels.sheet.isEmpty() && !namedSheet.isEmpty())
        levels.sheet =
            QFileInfo::exists(namedSheet) ? namedSheet : QFileInfo(namedSheet).fileName();
    return reportRun(options, remapLevelFiles(job.inputs, remap, levels,
                                              levelTargets(options, job, levels)));
}

namespace {

JobResult reportRun(const CommandOptions& options, const LevelRemapRun& run)
{
    if (!run.error.isEmpty())
        return JobResult{run.error, QString()};

    QStringList failures;
    QString report;
    for (const LevelFileResult& file : run.files) {
        if (file.status == LevelFileStatus::Failed) {
            failures << file.message();
        } else if (!options.quiet) {
            report += file.message() + QLatin1Char('\n');
        }
    }
    if (!options.quiet)
        report += run.summary() + QLatin1Char('\n');
    return JobResult{failures.join(QLatin1Char('\n')), report};
}

// The maps of several sheets merged into one atlas take one tileset of the atlas.
JobResult followMerge(const CommandOptions& options, const Job& job, const RemapFile& file)
{
    if (options.margin || options.spacing)
        return JobResult{QStringLiteral("--margin and --spacing do not go with the remap of a "
                                        "merge; the atlas's tileset takes the sheets' own."),
                         QString()};
    AtlasMerge merge;
    merge.atlas = QFileInfo(file.atlas).absoluteFilePath();
    if (!options.tilesetOut.isEmpty())
        merge.tilesetOut = QFileInfo(options.tilesetOut).absoluteFilePath();
    for (const RemapSheet& sheet : file.sheets)
        merge.sheets.push_back({QFileInfo(sheet.path).absoluteFilePath(), sheet.remap});
    LevelRemapOptions levels = levelRemapOptions(options);
    // Each sheet's tileset file, as the levels name it: the atlas's tileset file gathers them all,
    // whichever each level names.
    LevelScans scans;
    levels.scans = &scans;
    for (const MergedSheet& sheet : merge.sheets) {
        LevelRemapOptions finding = levels;
        finding.sheet = sheet.image;
        QString found;
        for (const TilesetFacts& tileset : findSheetTilesets(job.inputs, finding))
            if (found.isEmpty() && !tileset.file.isEmpty())
                found = tileset.file;
        merge.tilesetFiles.push_back(found);
    }
    levels.merge = &merge;
    return reportRun(options, remapLevelFiles(job.inputs, merge.sheets.front().remap, levels,
                                              levelTargets(options, job, levels)));
}

}  // namespace

LevelRemapOptions levelRemapOptions(const CommandOptions& options)
{
    LevelRemapOptions levels;
    levels.sheet = options.sheet;
    levels.firstId = options.firstId;
    levels.tileProperties = options.tileProperties;
    return levels;
}

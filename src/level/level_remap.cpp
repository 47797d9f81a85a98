#include "level/level_remap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>
#include <set>

#include "document/atomic_file.h"
#include "document/file_messages.h"
#include "level/csv_level.h"
#include "level/json_level.h"
#include "level/level_limits.h"
#include "level/level_sites.h"
#include "level/xml_level.h"

namespace {

enum class Family { Xml, Json, Csv, Unknown };

Family familyOf(const QString& path, const QByteArray& bytes)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"tmx" || suffix == u"tsx" || suffix == u"xml")
        return Family::Xml;
    if (suffix == u"tmj" || suffix == u"tsj" || suffix == u"json")
        return Family::Json;
    if (suffix == u"csv" || suffix == u"txt")
        return Family::Csv;
    // Anything else by its first character.
    qsizetype i = bytes.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (i < bytes.size() && isBlank(bytes[i]))
        ++i;
    if (i == bytes.size())
        return Family::Csv;
    const char first = bytes[i];
    if (first == '<')
        return Family::Xml;
    if (first == '{')
        return Family::Json;
    if ((first >= '0' && first <= '9') || first == '-' || first == ',')
        return Family::Csv;
    return Family::Unknown;
}

bool scanSites(Family family, const QByteArray& bytes, const QString& folder, LevelSites& sites,
               LevelProblem& problem)
{
    return family == Family::Xml ? scanXmlLevel(bytes, folder, sites, problem)
                                 : scanJsonLevel(bytes, folder, sites, problem);
}

QString unknownFormat()
{
    return QStringLiteral(
        "it is none of the level files Tilegrid reads (TMX, TSX, TMJ, TSJ or CSV)");
}

QString absolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// One string per file, whatever path names it.
QString identity(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? absolute(path) : canonical;
}

// A full sentence as a reason inside another sentence.
QString asReason(QString sentence)
{
    if (sentence.endsWith(u'.'))
        sentence.chop(1);
    return sentence;
}

QString plural(qint64 count, const QString& one, const QString& many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

// Tileset files read in this run, by identity: each is read once, and what a map learns of it
// comes from the text as it stood before anything in the run rewrote it.
class TilesetFiles
{
  public:
    struct Entry {
        QByteArray bytes;
        ExternalTileset tileset;
    };

    const Entry& read(const QString& path)
    {
        const QString key = identity(path);
        auto found = entries_.find(key);
        if (found != entries_.end())
            return found->second;
        Entry entry;
        QFile file(path);
        const QString error = openForReading(file, QStringLiteral("a tileset file"));
        if (!error.isEmpty()) {
            entry.tileset.error = error;
        } else if (const QString large = levelFileTooLarge(file.size()); !large.isEmpty()) {
            entry.tileset.error =
                QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), large);
        } else {
            entry.bytes = file.readAll();
            entry.tileset = readTilesetFacts(entry.bytes, path);
            if (!entry.tileset.error.isEmpty())
                entry.tileset.error = QStringLiteral("%1 cannot be read: %2.")
                                          .arg(quotedPath(path), entry.tileset.error);
        }
        return entries_.emplace(key, std::move(entry)).first->second;
    }

    // Keeps bytes as the text of path when nothing was read from it yet.
    void remember(const QString& path, const QByteArray& bytes)
    {
        const QString key = identity(path);
        if (entries_.count(key) == 0)
            entries_.emplace(key, Entry{bytes, readTilesetFacts(bytes, path)});
    }

  private:
    std::map<QString, Entry> entries_;
};

class Run
{
  public:
    Run(const TileRemap& remap, const LevelRemapOptions& options, const LevelOutputPath& output)
        : remap_(remap), options_(options), output_(output)
    {
    }

    void file(const QString& given, LevelRemapRun& run)
    {
        const QString path = absolute(given);
        LevelFileResult result;
        result.path = given;
        if (done_.count(identity(path))) {
            result.status = LevelFileStatus::Skipped;
            result.reason = QStringLiteral("it was already remapped in this run");
            run.files.push_back(result);
            return;
        }
        done_.insert(identity(path));
        QFile file(path);
        result.reason = asReason(openForReading(file, QStringLiteral("a level file")));
        if (result.reason.isEmpty())
            result.reason = levelFileTooLarge(file.size());
        if (!result.reason.isEmpty()) {
            run.files.push_back(result);
            return;
        }
        const QByteArray bytes = file.readAll();
        file.close();
        const ExternalTilesetReader reader = [this](const QString& tilesetPath) {
            return tilesets_.read(tilesetPath).tileset;
        };
        LevelBytesResult remapped = remapLevelBytes(bytes, path, remap_, options_, reader);
        if (remapped.isTileset) {
            tilesets_.remember(path, bytes);
            if (remapped.status == LevelFileStatus::Failed)
                failedTilesets_.insert(identity(path));
        }
        if (remapped.status != LevelFileStatus::Updated) {
            run.files.push_back(resultOf(given, remapped));
            return;
        }

        // Written elsewhere, the map must still find the remapped tileset where its source says;
        // otherwise it would show the original tileset's per-tile data and spacing.
        for (const QString& tilesetPath : remapped.sheetTilesetFiles) {
            const QString relative = QFileInfo(path).dir().relativeFilePath(tilesetPath);
            const QString mapTarget = output_(path);
            const QString tilesetTarget = output_(tilesetPath);
            if (mapTarget.isEmpty() || tilesetTarget.isEmpty() ||
                identity(QFileInfo(mapTarget).dir().absoluteFilePath(relative)) ==
                    identity(tilesetTarget))
                continue;
            LevelFileResult level = resultOf(given, remapped);
            level.status = LevelFileStatus::Failed;
            const QString shown =
                QDir::cleanPath(QFileInfo(mapTarget).dir().absoluteFilePath(relative));
            level.reason = QStringLiteral("written to %1 it would show the tileset %2 rather than "
                                          "its remapped copy %3; remap in place, or keep the "
                                          "tileset beside the map")
                               .arg(quotedPath(mapTarget), quotedPath(shown),
                                    quotedPath(tilesetTarget));
            run.files.push_back(level);
            return;
        }

        // The map's sheet tilesets first: the map is written only when they are.
        std::vector<LevelFileResult> tilesetResults;
        QString blocked;
        for (const QString& tilesetPath : remapped.sheetTilesetFiles) {
            const QString key = identity(tilesetPath);
            if (done_.count(key)) {
                if (failedTilesets_.count(key))
                    blocked = tilesetPath;
                continue;
            }
            done_.insert(key);
            LevelBytesResult tileset =
                remapLevelBytes(tilesets_.read(tilesetPath).bytes, tilesetPath, remap_, options_);
            LevelFileResult written = resultOf(tilesetPath, tileset);
            if (tileset.status == LevelFileStatus::Updated)
                write(written, tilesets_.read(tilesetPath).bytes, tileset.bytes);
            if (written.status != LevelFileStatus::Updated) {
                written.status = LevelFileStatus::Failed;
                failedTilesets_.insert(key);
                blocked = tilesetPath;
            }
            tilesetResults.push_back(written);
        }
        LevelFileResult level = resultOf(given, remapped);
        if (!blocked.isEmpty()) {
            level.status = LevelFileStatus::Failed;
            level.reason =
                QStringLiteral("its tileset %1 could not be remapped").arg(quotedPath(blocked));
        } else {
            write(level, bytes, remapped.bytes);
        }
        if (remapped.isTileset && level.status != LevelFileStatus::Updated)
            failedTilesets_.insert(identity(path));
        run.files.push_back(level);
        run.files.insert(run.files.end(), tilesetResults.begin(), tilesetResults.end());
    }

  private:
    static LevelFileResult resultOf(const QString& path, const LevelBytesResult& remapped)
    {
        LevelFileResult result;
        result.path = path;
        result.status = remapped.status;
        result.isTileset = remapped.isTileset;
        result.cellsChanged = remapped.cellsChanged;
        result.tilesMoved = remapped.tilesMoved;
        result.place = remapped.place;
        result.reason = remapped.reason;
        return result;
    }

    // Writes an updated result where the output policy says; on failure the result says why.
    void write(LevelFileResult& result, const QByteArray& before, const QByteArray& after)
    {
        const QString source = absolute(result.path);
        const QString target = output_(source);
        if (target.isEmpty()) {
            result.status = LevelFileStatus::Failed;
            result.reason = QStringLiteral("it has no place to be written");
            return;
        }
        const QString key = identity(target);
        if (written_.count(key)) {
            result.status = LevelFileStatus::Failed;
            result.reason =
                QStringLiteral("its result would overwrite %1, written before in this run")
                    .arg(quotedPath(target));
            return;
        }
        // A file written back to itself unchanged is not touched at all.
        if (key != identity(source) || after != before) {
            const QString error = writeFileAtomically(target, after);
            if (!error.isEmpty()) {
                result.status = LevelFileStatus::Failed;
                result.reason = asReason(error);
                return;
            }
        }
        written_.insert(key);
        result.outputPath = target;
    }

    const TileRemap& remap_;
    const LevelRemapOptions& options_;
    LevelOutputPath output_;
    TilesetFiles tilesets_;
    std::set<QString> done_;            // files remapped (or tried) in this run
    std::set<QString> failedTilesets_;  // tileset files whose remap or write failed
    std::set<QString> written_;         // outputs written in this run
};

}  // namespace

QString LevelFileResult::message() const
{
    switch (status) {
    case LevelFileStatus::Updated: {
        const QString what = isTileset ? plural(tilesMoved, QStringLiteral("tile entry renumbered"),
                                                QStringLiteral("tile entries renumbered"))
                                       : plural(cellsChanged, QStringLiteral("cell changed"),
                                                QStringLiteral("cells changed"));
        const bool elsewhere = !outputPath.isEmpty() && absolute(outputPath) != absolute(path);
        return elsewhere ? QStringLiteral("Updated %1 into %2: %3.")
                               .arg(quotedPath(path), quotedPath(outputPath), what)
                         : QStringLiteral("Updated %1: %2.").arg(quotedPath(path), what);
    }
    case LevelFileStatus::Skipped:
        return QStringLiteral("Skipped %1: %2.").arg(quotedPath(path), reason);
    case LevelFileStatus::Failed:
        break;
    }
    return place.isEmpty()
               ? QStringLiteral("Left %1 as it was: %2.").arg(quotedPath(path), reason)
               : QStringLiteral("Left %1 as it was: %2: %3.").arg(quotedPath(path), place, reason);
}

namespace {

LevelBytesResult remapLevelText(const QByteArray& bytes, const QString& path,
                                const TileRemap& remap, const LevelRemapOptions& options,
                                const ExternalTilesetReader& readTileset)
{
    LevelBytesResult result;
    result.reason = levelFileTooLarge(bytes.size());
    if (!result.reason.isEmpty())
        return result;
    const QString unfit = remap.check();
    if (!unfit.isEmpty()) {
        result.reason = QStringLiteral("the tile map is no rearrangement: %1").arg(unfit);
        return result;
    }
    const Family family = familyOf(path, bytes);
    if (family == Family::Unknown) {
        result.reason = unknownFormat();
        return result;
    }
    if (family == Family::Csv) {
        if (options.firstId != 0 && options.firstId != 1) {
            result.reason =
                QStringLiteral("the first tile number must be 0 or 1, not %1").arg(options.firstId);
            return result;
        }
        return remapCsvLevel(bytes, remap, options.firstId);
    }
    const QString absolutePath = absolute(path);
    const LevelContext context{remap, options, absolutePath, QFileInfo(absolutePath).absolutePath(),
                               readTileset};
    LevelSites sites;
    LevelProblem problem;
    if (!scanSites(family, bytes, context.folder, sites, problem))
        return failedAt(bytes, problem);
    return remapSites(sites, bytes, context);
}

}  // namespace

LevelBytesResult remapLevelBytes(const QByteArray& bytes, const QString& path,
                                 const TileRemap& remap, const LevelRemapOptions& options,
                                 const ExternalTilesetReader& readTileset)
{
    // Whatever the estimate let through, running out fails this file alone.
    try {
        return remapLevelText(bytes, path, remap, options, readTileset);
    } catch (const std::bad_alloc&) {
        LevelBytesResult result;
        result.reason = notEnoughMemory();
        return result;
    }
}

ExternalTileset readTilesetFacts(const QByteArray& bytes, const QString& path)
{
    ExternalTileset result;
    const Family family = familyOf(path, bytes);
    LevelSites sites;
    LevelProblem problem;
    if (family != Family::Xml && family != Family::Json)
        result.error = QStringLiteral("it is not a TSX or TSJ tileset");
    else if (!scanSites(family, bytes, QFileInfo(absolute(path)).absolutePath(), sites, problem))
        result.error = QStringLiteral("%1: %2").arg(linePlace(bytes, problem.at), problem.reason);
    else if (!sites.isTileset || sites.tilesets.empty())
        result.error = QStringLiteral("it is a map, not a tileset");
    else
        result.facts = sites.tilesets.front().facts;
    if (result.error.isEmpty() && sites.tilesets.front().problem) {
        const LevelBytesResult failed = failedAt(bytes, *sites.tilesets.front().problem);
        result.problem = QStringLiteral("%1: %2").arg(failed.place, failed.reason);
    }
    return result;
}

LevelOutputPath levelOutputInPlace()
{
    return [](const QString& path) { return path; };
}

LevelOutputPath levelOutputIntoFolder(const QString& folder)
{
    return
        [folder](const QString& path) { return QDir(folder).filePath(QFileInfo(path).fileName()); };
}

int LevelRemapRun::count(LevelFileStatus status) const
{
    return int(std::count_if(files.begin(), files.end(), [status](const LevelFileResult& file) {
        return file.status == status;
    }));
}

qint64 LevelRemapRun::cellsChanged() const
{
    qint64 total = 0;
    for (const LevelFileResult& file : files)
        if (file.status == LevelFileStatus::Updated)
            total += file.cellsChanged;
    return total;
}

QString LevelRemapRun::summary() const
{
    if (!error.isEmpty())
        return error;
    return QStringLiteral("%1 updated (%2), %3 skipped, %4 failed.")
        .arg(
            plural(count(LevelFileStatus::Updated), QStringLiteral("file"),
                   QStringLiteral("files")),
            plural(cellsChanged(), QStringLiteral("cell changed"), QStringLiteral("cells changed")))
        .arg(count(LevelFileStatus::Skipped))
        .arg(count(LevelFileStatus::Failed));
}

LevelRemapRun remapLevelFiles(const QStringList& paths, const TileRemap& remap,
                              const LevelRemapOptions& options, const LevelOutputPath& output)
{
    LevelRemapRun run;
    const QString unfit = remap.check();
    if (!unfit.isEmpty()) {
        run.error = QStringLiteral("The tile map cannot be applied to levels: %1.").arg(unfit);
        return run;
    }
    if (options.firstId != 0 && options.firstId != 1) {
        run.error = QStringLiteral("The first tile number of CSV levels must be 0 or 1, not %1.")
                        .arg(options.firstId);
        return run;
    }
    Run files(remap, options, output ? output : levelOutputInPlace());
    for (const QString& path : paths) {
        try {
            files.file(path, run);
        } catch (const std::bad_alloc&) {
            LevelFileResult failed;
            failed.path = path;
            failed.reason = notEnoughMemory();
            run.files.push_back(failed);
        }
    }
    return run;
}

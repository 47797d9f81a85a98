#include "level/level_remap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "document/atomic_file.h"
#include "document/file_identity.h"
#include "document/file_messages.h"
#include "document/problem.h"
#include "level/level_format.h"
#include "level/level_limits.h"
#include "level/sheet_choice.h"
#include "level/sheet_images.h"

namespace
{

QString unknownFormat()
{
    return QStringLiteral("it is none of the level files Tilegrid reads (%1)")
        .arg(levelFormatNames());
}

// path as the user would name it: from the working folder when given is named so.
QString namedLike(const QString& given, const QString& path)
{
    return QFileInfo(given).isRelative() ? QDir::current().relativeFilePath(path) : path;
}

// A full sentence as a reason inside another sentence.
QString asReason(QString sentence)
{
    if (sentence.endsWith(u'.'))
        sentence.chop(1);
    return sentence;
}

// A level file's bytes, or why they cannot be read.
QString readLevelFile(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    QString error = asReason(openForReading(file, QStringLiteral("a level file")));
    if (error.isEmpty())
        error = levelFileTooLarge(file.size());
    if (error.isEmpty())
        bytes = file.readAll();
    return error;
}

// Tileset and template files read in this run, by identity: each is read once, and what a map
// learns of it comes from the text as it stood before anything in the run rewrote it.
class SharedFiles
{
  public:
    struct Entry {
        QByteArray bytes;
        ExternalTileset tileset;
        bool known = true; // tileset has been read from bytes
    };

    // follow: a template's tileset file is read as well (a tileset file's own never is).
    const Entry& read(const QString& path, bool follow = true)
    {
        const QString key = fileIdentity(path);
        auto found = entries_.find(key);
        if (found != entries_.end()) {
            // A file remembered is read for its tilesets only when asked: a large project's
            // level files ask, its maps' runs do not.
            Entry& entry = found->second;
            if (!entry.known) {
                entry.tileset = factsOf(entry.bytes, path, true);
                entry.known = true;
            }
            return entry;
        }
        Entry entry;
        QFile file(path);
        const QString error = openForReading(file, QStringLiteral("a tileset or template file"));
        if (!error.isEmpty()) {
            entry.tileset.error = error;
        } else if (const QString large = levelFileTooLarge(file.size()); !large.isEmpty()) {
            entry.tileset.error =
                QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), large);
        } else {
            entry.bytes = file.readAll();
            entry.tileset = factsOf(entry.bytes, path, follow);
        }
        return entries_.emplace(key, std::move(entry)).first->second;
    }

    // Keeps bytes as the text of path when nothing was read from it yet.
    void remember(const QString& path, const QByteArray& bytes)
    {
        const QString key = fileIdentity(path);
        if (entries_.count(key) == 0)
            entries_.emplace(key, Entry{bytes, {}, false});
    }

  private:
    ExternalTileset factsOf(const QByteArray& bytes, const QString& path, bool follow)
    {
        ExternalTileset tileset = readTilesetFacts(bytes, path);
        const QString named = tileset.facts.file;
        if (!tileset.error.isEmpty() || (!named.isEmpty() && !follow))
            return {
                {},
                QStringLiteral("%1 cannot be read: %2.")
                    .arg(quotedPath(path), tileset.error.isEmpty()
                                               ? QStringLiteral("it is a template, not a tileset")
                                               : tileset.error),
                {},
                {}, {}};
        if (!named.isEmpty()) {
            // A template counts its gid from its own first gid in the tileset file it names.
            const ExternalTileset used = read(named, false).tileset;
            if (!used.error.isEmpty())
                return used;
            const int64_t firstGid = tileset.facts.firstGid;
            tileset.facts = used.facts;
            tileset.facts.firstGid = firstGid;
        }
        return tileset;
    }

    std::map<QString, Entry> entries_;
};

class Run
{
  public:
    // seen: when set, nothing is written; the files that would be are listed there instead.
    Run(const TileRemap& remap, const LevelRemapOptions& options, const LevelOutputPath& output,
        QStringList* seen = nullptr)
        : remap_(remap), options_(options), output_(output), seen_(seen)
    {
    }

    void file(const QString& given, LevelRemapRun& run)
    {
        const QString path = QFileInfo(given).absoluteFilePath();
        Part main;
        main.path = path;
        main.result.path = given;
        if (done_.count(fileIdentity(path))) {
            main.result.status = LevelFileStatus::Skipped;
            main.result.reason = QStringLiteral("it was already remapped in this run");
            run.files.push_back(main.result);
            return;
        }
        done_.insert(fileIdentity(path));
        main.result.reason = readLevelFile(path, main.before);
        if (!main.result.reason.isEmpty()) {
            run.files.push_back(main.result);
            return;
        }
        main.remapped = remapLevelBytes(main.before, path, remap_, options_, reader());
        main.result = resultOf(given, main.remapped);
        if (main.remapped.othersRead)
            shared_.remember(path, main.before); // the files it carries read it as it stood
        if (main.remapped.status == LevelFileStatus::Failed)
            failedShared_.insert(fileIdentity(path));
        if (main.remapped.status != LevelFileStatus::Updated) {
            run.files.push_back(main.result);
            return;
        }

        std::vector<Part> parts{main};
        const QString blocked = gather(parts);
        if (!blocked.isEmpty() || !write(parts)) {
            if (!blocked.isEmpty())
                parts.front().result.reason = blocked;
            parts.front().result.status = LevelFileStatus::Failed;
            failedShared_.insert(fileIdentity(path));
        }
        for (const Part& part : parts)
            if (&part == &parts.front() || part.result.status == LevelFileStatus::Failed ||
                parts.front().result.status != LevelFileStatus::Failed)
                run.files.push_back(part.result);
    }

  private:
    // One file of those that are written together: a map and the sheet's tilesets and templates
    // it names (and their tilesets).
    struct Part {
        QString path; // absolute
        QString from; // the file that names it; empty for the file given
        QByteArray before;
        LevelBytesResult remapped;
        LevelFileResult result;
        QString target;
        bool unchanged = false;
    };

    ExternalTilesetReader reader()
    {
        // What went wrong with the file is told inside a sentence about the map.
        return [this](const QString& path) {
            const SharedFiles::Entry& entry = shared_.read(path);
            ExternalTileset tileset = entry.tileset;
            tileset.text = entry.bytes;
            tileset.error = asReason(tileset.error);
            return tileset;
        };
    }

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
        result.sheetImage = remapped.sheetImage;
        return result;
    }

    // Adds the files parts[0] carries along (not done before in this run) and remaps them, the
    // sheet being the image parts[0] was remapped for. Returns why parts[0] cannot be written, if
    // anything stands in its way; a part that failed itself is marked so.
    QString gather(std::vector<Part>& parts)
    {
        LevelRemapOptions options = options_;
        if (options.sheet.isEmpty())
            options.sheet = parts.front().remapped.sheetImage;
        for (size_t i = 0; i < parts.size(); ++i) {
            // A copy: parts grows below. Tilesets first, then templates, then level files.
            std::vector<CarriedFile> carried = parts[i].remapped.carried;
            std::stable_sort(carried.begin(), carried.end(),
                             [](const auto& a, const auto& b) { return a.kind < b.kind; });
            for (const CarriedFile& file : carried) {
                const QString& path = file.path;
                const QString kind =
                    file.kind == CarriedFile::Kind::Tileset    ? QStringLiteral("tileset")
                    : file.kind == CarriedFile::Kind::Template ? QStringLiteral("template")
                                                               : QStringLiteral("level file");
                const QString key = fileIdentity(path);
                if (std::any_of(parts.begin(), parts.end(),
                                [&](const Part& part) { return fileIdentity(part.path) == key; }))
                    continue;
                if (done_.count(key)) {
                    if (failedShared_.count(key))
                        return QStringLiteral("its %1 %2 could not be remapped")
                            .arg(kind, quotedPath(path));
                    continue;
                }
                Part part;
                part.path = path;
                part.from = parts[i].path;
                if (file.kind == CarriedFile::Kind::Level) {
                    // A level file is read as a level, whatever it holds.
                    if (const QString error = readLevelFile(path, part.before); !error.isEmpty())
                        return QStringLiteral("its level file %1 cannot be read: %2")
                            .arg(quotedPath(path), error);
                } else {
                    part.before = shared_.read(path).bytes;
                }
                if (const QString misplaced = placement(part, kind); !misplaced.isEmpty())
                    return misplaced;
                part.remapped =
                    remapLevelBytes(part.before, path, remap_, options, reader(), parts[i].path);
                part.result = resultOf(namedLike(parts.front().result.path, path), part.remapped);
                parts.push_back(part);
                if (part.remapped.status != LevelFileStatus::Updated) {
                    // A tileset or template of the sheet that cannot follow it blocks every map
                    // that uses it.
                    parts.back().result.status = LevelFileStatus::Failed;
                    done_.insert(key);
                    failedShared_.insert(key);
                    return QStringLiteral("its %1 %2 could not be remapped")
                        .arg(kind, quotedPath(path));
                }
            }
        }
        return {};
    }

    // Written elsewhere, a file must still find the remapped part where its source says;
    // otherwise it would show the original's per-tile data, spacing or tile.
    QString placement(const Part& part, const QString& kind) const
    {
        // A path kept as written below the map's folder (a link before "..") stays as written.
        const QString folder = QFileInfo(part.from).absolutePath() + QLatin1Char('/');
        const QString relative = part.path.startsWith(folder)
                                     ? part.path.mid(folder.size())
                                     : QFileInfo(part.from).dir().relativeFilePath(part.path);
        const QString fromTarget = output_(part.from).path;
        const QString partTarget = output_(part.path).path;
        if (fromTarget.isEmpty() || partTarget.isEmpty() ||
            fileIdentity(QFileInfo(fromTarget).dir().absoluteFilePath(relative)) ==
                fileIdentity(partTarget))
            return {};
        const QString shown = pathFrom(QFileInfo(fromTarget).path(), relative);
        return QStringLiteral("written to %1 it would show the %2 %3 rather than its remapped "
                              "copy %4; remap in place, or keep the %2 beside the map")
            .arg(quotedPath(fromTarget), kind, quotedPath(shown), quotedPath(partTarget));
    }

    // Writes the parts all or nothing where the output policy says, leaving out those whose
    // target holds their result already. On failure each part's result says why.
    bool write(std::vector<Part>& parts)
    {
        if (options_.use || seen_) { // a run that only reads
            for (Part& part : parts) {
                done_.insert(fileIdentity(part.path));
                if (seen_)
                    *seen_ << part.path;
            }
            return true;
        }
        std::vector<FileToWrite> files;
        std::vector<Part*> writing;
        std::set<QString> targets;
        for (Part& part : parts) {
            part.target = output_(part.path).path;
            if (part.target.isEmpty())
                return fail(parts, part, QStringLiteral("it has no place to be written"));
            const QString key = fileIdentity(part.target);
            if (written_.count(key) || targets.count(key))
                return fail(parts, part,
                            QStringLiteral("its result would overwrite %1, written before in "
                                           "this run")
                                .arg(quotedPath(part.target)));
            targets.insert(key);
            const std::optional<QByteArray> now =
                key == fileIdentity(part.path) ? part.before : contentOf(part.target);
            part.unchanged = now && *now == part.remapped.bytes;
            if (!part.unchanged) {
                files.push_back({part.target, part.remapped.bytes});
                writing.push_back(&part);
            }
        }
        std::vector<std::pair<QString, QByteArray>> created;
        if (!addCreated(parts, targets, files, writing, created))
            return false;
        qsizetype failed = -1;
        const QString error = writeFilesTogether(files, &failed);
        if (!error.isEmpty())
            return fail(parts, *writing[size_t(failed)], asReason(error));
        for (auto& [key, text] : created)
            created_.emplace(key, text);
        for (Part& part : parts) {
            done_.insert(fileIdentity(part.path));
            written_.insert(fileIdentity(part.target));
            part.result.outputPath = part.target;
            if (part.unchanged)
                part.result.status = LevelFileStatus::Unchanged;
        }
        return true;
    }

    // Adds the new files the parts create (an atlas's tileset) to those written with them, each
    // once in the run; false, with the part's result saying why, when one cannot be.
    bool addCreated(std::vector<Part>& parts, const std::set<QString>& targets,
                    std::vector<FileToWrite>& files, std::vector<Part*>& writing,
                    std::vector<std::pair<QString, QByteArray>>& created)
    {
        for (Part& part : parts) {
            for (const auto& [path, text] : part.remapped.created) {
                const QString key = fileIdentity(path);
                // The level names the new file from where it stands; written elsewhere, that name
                // would lead elsewhere.
                const QString named = QFileInfo(part.path).dir().relativeFilePath(path);
                if (fileIdentity(QFileInfo(part.target).dir().absoluteFilePath(named)) != key)
                    return fail(parts, part,
                                QStringLiteral("written to %1 it would not find the atlas's "
                                               "tileset %2 where it names it; remap in place, or "
                                               "write it into its own folder")
                                    .arg(quotedPath(part.target),
                                         quotedPath(QDir::current().relativeFilePath(path))));
                if (const auto before = created_.find(key); before != created_.end()) {
                    if (before->second != text)
                        return fail(parts, part,
                                    QStringLiteral("the atlas's tileset it needs differs from the "
                                                   "one written to %1 before in this run, since "
                                                   "it names other tilesets of the merged "
                                                   "sheets; remap it with another --tileset-out")
                                        .arg(quotedPath(path)));
                    continue;
                }
                if (targets.count(key) || written_.count(key))
                    return fail(parts, part,
                                QStringLiteral("the atlas's tileset would overwrite %1, which "
                                               "this run writes too")
                                    .arg(quotedPath(path)));
                created.emplace_back(key, text);
                if (contentOf(path) != std::optional(text)) {
                    files.push_back({path, text});
                    writing.push_back(&part);
                }
            }
        }
        return true;
    }

    // What the file at path holds, or nothing when it cannot be read.
    static std::optional<QByteArray> contentOf(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    static bool fail(std::vector<Part>& parts, Part& culprit, const QString& reason)
    {
        for (Part& part : parts) {
            part.result.status = LevelFileStatus::Failed;
            part.result.place.clear();
            part.result.reason = &part == &culprit
                                     ? reason
                                     : QStringLiteral("it goes with %1, which could not be written")
                                           .arg(quotedPath(culprit.result.path));
        }
        return false;
    }

    const TileRemap& remap_;
    const LevelRemapOptions& options_;
    LevelOutputPath output_;
    QStringList* seen_;
    SharedFiles shared_;
    std::set<QString> done_;         // files remapped (or tried) in this run
    std::set<QString> failedShared_; // tileset and template files whose remap or write failed
    std::set<QString> written_;      // outputs written in this run
    std::map<QString, QByteArray> created_;  // new files written in this run, by identity
};

} // namespace

QString LevelFileResult::message() const
{
    const QString sheet = sheetImage.isEmpty() || QFileInfo(sheetImage).isRelative()
                              ? sheetImage
                              : namedLike(path, sheetImage);
    const QString forSheet =
        sheet.isEmpty() ? QString() : QStringLiteral(" for the sheet %1").arg(quotedPath(sheet));
    const bool elsewhere = !outputPath.isEmpty() && QFileInfo(outputPath).absoluteFilePath() !=
                                                        QFileInfo(path).absoluteFilePath();
    switch (status) {
    case LevelFileStatus::Updated: {
        const QString what = isTileset ? plural(tilesMoved, QStringLiteral("tile entry renumbered"),
                                                QStringLiteral("tile entries renumbered"))
                                       : plural(cellsChanged, QStringLiteral("cell changed"),
                                                QStringLiteral("cells changed"));
        return elsewhere
                   ? QStringLiteral("Updated %1 into %2%3: %4.")
                         .arg(quotedPath(path), quotedPath(outputPath), forSheet, what)
                   : QStringLiteral("Updated %1%2: %3.").arg(quotedPath(path), forSheet, what);
    }
    case LevelFileStatus::Unchanged:
        return elsewhere ? QStringLiteral("Unchanged %1%2: %3 holds its result already.")
                               .arg(quotedPath(path), forSheet, quotedPath(outputPath))
                         : QStringLiteral("Unchanged %1%2: none of its tile numbers move.")
                               .arg(quotedPath(path), forSheet);
    case LevelFileStatus::Skipped:
        return QStringLiteral("Skipped %1: %2.").arg(quotedPath(path), reason);
    case LevelFileStatus::Failed:
        break;
    }
    return place.isEmpty()
               ? QStringLiteral("Left %1 as it was: %2.").arg(quotedPath(path), reason)
               : QStringLiteral("Left %1 as it was: %2: %3.").arg(quotedPath(path), place, reason);
}

namespace
{

// A sheet named by its file name alone must be one image across the run: levels that show two
// files of that name would be renumbered for two different sheets.
QString sheetNameClash(const QStringList& paths, const QString& sheet)
{
    if (!isBareFileName(sheet) || paths.size() < 2)
        return {};
    QStringList images;
    for (const QString& path : paths)
        for (const QString& image : levelSheetImages(path, sheet))
            if (!images.contains(image))
                images << image;
    if (images.size() < 2)
        return {};
    QStringList named;
    for (const QString& image : images)
        named << quotedPath(QDir::current().relativeFilePath(image));
    return QStringLiteral("Several images that the levels show are called %1 (%2); name the sheet "
                          "by its path. Nothing was changed.")
        .arg(quotedPath(sheet), named.join(QStringLiteral(", ")));
}

LevelBytesResult remapLevelText(const QByteArray& bytes, const QString& path,
                                const TileRemap& remap, const LevelRemapOptions& options,
                                const ExternalTilesetReader& readTileset, const QString& carriedBy)
{
    LevelBytesResult result;
    result.reason = levelFileTooLarge(bytes.size());
    if (!result.reason.isEmpty())
        return result;
    const QString unfit = options.merge ? QString() : remap.check();
    if (!unfit.isEmpty()) {
        result.reason = QStringLiteral("the tile map is no rearrangement: %1").arg(unfit);
        return result;
    }
    const LevelFormat* format = levelFormatOf(path, bytes);
    if (!format) {
        result.reason = unknownFormat();
        return result;
    }
    const QString absolutePath = QFileInfo(path).absoluteFilePath();
    const LevelContext context{remap,        options,
                               absolutePath, QFileInfo(absolutePath).absolutePath(),
                               readTileset,  carriedBy};
    return format->remap(bytes, context);
}

} // namespace

LevelBytesResult remapLevelBytes(const QByteArray& bytes, const QString& path,
                                 const TileRemap& remap, const LevelRemapOptions& options,
                                 const ExternalTilesetReader& readTileset, const QString& carriedBy)
{
    // Whatever the estimate let through, running out fails this file alone.
    try {
        return remapLevelText(bytes, path, remap, options, readTileset, carriedBy);
    } catch (const std::bad_alloc&) {
        LevelBytesResult result;
        result.reason = notEnoughMemory();
        return result;
    }
}

ExternalTileset readTilesetFacts(const QByteArray& bytes, const QString& path)
{
    const LevelFormat* format = levelFormatOf(path, bytes);
    return format ? format->readTilesets(bytes, path)
                  : ExternalTileset{{}, notATilesetFile(), {}, {}, {}};
}

QStringList LevelBytesResult::carriedOf(CarriedFile::Kind kind) const
{
    QStringList files;
    for (const CarriedFile& file : carried)
        if (file.kind == kind)
            files << file.path;
    return files;
}

bool matchesTileProperty(const QString& name, const QStringList& patterns)
{
    for (const QString& pattern : patterns) {
        const QStringList pieces = pattern.split(u'*');
        // The first piece starts the name, the last ends it, the others follow in order between.
        if (pieces.size() == 1) {
            if (name == pattern)
                return true;
            continue;
        }
        if (!name.startsWith(pieces.front()) || !name.endsWith(pieces.back()) ||
            name.size() < pieces.front().size() + pieces.back().size())
            continue;
        qsizetype at = pieces.front().size();
        const qsizetype end = name.size() - pieces.back().size();
        bool found = true;
        for (qsizetype p = 1; p + 1 < pieces.size() && found; ++p) {
            const qsizetype next = name.indexOf(pieces[p], at);
            found = next >= 0 && next + pieces[p].size() <= end;
            at = next + pieces[p].size();
        }
        if (found)
            return true;
    }
    return false;
}

QStringList levelRunFiles(const QStringList& paths, const LevelRemapOptions& options)
{
    QStringList files;
    for (const QString& path : paths)
        files << QFileInfo(path).absoluteFilePath();
    // Which files go along depends on the sheet alone, not on how its tiles move.
    TileRemap same;
    same.keepsIds = true;
    QStringList seen;
    Run run(same, options, levelOutputInPlace(), &seen);
    LevelRemapRun ignored;
    for (const QString& path : paths) {
        try {
            run.file(path, ignored);
        } catch (const std::bad_alloc&) {
        }
    }
    for (const QString& path : seen)
        if (!files.contains(path))
            files << path;
    return files;
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
    const int unchanged = count(LevelFileStatus::Unchanged);
    return QStringLiteral("%1 updated (%2), %3%4 skipped, %5 failed.")
        .arg(
            plural(count(LevelFileStatus::Updated), QStringLiteral("file"),
                   QStringLiteral("files")),
            plural(cellsChanged(), QStringLiteral("cell changed"), QStringLiteral("cells changed")),
            unchanged > 0 ? QStringLiteral("%1 unchanged, ").arg(unchanged) : QString())
        .arg(count(LevelFileStatus::Skipped))
        .arg(count(LevelFileStatus::Failed));
}

LevelRemapRun remapLevelFiles(const QStringList& paths, const TileRemap& remap,
                              const LevelRemapOptions& options, const LevelOutputPath& output)
{
    LevelRemapRun run;
    const QString unfit = options.merge ? QString() : remap.check();
    if (!unfit.isEmpty()) {
        run.error = QStringLiteral("The tile map cannot be applied to levels: %1.").arg(unfit);
        return run;
    }
    if (options.firstId != 0 && options.firstId != 1) {
        run.error = QStringLiteral("The first tile number of CSV levels must be 0 or 1, not %1.")
                        .arg(options.firstId);
        return run;
    }
    if (const QString clash = sheetNameClash(paths, options.sheet); !clash.isEmpty()) {
        run.error = clash;
        return run;
    }
    // Why the output refused files, by their identity: each that fails says so.
    std::map<QString, QString> refused;
    const LevelOutputPath to = output ? output : levelOutputInPlace();
    Run files(remap, options, [&](const QString& path) {
        LevelOutput target = to(path);
        if (target.path.isEmpty() && !target.refused.isEmpty())
            refused[fileIdentity(path)] = target.refused;
        return target;
    });
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
    for (LevelFileResult& file : run.files) {
        if (file.status != LevelFileStatus::Failed)
            continue;
        if (const auto why = refused.find(fileIdentity(file.path)); why != refused.end()) {
            file.reason = why->second;
            file.place.clear();
        }
    }
    return run;
}

TileUseRun findUsedTiles(const QStringList& paths, int tileCount, int columns,
                         LevelRemapOptions options, std::optional<TileShape> tile)
{
    TileUseRun found;
    TileRemap same; // every tile stays: the run only looks
    same.newIndexOf.resize(size_t(std::max(tileCount, 0)));
    for (size_t tile = 0; tile < same.newIndexOf.size(); ++tile)
        same.newIndexOf[tile] = int32_t(tile);
    same.columns = columns;
    same.tile = tile;
    // Counted as a packing: levels made against a packed sheet may leave out its empty tiles.
    same.newTiles = tileCount;
    TileUse use;
    use.named.assign(same.newIndexOf.size(), 0);
    options.use = &use;
    found.run = remapLevelFiles(paths, same, options);
    found.used.assign(use.named.begin(), use.named.end());
    for (const auto& [tile, frame] : use.frames)
        if (use.named[size_t(tile)])
            found.used[size_t(frame)] = true;
    found.tilesets = std::move(use.tilesets);
    found.data = std::move(use.data);
    found.data.resize(same.newIndexOf.size());
    found.blocks = std::move(use.blocks);
    return found;
}

std::vector<TilesetFacts> findSheetTilesets(const QStringList& paths, LevelRemapOptions options)
{
    TileRemap looking; // the tile numbers are not looked at: no sheet is known yet
    looking.keepsIds = true;
    TileUse use;
    options.use = &use;
    remapLevelFiles(paths, looking, options);
    return use.tilesets;
}

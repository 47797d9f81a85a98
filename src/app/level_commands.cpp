#include "app/level_commands.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "app/background_work.h"
#include "app/file_commands.h"
#include "document/atomic_file.h"
#include "document/document.h"
#include "document/file_identity.h"
#include "document/file_messages.h"
#include "document/image_decoder.h"
#include "image/pixel_format.h"
#include "level/level_remap.h"
#include "level/sheet_images.h"
#include "platform/dialogs.h"

namespace {

using Arrangement = std::shared_ptr<const LevelArrangement>;

Arrangement arrangementOf(const LevelArrangements& brought, const QString& path)
{
    const auto found = brought.find(fileIdentity(path));
    return found == brought.end() ? nullptr : found->second;
}

// Level files that know the sheet in one arrangement (null: as it was opened), and the remap that
// brings them to the sheet as it is now.
struct Group {
    Arrangement from;
    QStringList files;
    TileRemap remap;
};

TileRemap::GridChange gridChange(int from, int now)
{
    return from == now ? TileRemap::GridChange::None
           : now == 1  ? TileRemap::GridChange::Added
                       : TileRemap::GridChange::Removed;
}

// Empty, or why the files cannot follow the sheet.
QString groupFiles(const QStringList& files, const LevelArrangements& brought, const Document& doc,
                   std::vector<Group>& groups)
{
    for (const QString& file : files) {
        const Arrangement from = arrangementOf(brought, file);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& known) { return known.from == from; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{from, {}, {}});
        group->files << file;
    }
    const TileMap& now = doc.tileMap();
    for (Group& group : groups) {
        const TileRemap::GridChange grid =
            gridChange(group.from ? group.from->gridFlag : doc.openedGridFlag(), doc.gridFlag());
        if (!group.from || !now.isPermutation()) {
            group.remap = TileRemap::fromTileMap(now, grid);  // the run refuses a non-permutation
        } else if (group.from->map.extentX() != now.extentX() ||
                   group.from->map.extentY() != now.extentY()) {
            return QStringLiteral("The sheet's tile size changed since %1 was brought along to it, "
                                  "so it cannot follow the sheet any more. Nothing was changed.")
                .arg(quotedPath(group.files.first()));
        } else {
            // The level names positions of the arrangement it was brought to; it needs where
            // each of those tiles stands now.
            group.remap = TileRemap::fromTileMap(group.from->map.inverse().compose(now), grid);
        }
        // A tileset of another tile shape would show the wrong pixels: it is refused, named.
        group.remap.tile = doc.tileSize();
    }
    return {};
}

// An image file that a sheet tileset of the levels shows.
struct SheetImage {
    QString path;
    bool holds = false;  // it holds the sheet as the levels will show it
};

// Whether image holds the sheet's tiles as the window shows them now. Grid lines and partial
// strips do not count: no level shows them.
bool showsTiles(const QImage& image, const Document& doc)
{
    const QImage& sheet = doc.workingImage();
    if (image.size() != sheet.size())
        return false;
    const QImage::Format format = sheet.depth() % 8 == 0 ? sheet.format() : QImage::Format_ARGB32;
    const QImage shown = image.convertToFormat(format);
    const QImage own = sheet.convertToFormat(format);  // shares the pixels in the usual case
    const int columns = doc.tileMap().columns();
    const int rows = doc.tileMap().rows();
    const TileLayout layout = doc.tileLayout();
    const size_t rowBytes = size_t(layout.tileWidth) * size_t(own.depth() / 8);
    for (int p = 0; p < columns * rows; ++p) {
        const QRect tile = layout.tileRect(p, columns);
        const qsizetype left = qsizetype(tile.x()) * (own.depth() / 8);
        const int top = tile.y();
        for (int y = top; y <= tile.bottom(); ++y)
            if (std::memcmp(shown.constScanLine(y) + left, own.constScanLine(y) + left, rowBytes))
                return false;
    }
    return true;
}

// Finds the images the levels name and whether each holds the sheet as it is now, which every
// level shows once it is brought along. The file is read as the sheet is kept: laid over black
// for a sheet that was, with its alpha for one that keeps it, so that a sheet saved over it
// holds.
std::vector<SheetImage> sheetImagesOf(const std::vector<Group>& groups, const Document& doc)
{
    std::vector<SheetImage> images;
    for (const Group& group : groups)
        for (const QString& file : group.files)
            for (const QString& path : levelSheetImages(file, doc.openedPath(), true))
                if (std::none_of(images.begin(), images.end(),
                                 [&](const SheetImage& known) { return known.path == path; }))
                    images.push_back(SheetImage{path});
    const Transparency transparency =
        keepsAlpha(doc.workingImage()) ? Transparency::Keep : Transparency::OverBlack;
    for (SheetImage& image : images) {
        try {
            const DecodeResult file = loadImageFile(image.path, transparency);
            image.holds = file.ok() && showsTiles(file.image, doc);
        } catch (const std::bad_alloc&) {
            image.holds = false;  // not known to hold it: the user decides
        }
    }
    return images;
}

// Before anything changes: every image the levels name holds the sheet as they will show it, or
// the user says what to do. False when the user cancelled or a save failed.
bool checkSheetImages(Document& doc, Dialogs& dialogs, BackgroundWork& work,
                      const std::vector<Group>& groups)
{
    std::vector<SheetImage> images;
    work.run(QStringLiteral("Checking the images the levels use…"), BackgroundWork::kAlwaysAway,
             [&](BackgroundWork::Progress&) { images = sheetImagesOf(groups, doc); });
    QStringList saveOver;
    for (const SheetImage& image : images) {
        if (image.holds)
            continue;
        switch (dialogs.askOutdatedSheet(QStringLiteral("%1, which these levels use, does not hold "
                                                        "the sheet as it is now. Save the sheet "
                                                        "over it first?")
                                             .arg(quotedFileName(image.path)))) {
        case OutdatedSheetAnswer::Save:
            saveOver << image.path;
            break;
        case OutdatedSheetAnswer::ApplyAnyway:
            break;
        case OutdatedSheetAnswer::Cancel:
            return false;
        }
    }
    for (const QString& path : saveOver) {
        if (!imageFormatOf(path)) {
            dialogs.showError(QStringLiteral("Tilegrid saves PNG and BMP files only, so it cannot "
                                             "save the sheet over %1. Nothing was changed.")
                                  .arg(quotedPath(path)));
            return false;
        }
    }
    for (const QString& path : saveOver)
        if (!saveImageTo(doc, dialogs, path, *imageFormatOf(path), &work))
            return false;
    return true;
}

// One run over the groups: each file is written only when it knows the sheet as its group does,
// and at most once. What every written file held is kept, so that a run stopped or failed as a
// whole puts every file back as it was.
class GroupRun {
public:
    GroupRun(const LevelArrangements& brought, BackgroundWork::Progress& progress)
        : brought_(brought), progress_(progress)
    {
    }

    void run(const std::vector<Group>& groups, const LevelRemapOptions& options)
    {
        try {
            for (const Group& group : groups) {
                LevelRemapRun part = remapLevelFiles(
                    group.files, group.remap, options,
                    [this, &group](const QString& path) { return output(path, group); });
                if (!part.error.isEmpty()) {
                    result.error = part.error;
                    break;
                }
                for (const LevelFileResult& file : part.files)
                    if (file.status == LevelFileStatus::Updated)
                        written_.insert(fileIdentity(file.path));
                result.files.insert(result.files.end(), part.files.begin(), part.files.end());
            }
        } catch (const std::bad_alloc&) {
            result.error = QStringLiteral("There is not enough memory to apply the tile map to "
                                          "these levels. Nothing was changed.");
        }
        if (progress_.cancelled() || !result.error.isEmpty())
            putBack();
    }

    LevelRemapRun result;
    QStringList notPutBack;  // why files could not be put back

private:
    // What a file written held, and the path it was written by.
    struct Kept {
        QString path;
        QByteArray bytes;
    };

    LevelOutput output(const QString& path, const Group& group)
    {
        if (progress_.cancelled())
            return {};
        const QString key = fileIdentity(path);
        if (written_.count(key))
            return {{}, QStringLiteral("it was already remapped in this run")};
        if (arrangementOf(brought_, path) != group.from)
            return {{},
                    QStringLiteral("it knows another arrangement of the sheet than the files "
                                   "given with it")};
        if (!before_.count(key)) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return {{}, QStringLiteral("it cannot be read again to keep a copy")};
            before_[key] = Kept{path, file.readAll()};
        }
        return {path, {}};
    }

    void putBack()
    {
        for (const auto& [key, kept] : before_) {
            QFile file(kept.path);
            if (file.open(QIODevice::ReadOnly) && file.readAll() == kept.bytes)
                continue;
            if (const QString error = writeFileAtomically(kept.path, kept.bytes); !error.isEmpty())
                notPutBack << error;
        }
    }

    const LevelArrangements& brought_;
    BackgroundWork::Progress& progress_;
    std::set<QString> written_;       // by earlier groups, by file identity
    std::map<QString, Kept> before_;  // what each file written held, by file identity
};

}  // namespace

void applyToLevelFiles(Document& doc, Dialogs& dialogs, BackgroundWork& work,
                       LevelArrangements& brought)
{
    if (!doc.hasImage()) {
        dialogs.showError(QStringLiteral("Open the sheet whose levels are to follow it first."));
        return;
    }
    const QStringList files = dialogs.openFiles(kLevelsTitle, levelFilter());
    if (files.isEmpty())
        return;
    std::vector<Group> groups;
    if (const QString error = groupFiles(files, brought, doc, groups); !error.isEmpty()) {
        dialogs.showError(error);
        return;
    }
    if (!checkSheetImages(doc, dialogs, work, groups))
        return;

    LevelRemapOptions options;
    options.sheet = doc.openedPath();
    options.sheetOrByName = true;  // the images were checked, and asked about, above
    std::optional<GroupRun> groupRun;
    work.run(
        QStringLiteral("Applying the tile map to %1 level files…").arg(files.size()),
        BackgroundWork::kAlwaysAway,
        [&](BackgroundWork::Progress& progress) {
            groupRun.emplace(brought, progress);
            groupRun->run(groups, options);
        },
        true);
    LevelRemapRun& run = groupRun->result;
    if (!groupRun->notPutBack.isEmpty()) {
        dialogs.showError(QStringLiteral("Applying the tile map stopped halfway, and these files "
                                         "could not be put back as they were:\n\n") +
                          groupRun->notPutBack.join(QLatin1Char('\n')));
        return;
    }
    if (!run.error.isEmpty())
        dialogs.showError(run.error);
    if (!run.error.isEmpty() || work.wasCancelled())
        return;  // every file is as it was

    // What each file knows of the sheet from now on.
    const auto now =
        std::make_shared<const LevelArrangement>(LevelArrangement{doc.tileMap(), doc.gridFlag()});
    QStringList since;
    for (const LevelFileResult& file : run.files) {
        if (file.status == LevelFileStatus::Skipped || file.status == LevelFileStatus::Failed)
            continue;
        Arrangement& known = brought[fileIdentity(file.path)];
        if (known)
            since << quotedPath(file.path);
        known = now;
    }
    QStringList report{run.summary()};
    if (!since.isEmpty())
        report << QStringLiteral("%1 %2 brought along before in this sitting: only what changed "
                                 "since then was carried into %3.")
                      .arg(since.join(QStringLiteral(", ")),
                           since.size() == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                           since.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    for (const LevelFileResult& file : run.files)
        if (file.status != LevelFileStatus::Updated)
            report << file.message();
    dialogs.showInfo(report.join(QStringLiteral("\n\n")));
}

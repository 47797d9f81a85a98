#include "cli/sheet_jobs.h"

#include <QHash>
#include <algorithm>
#include <numeric>

#include "cli/sheet_report.h"
#include "cli/tile_matching.h"
#include "document/file_messages.h"
#include "document/image_decoder.h"
#include "document/sheet_files.h"
#include "grid/grid_transform.h"
#include "grid/tile_extrusion.h"
#include "image/pixel_block.h"
#include "image/pixel_format.h"
#include "level/level_format.h"
#include "level/level_remap.h"
#include "level/remap_file.h"
#include "level/sheet_choice.h"
#include "tilemap/block_move.h"
#include "tilemap/tile_dedupe.h"
#include "tilemap/tile_ops.h"

namespace {

JobResult failed(const QString& why)
{
    return JobResult{why, QString()};
}

// The command line keeps every pixel's alpha; an opaque sheet is read as it always was.
DecodeResult loadSheet(const QString& path)
{
    return loadImageFile(path, Transparency::Keep);
}

// The grid and tile functions speak of "the sheet"; with many sheets the message must say which.
QString aboutSheet(const QString& path, const QString& why)
{
    return QStringLiteral("%1: %2").arg(quotedPath(path), why);
}

// A sheet too small for one tile of the layout: both sizes are named.
QString noWholeTile(const QString& path, const TileLayout& layout, QSize sheet)
{
    QString tile = tileText(layout.tile()) + QStringLiteral(" tile");
    if (layout.gutter > 0)
        tile += QStringLiteral(" with its %1-pixel grid").arg(layout.gutter);
    if (layout.margin > 0 || layout.spacing > 0)
        tile += QStringLiteral(" at a margin of %1 and a spacing of %2")
                    .arg(layout.margin)
                    .arg(layout.spacing);
    return QStringLiteral("%1 holds no whole %2. It is %3 pixels.")
        .arg(quotedPath(path), tile, tileText(TileShape(sheet.width(), sheet.height())));
}

QString noWholeTile(const QString& path, const CommandOptions& options, QSize sheet)
{
    return noWholeTile(path, options.layout(), sheet);
}

// What one decoded sheet becomes: the result to save, a failure, or a sheet left as it was.
struct SheetOutcome {
    QImage image;
    QString error;    // why the sheet failed
    QString skipped;  // why the sheet was left as it was: no failure, nothing written
};

using SheetEdit = SheetOutcome (*)(const QImage& sheet, const CommandOptions& options,
                                   const QString& input);

// A refusal that the sheet's size alone decides, or an empty string. It is made from the file's
// header before the pixels are decoded, which for a large sheet takes long.
using SizeCheck = QString (*)(QSize size, const CommandOptions& options, const QString& input);

// Saves the result, as a palette or grey again when the input was one and the pixels allow. When
// they do not, note says in a line how the result was written instead (without --quiet).
QString saveResult(const QImage& result, const CommandOptions& options, const Job& job,
                   const StoredForm& stored, QString& note)
{
    SaveOptions save;
    save.compression = options.compression;
    save.keep = &stored;
    int written = -1;
    save.writtenColourType = &written;
    const QString error = saveImageFile(
        result, job.output, imageFormatOf(job.output).value_or(ImageFileFormat::Png), save);
    if (!error.isEmpty() || written < 0 || options.quiet)
        return error;
    const QString as = written == 3   ? QStringLiteral("a palette")
                       : written == 6 ? QStringLiteral("RGBA")
                       : written == 2 ? QStringLiteral("RGB")
                                      : QStringLiteral("grey");
    if (stored.paletted() && written != 3)
        note = QStringLiteral("%1 -> %2: written as %3: the colours added do not fit in its "
                              "palette of at most 256\n")
                   .arg(job.inputs.front(), job.output, as);
    else if (stored.grey() && written != 0 && written != 4)
        note = QStringLiteral("%1 -> %2: written as %3: the result is no longer grey\n")
                   .arg(job.inputs.front(), job.output, as);
    return error;
}

// The job's result after saving: the failure, or the note (empty for the usual line).
JobResult saved(const QString& error, const QString& note)
{
    return error.isEmpty() ? JobResult{QString(), note} : failed(error);
}

JobResult editSheet(const CommandOptions& options, const Job& job, SheetEdit edit,
                    SizeCheck bySize = nullptr)
{
    const QString& input = job.inputs.front();
    // A size beyond what can be opened gets the decoder's own message.
    if (const QSize size = imageFileSize(input);
        bySize && size.isValid() && size.width() <= kMaxImageSide && size.height() <= kMaxImageSide)
        if (const QString why = bySize(size, options, input); !why.isEmpty())
            return failed(why);
    QImage result;
    StoredForm stored;
    {
        const DecodeResult decoded = loadSheet(input);
        if (!decoded.ok())
            return failed(decoded.error);
        stored = decoded.stored;
        SheetOutcome outcome = edit(decoded.image, options, input);
        if (!outcome.skipped.isEmpty())
            return JobResult{QString(), options.quiet ? QString() : outcome.skipped + u'\n'};
        if (outcome.image.isNull())
            return failed(outcome.error);
        result = std::move(outcome.image);
    } // the source's memory is given back before the result is encoded
    QString note;
    const QString error = saveResult(result, options, job, stored, note);
    return saved(error, note);
}

// The map of a sheet of columns x rows whole tiles: read from --map, or the original order.
std::optional<TileMap> sheetMap(const CommandOptions& options, const QString& input, int columns,
                                int rows, QString& why)
{
    if (options.mapPath.isEmpty())
        return TileMap::identity(columns, rows);
    MapParseResult parsed = readMapFile(options.mapPath, columns, rows, options.tile);
    if (!parsed.map)
        why = QStringLiteral("%1 with the map %2: %3")
                  .arg(quotedPath(input), quotedPath(options.mapPath), parsed.error);
    return parsed.map;
}

// Refuses to drop strips of right and bottom pixels beyond the last whole tile unless --crop
// allows it; tiles says what a whole tile is.
QString stripsWithoutCrop(const CommandOptions& options, const QString& input, const QString& tiles,
                          int right, int bottom)
{
    if (options.crop || (right == 0 && bottom == 0))
        return {};
    const QStringList strips = stripSizes(right, bottom);
    return QStringLiteral("%1 is not whole %2 and would drop %3 of %4; --crop drops %5.")
        .arg(quotedPath(input), tiles,
             strips.size() == 1 ? QStringLiteral("a partial strip")
                                : QStringLiteral("partial strips"),
             strips.join(QStringLiteral(" and ")),
             strips.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

// The same for the strips beyond the last whole tile of this layout (a grid as each tile's
// gutter).
QString strippedWithoutCrop(QSize sheet, const CommandOptions& options, const QString& input,
                            const TileLayout& layout)
{
    // A sheet of no whole tile gets the grid functions' own message.
    if (layout.tilesIn(sheet).isEmpty())
        return {};
    const QString tiles = layout.gutter == 0
                              ? QStringLiteral("%1 × %2 tiles")
                                    .arg(layout.tileWidth)
                                    .arg(layout.tileHeight)
                              : QStringLiteral("%1 × %2 tiles with their %3-pixel grid")
                                    .arg(layout.tileWidth)
                                    .arg(layout.tileHeight)
                                    .arg(layout.gutter);
    const QSize strips = layout.strips(sheet);
    return stripsWithoutCrop(options, input, tiles, strips.width(), strips.height());
}

QString strippedWithoutCrop(const QImage& sheet, const CommandOptions& options,
                            const QString& input, const TileLayout& layout)
{
    return strippedWithoutCrop(sheet.size(), options, input, layout);
}

// Before a grid is added, a sheet that has one at that pitch is left alone; before one is removed,
// a sheet without one fails, naming the grid found at another tile size. --force skips both.
QString gridMismatch(const QImage& sheet, const CommandOptions& options, const QString& input,
                     bool insert)
{
    if (options.force)
        return {};
    const int gutter = options.gutter.value_or(1);
    const QString pitch = shapeText(options.tile.grown(gutter));
    const bool hasGrid = gridLineColour(sheet, options.tile, gutter).has_value();
    if (insert && hasGrid)
        return QStringLiteral("Skipped %1: it already has a grid at pitch %2; --force adds "
                              "another.")
            .arg(quotedPath(input), pitch);
    if (insert || hasGrid)
        return {};
    const std::optional<int> other =
        gridTileSizeFound(sheet, gutter, options.tile.square() ? options.tile.width : 0);
    const QString found = other ? QStringLiteral("; a grid at pitch %1 was found: --tile %2?")
                                      .arg(*other + gutter)
                                      .arg(*other)
                                : QStringLiteral(", nor at another tile size.");
    return QStringLiteral("%1 has no grid at pitch %2%3 --force removes the lines at pitch %2 "
                          "all the same.")
        .arg(quotedPath(input), pitch, found);
}

// Unless forced, whether the sheet has a grid is asked of its pixels first: adding skips a sheet
// that has one, removing names the grid found at another pitch. Only a sheet to add a grid to
// that is whole tiles neither without a grid nor with one is refused from its size alone.
template <bool Insert>
QString griddedBySize(QSize size, const CommandOptions& options, const QString& input)
{
    const TileLayout plain = TileLayout::grid(options.tile);
    const TileLayout withGrid = TileLayout::grid(options.tile, options.gutter.value_or(1));
    const TileLayout& before = Insert ? plain : withGrid;
    if (before.tilesIn(size).isEmpty())
        return noWholeTile(input, before, size);
    const bool wholeWithGrid = withGrid.strips(size).isNull();
    if (!options.force && (!Insert || wholeWithGrid))
        return {};
    return strippedWithoutCrop(size, options, input, before);
}

template <bool Insert>
SheetOutcome gridded(const QImage& sheet, const CommandOptions& options, const QString& input)
{
    const int gutter = options.gutter.value_or(1);
    if (QString why = gridMismatch(sheet, options, input, Insert); !why.isEmpty())
        return Insert ? SheetOutcome{QImage(), QString(), why} : SheetOutcome{QImage(), why, {}};
    const TileLayout before = TileLayout::grid(options.tile, Insert ? 0 : gutter);
    if (QString why = strippedWithoutCrop(sheet, options, input, before); !why.isEmpty())
        return SheetOutcome{QImage(), why, {}};
    GridResult result = Insert ? transformTiles(sheet, options.tile, 0, gutter, options.gridColor)
                               : transformTiles(sheet, options.tile, gutter, 0, options.gridColor);
    if (!result.ok())
        return SheetOutcome{QImage(), aboutSheet(input, result.error), {}};
    return SheetOutcome{std::move(result.image), {}, {}};
}

// Extrusion keeps the sheet's margin and spacing around tiles that grow by the extrusion; the
// sheet to unextrude is laid out as extrude leaves it.
template <bool Extrude>
QString extrudedBySize(QSize size, const CommandOptions& options, const QString& input)
{
    const TileLayout layout = options.spacedLayout();
    const TileLayout from = Extrude ? layout : extrudedLayout(layout, options.extrusion);
    const LayoutFit fit = fitLayout(size, from);
    if (fit.tiles.isEmpty())
        return noWholeTile(input, from, size);
    QString tiles = QStringLiteral("%1 × %2 tiles").arg(from.tileWidth).arg(from.tileHeight);
    if (!Extrude)
        tiles += QStringLiteral(" extruded by %1").arg(options.extrusion);
    if (from.margin > 0 || from.spacing > 0)
        tiles += QStringLiteral(" at a margin of %1 and a spacing of %2")
                     .arg(from.margin)
                     .arg(from.spacing);
    return stripsWithoutCrop(options, input, tiles, fit.strips.width(), fit.strips.height());
}

template <bool Extrude>
SheetOutcome extruded(const QImage& sheet, const CommandOptions& options, const QString& input)
{
    const TileLayout layout = options.spacedLayout();
    if (QString why = extrudedBySize<Extrude>(sheet.size(), options, input); !why.isEmpty())
        return SheetOutcome{QImage(), why, {}};
    // Taking off a ring that is no extrusion would lose real pixels.
    if (!Extrude && !options.force)
        if (const auto tile = firstUnextrudedTile(sheet, layout, options.extrusion))
            return SheetOutcome{
                QImage(),
                QStringLiteral("%1 does not look extruded by %2: the tile in column %3, row %4 is "
                               "not surrounded by copies of its edge pixels; --force takes the "
                               "edges off all the same.")
                    .arg(quotedPath(input), QString::number(options.extrusion),
                         QString::number(tile->x() + 1), QString::number(tile->y() + 1)),
                {}};
    GridResult result = Extrude ? extrudeTiles(sheet, layout, options.extrusion)
                                : unextrudeTiles(sheet, layout, options.extrusion);
    if (!result.ok())
        return SheetOutcome{QImage(), aboutSheet(input, result.error), {}};
    return SheetOutcome{std::move(result.image), {}, {}};
}

template <bool Restore>
SheetOutcome rearranged(const QImage& sheet, const CommandOptions& options, const QString& input)
{
    const TileLayout layout = options.layout();
    const TileShape cell = layout.cell();
    const int columns = layout.columnsIn(sheet.width());
    const int rows = layout.rowsIn(sheet.height());
    if (columns == 0 || rows == 0)
        return SheetOutcome{QImage(), noWholeTile(input, options, sheet.size()), {}};
    QString why;
    const std::optional<TileMap> map = sheetMap(options, input, columns, rows, why);
    if (!map)
        return SheetOutcome{QImage(), why, {}};
    QImage result = Restore ? restoredImage(sheet, *map, cell) : appliedImage(sheet, *map, cell);
    if (result.isNull())
        return SheetOutcome{
            QImage(),
            QStringLiteral("There is not enough memory to rearrange %1.").arg(quotedPath(input)),
            {}};
    return SheetOutcome{std::move(result), {}, {}};
}

// How the levels given to a packing command are read: the sheet is IN unless --sheet names it.
LevelRemapOptions levelOptions(const CommandOptions& options, const QString& input)
{
    LevelRemapOptions levels;
    // IN is a file: the sheet's tilesets are those that show that very file, never another image
    // of its name, so a bare file name is made a path.
    levels.sheet = !options.sheet.isEmpty() ? options.sheet
                   : isBareFileName(input)  ? QStringLiteral("./") + input
                                            : input;
    levels.firstId = options.firstId;
    levels.tileProperties = options.tileProperties;
    return levels;
}

// The sheet as the user named it, for messages.
QString shownName(const CommandOptions& options, const QString& input)
{
    return options.sheet.isEmpty() ? input : options.sheet;
}

// The notes and the refusal for a run over the levels that a packing command reads: a level that
// cannot be read leaves the tiles it uses unknown, and a run in which no level shows the sheet
// knows nothing of it.
QString levelsRefused(const LevelRemapRun& run, const QString& input, const QString& sheet,
                      QString& notes)
{
    if (!run.error.isEmpty())
        return run.error;
    QStringList unread;
    bool shown = false;
    for (const LevelFileResult& file : run.files) {
        if (file.status == LevelFileStatus::Failed)
            unread << (file.place.isEmpty()
                           ? QStringLiteral("%1 cannot be used: %2.")
                                 .arg(quotedPath(file.path), file.reason)
                           : QStringLiteral("%1 cannot be used: %2: %3.")
                                 .arg(quotedPath(file.path), file.place, file.reason));
        else if (file.status == LevelFileStatus::Skipped)
            notes += file.message() + u'\n';
        else
            shown = true;
    }
    if (!unread.isEmpty())
        return unread.join(u'\n') +
               QStringLiteral("\n%1 is left as it was: the tiles those levels use are "
                              "not known.")
                   .arg(quotedPath(input));
    if (!shown)
        return QStringLiteral("None of the levels shows %1; --sheet names the image "
                              "their tilesets show. Nothing was written.")
            .arg(quotedPath(sheet));
    return {};
}

// The tiles of a sheet of count tiles that no level can show: those past the largest tile count
// of the sheet's tilesets (the empty end of a packed sheet's last row), as the first of them;
// count when there are none.
int tilesShown(const std::vector<TilesetFacts>& tilesets, int count)
{
    int64_t largest = -1;
    for (const TilesetFacts& tileset : tilesets)
        largest = std::max(largest, tileset.knownTileCount());
    return largest < 0 ? count : int(std::min<int64_t>(largest, count));
}

// Without levels, the padding a packing leaves is known by its pixels: the fully transparent
// tiles that end the last row of a sheet with alpha, fewer than a row (a packed sheet has no
// empty row). The first of them, or count.
int firstPaddingTile(const QImage& sheet, const CommandOptions& options, int columns, int count)
{
    if (!keepsAlpha(sheet) || count < columns)
        return count;
    const TileLayout layout = options.layout();
    const auto transparent = [&](int tile) {
        const QRect pixels = layout.tileRect(tile, columns);
        const int x0 = pixels.x();
        const int y0 = pixels.y();
        for (int y = 0; y < pixels.height(); ++y)
            for (int x = 0; x < pixels.width(); ++x)
                if (qAlpha(sheet.pixel(x0 + x, y0 + y)) != 0)
                    return false;
        return true;
    };
    int first = count;
    while (first > count - columns && transparent(first - 1))
        --first;
    return first == count - columns ? count : first;
}

QString paddingNote(int padding)
{
    return padding == 0 ? QString()
                        : QStringLiteral("; %1 padding tile%2 left out")
                              .arg(padding)
                              .arg(padding == 1 ? "" : "s");
}

// The kinds given to tiles by what levels keep for them (see TileKinds).
struct TileKindNames {
    QHash<QByteArray, uint32_t> known{{QByteArray(), 0}};
    uint32_t next = 1;
};

// Gives the tiles of the sheet'th sheet their kinds after the kinds of the sheets before: tiles
// that carry the same data are of one kind, a tile its tilesets disagree on is of a kind of its
// own, and data that mean something only among a sheet's tiles belong to that sheet alone.
void addTileKinds(TileKinds& kinds, const std::vector<TileData>& data, int sheet,
                  TileKindNames& names)
{
    for (const TileData& tile : data) {
        uint32_t kind = names.next;
        if (!tile.differs) {
            // Tags are the project's own: the sheet's alone.
            const QByteArray key = tile.local || !tile.tags.isEmpty()
                                       ? QByteArray::number(sheet) + '#' + tile.text + '#' + tile.tags
                                       : tile.text;
            const auto known = names.known.constFind(key);
            if (known != names.known.cend())
                kind = known.value();
            else
                names.known.insert(key, kind);
        }
        if (kind == names.next)
            ++names.next;
        kinds.kind.push_back(kind);
        kinds.unturned.push_back(tile.unturned);
    }
}

// Tiles of a rectangle that levels draw as one each have a kind of their own: one merged into
// another tile elsewhere would leave the rectangle.
void keepBlocksApart(TileKinds& kinds, const std::vector<TileBlock>& blocks, TileKindNames& names)
{
    for (const TileBlock& block : blocks)
        for (int32_t r = 0; r < block.down; ++r)
            for (int32_t c = 0; c < block.across; ++c)
                if (const size_t tile =
                        size_t(block.base + (block.row + r) * block.columns + block.column + c);
                    tile < kinds.kind.size())
                    kinds.kind[tile] = names.next++;
}

// The blocks of a sheet whose tiles are the merge's from base on, in columns columns.
std::vector<TileBlock> blocksFrom(std::vector<TileBlock> blocks, int base, int columns)
{
    for (TileBlock& block : blocks) {
        block.base = base;
        block.columns = columns;
    }
    return blocks;
}

// The tiles a packing keeps of candidates (tiles of sheet in reading order, of count tiles in
// all): with dedupe the first of every group of duplicates among them (kinds apart, --flips
// as asked), else every one. keptIndexOf and symmetryOf say for each of the count tiles where it
// went (kDropped: nowhere) and how it is turned. Empty kept and keptIndexOf: no memory.
struct KeptTiles {
    std::vector<int32_t> kept;
    std::vector<int32_t> keptIndexOf;
    std::vector<TileSymmetry> symmetryOf;
};
KeptTiles keepAmong(const QImage& sheet, int count, const std::vector<int32_t>& candidates,
                    const TileKinds& kinds, const CommandOptions& options)
{
    KeptTiles result;
    result.keptIndexOf.assign(size_t(count), TileRemap::kDropped);
    result.symmetryOf.resize(size_t(count));
    if (!options.dedupe) {
        result.kept = candidates;
        for (size_t i = 0; i < candidates.size(); ++i)
            result.keptIndexOf[size_t(candidates[i])] = int32_t(i);
        return result;
    }
    // The candidates are deduped packed together; padding comes after every one of them, is
    // never kept before one, and goes.
    TileKinds theirs;
    for (const int32_t tile : candidates) {
        const size_t t = size_t(tile);
        theirs.kind.push_back(t < kinds.kind.size() ? kinds.kind[t] : 0);
        theirs.unturned.push_back(t < kinds.unturned.size() && kinds.unturned[t]);
    }
    const TileShape cell = options.layout().cell();
    const int columns = TileLayout::grid(cell).columnsIn(sheet.width());
    const bool every = int(candidates.size()) == count;
    const QImage packed = every ? sheet : packTiles(sheet, candidates, cell, columns);
    if (packed.isNull())
        return {};
    const TileDuplicates groups =
        findDuplicateTiles(packed, options.tile, cell, options.flips, theirs);
    for (const int32_t k : groups.kept)
        if (size_t(k) < candidates.size())
            result.kept.push_back(candidates[size_t(k)]);
    for (size_t i = 0; i < candidates.size(); ++i) {
        result.keptIndexOf[size_t(candidates[i])] = groups.keptIndexOf[i];
        result.symmetryOf[size_t(candidates[i])] = groups.symmetryOf[i];
    }
    return result;
}

// Which tiles a packing command keeps: fills remap.newIndexOf (and symmetryOf) and kept, the
// kept tiles in reading order; or says why not. notes is printed before the result's line, done
// says what became of the others ("3 duplicates merged"), and counted how many of the sheet's
// tiles are tiles at all (padding left out).
struct TileChoice {
    std::vector<int32_t> kept;
    QString error;
    QString notes;
    QString done;
    int counted = 0;
};
using ChooseTiles = TileChoice (*)(const QImage& sheet, const CommandOptions& options,
                                   const QString& input, TileRemap& remap);

TileChoice mergedDuplicates(const QImage& sheet, const CommandOptions& options,
                            const QString& input, TileRemap& remap)
{
    TileChoice choice;
    const int count = remap.columns * options.layout().rowsIn(sheet.height());
    LevelRemapOptions levels = levelOptions(options, input);
    int padding = count;  // the first padding tile
    TileKinds kinds;
    std::vector<TileBlock> blocks;
    if (!options.usedBy.isEmpty()) {
        const TileUseRun found =
            findUsedTiles(options.usedBy, count, remap.columns, levels, options.tile);
        if (QString why = levelsRefused(found.run, input, shownName(options, input), choice.notes);
            !why.isEmpty())
            return {{}, why, {}, {}, 0};
        padding = tilesShown(found.tilesets, count);
        TileKindNames names;
        addTileKinds(kinds, found.data, 0, names);
        blocks = blocksFrom(found.blocks, 0, remap.columns);
        keepBlocksApart(kinds, blocks, names);
    } else {
        padding = firstPaddingTile(sheet, options, remap.columns, count);
    }

    TileDuplicates groups =
        findDuplicateTiles(sheet, options.tile, options.layout().cell(), options.flips, kinds);
    remap.newIndexOf = std::move(groups.keptIndexOf);
    // Padding is no tile: it goes, and so does a kept tile that only padding showed (kept tiles
    // come in reading order, so those are the last).
    for (int tile = padding; tile < count; ++tile) {
        remap.newIndexOf[size_t(tile)] = TileRemap::kDropped;
        groups.symmetryOf[size_t(tile)] = TileSymmetry();
    }
    while (!groups.kept.empty() && groups.kept.back() >= padding)
        groups.kept.pop_back();
    if (std::any_of(groups.symmetryOf.begin(), groups.symmetryOf.end(),
                    [](TileSymmetry s) { return !s.isIdentity(); }))
        remap.symmetryOf = std::move(groups.symmetryOf);
    choice.kept = std::move(groups.kept);
    choice.counted = padding;
    const int merged = padding - int(choice.kept.size());
    choice.done = QStringLiteral("%1 duplicate%2 merged").arg(merged).arg(merged == 1 ? "" : "s") +
                  paddingNote(count - padding);
    keepBlocksTogether(choice.kept, remap.newIndexOf, blocks,
                       options.columns > 0 ? options.columns : remap.columns);

    // With the levels, a merge they cannot follow (a frame or tile property that shows a tile
    // turned, tiles of different data) is refused now, before anything is written.
    if (!options.usedBy.isEmpty()) {
        TileRemap trial = remap;
        trial.newTiles = int32_t(choice.kept.size());
        trial.newColumnCount = options.columns > 0 ? options.columns : remap.columns;
        TileUse use;  // a run that only reads
        use.named.assign(size_t(count), 0);
        levels.use = &use;
        const LevelRemapRun run = remapLevelFiles(options.usedBy, trial, levels);
        QStringList refused;
        for (const LevelFileResult& file : run.files)
            if (file.status == LevelFileStatus::Failed)
                refused << QStringLiteral("%1 could not follow it: %2.")
                               .arg(quotedPath(file.path),
                                    file.place.isEmpty() ? file.reason
                                                         : file.place + QStringLiteral(": ") +
                                                               file.reason);
        if (!run.error.isEmpty())
            refused << run.error;
        if (!refused.isEmpty())
            choice.error = refused.join(u'\n') +
                           QStringLiteral("\n%1 is left as it was: the levels cannot follow "
                                          "this merge of its tiles.")
                               .arg(quotedPath(input));
    }
    return choice;
}

TileChoice unusedDropped(const QImage& sheet, const CommandOptions& options,
                         const QString& input, TileRemap& remap)
{
    TileChoice choice;
    const int count = remap.columns * options.layout().rowsIn(sheet.height());
    const LevelRemapOptions levels = levelOptions(options, input);
    const TileUseRun use =
        findUsedTiles(options.usedBy, count, remap.columns, levels, options.tile);
    // Dropping the tiles that a level might use would break it; so would dropping every tile
    // because no level named this sheet.
    choice.error = levelsRefused(use.run, input, shownName(options, input), choice.notes);
    if (!choice.error.isEmpty())
        return choice;
    std::vector<int32_t> used;
    for (int tile = 0; tile < count; ++tile)
        if (use.used[size_t(tile)])
            used.push_back(tile);
    TileKinds kinds;
    TileKindNames names;
    addTileKinds(kinds, use.data, 0, names);
    const std::vector<TileBlock> blocks = blocksFrom(use.blocks, 0, remap.columns);
    keepBlocksApart(kinds, blocks, names);
    KeptTiles keeping = keepAmong(sheet, count, used, kinds, options);
    if (keeping.keptIndexOf.empty())
        return {{}, QStringLiteral("There is not enough memory to pack the tiles of %1.")
                        .arg(quotedPath(input)), {}, {}, 0};
    choice.kept = std::move(keeping.kept);
    remap.newIndexOf = std::move(keeping.keptIndexOf);
    if (std::any_of(keeping.symmetryOf.begin(), keeping.symmetryOf.end(),
                    [](TileSymmetry s) { return !s.isIdentity(); }))
        remap.symmetryOf = std::move(keeping.symmetryOf);
    if (choice.kept.empty())
        choice.error = QStringLiteral("The levels use none of the tiles of %1; a sheet without "
                                      "tiles is not written.")
                           .arg(quotedPath(input));
    // Tiles past the tilesets' count are no level's tiles: padding, not unused tiles (a CSV
    // level, which has no tileset, may show more).
    choice.counted = tilesShown(use.tilesets, count);
    if (!used.empty())
        choice.counted = std::max(choice.counted, used.back() + 1);
    const int merged = int(used.size() - choice.kept.size());
    // An unused tile may fill a place that a rectangle kept whole left before it.
    keepBlocksTogether(choice.kept, remap.newIndexOf, blocks,
                       options.columns > 0 ? options.columns : remap.columns);
    const int dropped = int(std::count(remap.newIndexOf.begin(),
                                       remap.newIndexOf.begin() + choice.counted,
                                       TileRemap::kDropped));
    choice.done =
        QStringLiteral("%1 unused dropped").arg(dropped) +
        (options.dedupe
             ? QStringLiteral(", %1 duplicate%2 merged").arg(merged).arg(merged == 1 ? "" : "s")
             : QString()) +
        paddingNote(count - choice.counted);
    return choice;
}

// The tile shape of the sheet's tilesets in the levels a packing command is given, when they
// agree on one; nullopt otherwise.
std::optional<TileShape> levelsTileShape(const CommandOptions& options, const QString& input,
                                         LevelScans* scans = nullptr)
{
    std::optional<TileShape> shape;
    const auto fits = [](int64_t side) { return side >= kMinTileSize && side <= kMaxTileSize; };
    LevelRemapOptions levels = levelOptions(options, input);
    levels.scans = scans;
    for (const TilesetFacts& tileset : findSheetTilesets(options.usedBy, levels)) {
        if (!fits(tileset.tileWidth) || !fits(tileset.tileHeight))
            return std::nullopt;
        const TileShape here(int(tileset.tileWidth), int(tileset.tileHeight));
        if (shape && *shape != here)
            return std::nullopt;
        shape = here;
    }
    return shape;
}

// Keeps the tiles choose picks, packs them in reading order into --columns columns (default:
// the input's), and writes the sheet and the remap that carries the change into the levels.
// Without --tile, the tile shape is that of the sheet's tilesets in the levels given.
JobResult packSheet(const CommandOptions& given, const Job& job, ChooseTiles choose)
{
    const QString& input = job.inputs.front();
    CommandOptions options = given;
    if (!options.tileGiven && !options.usedBy.isEmpty())
        if (const std::optional<TileShape> shape = levelsTileShape(options, input))
            options.tile = *shape;
    TileRemap remap;
    QImage packed;
    TileChoice choice;
    StoredForm stored;
    {
        const DecodeResult decoded = loadSheet(input);
        if (!decoded.ok())
            return failed(decoded.error);
        stored = decoded.stored;
        const QImage& sheet = decoded.image;
        const TileLayout layout = options.layout();
        remap.columns = layout.columnsIn(sheet.width());
        remap.tile = options.tile;
        if (remap.columns == 0 || layout.rowsIn(sheet.height()) == 0)
            return failed(noWholeTile(input, options, sheet.size()));
        if (QString why = strippedWithoutCrop(sheet, options, input, layout); !why.isEmpty())
            return failed(why);
        choice = choose(sheet, options, input, remap);
        if (!choice.error.isEmpty())
            return failed(choice.error);
        remap.newTiles = int32_t(choice.kept.size());
        remap.newColumnCount = options.columns > 0 ? options.columns : remap.columns;
        packed = packTiles(sheet, choice.kept, layout.cell(), remap.newColumnCount);
        if (packed.isNull())
            return failed(QStringLiteral("There is not enough memory to pack the tiles of %1.")
                              .arg(quotedPath(input)));
    } // the source's memory is given back before the result is encoded
    // The remap goes first: a sheet changed without the remap its levels need would strand them.
    // The remap names the sheet the levels show (IN, or --sheet) and the atlas.
    const RemapFile file{job.output, {RemapSheet{shownName(options, input), remap}}};
    if (const QString error = writeRemapFile(file, options.remapOut); !error.isEmpty())
        return failed(error);
    QString note;
    if (const QString error = saveResult(packed, options, job, stored, note); !error.isEmpty())
        return failed(error);
    if (options.quiet)
        return {};
    return JobResult{QString(),
                     choice.notes + QStringLiteral("%1 -> %2: %3 tiles → %4 (%5)\n")
                                        .arg(input, job.output, QString::number(choice.counted),
                                             QString::number(remap.newTileCount()), choice.done) +
                         note};
}

}  // namespace

JobResult addGridJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, gridded<true>, griddedBySize<true>);
}

JobResult removeGridJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, gridded<false>, griddedBySize<false>);
}

JobResult extrudeJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, extruded<true>, extrudedBySize<true>);
}

JobResult unextrudeJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, extruded<false>, extrudedBySize<false>);
}

JobResult restoreMapJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, rearranged<true>);
}

JobResult applyMapJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, rearranged<false>);
}

JobResult moveBlocksJob(const CommandOptions& options, const Job& job)
{
    const QString& input = job.inputs.front();
    DecodeResult decoded = loadSheet(input);
    if (!decoded.ok())
        return failed(decoded.error);
    QImage& sheet = decoded.image;
    const TileLayout layout = options.layout();
    const TileShape cell = layout.cell();
    const int columns = layout.columnsIn(sheet.width());
    const int rows = layout.rowsIn(sheet.height());
    if (columns == 0 || rows == 0)
        return failed(noWholeTile(input, options, sheet.size()));
    QString why;
    std::optional<TileMap> map = sheetMap(options, input, columns, rows, why);
    if (!map)
        return failed(why);
    // Whether a move fits depends on the geometry alone, so every one is checked before any is
    // made and a bad one leaves nothing written.
    for (size_t i = 0; i < options.blocks.size(); ++i) {
        const QRect& block = options.blocks[i];
        const BlockMove move{block, options.targets[i] - block.topLeft()};
        if (const QString problem = blockMoveProblem(*map, move); !problem.isEmpty())
            return failed(QStringLiteral("%1: --block %2,%3,%4,%5 --to %6,%7: %8")
                              .arg(quotedPath(input), QString::number(block.x()),
                                   QString::number(block.y()), QString::number(block.width()),
                                   QString::number(block.height()),
                                   QString::number(options.targets[i].x()),
                                   QString::number(options.targets[i].y()), problem));
    }
    for (size_t i = 0; i < options.blocks.size(); ++i)
        if (!moveBlock(sheet, *map, cell,
                       {options.blocks[i], options.targets[i] - options.blocks[i].topLeft()}))
            return failed(QStringLiteral("There is not enough memory to move the tiles of %1.")
                              .arg(quotedPath(input)));
    QString note;
    if (const QString error = saveResult(sheet, options, job, decoded.stored, note);
        !error.isEmpty())
        return failed(error);
    return saved(options.mapOut.isEmpty() ? QString() : writeMapFile(*map, options.mapOut), note);
}

JobResult deriveMapJob(const CommandOptions& options, const Job& job)
{
    const QString& originalPath = job.inputs.at(0);
    const QString& rearrangedPath = job.inputs.at(1);
    DecodeResult original = loadSheet(originalPath);
    if (!original.ok())
        return failed(original.error);
    DecodeResult moved = loadSheet(rearrangedPath);
    if (!moved.ok())
        return failed(moved.error);
    // Tiles are compared in all four channels: when one sheet has alpha, the other is read as
    // opaque B,G,R,A too.
    if (keepsAlpha(original.image) != keepsAlpha(moved.image)) {
        for (QImage* sheet : {&original.image, &moved.image})
            *sheet = sheet->convertToFormat(QImage::Format_ARGB32);
        if (original.image.isNull() || moved.image.isNull())
            return failed(QStringLiteral("There is not enough memory to compare %1 and %2.")
                              .arg(quotedPath(originalPath), quotedPath(rearrangedPath)));
    }

    const TileLayout layout = options.layout();
    const QSize tiles = layout.tilesIn(original.image.size());
    const int columns = tiles.width();
    if (tiles.isEmpty())
        return failed(noWholeTile(originalPath, options, original.image.size()));
    if (const QSize movedTiles = layout.tilesIn(moved.image.size()); movedTiles != tiles)
        return failed(
            QStringLiteral("%1 holds %2 × %3 whole tiles, but %4 holds %5 × %6: a "
                           "rearrangement keeps every tile.")
                .arg(quotedPath(rearrangedPath), QString::number(movedTiles.width()),
                     QString::number(movedTiles.height()), quotedPath(originalPath),
                     QString::number(tiles.width()), QString::number(tiles.height())));

    const TileMatch match = matchTiles(original.image, moved.image, layout);
    if (!match.map) {
        const QPoint tile = TileLayout::tileAt(match.unmatched, columns);
        const QPoint pixel = layout.tileRect(tile).topLeft();
        const QString where =
            QStringLiteral("The tile in column %1, row %2 of %3 (at pixel %4, %5)")
                .arg(QString::number(tile.x() + 1), QString::number(tile.y() + 1),
                     quotedPath(rearrangedPath), QString::number(pixel.x()),
                     QString::number(pixel.y()));
        return failed(
            match.used ? QStringLiteral("%1 occurs more often there than in %2.")
                             .arg(where, quotedPath(originalPath))
                       : QStringLiteral("%1 is not in %2.").arg(where, quotedPath(originalPath)));
    }
    return failed(writeMapFile(*match.map, job.output));
}

JobResult dedupeJob(const CommandOptions& options, const Job& job)
{
    return packSheet(options, job, mergedDuplicates);
}

JobResult pruneJob(const CommandOptions& options, const Job& job)
{
    return packSheet(options, job, unusedDropped);
}

JobResult infoJob(const CommandOptions& options, const Job& job)
{
    const QString& input = job.inputs.front();
    const DecodeResult decoded = loadSheet(input);
    if (!decoded.ok())
        return failed(decoded.error);
    return JobResult{QString(), sheetReport(input, decoded.image, storedDepth(input, decoded.stored), options)};
}

namespace {

// One input of a merge, decoded, and where its tiles start among all of them.
struct MergeInput {
    QString path;
    QImage image;
    int columns = 0;
    int count = 0;
    int first = 0;
};

// The tiles of every input, one after the other in reading order, each with its gutter, in an
// image of columns tile columns: what dedupe and packing then work on. The rest of the last row
// is transparent (black when no input keeps alpha).
QImage allTiles(const std::vector<MergeInput>& inputs, const TileLayout& layout, int columns,
                int total)
{
    const bool alpha = std::any_of(inputs.begin(), inputs.end(),
                                   [](const MergeInput& in) { return keepsAlpha(in.image); });
    const TileLayout cells = TileLayout::grid(layout.cell());
    QImage all(cells.imageSize(TileLayout::packed(total, columns)),
               alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (all.isNull())
        return all;
    all.fill(alpha ? 0u : 0xff000000u);
    for (const MergeInput& in : inputs) {
        const QImage source = in.image.convertToFormat(all.format());
        if (source.isNull())
            return QImage();
        for (int t = 0; t < in.count; ++t)
            copyBlock(source, cells.tileRect(t, in.columns).topLeft(), all,
                      cells.tileRect(in.first + t, columns).topLeft(), layout.cell().size());
    }
    return all;
}

// Without --tile, the levels say the tile shape, which every sheet must share; why not.
QString takeLevelsTileShape(CommandOptions& options, const QStringList& sheets, LevelScans& scans)
{
    if (options.tileGiven || options.usedBy.isEmpty())
        return {};
    std::optional<TileShape> shared;
    QString first;
    for (const QString& path : sheets) {
        const std::optional<TileShape> shape = levelsTileShape(options, path, &scans);
        if (!shape)
            continue;
        if (shared && *shape != *shared)
            return QStringLiteral("The levels cut %1 into %2 tiles, but %3 into %4 tiles: the "
                                  "sheets of one atlas share one tile shape. Nothing was written.")
                .arg(quotedPath(path), tileText(*shape), quotedPath(first), tileText(*shared));
        shared = shape;
        first = path;
    }
    if (shared)
        options.tile = *shared;
    return {};
}

// The tiles of a merge's inputs (total of them) that may go into the atlas, in order, and their
// kinds: every tile, or with --used-by those the levels show; why not.
QString chooseMergedTiles(const CommandOptions& options, const std::vector<MergeInput>& inputs,
                          int total, LevelScans& scans, std::vector<int32_t>& candidates,
                          TileKinds& kinds, std::vector<TileBlock>& blocks, QString& notes)
{
    if (options.usedBy.isEmpty()) {
        candidates.resize(size_t(total));
        std::iota(candidates.begin(), candidates.end(), 0);
        return {};
    }
    TileKindNames names;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const MergeInput& in = inputs[i];
        LevelRemapOptions levels = levelOptions(options, in.path);
        levels.scans = &scans;
        const TileUseRun found =
            findUsedTiles(options.usedBy, in.count, in.columns, levels, options.tile);
        if (QString why = levelsRefused(found.run, in.path, in.path, notes); !why.isEmpty())
            return why;
        for (int t = 0; t < in.count; ++t)
            if (found.used[size_t(t)])
                candidates.push_back(in.first + t);
        addTileKinds(kinds, found.data, int(i), names);
        const std::vector<TileBlock> own = blocksFrom(found.blocks, in.first, in.columns);
        keepBlocksApart(kinds, own, names);
        blocks.insert(blocks.end(), own.begin(), own.end());
    }
    if (candidates.empty())
        return QStringLiteral("The levels use none of the tiles of the sheets; an atlas without "
                              "tiles is not written.");
    return {};
}

// Where the tiles of one input of a merge went, as its remap says.
RemapSheet inputRemap(const MergeInput& in, const KeptTiles& keeping, TileShape tile, int columns)
{
    RemapSheet sheet{in.path, {}};
    TileRemap& remap = sheet.remap;
    remap.columns = in.columns;
    remap.tile = tile;
    remap.newTiles = int32_t(keeping.kept.size());
    remap.newColumnCount = columns;
    const auto from = [&](const auto& all) { return all.begin() + in.first; };
    remap.newIndexOf.assign(from(keeping.keptIndexOf), from(keeping.keptIndexOf) + in.count);
    if (std::any_of(from(keeping.symmetryOf), from(keeping.symmetryOf) + in.count,
                    [](TileSymmetry s) { return !s.isIdentity(); }))
        remap.symmetryOf.assign(from(keeping.symmetryOf), from(keeping.symmetryOf) + in.count);
    return sheet;
}

}  // namespace

JobResult mergeSheetsJob(const CommandOptions& given, const Job& job)
{
    // Without --tile, the levels say the tile shape, which every sheet must share.
    CommandOptions options = given;
    LevelScans scans;  // every level is read once for every sheet
    if (QString why = takeLevelsTileShape(options, job.inputs, scans); !why.isEmpty())
        return failed(why);
    const TileLayout layout = options.layout();
    std::vector<MergeInput> inputs;
    int total = 0;
    int widest = 0;
    for (const QString& path : job.inputs) {
        DecodeResult decoded = loadSheet(path);
        if (!decoded.ok())
            return failed(decoded.error);
        const QSize tiles = layout.tilesIn(decoded.image.size());
        if (tiles.isEmpty())
            return failed(noWholeTile(path, options, decoded.image.size()));
        if (QString why = strippedWithoutCrop(decoded.image, options, path, layout); !why.isEmpty())
            return failed(why);
        const int count = tiles.width() * tiles.height();
        inputs.push_back(MergeInput{path, std::move(decoded.image), tiles.width(), count, total});
        total += count;
        widest = std::max(widest, tiles.width());
    }
    // With the levels, only the tiles they show are merged, and tiles whose data differ there
    // stay apart.
    std::vector<int32_t> candidates;  // the tiles that may go into the atlas, in order
    TileKinds kinds;
    std::vector<TileBlock> blocks;  // what the levels draw as one
    QString notes;
    if (QString why =
            chooseMergedTiles(options, inputs, total, scans, candidates, kinds, blocks, notes);
        !why.isEmpty())
        return failed(why);
    const int columns = options.columns > 0 ? options.columns : widest;
    QImage atlas;
    RemapFile file{job.output, {}};
    int kept = 0;    // the atlas's tiles
    int merged = 0;  // tiles that became another's
    int unused = 0;  // tiles dropped
    {
        const QImage all = allTiles(inputs, layout, columns, total);
        if (all.isNull())
            return failed(QStringLiteral("There is not enough memory to merge the sheets."));
        KeptTiles keeping = keepAmong(all, total, candidates, kinds, options);
        merged = int(candidates.size() - keeping.kept.size());
        if (!keeping.keptIndexOf.empty())
            keepBlocksTogether(keeping.kept, keeping.keptIndexOf, blocks, columns);
        kept = int(keeping.kept.size());
        unused = int(std::count(keeping.keptIndexOf.begin(), keeping.keptIndexOf.end(),
                                TileRemap::kDropped));
        // Every tile kept in its place: the atlas is all of them as they stand.
        bool inPlace = int(keeping.kept.size()) == total;
        for (size_t k = 0; inPlace && k < keeping.kept.size(); ++k)
            inPlace = keeping.kept[k] == int32_t(k);
        atlas = inPlace ? all : packTiles(all, keeping.kept, layout.cell(), columns);
        if (keeping.keptIndexOf.empty() || atlas.isNull())
            return failed(QStringLiteral("There is not enough memory to pack the tiles."));
        for (const MergeInput& in : inputs)
            file.sheets.push_back(inputRemap(in, keeping, options.tile, columns));
    }
    inputs.clear();  // the sources' memory is given back before the atlas is encoded
    // The remap goes first: an atlas without the remap its levels need would strand them.
    if (const QString error = writeRemapFile(file, options.remapOut); !error.isEmpty())
        return failed(error);
    QString note;
    if (const QString error = saveResult(atlas, options, job, StoredForm(), note); !error.isEmpty())
        return failed(error);
    if (options.quiet)
        return {};
    return JobResult{
        QString(),
        notes +
            QStringLiteral("%1 sheet%2, %3 tiles → %4: %5 tiles (%6%7 duplicate%8 merged)\n")
                .arg(job.inputs.size())
                .arg(job.inputs.size() == 1 ? "" : "s")
                .arg(total)
                .arg(job.output)
                .arg(kept)
                .arg(options.usedBy.isEmpty() ? QString()
                                              : QStringLiteral("%1 unused dropped, ").arg(unused))
                .arg(merged)
                .arg(merged == 1 ? "" : "s") +
            note};
}

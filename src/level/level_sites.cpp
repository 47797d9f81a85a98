#include "level/level_sites.h"

#include "level/sheet_tileset.h"

#include <algorithm>
#include <map>

#include <limits>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "level/gid_remapper.h"
#include "level/level_limits.h"
#include "level/sheet_choice.h"
#include "level/tile_data_difference.h"

namespace
{

QString cellName(const CellBlock& block, size_t index)
{
    const int64_t width = std::max<int64_t>(block.width, 1);
    return QStringLiteral("cell (%1, %2)")
        .arg(block.originX + int64_t(index) % width)
        .arg(block.originY + int64_t(index) / width);
}

QString joinWhere(const QString& first, const QString& second)
{
    return first.isEmpty()    ? second
           : second.isEmpty() ? first
                              : first + QStringLiteral(", ") + second;
}

// Splits "1,2,\n3" into its numbers and their places.
bool splitCommaList(const QByteArray& bytes, const CellBlock& block, std::vector<uint32_t>& cells,
                    std::vector<Span>& spans, Problem& problem)
{
    qsizetype i = block.text.begin;
    const qsizetype end = block.text.end;
    while (i < end && isBlank(bytes[i]))
        ++i;
    if (i == end)
        return true; // no cells at all
    for (;;) {
        while (i < end && isBlank(bytes[i]))
            ++i;
        const qsizetype begin = i;
        while (i < end && bytes[i] != ',' && !isBlank(bytes[i]))
            ++i;
        const Span number{begin, i};
        while (i < end && isBlank(bytes[i]))
            ++i;
        uint32_t gid = 0;
        if (!parseGid(QByteArrayView(bytes).sliced(begin, number.size()), gid) ||
            (i < end && bytes[i] != ',')) {
            const qsizetype stop = i < end && bytes[i] != ',' ? i + 1 : i;
            problem = {
                begin, joinWhere(block.where, cellName(block, cells.size())),
                number.size() == 0
                    ? QStringLiteral("a tile id is missing between two commas")
                    : QStringLiteral("%1 is not a tile id")
                          .arg(quotedPath(QString::fromUtf8(bytes.sliced(begin, stop - begin))))};
            return false;
        }
        cells.push_back(gid);
        spans.push_back(number);
        if (i == end)
            return true;
        ++i; // the comma
    }
}

// The text of base64 data, with the format's escapes undone.
bool base64Text(const QByteArray& bytes, const CellBlock& block, const LevelEdits& edits,
                QByteArray& text)
{
    const QByteArrayView written =
        QByteArrayView(bytes).sliced(block.text.begin, block.text.size());
    if (block.escaped)
        return edits.plainText(written, text);
    text = written.toByteArray();
    return true;
}

bool remapBlock(const CellBlock& block, const GidRemapper& gids, const LevelSites& sites,
                const QByteArray& bytes, TextSplice& splice, qint64& changed, Problem& problem)
{
    const int64_t expected = block.width * block.height;
    std::vector<uint32_t> cells;
    std::vector<Span> spans;
    switch (block.form) {
    case CellBlock::Form::CommaList:
        if (!splitCommaList(bytes, block, cells, spans, problem))
            return false;
        break;
    case CellBlock::Form::Numbers:
        spans = block.numbers;
        cells.resize(spans.size());
        for (size_t i = 0; i < spans.size(); ++i) {
            if (spans[i].valid() &&
                !parseGid(QByteArrayView(bytes).sliced(spans[i].begin, spans[i].size()),
                          cells[i])) {
                problem = {spans[i].begin, joinWhere(block.where, cellName(block, i)),
                           QStringLiteral("the gid %1 is not a tile id")
                               .arg(quotedPath(QString::fromUtf8(
                                   bytes.sliced(spans[i].begin, spans[i].size()))))};
                return false;
            }
        }
        break;
    case CellBlock::Form::Base64: {
        QByteArray text;
        QString error;
        if (!base64Text(bytes, block, *sites.edits, text))
            error = QStringLiteral("the data is not valid base64");
        else
            decodeLayerData(text, block.compression, expected, cells, error);
        if (!error.isEmpty()) {
            problem = {block.at, block.where, error};
            return false;
        }
        break;
    }
    }
    if (int64_t(cells.size()) != expected) {
        problem = {block.at, block.where,
                   QStringLiteral("the data holds %1 cells instead of %2 (%3 × %4)")
                       .arg(cells.size())
                       .arg(expected)
                       .arg(block.width)
                       .arg(block.height)};
        return false;
    }

    qint64 changedHere = 0;
    StretchWriter numbers(bytes);
    for (size_t i = 0; i < cells.size(); ++i) {
        uint32_t now = 0;
        if (!gids.map(cells[i], now)) {
            problem = {spans.empty() || !spans[i].valid() ? block.at : spans[i].begin,
                       joinWhere(block.where, cellName(block, i)), gids.beyondReason(cells[i])};
            return false;
        }
        if (now == cells[i])
            continue;
        ++changedHere;
        if (block.form == CellBlock::Form::Base64)
            cells[i] = now;
        else
            numbers.replaceNumber(spans[i], now);
    }
    numbers.finish(splice);
    // Untouched data keeps its bytes: compressed data is only written anew when it must change.
    if (block.form == CellBlock::Form::Base64 && changedHere > 0)
        splice.replace(block.text,
                       encodeLayerData(cells, block.compression, sites.compressionLevel));
    changed += changedHere;
    return true;
}

} // namespace

LevelBytesResult failedWith(const QString& reason)
{
    LevelBytesResult result;
    result.reason = reason;
    return result;
}

QString imageOf(const TilesetFacts& tileset)
{
    return pathFrom(tileset.folder, tileset.image);
}

namespace
{

// Refuses, from what the layers declare and before any is read, a file too large to remap here:
// a layer beyond the limit, too many cells in all, or more memory than the machine can give.
std::optional<LevelBytesResult> refuseOversized(const LevelSites& sites, const QByteArray& bytes)
{
    int64_t total = 0;
    int64_t largest = 0;
    for (const CellBlock& block : sites.blocks) {
        // The sides are what the file says; a product beyond 64 bits is simply too many.
        const __int128 product = __int128(block.width) * __int128(block.height);
        const int64_t cells = product > std::numeric_limits<int64_t>::max()
                                  ? std::numeric_limits<int64_t>::max()
                                  : int64_t(product);
        if (const QString tooLarge = layerTooLarge(cells); !tooLarge.isEmpty())
            return failedAt(bytes, {block.at, block.where, tooLarge});
        total += cells;
        largest = std::max(largest, cells);
    }
    if (total > kMaxLevelCells)
        return failedWith(QStringLiteral("its layers hold %1 cells in all, more than the %2 "
                                         "Tilegrid reads in one file")
                              .arg(total)
                              .arg(kMaxLevelCells));
    if (const QString shortfall = memoryShortfall(levelMemoryNeed(bytes.size(), largest));
        !shortfall.isEmpty())
        return failedWith(shortfall);
    return std::nullopt;
}

} // namespace

void addTemplate(LevelSites& sites, const QString& folder, const QString& source, qsizetype at,
                 const QString& where)
{
    if (source.isEmpty())
        return;
    const QString file = pathFrom(folder, source);
    for (const TemplateSite& site : sites.templates)
        if (site.file == file)
            return;
    sites.templates.push_back({file, at, where});
}

void readTilesetNumber(TilesetSite& site, QByteArrayView bytes, Span span, bool allowSign,
                       const QString& where, int64_t& target)
{
    const QByteArrayView text = bytes.sliced(span.begin, span.size());
    if (parseWholeNumber(text, allowSign, target) && target >= 0 && target <= INT32_MAX)
        return;
    target = -1;
    if (!site.problem)
        site.problem = Problem{
            span.begin, where,
            QStringLiteral("%1 is not a whole number").arg(quotedPath(QString::fromUtf8(text)))};
}

bool parseGid(QByteArrayView text, uint32_t& gid)
{
    int64_t value = 0;
    if (text.size() > 10 || !parseWholeNumber(text, false, value) || value > int64_t(UINT32_MAX))
        return false;
    gid = uint32_t(value);
    return true;
}

LevelBytesResult failedAt(const QByteArray& bytes, const Problem& problem)
{
    LevelBytesResult result = failedWith(problem.why);
    result.place = joinWhere(linePlace(bytes, problem.at), problem.where);
    return result;
}

namespace
{

ExternalTileset readFile(const LevelContext& context, const QString& file)
{
    return context.readTileset
               ? context.readTileset(file)
               : ExternalTileset{
                     {}, QStringLiteral("%1 is not read here").arg(quotedPath(file)), {}, {}, {}};
}

} // namespace

std::optional<LevelBytesResult> readLevelTilesets(const LevelSites& sites, const QByteArray& bytes,
                                                  const LevelContext& context, LevelTilesets& found)
{
    for (const TilesetSite& site : sites.tilesets) {
        TilesetFacts tileset = site.facts;
        QString problem;
        if (!tileset.file.isEmpty()) {
            const ExternalTileset external = readFile(context, tileset.file);
            if (!external.error.isEmpty())
                return failedAt(
                    bytes, {site.at, QString(),
                            QStringLiteral("its tileset cannot be used: %1").arg(external.error)});
            tileset = external.facts;
            problem = external.problem;
            tileset.firstGid = site.facts.firstGid;
            tileset.file = site.facts.file;
        }
        found.facts.push_back(tileset);
        found.sites.push_back(&site);
        found.problems.push_back(problem);
    }
    if (!sites.tilesetsFrom.isEmpty()) {
        const ExternalTileset read = readFile(context, sites.tilesetsFrom);
        if (!read.error.isEmpty())
            return failedWith(QStringLiteral("its %1 cannot be used: %2")
                                  .arg(sites.tilesetsFromNoun, read.error));
        for (const TilesetFacts& tileset : read.tilesets) {
            if (sites.drawnFrom.count(tileset.key)) {
                found.facts.push_back(tileset);
                found.sites.push_back(nullptr);
                found.problems.emplace_back();
            }
        }
    }
    for (const TemplateSite& site : sites.templates) {
        const ExternalTileset used = readFile(context, site.file);
        if (!used.error.isEmpty())
            return failedAt(bytes,
                            {site.at, site.where,
                             QStringLiteral("its template cannot be used: %1").arg(used.error)});
        found.templates.push_back(used.facts);
    }
    return std::nullopt;
}

namespace
{

// Which tilesets show the sheet. A template's tile is the sheet's when its tileset shows the
// image the map's own tilesets were found to show; only a map whose own tilesets do not show the
// sheet goes by its templates alone. A template of another sheet is left as it is.
SheetChoice chooseAmong(const LevelTilesets& tilesets, const LevelSites& sites,
                        const LevelRemapOptions& options, LevelBytesResult& result)
{
    SheetChoice choice = chooseSheet(tilesets.facts, options.sheet, options.sheetOrByName);
    if (tilesets.templates.empty() || choice.verdict == SheetChoice::Verdict::Refuse)
        return choice;
    QString sheet = options.sheet;
    for (size_t t = 0; t < tilesets.facts.size() && sheet.isEmpty(); ++t)
        if (choice.isSheet[t])
            sheet = imageOf(tilesets.facts[t]);
    SheetChoice byTemplates = chooseSheet(tilesets.templates, sheet);
    const std::vector<bool> templateIsSheet = byTemplates.isSheet;
    if (byTemplates.verdict == SheetChoice::Verdict::Refuse ||
        (byTemplates.verdict == SheetChoice::Verdict::Use &&
         choice.verdict == SheetChoice::Verdict::Skip)) {
        byTemplates.isSheet.assign(tilesets.facts.size(), false);
        choice = byTemplates;
    }
    if (choice.verdict != SheetChoice::Verdict::Use)
        return choice;
    for (size_t t = 0; t < tilesets.templates.size(); ++t) {
        if (!templateIsSheet[t])
            continue;
        result.carried.push_back({sites.templates[t].file, CarriedFile::Kind::Template});
        if (result.sheetImage.isEmpty())
            result.sheetImage = imageOf(tilesets.templates[t]);
    }
    return choice;
}

// Checks one of the sheet's tilesets and rewrites it (its per-tile data, geometry and caches);
// a tileset file of its own only goes along.
std::optional<LevelBytesResult>
remapSheetTileset(size_t t, LevelTilesets& tilesets, const QByteArray& bytes,
                  const LevelContext& context, const LevelEdits& edits, LevelBytesResult& result,
                  TextSplice& splice, std::map<int64_t, SheetTileset>& sheets)
{
    const TileRemap& remap = context.remap;
    const TilesetSite* site = tilesets.sites[t];
    TilesetFacts& tileset = tilesets.facts[t];
    result.sheetImage = imageOf(tileset);
    if (site && site->problem)
        return failedAt(bytes, *site->problem);
    QString unfit = tilesets.problems[t];
    if (unfit.isEmpty())
        unfit = completeFromImage(tileset);
    if (unfit.isEmpty() && context.options.use)
        context.options.use->tilesets.push_back(tileset);
    SheetTileset sheet;
    const bool external = !tileset.file.isEmpty();
    if (unfit.isEmpty())
        unfit = external ? checkSheetTileset(tileset, remap)
                         : planSheetTileset(site, tileset, remap, sheet);
    // What is wrong with a tileset file lies in that file, not in the map.
    if (!unfit.isEmpty() && external)
        return failedWith(QStringLiteral("its tileset %1 cannot be used: %2")
                              .arg(quotedPath(tileset.file), unfit));
    if (!unfit.isEmpty())
        return failedAt(bytes, {site ? site->at : 0, site ? site->where : QString(), unfit});
    if (external) {
        result.carried.push_back({tileset.file, CarriedFile::Kind::Tileset});
        return std::nullopt;
    }
    if (site && !remap.keepsIds) {
        const QString where = site->dataWhere.isEmpty()
                                  ? QStringLiteral("tileset %1").arg(tileset.label())
                                  : site->dataWhere;
        if (auto problem =
                remapTileData(*site, bytes, remap, where, splice, result.tilesMoved,
                              context.options.use, context.options.tileProperties, edits))
            return failedAt(bytes, *problem);
    }
    rewriteSheetTileset(sheet, remap, bytes, splice);
    sheets.emplace(tileset.key, sheet);
    return std::nullopt;
}

} // namespace

std::optional<LevelBytesResult> remapLevelGids(const LevelSites& sites, const QByteArray& bytes,
                                               const GidRemapper& gids, LevelBytesResult& result,
                                               TextSplice& splice)
{
    if (auto refused = refuseOversized(sites, bytes))
        return *refused;
    Problem problem;
    for (const CellBlock& block : sites.blocks) {
        if (block.problem)
            return failedAt(bytes, *block.problem);
        if (!remapBlock(block, gids, sites, bytes, splice, result.cellsChanged, problem))
            return failedAt(bytes, problem);
    }
    for (const GidSite& object : sites.objects) {
        uint32_t gid = 0;
        uint32_t now = 0;
        const QByteArrayView text =
            QByteArrayView(bytes).sliced(object.value.begin, object.value.size());
        if (!parseGid(text, gid))
            return failedAt(bytes, {object.value.begin, object.where,
                                    QStringLiteral("the gid %1 is not a tile id")
                                        .arg(quotedPath(QString::fromUtf8(text)))});
        if (!gids.map(gid, now))
            return failedAt(bytes, {object.value.begin, object.where, gids.beyondReason(gid)});
        if (now != gid) {
            splice.replaceNumber(object.value, now);
            ++result.cellsChanged;
        }
    }
    return std::nullopt;
}

LevelBytesResult remapBareNumbers(const LevelSites& sites, const QByteArray& bytes,
                                  const LevelContext& context)
{
    const TileRemap& remap = context.remap;
    const int64_t firstId = context.options.firstId;
    LevelBytesResult result;
    if (firstId != 0 && firstId != 1) {
        result.reason = QStringLiteral("the first tile number must be 0 or 1, not %1").arg(firstId);
        return result;
    }
    if (remap.keepsIds) {
        result.status = LevelFileStatus::Skipped;
        result.reason = QStringLiteral("it holds only tile numbers, and they stay");
        return result;
    }
    auto fail = [&](Span span, const QString& reason) {
        result.place = linePlace(bytes, span.begin);
        result.reason = reason;
        return result;
    };
    std::vector<uint8_t>* named = context.options.use ? &context.options.use->named : nullptr;
    const int64_t count = remap.tileCount();
    bool separator[256] = {};
    for (const char c : sites.bareSeparators)
        separator[uchar(c)] = true;
    StretchWriter numbers(bytes);
    for (qsizetype i = sites.bareText.begin; i < sites.bareText.end;) {
        if (separator[uchar(bytes[i])]) {
            ++i;
            continue;
        }
        const qsizetype begin = i;
        while (i < sites.bareText.end && !separator[uchar(bytes[i])])
            ++i;
        const Span span{begin, i};
        const QByteArrayView field = QByteArrayView(bytes).sliced(begin, i - begin);
        int64_t number = 0;
        if (!parseWholeNumber(field, true, number))
            return fail(span, QStringLiteral("%1 is not a tile number")
                                  .arg(quotedPath(QString::fromUtf8(
                                      field.first(std::min<qsizetype>(field.size(), 40))))));
        if (number < firstId)
            continue;
        if (number - firstId >= count)
            return fail(span, QStringLiteral("the tile number %1 lies beyond the sheet's %2 tiles "
                                             "(numbers %3 to %4)")
                                  .arg(number)
                                  .arg(count)
                                  .arg(firstId)
                                  .arg(firstId + count - 1));
        const size_t tile = size_t(number - firstId);
        if (named)
            (*named)[tile] = 1;
        if (remap.newIndexOf[tile] < 0)
            return fail(span, QStringLiteral("tile %1 is dropped").arg(number));
        if (!remap.symmetry(tile).isIdentity())
            return fail(span, QStringLiteral("tile %1 becomes tile %2 turned, and %3 cells hold "
                                             "no flips")
                                  .arg(number)
                                  .arg(firstId + remap.newIndexOf[tile])
                                  .arg(sites.edits->name()));
        const int64_t now = firstId + remap.newIndexOf[tile];
        if (now != number) {
            numbers.replaceNumber(span, now);
            ++result.cellsChanged;
        }
    }
    result.status = LevelFileStatus::Updated;
    result.sheetImage = context.options.sheet;
    TextSplice splice;
    numbers.finish(splice);
    result.bytes = splice.isEmpty() ? bytes : splice.apply(bytes);
    return result;
}

LevelBytesResult withoutTheSheet(const SheetChoice& choice, const QByteArray& bytes,
                                 const LevelContext& context, LevelBytesResult result)
{
    // A file carried along that shows none of the sheet stays as it is.
    const bool stays = !context.carriedBy.isEmpty() && choice.verdict == SheetChoice::Verdict::Skip;
    result.status = stays                                          ? LevelFileStatus::Updated
                    : choice.verdict == SheetChoice::Verdict::Skip ? LevelFileStatus::Skipped
                                                                   : LevelFileStatus::Failed;
    if (stays)
        result.bytes = bytes;
    else
        result.reason = choice.reason;
    return result;
}

LevelBytesResult remapSites(const LevelSites& sites, const QByteArray& bytes,
                            const LevelContext& context)
{
    if (context.options.merge)
        return mergeSites(sites, bytes, context);
    if (sites.bare)
        return remapBareNumbers(sites, bytes, context);
    const TileRemap& remap = context.remap;
    if (!sites.placed.empty())
        if (const QString shortfall =
                memoryShortfall(levelMemoryNeed(bytes.size(), int64_t(sites.placed.size())));
            !shortfall.isEmpty())
            return failedWith(shortfall);
    LevelTilesets tilesets;
    if (auto failed = readLevelTilesets(sites, bytes, context, tilesets))
        return *failed;
    LevelBytesResult result;
    result.isTileset = sites.isTileset;
    result.isTemplate = sites.isTemplate;
    result.othersRead = sites.isTileset || sites.isTemplate;
    const SheetChoice choice = chooseAmong(tilesets, sites, context.options, result);
    if (choice.verdict != SheetChoice::Verdict::Use)
        return withoutTheSheet(choice, bytes, context, result);
    TextSplice splice;
    std::map<int64_t, SheetTileset> sheets;
    for (size_t t = 0; t < tilesets.facts.size(); ++t)
        if (choice.isSheet[t])
            if (auto failed = remapSheetTileset(t, tilesets, bytes, context, *sites.edits, result,
                                                splice, sheets))
                return *failed;
    TileUse* use = context.options.use;
    if (sites.byGid && !sites.isTileset && !remap.keepsIds) {
        const GidRemapper gids(tilesets.facts, choice.isSheet, remap, use ? &use->named : nullptr);
        if (!gids.problem().isEmpty())
            return failedWith(gids.problem());
        if (auto failed = remapLevelGids(sites, bytes, gids, result, splice))
            return *failed;
    }
    if (auto problem = remapKeyedSites(sites, bytes, remap, sheets, use, result, splice))
        return failedAt(bytes, *problem);
    for (const QString& file : sites.levelFiles)
        result.carried.push_back({file, CarriedFile::Kind::Level});
    result.status = LevelFileStatus::Updated;
    result.bytes = splice.isEmpty() ? bytes : splice.apply(bytes);
    return result;
}

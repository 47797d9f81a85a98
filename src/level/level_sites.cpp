#include "level/level_sites.h"

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
    const QByteArrayView written = QByteArrayView(bytes).sliced(block.text.begin, block.text.size());
    if (block.escaped)
        return edits.plainText(written, text);
    text = written.toByteArray();
    return true;
}

bool remapBlock(const CellBlock& block, const GidRemapper& gids, const LevelSites& sites, const QByteArray& bytes,
                TextSplice& splice, qint64& changed, Problem& problem)
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
        splice.replace(block.text, encodeLayerData(cells, block.compression, sites.compressionLevel));
    changed += changedHere;
    return true;
}

} // namespace

namespace
{

LevelBytesResult failedWith(const QString& reason)
{
    LevelBytesResult result;
    result.reason = reason;
    return result;
}

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
        site.problem = Problem{span.begin, where,
                               QStringLiteral("%1 is not a whole number")
                                   .arg(quotedPath(QString::fromUtf8(text)))};
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

LevelBytesResult remapSites(const LevelSites& sites, const QByteArray& bytes,
                            const LevelContext& context)
{
    const TileRemap& remap = context.remap;
    auto readFile = [&](const QString& file) {
        return context.readTileset
                   ? context.readTileset(file)
                   : ExternalTileset{
                         {}, QStringLiteral("%1 is not read here").arg(quotedPath(file)), {}, {}};
    };
    std::vector<TilesetFacts> facts;
    std::vector<QString> externalProblems;
    for (const TilesetSite& site : sites.tilesets) {
        externalProblems.emplace_back();
        TilesetFacts tileset = site.facts;
        if (!tileset.file.isEmpty()) {
            const ExternalTileset external = readFile(tileset.file);
            if (!external.error.isEmpty())
                return failedAt(
                    bytes, {site.at, QString(),
                            QStringLiteral("its tileset cannot be used: %1").arg(external.error)});
            const int64_t firstGid = tileset.firstGid;
            tileset = external.facts;
            externalProblems.back() = external.problem;
            tileset.firstGid = firstGid;
            tileset.file = site.facts.file;
        }
        facts.push_back(tileset);
    }
    std::vector<TilesetFacts> templates; // the tilesets of the templates' tiles
    for (const TemplateSite& site : sites.templates) {
        const ExternalTileset used = readFile(site.file);
        if (!used.error.isEmpty())
            return failedAt(bytes,
                            {site.at, site.where,
                             QStringLiteral("its template cannot be used: %1").arg(used.error)});
        templates.push_back(used.facts);
    }

    LevelBytesResult result;
    result.isTileset = sites.isTileset;
    result.isTemplate = sites.isTemplate;
    result.othersRead = sites.isTileset || sites.isTemplate;
    auto imageOf = [](const TilesetFacts& tileset) {
        return pathFrom(tileset.folder, tileset.image);
    };
    SheetChoice choice = chooseSheet(facts, context.options.sheet, context.options.sheetOrByName);
    // A template's tile is the sheet's when its tileset shows the image the map's own tilesets
    // were found to show; only a map whose own tilesets do not show the sheet goes by its
    // templates alone. A template of another sheet is left as it is.
    std::vector<bool> templateIsSheet(templates.size(), false);
    if (!templates.empty() && choice.verdict != SheetChoice::Verdict::Refuse) {
        QString sheet = context.options.sheet;
        for (size_t t = 0; t < facts.size() && sheet.isEmpty(); ++t)
            if (choice.isSheet[t])
                sheet = imageOf(facts[t]);
        SheetChoice byTemplates = chooseSheet(templates, sheet);
        templateIsSheet = byTemplates.isSheet;
        if (byTemplates.verdict == SheetChoice::Verdict::Refuse ||
            (byTemplates.verdict == SheetChoice::Verdict::Use &&
             choice.verdict == SheetChoice::Verdict::Skip)) {
            byTemplates.isSheet.assign(facts.size(), false);
            choice = byTemplates;
        }
    }
    if (choice.verdict != SheetChoice::Verdict::Use) {
        result.status = choice.verdict == SheetChoice::Verdict::Skip ? LevelFileStatus::Skipped
                                                                     : LevelFileStatus::Failed;
        result.reason = choice.reason;
        return result;
    }
    for (size_t t = 0; t < templates.size(); ++t) {
        if (!templateIsSheet[t])
            continue;
        result.carried.push_back({sites.templates[t].file, CarriedFile::Kind::Template});
        if (result.sheetImage.isEmpty())
            result.sheetImage = imageOf(templates[t]);
    }

    TextSplice splice;
    for (size_t t = 0; t < facts.size(); ++t) {
        if (!choice.isSheet[t])
            continue;
        const TilesetSite& site = sites.tilesets[t];
        TilesetFacts& tileset = facts[t];
        result.sheetImage = imageOf(tileset);
        const QString where = QStringLiteral("tileset %1").arg(tileset.label());
        if (site.problem)
            return failedAt(bytes, *site.problem);
        QString unfit = externalProblems[t];
        if (unfit.isEmpty())
            unfit = completeFromImage(tileset);
        if (unfit.isEmpty() && context.options.use)
            context.options.use->tilesets.push_back(tileset);
        if (unfit.isEmpty())
            unfit = checkSheetTileset(tileset, remap);
        // What is wrong with a tileset file lies in that file, not in the map.
        if (!unfit.isEmpty() && !tileset.file.isEmpty())
            return failedWith(QStringLiteral("its tileset %1 cannot be used: %2")
                                  .arg(quotedPath(tileset.file), unfit));
        if (!unfit.isEmpty())
            return failedAt(bytes, {site.at, QString(), unfit});
        if (!tileset.file.isEmpty()) {
            result.carried.push_back({tileset.file, CarriedFile::Kind::Tileset});
            continue;
        }
        if (!remap.keepsIds)
            if (auto problem = remapTileData(site, bytes, remap, where, splice, result.tilesMoved,
                                             context.options.use, context.options.tileProperties, *sites.edits))
                return failedAt(bytes, *problem);
        if (!remap.isRearrangement()) {
            if (tileset.margin != 0)
                return failedAt(bytes,
                                {site.at, QString(),
                                 QStringLiteral("the tileset %1 has a margin of %2 pixels, "
                                                "but a packed sheet starts at its corner")
                                     .arg(tileset.label(), QString::number(tileset.margin))});
            const int64_t columns = remap.newColumns();
            const int64_t rows = (remap.newTileCount() + columns - 1) / columns;
            if (site.tileCount.valid())
                splice.replaceNumber(site.tileCount, remap.newTileCount());
            if (site.columns.valid())
                splice.replaceNumber(site.columns, columns);
            if (site.imageWidth.valid())
                splice.replaceNumber(site.imageWidth,
                                     columns * (tileset.tileWidth + tileset.spacing));
            if (site.imageHeight.valid())
                splice.replaceNumber(site.imageHeight,
                                     rows * (tileset.tileHeight + tileset.spacing));
        } else if (remap.grid != TileRemap::GridChange::None || remap.changesLayout()) {
            const SheetGeometry after = geometryAfter(tileset, remap);
            // A missing margin or spacing goes in where a missing spacing goes, once.
            QByteArray missing;
            if (site.spacing.valid())
                splice.replaceNumber(site.spacing, after.spacing);
            else
                missing +=
                    site.spacingPrefix + QByteArray::number(after.spacing) + site.spacingSuffix;
            if (site.margin.valid())
                splice.replaceNumber(site.margin, after.margin);
            else if (after.margin != 0)
                missing += QByteArray(site.spacingPrefix).replace("spacing", "margin") +
                           QByteArray::number(after.margin) + site.spacingSuffix;
            if (!missing.isEmpty())
                splice.insert(site.spacingInsertAt, missing);
            if (site.imageWidth.valid())
                splice.replaceNumber(site.imageWidth, after.imageWidth);
            if (site.imageHeight.valid())
                splice.replaceNumber(site.imageHeight, after.imageHeight);
        }
    }

    if (!sites.isTileset && !remap.keepsIds) {
        TileUse* use = context.options.use;
        const GidRemapper gids(facts, choice.isSheet, remap, use ? &use->named : nullptr);
        if (!gids.problem().isEmpty())
            return failedWith(gids.problem());
        if (auto refused = refuseOversized(sites, bytes))
            return *refused;
        Problem problem;
        for (const CellBlock& block : sites.blocks) {
            if (block.problem)
                return failedAt(bytes, *block.problem);
            if (!remapBlock(block, gids, sites, bytes, splice, result.cellsChanged,
                            problem))
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
    }
    result.status = LevelFileStatus::Updated;
    result.bytes = splice.isEmpty() ? bytes : splice.apply(bytes);
    return result;
}

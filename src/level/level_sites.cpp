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

// The text of base64 data, with a JSON string's escaped slashes undone.
bool base64Text(const QByteArray& bytes, const CellBlock& block, QByteArray& text)
{
    text = bytes.sliced(block.text.begin, block.text.size());
    if (!block.jsonString || !text.contains('\\'))
        return true;
    QByteArray plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            if (i + 1 >= text.size() || text[i + 1] != '/')
                return false;
            ++i;
        }
        plain.append(text[i]);
    }
    text = plain;
    return true;
}

bool remapBlock(const CellBlock& block, const GidRemapper& gids, int level, const QByteArray& bytes,
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
        if (!base64Text(bytes, block, text))
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
        splice.replace(block.text, encodeLayerData(cells, block.compression, level));
    changed += changedHere;
    return true;
}

// Takes the removed items of a JSON array or object out, each with a comma beside it: a run of
// them after a kept item with the comma before the run, a run at the start with the comma after
// it; when none stays the brackets are left empty.
void removeItems(const EntryContainer& container, const std::vector<bool>& removed,
                 TextSplice& splice)
{
    const size_t count = container.items.size();
    for (size_t first = 0; first < count;) {
        if (!removed[first]) {
            ++first;
            continue;
        }
        size_t last = first;
        while (last + 1 < count && removed[last + 1])
            ++last;
        if (first > 0)
            splice.replace({container.items[first - 1].end, container.items[last].end}, {});
        else if (last + 1 < count)
            splice.replace({container.items[first].begin, container.items[last + 1].begin}, {});
        else
            splice.replace(container.inside, {});
        first = last + 1;
    }
}

// An XML element leaves with the blanks before it, so that its line goes.
Span elementWithItsLine(const QByteArray& bytes, Span whole)
{
    qsizetype begin = whole.begin;
    while (begin > 0 && isBlank(bytes[begin - 1]))
        --begin;
    return {begin, whole.end};
}

// A tile that an entry shows: an animation frame, or the value of a property that holds a tile
// id (property names it; empty for a frame).
struct ShownTile {
    Span span;
    int64_t tile = 0;
    QString property;
};

// An entry's data as it will read: its text without its id (or with it, to be read as a whole),
// the tiles it shows renumbered.
QByteArray entryData(const QByteArray& bytes, const TileEntry& entry, const TileRemap& remap,
                     const std::vector<ShownTile>& shown, bool withId = false)
{
    std::vector<std::pair<Span, int64_t>> parts;
    if (!withId)
        parts.push_back({entry.id, -1});
    for (const ShownTile& tile : shown)
        parts.push_back({tile.span, remap.newIndexOf[size_t(tile.tile)]});
    std::sort(parts.begin(), parts.end(),
              [](const auto& a, const auto& b) { return a.first.begin < b.first.begin; });
    QByteArray data;
    qsizetype at = entry.whole.begin;
    for (const auto& [span, now] : parts) {
        data += QByteArrayView(bytes).sliced(at, span.begin - at);
        if (now >= 0)
            data += QByteArray::number(now);
        at = span.end;
    }
    data += QByteArrayView(bytes).sliced(at, entry.whole.end - at);
    return data;
}

} // namespace

// Moves what the sheet's tileset keeps for each tile along with the tile: the entries are
// renumbered, tiles merged into one keep one entry when they carry the same data, and a dropped
// tile's entries leave the file. Pointers at a dropped tile (a Wang set's or terrain's picture)
// then point at none. The data of merged tiles that differ, of a tile shown turned (its collision
// shapes and Wang ids would need turning), and frames that show a dropped or turned tile are
// refused.
std::optional<Problem> remapTileData(const TilesetSite& site, const QByteArray& bytes,
                                     const TileRemap& remap, const QString& where,
                                     TextSplice& splice, qint64& moved, TileUse* use,
                                     const QStringList& tileProperties)
{
    const int64_t tileCount = remap.tileCount();
    std::optional<Problem> problem;
    // what: what holds the id, for a message ("an animation frame of tile 5"); empty for an id
    // of its own.
    auto readTile = [&](Span span, bool noneAllowed, int64_t& value, const QString& what = {}) {
        const QByteArrayView text = QByteArrayView(bytes).sliced(span.begin, span.size());
        if (!parseWholeNumber(text, noneAllowed, value))
            problem =
                Problem{span.begin, where,
                        what.isEmpty() ? QStringLiteral("the tile id %1 is not a whole number")
                                             .arg(quotedPath(QString::fromUtf8(text)))
                                       : QStringLiteral("%1 holds %2, which is not a tile id")
                                             .arg(what, quotedPath(QString::fromUtf8(text)))};
        else if ((value < 0 && !(noneAllowed && value == -1)) || value >= tileCount)
            problem = Problem{
                span.begin, where,
                what.isEmpty()
                    ? QStringLiteral("the tile id %1 lies beyond the tileset's %2 tiles")
                          .arg(value)
                          .arg(tileCount)
                    : QStringLiteral("%1 shows the tile id %2, which lies beyond the tileset's "
                                     "%3 tiles")
                          .arg(what)
                          .arg(value)
                          .arg(tileCount)};
        return !problem;
    };
    auto renumber = [&](Span span, int64_t from, int64_t to) {
        if (to != from) {
            splice.replaceNumber(span, to);
            ++moved;
        }
    };

    for (const TileIdSite& id : site.ids) {
        int64_t value = 0;
        if (!readTile(id.value, id.noneAllowed, value))
            return problem;
        if (value >= 0)
            renumber(id.value, value, remap.newIndexOf[size_t(value)]);
    }

    const size_t count = site.entries.size();
    std::vector<int64_t> tiles(count);
    std::vector<bool> removed(count, false);
    std::vector<QByteArray> data(count); // empty for an entry that carries nothing
    std::vector<std::vector<ShownTile>> shownTiles(count);
    for (size_t i = 0; i < count; ++i) {
        const TileEntry& entry = site.entries[i];
        if (!readTile(entry.id, false, tiles[i]))
            return problem;
        const int32_t now = remap.newIndexOf[size_t(tiles[i])];
        removed[i] = now < 0;
        if (removed[i])
            continue;
        std::vector<ShownTile> shown;
        for (const Span& frame : entry.frames)
            shown.push_back({frame, 0, QString()});
        for (const TileProperty& property : entry.properties)
            if (property.value.size() > 0 && matchesTileProperty(property.name, tileProperties))
                shown.push_back({property.value, 0, property.name});
        for (ShownTile& tile : shown) {
            const QString what = tile.property.isEmpty()
                                     ? QStringLiteral("an animation frame of tile %1").arg(tiles[i])
                                     : QStringLiteral("the property %1 of tile %2")
                                           .arg(quotedPath(tile.property))
                                           .arg(tiles[i]);
            // A property of -1 names no tile, as a Wang set's picture of -1 does.
            if (!readTile(tile.span, !tile.property.isEmpty(), tile.tile, what))
                return problem;
            if (tile.tile < 0)
                continue;
            const int32_t becomes = remap.newIndexOf[size_t(tile.tile)];
            if (becomes < 0 || !remap.symmetry(size_t(tile.tile)).isIdentity())
                return Problem{tile.span.begin, where,
                               QStringLiteral("%1 shows tile %2, which %3")
                                   .arg(what)
                                   .arg(tile.tile)
                                   .arg(becomes < 0
                                            ? QStringLiteral("is dropped")
                                            : QStringLiteral("becomes tile %1 turned, and %2 hold "
                                                             "no flips")
                                                  .arg(becomes)
                                                  .arg(tile.property.isEmpty()
                                                           ? QStringLiteral("frames")
                                                           : QStringLiteral("properties")))};
            if (use)
                use->frames.emplace_back(int32_t(tiles[i]), int32_t(tile.tile));
        }
        std::erase_if(shown, [](const ShownTile& tile) { return tile.tile < 0; });
        shownTiles[i] = std::move(shown);
        if (!entry.empty)
            data[i] = entryData(bytes, entry, remap, shownTiles[i]);
    }

    // The entries of each list that end up at one new tile: all must carry the same data, which
    // every tile that becomes that tile must carry, one of them unturned.
    struct Group {
        size_t first;
        int carriers = 0;
        bool unturned = false;
    };
    std::map<std::pair<int, int32_t>, Group> groups;
    // entry and otherEntry carry the data of tiles one and other; otherEntry is none when other
    // carries nothing of the kind.
    auto differ = [&](int64_t one, size_t entry, int64_t other, std::optional<size_t> otherEntry,
                      int32_t now, size_t at) {
        const TileEntry& first = site.entries[entry];
        const bool xml = first.container < 0;
        // An older JSON file's keyed lists after its tiles hold properties, named by their keys.
        const bool keyed = !xml && first.list > 0 && first.id.begin > first.whole.begin &&
                           first.id.begin <= first.whole.begin + 1;
        const QString difference = tileDataDifference(
            entryData(bytes, first, remap, shownTiles[entry], true), one,
            otherEntry ? QByteArrayView(entryData(bytes, site.entries[*otherEntry], remap,
                                                  shownTiles[*otherEntry], true))
                       : QByteArrayView(),
            other, xml, keyed);
        return Problem{
            site.entries[at].whole.begin, where,
            QStringLiteral("tiles %1 and %2 merge into tile %3, but %4")
                .arg(std::min(one, other))
                .arg(std::max(one, other))
                .arg(now)
                .arg(difference.isEmpty()
                         ? QStringLiteral("the data they carry differ (properties, animation, "
                                          "collision shapes, Wang or terrain ids)")
                         : difference)};
    };
    for (size_t i = 0; i < count; ++i) {
        if (removed[i])
            continue;
        const int32_t now = remap.newIndexOf[size_t(tiles[i])];
        const auto [found, fresh] = groups.emplace(std::pair(site.entries[i].list, now), Group{i});
        Group& group = found->second;
        if (!fresh && tiles[i] == tiles[group.first])
            continue; // a second entry of the same tile merges with nothing
        if (!fresh && data[i] != data[group.first])
            return differ(tiles[group.first], group.first, tiles[i], i, now, i);
        removed[i] = !fresh; // the same data once is enough
        ++group.carriers;
        group.unturned = group.unturned || remap.symmetry(size_t(tiles[i])).isIdentity();
    }
    std::vector<int32_t> sources; // new tile -> how many tiles become it
    for (const auto& [key, group] : groups) {
        if (data[group.first].isEmpty())
            continue;
        if (sources.empty()) {
            sources.assign(size_t(remap.newTileCount()), 0);
            for (const int32_t now : remap.newIndexOf)
                if (now >= 0)
                    ++sources[size_t(now)];
        }
        const int32_t now = key.second;
        if (group.carriers < sources[size_t(now)]) {
            // Some tile that becomes this one carries nothing of this kind.
            std::vector<bool> carries(remap.newIndexOf.size(), false);
            for (size_t i = 0; i < count; ++i)
                if (site.entries[i].list == key.first && remap.newIndexOf[size_t(tiles[i])] == now)
                    carries[size_t(tiles[i])] = true;
            for (size_t t = 0; t < carries.size(); ++t)
                if (remap.newIndexOf[t] == now && !carries[t])
                    return differ(tiles[group.first], group.first, int64_t(t), std::nullopt, now,
                                  group.first);
        }
        if (!group.unturned)
            return Problem{site.entries[group.first].whole.begin, where,
                           QStringLiteral("tile %1 carries data, but it becomes tile %2 "
                                          "turned, and its collision shapes and Wang ids "
                                          "cannot be turned with it")
                               .arg(tiles[group.first])
                               .arg(now)};
    }

    std::vector<std::vector<bool>> removedItems(site.containers.size());
    for (size_t c = 0; c < site.containers.size(); ++c)
        removedItems[c].assign(site.containers[c].items.size(), false);
    for (size_t i = 0; i < count; ++i) {
        const TileEntry& entry = site.entries[i];
        if (removed[i]) {
            ++moved;
            if (entry.container < 0)
                splice.replace(elementWithItsLine(bytes, entry.whole), {});
            else
                removedItems[size_t(entry.container)][size_t(entry.item)] = true;
            continue;
        }
        renumber(entry.id, tiles[i], remap.newIndexOf[size_t(tiles[i])]);
        for (const ShownTile& tile : shownTiles[i])
            renumber(tile.span, tile.tile, remap.newIndexOf[size_t(tile.tile)]);
    }
    for (size_t c = 0; c < site.containers.size(); ++c)
        removeItems(site.containers[c], removedItems[c], splice);
    return std::nullopt;
}

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
                                             context.options.use, context.options.tileProperties))
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
            if (!remapBlock(block, gids, sites.compressionLevel, bytes, splice, result.cellsChanged,
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

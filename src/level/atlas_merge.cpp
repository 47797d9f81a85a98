#include "level/atlas_merge.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <map>
#include <set>

#include "document/file_identity.h"
#include "document/file_messages.h"
#include "level/gid_remapper.h"
#include "level/level_format.h"
#include "level/level_sites.h"
#include "level/sheet_choice.h"
#include "level/sheet_tileset.h"
#include "level/tile_data_difference.h"

namespace {

// A tileset of a merged sheet: its text with the per-tile data renumbered for the atlas, read
// again for the entries and sets it keeps.
struct Source {
    size_t tileset = 0;  // among the map's tilesets (for a tileset file read alone, none)
    size_t sheet = 0;    // among the merge's sheets
    TilesetFacts facts;
    const TilesetSite* site = nullptr;  // where the map holds it, if it does
    QString problem;                    // what is wrong with its tileset file
    QByteArray text;
    LevelSites sites;
    std::set<int64_t> tiles;  // atlas tiles it keeps data for
    std::set<int64_t> wang;   // atlas tiles that are Wang tiles of its Wang sets
    const LevelFormat* format = nullptr;  // of the text its tileset is written in
    const LevelEdits* edits = nullptr;    // that format's
};

// An entry of the atlas's tileset, and which source it came from.
struct Gathered {
    QByteArray text;
    QByteArray data;  // the text without its id
    size_t source = 0;
};

class Merge
{
  public:
    Merge(const LevelSites& sites, const QByteArray& bytes, const LevelContext& context)
        : sites_(sites), bytes_(bytes), context_(context), merge_(*context.options.merge)
    {
    }

    LevelBytesResult run()
    {
        if (sites_.isTileset) {
            LevelBytesResult skipped;
            skipped.status = LevelFileStatus::Skipped;
            skipped.isTileset = true;
            skipped.reason = QStringLiteral("a tileset file stays as it is in a merge; the maps "
                                            "that name it name the atlas's tileset instead");
            return skipped;
        }
        if (sites_.bare)
            return bareNumbers();
        if (!sites_.byGid || sites_.edits->atlasTileset(AtlasTileset{}).isEmpty())
            return failedWith(QStringLiteral("levels of this kind do not follow a merge of "
                                             "several sheets yet (TMX, TMJ, LDtk and Godot files do)"));
        if (auto failed = readLevelTilesets(sites_, bytes_, context_, tilesets_))
            return *failed;
        if (auto failed = findSources())
            return *failed;
        if (sources_.empty()) {
            LevelBytesResult skipped;
            skipped.status = LevelFileStatus::Skipped;
            skipped.reason = QStringLiteral("it shows none of the %1 merged sheets")
                                 .arg(merge_.sheets.size());
            if (templates_.empty())
                return skipped;
            // Only its templates change.
            LevelBytesResult unchanged;
            unchanged.status = LevelFileStatus::Updated;
            unchanged.bytes = bytes_;
            unchanged.sheetImage = merge_.atlas;
            for (const QString& file : templates_)
                unchanged.carried.push_back({file, CarriedFile::Kind::Template});
            return unchanged;
        }
        if (auto failed = gatherAll())
            return *failed;
        if (auto failed = checkCarriers())
            return *failed;
        return rewrite();
    }

  private:
    const TileRemap& remapOf(const Source& source) const
    {
        return merge_.sheets[source.sheet].remap;
    }
    QString sheetName(const Source& source) const
    {
        return mergedSheetName(merge_, source.sheet);
    }

    // A CSV grid names no tileset: the run must say which of the sheets it shows.
    LevelBytesResult bareNumbers() const
    {
        const QString named = context_.options.sheet.isEmpty()
                                  ? QString()
                                  : fileIdentity(QFileInfo(context_.options.sheet).absoluteFilePath());
        for (const MergedSheet& sheet : merge_.sheets) {
            if (named.isEmpty() || fileIdentity(sheet.image) != named)
                continue;
            const LevelContext context{sheet.remap,    context_.options,     context_.path,
                                       context_.folder, context_.readTileset, context_.carriedBy};
            return remapBareNumbers(sites_, bytes_, context);
        }
        return failedWith(QStringLiteral("it names no tileset, so it does not say which of the "
                                         "%1 merged sheets it shows; give --sheet with the one "
                                         "it shows")
                              .arg(merge_.sheets.size()));
    }

    std::optional<LevelBytesResult> findSources()
    {
        const std::vector<int> sheetOf = mergedSheetsShown(tilesets_.facts, merge_);
        for (size_t s = 0; s < merge_.sheets.size(); ++s) {
            for (size_t t = 0; t < tilesets_.templates.size(); ++t)
                if (chooseSheet({tilesets_.templates[t]}, merge_.sheets[s].image).verdict ==
                        SheetChoice::Verdict::Use &&
                    std::find(templates_.begin(), templates_.end(), sites_.templates[t].file) ==
                        templates_.end())
                    templates_.push_back(sites_.templates[t].file);
        }
        for (size_t t = 0; t < sheetOf.size(); ++t)
            if (sheetOf[t] >= 0)
                sources_.push_back({t, size_t(sheetOf[t]), tilesets_.facts[t], tilesets_.sites[t],
                                    tilesets_.problems[t], {}, {}, {}, {}, {}, {}});
        return std::nullopt;
    }

    // The tileset checked against its sheet, its per-tile data renumbered for the atlas and
    // gathered; refused where two sheets' data for one atlas tile differ.
    std::optional<LevelBytesResult> gather(Source& source)
    {
        TilesetFacts& facts = source.facts;
        const TilesetSite* site = source.site;
        const TileRemap& remap = remapOf(source);
        if (site && site->problem)
            return failedAt(bytes_, *site->problem);
        QString unfit = source.problem;
        if (unfit.isEmpty())
            unfit = completeFromImage(facts);
        if (unfit.isEmpty())
            unfit = checkSheetTileset(facts, remap);
        const bool external = !facts.file.isEmpty();
        if (!unfit.isEmpty())
            return external ? failedWith(QStringLiteral("its tileset %1 cannot be used: %2")
                                             .arg(quotedPath(facts.file), unfit))
                            : failedAt(bytes_, {site ? site->at : 0, site ? site->where : QString(),
                                                unfit});
        QByteArray text = bytes_;
        QString file = context_.path;
        LevelSites own;
        if (external) {
            file = facts.file;
            text = context_.readTileset(file).text;
            if (!scan(text, file, own) || own.tilesets.size() != 1)
                return failedWith(QStringLiteral("its tileset %1 cannot be read").arg(quotedPath(file)));
            site = &own.tilesets.front();
        }
        if (!site || !site->whole.valid())
            return failedWith(QStringLiteral("the tileset %1 cannot be merged").arg(facts.label()));
        if (site->keyed)
            return failedWith(QStringLiteral("the tileset %1 keeps its tiles by their ids, as an "
                                             "older Tiled wrote them, which cannot be merged; "
                                             "save it in a newer Tiled first")
                                  .arg(facts.label()));
        source.format = levelFormatOf(file, text);
        TextSplice splice;
        const QString where = QStringLiteral("tileset %1").arg(facts.label());
        const LevelEdits& edits = external ? *own.edits : *sites_.edits;
        source.edits = &edits;
        if (auto problem = remapTileData(*site, text, remap, where, splice, moved_, nullptr,
                                         context_.options.tileProperties, edits))
            return failedWith(QStringLiteral("the tileset %1 cannot be merged: %2, %3: %4")
                                  .arg(facts.label(), linePlace(text, problem->at),
                                       problem->where, problem->why));
        source.text = splice.applyWithin(text, site->whole);
        if (!scan(source.text, file, source.sites) || source.sites.tilesets.size() != 1)
            return failedWith(QStringLiteral("the tileset %1 cannot be merged").arg(facts.label()));
        return addEntries(source);
    }

    // The level's merged tilesets gathered. Where they are files of their own, the atlas's
    // tileset file gathers every merged sheet's tileset file instead, so that every level writes
    // the same one.
    std::optional<LevelBytesResult> gatherAll()
    {
        const auto isFile = [](const Source& source) { return !source.facts.file.isEmpty(); };
        if (merge_.tilesetFiles.empty() || std::none_of(sources_.begin(), sources_.end(), isFile)) {
            for (Source& source : sources_)
                if (auto failed = gather(source))
                    return failed;
            return std::nullopt;
        }
        if (!std::all_of(sources_.begin(), sources_.end(), isFile))
            return failedWith(QStringLiteral("some of its tilesets of the merged sheets are "
                                             "embedded and others are files of their own; the "
                                             "atlas's tileset can be one or the other"));
        for (const Source& source : sources_) {
            if (source.site && source.site->problem)
                return failedAt(bytes_, *source.site->problem);
            const QString& file = merge_.tilesetFiles[source.sheet];
            if (fileIdentity(file) != fileIdentity(source.facts.file))
                return failedWith(QStringLiteral("the sheet %1 is shown by two tileset files, "
                                                 "%2 and %3; the atlas's tileset gathers one")
                                      .arg(sheetName(source), quotedPath(file),
                                           quotedPath(source.facts.file)));
        }
        const qint64 moved = moved_;  // what moves in the file is not the level's
        for (size_t s = 0; s < merge_.tilesetFiles.size(); ++s) {
            const QString& file = merge_.tilesetFiles[s];
            if (file.isEmpty())
                continue;
            const ExternalTileset read = context_.readTileset(file);
            Source source{size_t(-1), s, read.facts, nullptr, read.problem, {}, {}, {}, {}, {}, {}};
            source.facts.file = file;
            files_.push_back(std::move(source));
        }
        gathering_ = &files_;
        for (Source& source : files_)
            if (auto failed = gather(source))
                return failed;
        moved_ = moved;
        return std::nullopt;
    }

    bool scan(const QByteArray& text, const QString& file, LevelSites& into) const
    {
        const LevelFormat* format = levelFormatOf(file, text);
        const LevelContext context{context_.remap,       context_.options,
                                   file,                 QFileInfo(file).absolutePath(),
                                   context_.readTileset, context_.path};
        Problem problem;
        return format && format->scan(text, context, into, problem);
    }

    std::optional<LevelBytesResult> addEntries(Source& source)
    {
        const TilesetSite& site = source.sites.tilesets.front();
        const QByteArrayView text(source.text);
        const size_t index = size_t(&source - gathering_->data());
        for (const TileEntry& entry : site.entries) {
            int64_t now = 0;
            if (!parseWholeNumber(text.sliced(entry.id.begin, entry.id.size()), false, now))
                continue;
            if (entry.list != 0) {
                source.wang.insert(now);
                wang_.emplace(now, index);
                continue;
            }
            Gathered gathered{text.sliced(entry.whole.begin, entry.whole.size()).toByteArray(),
                              text.sliced(entry.whole.begin, entry.id.begin - entry.whole.begin)
                                      .toByteArray() +
                                  text.sliced(entry.id.end, entry.whole.end - entry.id.end)
                                      .toByteArray(),
                              index};
            source.tiles.insert(now);
            const auto [found, fresh] = tiles_.emplace(now, gathered);
            if (!fresh && found->second.data != gathered.data)
                return differ((*gathering_)[found->second.source], source, now, false,
                              tileDataDifference(
                                  (*gathering_)[found->second.source].edits->dataParts(
                                      found->second.text, false),
                                  now, source.edits->dataParts(gathered.text, false), now));
        }
        for (const TilesetSite::Set& set : site.sets) {
            const QByteArray written = text.sliced(set.whole.begin, set.whole.size()).toByteArray();
            const auto [found, fresh] = sets_.emplace(std::pair(set.terrains, set.name), index);
            if (!fresh)
                return refusedAt(
                    source,
                    set.terrains
                        ? QStringLiteral("the tilesets of the sheets %1 and %2 both hold terrain "
                                         "types of an older Tiled, which cannot be merged; save "
                                         "them in a newer Tiled first")
                              .arg(sheetName((*gathering_)[found->second]), sheetName(source))
                        : QStringLiteral("the Wang sets of the sheets %1 and %2 are both called "
                                         "%3; rename one first")
                              .arg(sheetName((*gathering_)[found->second]), sheetName(source),
                                   quotedPath(set.name)));
            (set.terrains ? atlas_.terrains : atlas_.wangSets.emplace_back()) = written;
        }
        return std::nullopt;
    }

    // Refused at other's tileset where the map holds it, else (a file of its own) in general.
    LevelBytesResult refusedAt(const Source& other, const QString& why) const
    {
        const TilesetSite* site = other.site;
        if (!site || !other.facts.file.isEmpty())
            return failedWith(why);
        return failedAt(bytes_,
                        {site->at,
                         site->where.isEmpty()
                             ? QStringLiteral("tileset %1").arg(other.facts.label())
                             : site->where,
                         why});
    }

    // how: what differs ("they have different types"), when it can be said.
    LevelBytesResult differ(const Source& one, const Source& other, int64_t now,
                            bool wang = false, const QString& how = {}) const
    {
        return refusedAt(
            other, bothBecome(merge_, one.sheet, other.sheet, now,
                              !wang && one.tiles.count(now) && other.tiles.count(now)
                                  ? how.isEmpty() ? QStringLiteral("the data they carry differ")
                                                  : how
                                  : QStringLiteral("only the first carries %1")
                                        .arg(wang ? QStringLiteral("Wang ids")
                                                  : QStringLiteral("data"))));
    }

    // Every merged tile that becomes an atlas tile with data (or Wang ids) must carry them itself.
    std::optional<LevelBytesResult> checkCarriers() const
    {
        // Which atlas tiles each source's tiles become, found once rather than per atlas tile.
        const std::vector<Source>& sources = *gathering_;
        std::vector<std::set<int32_t>> becomes(sources.size());
        for (size_t i = 0; i < sources.size(); ++i)
            for (const int32_t now : remapOf(sources[i]).newIndexOf)
                becomes[i].insert(now);
        const auto missing = [&](int64_t now, size_t carrier, std::set<int64_t> Source::*kept,
                                 bool wang) -> std::optional<LevelBytesResult> {
            for (size_t i = 0; i < sources.size(); ++i)
                if (!(sources[i].*kept).count(now) && becomes[i].count(int32_t(now)))
                    return differ(sources[carrier], sources[i], now, wang);
            return std::nullopt;
        };
        for (const auto& [now, gathered] : tiles_)
            if (auto refused = missing(now, gathered.source, &Source::tiles, false))
                return refused;
        for (const auto& [now, carrier] : wang_)
            if (auto refused = missing(now, carrier, &Source::wang, true))
                return refused;
        return std::nullopt;
    }

    LevelBytesResult rewrite()
    {
        const auto byFirst = [](const Source& a, const Source& b) {
            return a.facts.firstGid < b.facts.firstGid;
        };
        const Source& base = *std::min_element(sources_.begin(), sources_.end(), byFirst);
        const TilesetFacts& facts = base.facts;
        const TileRemap& remap = remapOf(base);
        // The atlas is packed as a deduped sheet is.
        SheetTileset packed;
        if (const QString unfit = planSheetTileset(nullptr, facts, remap, packed); !unfit.isEmpty())
            return failedWith(unfit);
        atlas_.name = QFileInfo(merge_.atlas).completeBaseName();
        atlas_.tileWidth = facts.tileWidth;
        atlas_.tileHeight = facts.tileHeight;
        atlas_.margin = packed.newMargin;
        atlas_.spacing = packed.newSpacing;
        atlas_.tileCount = remap.newTileCount();
        atlas_.columns = packed.newColumns;
        atlas_.imageWidth = packed.newWidth;
        atlas_.imageHeight = packed.newHeight;
        for (const auto& [now, gathered] : tiles_)
            atlas_.tiles.push_back(gathered.text);
        const int64_t first = facts.firstGid;

        LevelBytesResult result;
        QByteArray replacement;
        if (auto failed = atlasText(base, first, result, replacement))
            return *failed;

        TextSplice splice;
        std::vector<const TileRemap*> remaps(tilesets_.facts.size(), nullptr);
        std::vector<bool> removed(sites_.tilesets.size(), false);
        for (const Source& source : sources_) {
            remaps[source.tileset] = &remapOf(source);
            const TilesetSite& site = *source.site;
            if (&source == &base)
                splice.replace(site.whole, replacement);
            else
                removed[size_t(&site - sites_.tilesets.data())] = true;
        }
        sites_.edits->removeTilesets(sites_.tilesets, removed, bytes_, splice);
        const std::vector<int64_t> newFirst = placeOthers(remaps, first, first + atlas_.tileCount);
        for (size_t t = 0; t < newFirst.size(); ++t) {
            if (remaps[t] || newFirst[t] == tilesets_.facts[t].firstGid)
                continue;
            const TilesetSite* site = tilesets_.sites[t];
            if (!site || !site->firstGid.valid())
                return failedWith(QStringLiteral("the tileset %1 would have to move to gid %2")
                                      .arg(tilesets_.facts[t].label())
                                      .arg(newFirst[t]));
            splice.replaceNumber(site->firstGid, newFirst[t]);
        }
        const GidRemapper gids(tilesets_.facts, remaps, uint32_t(first), newFirst);
        if (!gids.problem().isEmpty())
            return failedWith(gids.problem());
        if (auto failed = remapLevelGids(sites_, bytes_, gids, result, splice))
            return *failed;
        for (const QString& file : templates_)
            result.carried.push_back({file, CarriedFile::Kind::Template});
        result.status = LevelFileStatus::Updated;
        result.tilesMoved = moved_;
        result.sheetImage = merge_.atlas;
        result.bytes = splice.apply(bytes_);
        return result;
    }

    // The text that takes the place of the base's tileset: the atlas's tileset, or a reference
    // to its file of its own, which result then creates.
    std::optional<LevelBytesResult> atlasText(const Source& base, int64_t first,
                                              LevelBytesResult& result, QByteArray& replacement)
    {
        const bool external = std::any_of(sources_.begin(), sources_.end(), [](const Source& s) {
            return !s.facts.file.isEmpty();
        });
        // The atlas's tileset is written as the merged ones are, which gives its entries.
        const LevelFormat* format = gathering_->front().format;
        for (const Source& source : *gathering_)
            if (source.format != format)
                return failedWith(QStringLiteral("the merged sheets' tilesets are written as %1 "
                                                 "and as %2, and one tileset cannot hold both")
                                      .arg(format->tilesetNames(), source.format->tilesetNames()));
        if (external) {
            if (merge_.tilesetOut.isEmpty())
                return failedWith(QStringLiteral("the merged sheets' tilesets are files of their "
                                                 "own, so the atlas's tileset needs one too: "
                                                 "name it with --tileset-out FILE"));
            if (levelFormatOf(merge_.tilesetOut, {}) != format)
                return failedWith(QStringLiteral("the merged sheets' tilesets are %1, so the "
                                                 "atlas's tileset is one too; --tileset-out %2 "
                                                 "names another kind of file")
                                      .arg(format->tilesetNames(),
                                           quotedPath(QFileInfo(merge_.tilesetOut).fileName())));
            atlas_.image = QFileInfo(merge_.tilesetOut).dir().relativeFilePath(merge_.atlas);
            result.created.emplace_back(merge_.tilesetOut,
                                        gathering_->front().edits->atlasTileset(atlas_));
            AtlasTileset reference;
            reference.firstGid = first;
            reference.source = QDir(context_.folder).relativeFilePath(merge_.tilesetOut);
            replacement = sites_.edits->atlasTileset(reference);
        } else {
            const TilesetSite& site = *base.site;
            qsizetype line = site.whole.begin;
            while (line > 0 && (bytes_[line - 1] == ' ' || bytes_[line - 1] == '\t'))
                --line;
            atlas_.indent = bytes_.mid(line, site.whole.begin - line);
            atlas_.firstGid = first;
            atlas_.image = QDir(context_.folder).relativeFilePath(merge_.atlas);
            replacement = gathering_->front().edits->atlasTileset(atlas_);
        }

        return std::nullopt;
    }

    // The first gid of each tileset that is not merged: its own where the atlas's gids leave it
    // room, otherwise the first free gid after all the others.
    std::vector<int64_t> placeOthers(const std::vector<const TileRemap*>& remaps, int64_t first,
                                     int64_t end) const
    {
        const std::vector<TilesetFacts>& facts = tilesets_.facts;
        std::vector<size_t> order;
        for (size_t t = 0; t < facts.size(); ++t)
            order.push_back(t);
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return facts[a].firstGid < facts[b].firstGid; });
        std::vector<int64_t> newFirst(facts.size());
        std::vector<int64_t> counts(facts.size(), 1);
        std::vector<size_t> moving;
        int64_t free = end;
        for (size_t i = 0; i < order.size(); ++i) {
            const size_t t = order[i];
            newFirst[t] = facts[t].firstGid;
            if (remaps[t])
                continue;
            const int64_t known = facts[t].knownTileCount();
            counts[t] = known >= 0         ? known
                        : i + 1 < order.size() ? facts[order[i + 1]].firstGid - facts[t].firstGid
                                               : 1;
            if (facts[t].firstGid < end && facts[t].firstGid + counts[t] > first)
                moving.push_back(t);
            else
                free = std::max(free, facts[t].firstGid + counts[t]);
        }
        for (const size_t t : moving) {
            newFirst[t] = free;
            free += counts[t];
        }
        return newFirst;
    }

    const LevelSites& sites_;
    const QByteArray& bytes_;
    const LevelContext& context_;
    const AtlasMerge& merge_;
    LevelTilesets tilesets_;
    std::vector<Source> sources_;
    // The tileset of each merged sheet that levels name as a file: the atlas's tileset file is
    // gathered from all of them, whichever this level names.
    std::vector<Source> files_;
    std::vector<Source>* gathering_ = &sources_;  // the sources the atlas's data come from
    std::vector<QString> templates_;  // the level's templates that show a merged sheet
    std::map<int64_t, Gathered> tiles_;
    std::map<int64_t, size_t> wang_;  // atlas Wang tiles, and the first source that has each
    std::map<std::pair<bool, QString>, size_t> sets_;
    AtlasTileset atlas_;
    qint64 moved_ = 0;
};

}  // namespace

LevelBytesResult mergeSites(const LevelSites& sites, const QByteArray& bytes,
                            const LevelContext& context)
{
    return Merge(sites, bytes, context).run();
}

std::vector<int> mergedSheetsShown(const std::vector<TilesetFacts>& tilesets,
                                   const AtlasMerge& merge)
{
    std::vector<int> sheetOf(tilesets.size(), -1);
    for (size_t s = 0; s < merge.sheets.size(); ++s) {
        const SheetChoice choice = chooseSheet(tilesets, merge.sheets[s].image);
        for (size_t t = 0; t < choice.isSheet.size(); ++t)
            if (choice.verdict == SheetChoice::Verdict::Use && choice.isSheet[t] && sheetOf[t] < 0)
                sheetOf[t] = int(s);
    }
    return sheetOf;
}

QString mergedSheetName(const AtlasMerge& merge, size_t sheet)
{
    return quotedPath(QDir::current().relativeFilePath(merge.sheets[sheet].image));
}

QString bothBecome(const AtlasMerge& merge, size_t one, size_t other, int64_t now,
                   const QString& why)
{
    // The first of a sheet's tiles that becomes atlas tile now.
    const auto becoming = [&](size_t sheet) {
        const std::vector<int32_t>& newIndexOf = merge.sheets[sheet].remap.newIndexOf;
        return std::find(newIndexOf.begin(), newIndexOf.end(), now) - newIndexOf.begin();
    };
    return QStringLiteral("tile %1 of the sheet %2 and tile %3 of the sheet %4 both become tile "
                          "%5 of the atlas, but %6")
        .arg(becoming(one))
        .arg(mergedSheetName(merge, one))
        .arg(becoming(other))
        .arg(mergedSheetName(merge, other))
        .arg(now)
        .arg(why);
}

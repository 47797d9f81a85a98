#include <map>

#include "document/file_messages.h"
#include "level/level_sites.h"
#include "level/tile_data_difference.h"

namespace
{

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

// Moves what the sheet's tileset keeps for each tile along with the tile: the entries are
// renumbered, tiles merged into one keep one entry when they carry the same data, and a dropped
// tile's entries leave the file. Pointers at a dropped tile (a Wang set's or terrain's picture)
// then point at none. The data of merged tiles that differ, of a tile shown turned (its collision
// shapes and Wang ids would need turning), and frames that show a dropped or turned tile are
// refused.
class TileDataRemap
{
  public:
    TileDataRemap(const TilesetSite& site, const QByteArray& bytes, const TileRemap& remap,
                  const QString& where, TextSplice& splice, qint64& moved)
        : site_(site), bytes_(bytes), remap_(remap), where_(where), splice_(splice), moved_(moved),
          count_(site.entries.size()), tiles_(count_), removed_(count_, false), data_(count_),
          shown_(count_)
    {
    }

    std::optional<Problem> run(TileUse* use, const QStringList& tileProperties,
                               const LevelEdits& edits)
    {
        edits_ = &edits;
        for (const TileIdSite& id : site_.ids) {
            int64_t value = 0;
            if (!readTile(id.value, id.noneAllowed, value))
                return problem_;
            if (value >= 0)
                renumber(id.value, value, remap_.newIndexOf[size_t(value)]);
        }
        for (size_t i = 0; i < count_; ++i)
            if (!readEntry(i, use, tileProperties))
                return problem_;
        if (use)
            noteData(*use);
        if (!mergeEntries())
            return problem_;
        for (size_t i = 0; i < count_; ++i) {
            if (removed_[i]) {
                ++moved_;
                continue;
            }
            renumber(site_.entries[i].id, tiles_[i], remap_.newIndexOf[size_t(tiles_[i])]);
            for (const ShownTile& tile : shown_[i])
                renumber(tile.span, tile.tile, remap_.newIndexOf[size_t(tile.tile)]);
        }
        edits.removeEntries(site_, removed_, bytes_, splice_);
        return std::nullopt;
    }

  private:
    // what: what holds the id, for a message ("an animation frame of tile 5"); empty for an id
    // of its own.
    bool readTile(Span span, bool noneAllowed, int64_t& value, const QString& what = {})
    {
        const int64_t tileCount = remap_.tileCount();
        const QByteArrayView text = QByteArrayView(bytes_).sliced(span.begin, span.size());
        if (!parseWholeNumber(text, noneAllowed, value))
            problem_ =
                Problem{span.begin, where_,
                        what.isEmpty() ? QStringLiteral("the tile id %1 is not a whole number")
                                             .arg(quotedPath(QString::fromUtf8(text)))
                                       : QStringLiteral("%1 holds %2, which is not a tile id")
                                             .arg(what, quotedPath(QString::fromUtf8(text)))};
        else if ((value < 0 && !(noneAllowed && value == -1)) || value >= tileCount)
            problem_ = Problem{
                span.begin, where_,
                what.isEmpty()
                    ? QStringLiteral("the tile id %1 lies beyond the tileset's %2 tiles")
                          .arg(value)
                          .arg(tileCount)
                    : QStringLiteral("%1 shows the tile id %2, which lies beyond the tileset's "
                                     "%3 tiles")
                          .arg(what)
                          .arg(value)
                          .arg(tileCount)};
        return !problem_;
    }

    void renumber(Span span, int64_t from, int64_t to)
    {
        if (to != from) {
            splice_.replaceNumber(span, to);
            ++moved_;
        }
    }

    // Reads entry i: its tile, and the tiles its frames and tile properties show.
    bool readEntry(size_t i, TileUse* use, const QStringList& tileProperties)
    {
        const TileEntry& entry = site_.entries[i];
        if (!readTile(entry.id, false, tiles_[i]))
            return false;
        removed_[i] = remap_.newIndexOf[size_t(tiles_[i])] < 0;
        if (removed_[i])
            return true;
        std::vector<ShownTile> shown;
        for (const Span& frame : entry.frames)
            shown.push_back({frame, 0, QString()});
        for (const TileProperty& property : entry.properties)
            if (property.value.size() > 0 && matchesTileProperty(property.name, tileProperties))
                shown.push_back({property.value, 0, property.name});
        for (ShownTile& tile : shown) {
            const QString what =
                tile.property.isEmpty()
                    ? QStringLiteral("an animation frame of tile %1").arg(tiles_[i])
                    : QStringLiteral("the property %1 of tile %2")
                          .arg(quotedPath(tile.property))
                          .arg(tiles_[i]);
            // A property of -1 names no tile, as a Wang set's picture of -1 does.
            if (!readTile(tile.span, !tile.property.isEmpty(), tile.tile, what))
                return false;
            if (tile.tile < 0)
                continue;
            const int32_t becomes = remap_.newIndexOf[size_t(tile.tile)];
            if (becomes < 0 || !remap_.symmetry(size_t(tile.tile)).isIdentity()) {
                problem_ = Problem{
                    tile.span.begin, where_,
                    QStringLiteral("%1 shows tile %2, which %3")
                        .arg(what)
                        .arg(tile.tile)
                        .arg(becomes < 0 ? QStringLiteral("is dropped")
                                         : QStringLiteral("becomes tile %1 turned, and %2 hold "
                                                          "no flips")
                                               .arg(becomes)
                                               .arg(tile.property.isEmpty()
                                                        ? QStringLiteral("frames")
                                                        : QStringLiteral("properties")))};
                return false;
            }
            if (use)
                use->frames.emplace_back(int32_t(tiles_[i]), int32_t(tile.tile));
        }
        std::erase_if(shown, [](const ShownTile& tile) { return tile.tile < 0; });
        shown_[i] = std::move(shown);
        if (!entry.empty)
            data_[i] = entryData(bytes_, entry, remap_, shown_[i]);
        return true;
    }

    // What each tile carries here, folded into what the tilesets read before said of it.
    void noteData(TileUse& use) const
    {
        const size_t count = use.named.size();
        std::vector<TileData> here(count);
        for (size_t i = 0; i < count_; ++i) {
            const size_t tile = size_t(tiles_[i]);
            if (removed_[i] || tile >= count || data_[i].isEmpty())
                continue;
            TileData& data = here[tile];
            data.text += QByteArray::number(site_.entries[i].list) + ':' + data_[i] + '\n';
            const bool terrain = data_[i].contains("terrain");
            data.local = data.local || !shown_[i].empty() || site_.entries[i].list > 0 || terrain;
            data.unturned = data.unturned || !site_.entries[i].frames.empty() ||
                            data_[i].contains("objectgroup") || data_[i].contains("wangid") ||
                            terrain;
            for (const ShownTile& shown : shown_[i])
                here[size_t(shown.tile)].unturned = true;
        }
        foldTileData(use, std::move(here));
    }

    // Entries of tiles one and other merge but differ; otherEntry is none when other carries
    // nothing of the kind.
    bool differ(size_t entry, int64_t other, std::optional<size_t> otherEntry, int32_t now,
                size_t at)
    {
        const int64_t one = tiles_[entry];
        const TileEntry& first = site_.entries[entry];
        // An older JSON file's keyed lists after its tiles hold properties, named by their keys.
        const bool keyed = first.container >= 0 && first.list > 0 &&
                           first.id.begin > first.whole.begin &&
                           first.id.begin <= first.whole.begin + 1;
        const QString difference = tileDataDifference(
            edits_->dataParts(entryData(bytes_, first, remap_, shown_[entry], true), keyed), one,
            otherEntry ? edits_->dataParts(entryData(bytes_, site_.entries[*otherEntry], remap_,
                                                     shown_[*otherEntry], true),
                                           keyed)
                       : TileDataParts(),
            other);
        problem_ = Problem{
            site_.entries[at].whole.begin, where_,
            QStringLiteral("tiles %1 and %2 merge into tile %3, but %4")
                .arg(std::min(one, other))
                .arg(std::max(one, other))
                .arg(now)
                .arg(difference.isEmpty()
                         ? QStringLiteral("the data they carry differ (properties, animation, "
                                          "collision shapes, Wang or terrain ids)")
                         : difference)};
        return false;
    }

    // The entries of each list that end up at one new tile: all must carry the same data, which
    // every tile that becomes that tile must carry, one of them unturned.
    bool mergeEntries()
    {
        struct Group {
            size_t first;
            int carriers = 0;
            bool unturned = false;
        };
        std::map<std::pair<int, int32_t>, Group> groups;
        for (size_t i = 0; i < count_; ++i) {
            if (removed_[i])
                continue;
            const int32_t now = remap_.newIndexOf[size_t(tiles_[i])];
            const auto [found, fresh] =
                groups.emplace(std::pair(site_.entries[i].list, now), Group{i});
            Group& group = found->second;
            if (!fresh && tiles_[i] == tiles_[group.first])
                continue; // a second entry of the same tile merges with nothing
            if (!fresh && data_[i] != data_[group.first])
                return differ(group.first, tiles_[i], i, now, i);
            removed_[i] = !fresh; // the same data once is enough
            ++group.carriers;
            group.unturned = group.unturned || remap_.symmetry(size_t(tiles_[i])).isIdentity();
        }
        std::vector<int32_t> sources; // new tile -> how many tiles become it
        for (const auto& [key, group] : groups) {
            if (data_[group.first].isEmpty())
                continue;
            if (sources.empty()) {
                sources.assign(size_t(remap_.newTileCount()), 0);
                for (const int32_t now : remap_.newIndexOf)
                    if (now >= 0)
                        ++sources[size_t(now)];
            }
            const int32_t now = key.second;
            if (group.carriers < sources[size_t(now)] &&
                !everySourceCarries(key.first, now, group.first))
                return false;
            if (!group.unturned) {
                problem_ = Problem{site_.entries[group.first].whole.begin, where_,
                                   QStringLiteral("tile %1 carries data, but it becomes tile %2 "
                                                  "turned, and its collision shapes and Wang ids "
                                                  "cannot be turned with it")
                                       .arg(tiles_[group.first])
                                       .arg(now)};
                return false;
            }
        }
        return true;
    }

    // Some tile that becomes now may carry nothing of list's kind: refused as a difference.
    bool everySourceCarries(int list, int32_t now, size_t entry)
    {
        std::vector<bool> carries(remap_.newIndexOf.size(), false);
        for (size_t i = 0; i < count_; ++i)
            if (site_.entries[i].list == list && remap_.newIndexOf[size_t(tiles_[i])] == now)
                carries[size_t(tiles_[i])] = true;
        for (size_t t = 0; t < carries.size(); ++t)
            if (remap_.newIndexOf[t] == now && !carries[t])
                return differ(entry, int64_t(t), std::nullopt, now, entry);
        return true;
    }

    const TilesetSite& site_;
    const QByteArray& bytes_;
    const TileRemap& remap_;
    const QString& where_;
    TextSplice& splice_;
    qint64& moved_;
    const size_t count_;
    std::vector<int64_t> tiles_;
    std::vector<bool> removed_;
    std::vector<QByteArray> data_; // empty for an entry that carries nothing
    std::vector<std::vector<ShownTile>> shown_;
    std::optional<Problem> problem_;
    const LevelEdits* edits_ = nullptr; // the format's, which reads an entry's data
};

} // namespace

std::optional<Problem> remapTileData(const TilesetSite& site, const QByteArray& bytes,
                                     const TileRemap& remap, const QString& where,
                                     TextSplice& splice, qint64& moved, TileUse* use,
                                     const QStringList& tileProperties, const LevelEdits& edits)
{
    return TileDataRemap(site, bytes, remap, where, splice, moved).run(use, tileProperties, edits);
}

void foldTileData(TileUse& use, std::vector<TileData> here)
{
    const size_t count = here.size();
    if (use.dataRead++ == 0) {
        // What other sites noted before stays.
        for (size_t tile = 0; tile < std::min(count, use.data.size()); ++tile) {
            here[tile].unturned = here[tile].unturned || use.data[tile].unturned;
            here[tile].tags = use.data[tile].tags;
        }
        use.data = std::move(here);
        return;
    }
    use.data.resize(count);
    for (size_t tile = 0; tile < count; ++tile) {
        TileData& data = use.data[tile];
        data.differs = data.differs || data.text != here[tile].text;
        data.unturned = data.unturned || here[tile].unturned;
        data.local = data.local || here[tile].local;
    }
}

#include "level/sheet_tileset.h"

#include <QStringList>
#include <algorithm>

#include "document/file_messages.h"

namespace {

// Rewrites the sites that name a tile of a keyed tileset by its number or its place in pixels.
class KeyedSites
{
  public:
    KeyedSites(const QByteArray& bytes, const LevelSites& sites, const TileRemap& remap,
               const std::map<int64_t, SheetTileset>& sheets, TileUse* use,
               LevelBytesResult& result, TextSplice& splice)
        : bytes_(bytes), sites_(sites), remap_(remap), sheets_(sheets), use_(use),
          result_(result), splice_(splice), edits_(*sites.edits),
          names_(sites.edits->placedNames())
    {
    }

    bool run(Problem& problem)
    {
        return stamps(problem) && ids(problem) && tiles(problem) && rects(problem);
    }

  private:
    // A run that only reads notes the tiles shown: by layers, rectangles and rules (auto-layer
    // tiles come back from the rules whenever LDtk runs them).
    void markUsed(int64_t tile)
    {
        if (use_ && tile >= 0 && size_t(tile) < use_->named.size())
            use_->named[size_t(tile)] = 1;
    }

    // A rectangle or a definition shows the tile as it lies: it may not turn.
    void markUnturned(int64_t tile)
    {
        markUsed(tile);
        if (!use_ || tile < 0 || size_t(tile) >= use_->named.size())
            return;
        use_->data.resize(std::max(use_->data.size(), use_->named.size()));
        use_->data[size_t(tile)].unturned = true;
    }

    const SheetTileset* sheetOf(int64_t uid) const
    {
        const auto found = sheets_.find(uid);
        return found == sheets_.end() ? nullptr : &found->second;
    }

    // A stamp rule lays its tiles out as they lie against each other in the tileset: they have to
    // keep that. Tiles beyond the tileset, dropped or turned are left for ids() to name.
    bool stamps(Problem& problem) const
    {
        for (const TileStamp& stamp : sites_.stamps) {
            const SheetTileset* sheet =
                stamp.first < stamp.end ? sheetOf(sites_.named[stamp.first].tileset) : nullptr;
            if (!sheet || remap_.keepsIds)
                continue;
            std::vector<int64_t> tiles;
            for (size_t i = stamp.first; i < stamp.end; ++i)
                tiles.push_back(sites_.named[i].id.value);
            // Tiles beyond the tileset, dropped or turned are left for ids() to name.
            const bool kept = std::all_of(tiles.begin(), tiles.end(), [&](int64_t tile) {
                return tile >= 0 && tile < sheet->count && remap_.newIndexOf[size_t(tile)] >= 0 &&
                       remap_.symmetry(size_t(tile)).isIdentity();
            });
            if (use_ && kept && tiles.size() > 1 && sheet->columns > 0) {
                // A run that only reads notes the rectangle around the stamp's tiles.
                TileBlock block{0, int32_t(sheet->columns), INT32_MAX, INT32_MAX, 0, 0};
                int32_t bottom = 0, right = 0;
                for (const int64_t tile : tiles) {
                    const int32_t row = int32_t(tile / sheet->columns);
                    const int32_t column = int32_t(tile % sheet->columns);
                    block.row = std::min(block.row, row);
                    block.column = std::min(block.column, column);
                    bottom = std::max(bottom, row + 1);
                    right = std::max(right, column + 1);
                }
                block.down = bottom - block.row;
                block.across = right - block.column;
                use_->blocks.push_back(block);
            }
            if (kept && !remap_.movesTogether(tiles, sheet->columns, sheet->newColumns)) {
                QStringList numbers;
                for (const int64_t tile : tiles)
                    numbers << QString::number(tile);
                problem = {sites_.named[stamp.first].id.span.begin, stamp.where,
                           QStringLiteral("its stamp of tiles %1 does not move together as one "
                                          "block")
                               .arg(numbers.join(QStringLiteral(", ")))};
                return false;
            }
        }
        return true;
    }

    bool ids(Problem& problem)
    {
        if (remap_.keepsIds)
            return true;
        // A list whose tiles were dropped or merged is written anew.
        int list = -1;
        QByteArray listText;
        std::map<int32_t, int64_t> listed; // new tile -> the original that named it first
        bool shrinks = false;
        std::vector<std::pair<Span, int32_t>> renumbered; // in the list, when it keeps its size
        auto endList = [&] {
            if (list >= 0 && shrinks)
                splice_.replace(sites_.lists[size_t(list)].elements, listText);
            else
                for (const auto& [span, now] : renumbered)
                    splice_.replaceNumber(span, now);
            list = -1;
            listText.clear();
            listed.clear();
            renumbered.clear();
            shrinks = false;
        };
        for (size_t i = 0; i < sites_.named.size(); ++i) {
            const NamedTile& site = sites_.named[i];
            if (site.list != list)
                endList();
            const SheetTileset* sheet = sheetOf(site.tileset);
            if (!sheet)
                continue;
            const int64_t value = site.id.value;
            if (value < 0 || value >= sheet->count) {
                problem = {site.id.span.begin, site.where,
                           value < 0 && site.id.span.valid() && !text(site.id.span).startsWith('-')
                               ? QStringLiteral("%1 is not a tile id")
                                     .arg(quotedPath(QString::fromUtf8(text(site.id.span))))
                               : QStringLiteral("the tile id %1 lies beyond the tileset's %2 "
                                                "tiles")
                                     .arg(value)
                                     .arg(sheet->count)};
                return false;
            }
            if (site.list < 0)
                markUsed(value);
            const int32_t now = remap_.newIndexOf[size_t(value)];
            if (use_ && site.list >= 0 && sites_.lists[size_t(site.list)].tags) {
                use_->data.resize(std::max(use_->data.size(), use_->named.size()));
                use_->data[size_t(value)].tags += QByteArray::number(site.list) + ';';
            }
            if (site.list >= 0) {
                // A tag or a selection holds a picture however it is turned; it lets a dropped
                // tile go and names a merged one once.
                list = site.list;
                const auto [first, fresh] = listed.emplace(now, value);
                if (now < 0 || (!fresh && first->second != value)) {
                    shrinks = true;
                    continue;
                }
                if (!listText.isEmpty())
                    listText += sites_.lists[size_t(list)].separator;
                listText += QByteArray::number(now);
                if (now != value) {
                    renumbered.emplace_back(site.id.span, now);
                    ++result_.tilesMoved;
                }
                continue;
            }
            if (!namedAlone(site, value, now, problem))
                return false;
        }
        endList();
        return true;
    }

    // A tile that a definition names on its own (a rule's, an entity's) keeps its number's
    // picture: it must stay, unturned, since definitions name tiles without flips.
    bool namedAlone(const NamedTile& site, int64_t value, int32_t now, Problem& problem)
    {
        markUnturned(value);
        if (now < 0 || !remap_.symmetry(size_t(value)).isIdentity()) {
            problem = {site.id.span.begin, site.where,
                       QStringLiteral("tile %1 is named here, but it is %2")
                           .arg(value)
                           .arg(now < 0 ? QStringLiteral("dropped")
                                        : QStringLiteral("tile %1 turned").arg(now))};
            return false;
        }
        if (now != value) {
            splice_.replaceNumber(site.id.span, now);
            ++result_.tilesMoved;
        }
        return true;
    }

    bool tiles(Problem& problem)
    {
        for (const PlacedTile& tile : sites_.placed) {
            const SheetTileset* sheet = sheetOf(tile.tileset);
            if (!sheet)
                continue;
            // Tiles come by the hundred thousand: their place is named only when one fails.
            auto fail = [&](qsizetype at, const QString& reason) {
                problem = {at,
                           QStringLiteral("%1[%2]").arg(sites_.groupNames[size_t(tile.group)],
                                                        QString::number(tile.index)),
                           reason};
                return false;
            };
            if (!tile.t.valid() || !tile.x.valid() || !tile.y.valid())
                return fail(tile.at,
                            QStringLiteral("the tile lacks a whole-number %1 or %2 [x, y]")
                                .arg(names_.number, names_.place));
            if (tile.flips.span.begin == -2 || tile.flips.value < 0 ||
                tile.flips.value > edits_.maxFlips())
                return fail(tile.flips.span.begin >= 0 ? tile.flips.span.begin : tile.at,
                            QStringLiteral("its flip bits %1 are not 0 to %2")
                                .arg(names_.flips)
                                .arg(edits_.maxFlips()));
            const int64_t t = tile.t.value;
            if (t < 0 || t >= sheet->count)
                return fail(tile.t.span.begin,
                            QStringLiteral("the tile id %1 lies beyond the tileset's %2 tiles")
                                .arg(t)
                                .arg(sheet->count));
            if (tile.x.value != sheet->x(t) || tile.y.value != sheet->y(t))
                return fail(tile.x.span.begin,
                            QStringLiteral("its %6 [%1, %2] disagrees with its tile id %3, "
                                           "which lies at [%4, %5]")
                                .arg(tile.x.value)
                                .arg(tile.y.value)
                                .arg(t)
                                .arg(sheet->x(t))
                                .arg(sheet->y(t))
                                .arg(names_.place));
            markUsed(t);
            int64_t now = t;
            int64_t flips = tile.flips.value;
            if (!remap_.keepsIds) {
                now = remap_.newIndexOf[size_t(t)];
                if (now < 0)
                    return fail(tile.t.span.begin,
                                QStringLiteral("it shows tile %1, which is dropped").arg(t));
                const TileSymmetry shown = edits_.symmetryOfFlips(flips).after(remap_.symmetry(size_t(t)));
                if (!edits_.flipsOf(shown, flips))
                    return fail(tile.t.span.begin,
                                QStringLiteral("it shows tile %1, which becomes tile %2 turned a "
                                               "way %3 cannot flip a tile")
                                    .arg(t)
                                    .arg(now)
                                    .arg(edits_.name()));
            }
            if (now != t || flips != tile.flips.value)
                ++result_.cellsChanged;
            if (tile.x.value != sheet->newX(now))
                splice_.replaceNumber(tile.x.span, sheet->newX(now));
            if (tile.y.value != sheet->newY(now))
                splice_.replaceNumber(tile.y.span, sheet->newY(now));
            if (flips != tile.flips.value) {
                if (tile.flips.valid())
                    splice_.replaceNumber(tile.flips.span, flips);
                else
                    splice_.insert(tile.end, edits_.newFlips(flips));
            }
            if (now != t)
                splice_.replaceNumber(tile.t.span, now);
        }
        return true;
    }

    bool rects(Problem& problem)
    {
        for (const TileRect& rect : sites_.rects) {
            const SheetTileset* sheet = sheetOf(rect.tileset.value);
            if (!sheet)
                continue;
            const QString where =
                rect.owner.isEmpty()
                    ? QStringLiteral("a tile rectangle")
                    : QStringLiteral("the tile rectangle of %1").arg(quotedPath(rect.owner));
            auto fail = [&](const QString& reason) {
                problem = {rect.at, where, reason};
                return false;
            };
            if (!rect.text.valid() &&
                (!rect.x.valid() || !rect.y.valid() || !rect.w.valid() || !rect.h.valid()))
                return fail(QStringLiteral("its x, y, w and h are not all whole numbers"));
            for (const NumberSite& side : {rect.x, rect.y, rect.w, rect.h})
                if (side.value < 0 || side.value > INT32_MAX)
                    return fail(QStringLiteral("%1 is not a place in the tileset").arg(side.value));
            const TileLayout64 layout = sheet->layout();
            const auto columns = layout.columnsSpanning(rect.x.value, rect.w.value);
            const auto rows = layout.rowsSpanning(rect.y.value, rect.h.value);
            if (!columns || !rows || columns->first + columns->count > sheet->columns ||
                (rows->first + rows->count) * sheet->columns > sheet->count)
                return fail(QStringLiteral("[%1, %2, %3, %4] does not cover whole tiles of the "
                                           "tileset %5")
                                .arg(rect.x.value)
                                .arg(rect.y.value)
                                .arg(rect.w.value)
                                .arg(rect.h.value)
                                .arg(sheet->facts.label()));
            const int64_t across = columns->count;
            const int64_t down = rows->count;
            const int64_t first = rows->first * sheet->columns + columns->first;
            for (int64_t r = 0; use_ && r < down; ++r)
                for (int64_t c = 0; c < across; ++c)
                    markUnturned(first + r * sheet->columns + c);
            if (use_ && across * down > 1)
                use_->blocks.push_back({0, int32_t(sheet->columns), int32_t(rows->first),
                                        int32_t(columns->first), int32_t(across), int32_t(down)});
            if (!remap_.movesTogether(first, across, down, sheet->columns, sheet->newColumns))
                return fail(across * down == 1
                                ? QStringLiteral("its tile %1 is %2")
                                      .arg(first)
                                      .arg(remap_.newIndexOf[size_t(first)] < 0
                                               ? QStringLiteral("dropped")
                                               : QStringLiteral("turned"))
                                : QStringLiteral("its %1 × %2 tiles from tile %3 do not move "
                                                 "together as one block")
                                      .arg(across)
                                      .arg(down)
                                      .arg(first));
            const int64_t newFirst = remap_.keepsIds ? first : remap_.newIndexOf[size_t(first)];
            const int64_t x = sheet->newX(newFirst);
            const int64_t y = sheet->newY(newFirst);
            const TileLayout64 after = sheet->newLayout();
            const int64_t w = after.widthFor(across) - 2 * after.margin;
            const int64_t h = after.heightFor(down) - 2 * after.margin;
            if (x != rect.x.value || y != rect.y.value || newFirst != first)
                ++result_.tilesMoved;
            if (rect.text.valid()) {
                if (x != rect.x.value || y != rect.y.value || w != rect.w.value ||
                    h != rect.h.value)
                    splice_.replace(
                        rect.text,
                        QStringLiteral("%1,%2,%3,%4").arg(x).arg(y).arg(w).arg(h).toUtf8());
                continue;
            }
            for (const auto& [site, value] : {std::pair{rect.x, x}, std::pair{rect.y, y},
                                              std::pair{rect.w, w}, std::pair{rect.h, h}})
                if (site.value != value)
                    splice_.replaceNumber(site.span, value);
        }
        return true;
    }

    QByteArrayView text(Span span) const
    {
        return QByteArrayView(bytes_).sliced(span.begin, span.size());
    }

    const QByteArray& bytes_;
    const LevelSites& sites_;
    const TileRemap& remap_;
    const std::map<int64_t, SheetTileset>& sheets_;
    TileUse* use_;
    LevelBytesResult& result_;
    TextSplice& splice_;
    const LevelEdits& edits_;
    const LevelEdits::PlacedNames names_;
};

}  // namespace

std::optional<Problem> remapKeyedSites(const LevelSites& sites, const QByteArray& bytes,
                                       const TileRemap& remap,
                                       const std::map<int64_t, SheetTileset>& sheets,
                                       TileUse* use, LevelBytesResult& result, TextSplice& splice)
{
    Problem problem;
    if (KeyedSites(bytes, sites, remap, sheets, use, result, splice).run(problem))
        return std::nullopt;
    return problem;
}

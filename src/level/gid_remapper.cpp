#include "level/gid_remapper.h"

#include <algorithm>

namespace {
constexpr int64_t kIdLimit = int64_t(~GidRemapper::kFlagBits) + 1;
}  // namespace

std::vector<const TilesetFacts*> GidRemapper::ordered(const std::vector<TilesetFacts>& tilesets)
{
    std::vector<const TilesetFacts*> order;
    for (const TilesetFacts& tileset : tilesets)
        order.push_back(&tileset);
    std::stable_sort(order.begin(), order.end(),
                     [](auto* a, auto* b) { return a->firstGid < b->firstGid; });
    for (size_t i = 0; i < order.size(); ++i) {
        const TilesetFacts& tileset = *order[i];
        if (tileset.firstGid < 1 || tileset.firstGid >= kIdLimit) {
            problem_ = QStringLiteral("the tileset %1 starts at gid %2, outside 1 to %3")
                           .arg(tileset.label(), QString::number(tileset.firstGid),
                                QString::number(kIdLimit - 1));
            return {};
        }
        if (i > 0 && order[i - 1]->firstGid == tileset.firstGid) {
            problem_ =
                QStringLiteral("the tilesets %1 and %2 both start at gid %3")
                    .arg(order[i - 1]->label(), tileset.label(), QString::number(tileset.firstGid));
            return {};
        }
    }
    return order;
}

namespace {

std::vector<const TileRemap*> sheetRemaps(const std::vector<bool>& isSheet, const TileRemap& remap)
{
    std::vector<const TileRemap*> remaps;
    for (const bool sheet : isSheet)
        remaps.push_back(sheet ? &remap : nullptr);
    return remaps;
}

std::vector<int64_t> ownFirstGids(const std::vector<TilesetFacts>& tilesets)
{
    std::vector<int64_t> firsts;
    for (const TilesetFacts& tileset : tilesets)
        firsts.push_back(tileset.firstGid);
    return firsts;
}

}  // namespace

GidRemapper::GidRemapper(const std::vector<TilesetFacts>& tilesets,
                         const std::vector<bool>& isSheet, const TileRemap& remap,
                         std::vector<uint8_t>* named)
    : GidRemapper(tilesets, sheetRemaps(isSheet, remap), 0, ownFirstGids(tilesets))
{
    named_ = named;
}

GidRemapper::GidRemapper(const std::vector<TilesetFacts>& tilesets,
                         const std::vector<const TileRemap*>& remaps, uint32_t atlasFirst,
                         const std::vector<int64_t>& newFirst)
    : named_(nullptr)
{
    const std::vector<const TilesetFacts*> order = ordered(tilesets);
    for (size_t i = 0; i < order.size(); ++i) {
        const size_t index = size_t(order[i] - tilesets.data());
        const TilesetFacts& tileset = *order[i];
        const TileRemap* remap = remaps[index];
        const int64_t owned = i + 1 < order.size() ? order[i + 1]->firstGid : kIdLimit;
        if (!remap && newFirst[index] == tileset.firstGid)
            continue;
        const int64_t end = remap ? tileset.firstGid + (leavesOutPadding(tileset, *remap)
                                                            ? tileset.knownTileCount()
                                                            : int64_t(remap->tileCount()))
                                  : owned;
        if (end > owned) {
            problem_ = QStringLiteral("the tileset %1 (gids %2 to %3) overlaps the next tileset, "
                                      "which starts at gid %4")
                           .arg(tileset.label(), QString::number(tileset.firstGid),
                                QString::number(end - 1), QString::number(owned));
            return;
        }
        ranges_.push_back({uint32_t(tileset.firstGid), uint32_t(end), uint32_t(owned),
                           tileset.label(), remap,
                           uint32_t(remap && atlasFirst > 0 ? atlasFirst : newFirst[index])});
    }
}

QString GidRemapper::beyondReason(uint32_t gid) const
{
    const uint32_t id = gid & ~kFlagBits;
    for (const Range& range : ranges_) {
        if (!range.remap && id >= range.first && id < range.owned)
            return QStringLiteral("gid %1 of the tileset %2 would lie beyond gid %3 once the "
                                  "tileset moves to start at gid %4")
                .arg(id)
                .arg(range.label)
                .arg(~kFlagBits)
                .arg(range.newFirst);
        if (id >= range.first && id < range.end)
            return QStringLiteral("gid %1 names tile %2 of the tileset %3, which is dropped")
                .arg(id)
                .arg(id - range.first)
                .arg(range.label);
        if (id >= range.first && id < range.owned)
            return QStringLiteral("gid %1 lies beyond the tileset %2 (gids %3 to %4)")
                .arg(QString::number(id), range.label, QString::number(range.first),
                     QString::number(range.end - 1));
    }
    return QString();
}

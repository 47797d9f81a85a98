#include "level/tile_remap.h"

#include <algorithm>

TileRemap TileRemap::fromTileMap(const TileMap& map, GridChange grid)
{
    TileRemap remap;
    remap.grid = grid;
    remap.columns = map.columns();
    // A map that is no permutation leaves every tile without a place, which check() refuses.
    if (map.isPermutation())
        remap.newIndexOf = map.inverse().numbers();
    else
        remap.newIndexOf.assign(size_t(map.fullTiles()), -1);
    return remap;
}

bool TileRemap::isRearrangement() const
{
    return newTiles < 0 && (newColumnCount <= 0 || newColumnCount == columns) &&
           std::all_of(symmetryOf.begin(), symmetryOf.end(),
                       [](TileSymmetry s) { return s.isIdentity(); });
}

namespace {

// Where a tile number stands among columns columns.
struct Place {
    int64_t column;
    int64_t row;
};

Place placeOf(int64_t tile, int64_t columns)
{
    return Place{tile % columns, tile / columns};
}

}  // namespace

bool TileRemap::movesTogether(std::span<const int64_t> tiles, int64_t columns,
                              int64_t newColumns) const
{
    if (keepsIds || tiles.empty())
        return true;
    if (columns <= 0 || newColumns <= 0)
        return false;
    const auto keeps = [&](int64_t tile) {
        return tile >= 0 && tile < tileCount() && newIndexOf[size_t(tile)] >= 0 &&
               symmetry(size_t(tile)).isIdentity();
    };
    const int64_t first = tiles.front();
    if (!keeps(first))
        return false;
    const Place from = placeOf(first, columns);
    const Place to = placeOf(newIndexOf[size_t(first)], newColumns);
    return std::all_of(tiles.begin(), tiles.end(), [&](int64_t tile) {
        if (!keeps(tile))
            return false;
        const Place was = placeOf(tile, columns);
        const Place now = placeOf(newIndexOf[size_t(tile)], newColumns);
        return was.column - from.column == now.column - to.column &&
               was.row - from.row == now.row - to.row;
    });
}

bool TileRemap::movesTogether(int64_t first, int64_t across, int64_t down, int64_t columns,
                              int64_t newColumns) const
{
    std::vector<int64_t> tiles;
    tiles.reserve(size_t(std::max<int64_t>(across, 0) * std::max<int64_t>(down, 0)));
    for (int64_t r = 0; r < down; ++r)
        for (int64_t c = 0; c < across; ++c)
            tiles.push_back(first + r * columns + c);
    return movesTogether(tiles, columns, newColumns);
}

QString TileRemap::check() const
{
    if (keepsIds)
        return QString();
    const size_t count = newIndexOf.size();
    if (!symmetryOf.empty() && symmetryOf.size() != count)
        return QStringLiteral("%1 tiles but %2 symmetries").arg(count).arg(symmetryOf.size());
    if (!isRearrangement()) {
        const int32_t after = newTileCount();
        std::vector<bool> shown(size_t(std::max(after, 0)), false);
        for (size_t tile = 0; tile < count; ++tile) {
            const int32_t now = newIndexOf[tile];
            if (now == kDropped)
                continue;
            if (now < 0 || now >= after)
                return QStringLiteral("tile %1 becomes %2, beyond the %3 new tiles")
                    .arg(tile)
                    .arg(now)
                    .arg(after);
            shown[size_t(now)] = true;
        }
        if (const auto none = std::find(shown.begin(), shown.end(), false); none != shown.end())
            return QStringLiteral("new tile %1 is shown by no tile").arg(none - shown.begin());
        if (columns < 0 || newColumnCount < 0)
            return QStringLiteral("a column count is negative");
        return QString();
    }
    std::vector<bool> taken(count, false);
    for (size_t tile = 0; tile < count; ++tile) {
        const int32_t position = newIndexOf[tile];
        if (position < 0 || size_t(position) >= count)
            return QStringLiteral("tile %1 has no place among the %2 tiles").arg(tile).arg(count);
        if (taken[size_t(position)])
            return QStringLiteral("two tiles would stand at position %1").arg(position);
        taken[size_t(position)] = true;
    }
    if (columns < 0 || (columns > 0 && count % size_t(columns) != 0))
        return QStringLiteral("%1 tiles do not fill %2 columns").arg(count).arg(columns);
    return QString();
}

TileRemap TileRemap::inverse() const
{
    TileRemap back;
    back.columns = columns;
    back.grid = grid == GridChange::Added     ? GridChange::Removed
                : grid == GridChange::Removed ? GridChange::Added
                                              : GridChange::None;
    back.newIndexOf.resize(newIndexOf.size());
    for (size_t tile = 0; tile < newIndexOf.size(); ++tile)
        back.newIndexOf[size_t(newIndexOf[tile])] = int32_t(tile);
    return back;
}

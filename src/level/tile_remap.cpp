#include "level/tile_remap.h"

TileRemap TileRemap::fromTileMap(const TileMap& map, GridChange grid)
{
    TileRemap remap;
    remap.grid = grid;
    remap.columns = map.columns();
    const int count = map.fullTiles();
    // -1 marks a tile that no position holds, so check() finds a map that is no permutation.
    remap.newIndexOf.assign(size_t(count), -1);
    for (int y = 0; y < map.rows(); ++y) {
        for (int x = 0; x < map.columns(); ++x) {
            const int32_t original = map.at(x, y);
            if (original >= 0 && original < count)
                remap.newIndexOf[size_t(original)] = y * map.columns() + x;
        }
    }
    return remap;
}

QString TileRemap::check() const
{
    const size_t count = newIndexOf.size();
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

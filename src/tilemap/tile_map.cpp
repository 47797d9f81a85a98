#include "tilemap/tile_map.h"

TileMap::TileMap(int extentX, int extentY)
    : extentX_(extentX), extentY_(extentY), entries_(std::size_t(extentX) * std::size_t(extentY), 0)
{
}

TileMap TileMap::identity(int columns, int rows)
{
    TileMap map(columns + 1, rows + 1);
    int32_t counter = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            map.at(x, y) = counter++;
    return map;
}

bool TileMap::isIdentity() const
{
    return *this == identity(columns(), rows());
}

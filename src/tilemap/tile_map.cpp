#include "tilemap/tile_map.h"

#include <QtGlobal>

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

bool TileMap::isPermutation() const
{
    const size_t count = size_t(fullTiles());
    std::vector<bool> seen(count, false);
    for (int y = 0; y < rows(); ++y) {
        for (int x = 0; x < columns(); ++x) {
            const int32_t number = at(x, y);
            if (number < 0 || size_t(number) >= count || seen[size_t(number)])
                return false;
            seen[size_t(number)] = true;
        }
    }
    return true;
}

std::vector<int32_t> TileMap::numbers() const
{
    std::vector<int32_t> result;
    result.reserve(size_t(fullTiles()));
    for (int y = 0; y < rows(); ++y)
        for (int x = 0; x < columns(); ++x)
            result.push_back(at(x, y));
    return result;
}

TileMap TileMap::withNumbers(const std::vector<int32_t>& numbers) const
{
    Q_ASSERT(numbers.size() == size_t(fullTiles()));
    TileMap map(extentX_, extentY_);
    const int width = columns();
    for (size_t i = 0; i < numbers.size(); ++i)
        map.at(int(i % size_t(width)), int(i / size_t(width))) = numbers[i];
    return map;
}

TileMap TileMap::inverse() const
{
    Q_ASSERT(isPermutation());
    const std::vector<int32_t> forward = numbers();
    std::vector<int32_t> backward(forward.size());
    for (size_t position = 0; position < forward.size(); ++position)
        backward[size_t(forward[position])] = int32_t(position);
    return withNumbers(backward);
}

TileMap TileMap::compose(const TileMap& next) const
{
    Q_ASSERT(next.extentX_ == extentX_ && next.extentY_ == extentY_);
    const std::vector<int32_t> first = numbers();
    std::vector<int32_t> result = next.numbers();
    for (int32_t& number : result)
        number = first[size_t(number)];
    return withNumbers(result);
}

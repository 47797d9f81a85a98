#include "cli/tile_matching.h"

#include <QHashFunctions>
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "image/tile_layout.h"

namespace {

// The tiles of one image, numbered row by row.
class Tiles
{
  public:
    Tiles(const QImage& image, const TileLayout& layout)
        : image_(image), layout_(layout), columns_(layout_.columnsIn(image.width())),
          rowBytes_(size_t(layout.tileWidth) * size_t(image.depth() / 8))
    {
    }

    const uchar* line(int tile, int y) const
    {
        const QRect pixels = layout_.tileRect(tile, columns_);
        return image_.constScanLine(pixels.y() + y) +
               size_t(pixels.x()) * size_t(image_.depth() / 8);
    }

    size_t hash(int tile) const
    {
        size_t seed = 0;
        for (int y = 0; y < layout_.tileHeight; ++y)
            seed = qHashBits(line(tile, y), rowBytes_, seed);
        return seed;
    }

    bool same(int tile, const Tiles& other, int otherTile) const
    {
        for (int y = 0; y < layout_.tileHeight; ++y)
            if (std::memcmp(line(tile, y), other.line(otherTile, y), rowBytes_) != 0)
                return false;
        return true;
    }

  private:
    const QImage& image_;
    TileLayout layout_;
    int columns_;
    size_t rowBytes_;
};

// Original tiles with the same pixels, in reading order; the next one to hand out is at taken.
struct Twins {
    std::vector<int> members;
    size_t taken = 0;
};

}  // namespace

TileMatch matchTiles(const QImage& original, const QImage& rearranged, const TileLayout& layout)
{
    const QSize tiles = layout.tilesIn(original.size());
    const int columns = tiles.width();
    const int rows = tiles.height();
    const int count = columns * rows;
    const Tiles from(original, layout);
    const Tiles to(rearranged, layout);

    // Hashing sorts the tiles into buckets; within a bucket every group is checked pixel by pixel,
    // so a hash collision can never pair two different tiles.
    std::vector<Twins> groups;
    std::unordered_map<size_t, std::vector<size_t>> groupsByHash;
    groupsByHash.reserve(size_t(count));
    for (int tile = 0; tile < count; ++tile) {
        std::vector<size_t>& bucket = groupsByHash[from.hash(tile)];
        auto group = std::find_if(bucket.begin(), bucket.end(), [&](size_t g) {
            return from.same(groups[g].members.front(), from, tile);
        });
        if (group == bucket.end()) {
            bucket.push_back(groups.size());
            groups.push_back(Twins{{tile}, 0});
        } else {
            groups[*group].members.push_back(tile);
        }
    }

    TileMatch result;
    std::vector<int32_t> numbers(static_cast<size_t>(count));
    for (int position = 0; position < count; ++position) {
        Twins* twins = nullptr;
        if (const auto bucket = groupsByHash.find(to.hash(position)); bucket != groupsByHash.end())
            for (size_t g : bucket->second)
                if (from.same(groups[g].members.front(), to, position))
                    twins = &groups[g];
        if (!twins || twins->taken == twins->members.size()) {
            result.unmatched = position;
            result.used = twins != nullptr;
            return result;
        }
        numbers[size_t(position)] = twins->members[twins->taken++];
    }
    result.map = TileMap(columns + 1, rows + 1).withNumbers(numbers);
    return result;
}

#include "tilemap/tile_dedupe.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <tuple>

#include "image/tile_layout.h"

namespace {

// The weight of each pixel position in a tile's hash, and how a pixel value is spread over 64
// bits: the hash of a tile is the sum of spread(pixel) * weight(position), so the hash of any
// turned copy is the same sum with the positions moved.
uint64_t spread(uint32_t pixel)
{
    uint64_t x = (uint64_t(pixel) + 0x9e3779b97f4a7c15ull) * 0xbf58476d1ce4e5b9ull;
    return x ^ (x >> 31);
}

std::vector<uint64_t> positionWeights(size_t count)
{
    std::vector<uint64_t> weights(count);
    uint64_t state = 0x2545f4914f6cdd1dull;
    for (uint64_t& w : weights) {
        state += 0x9e3779b97f4a7c15ull;
        uint64_t z = (state ^ (state >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        w = (z ^ (z >> 31)) | 1;
    }
    return weights;
}

struct Entry {
    uint64_t hash;
    int32_t kept;  // -1: empty
};

// Formats read as they are; anything else is converted once.
QImage readable(const QImage& image)
{
    const QImage::Format format = image.format();
    if (format == QImage::Format_BGR888 || format == QImage::Format_RGB32 ||
        format == QImage::Format_ARGB32)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
}

// A tile's pixels as ARGB32 values, row by row (B,G,R bytes gain alpha 255).
void loadTile(const QImage& sheet, int left, int top, TileShape tile, uint32_t* to)
{
    const bool packed = sheet.format() == QImage::Format_BGR888;
    for (int y = 0; y < tile.height; ++y, to += tile.width) {
        const uchar* line = sheet.constScanLine(top + y);
        if (!packed) {
            std::memcpy(to, line + size_t(left) * 4, size_t(tile.width) * 4);
            continue;
        }
        const uchar* from = line + size_t(left) * 3;
        for (int x = 0; x < tile.width; ++x, from += 3)
            to[x] = 0xff000000u | uint32_t(from[0]) | uint32_t(from[1]) << 8 |
                    uint32_t(from[2]) << 16;
    }
}

}  // namespace

TileDuplicates findDuplicateTiles(const QImage& image, TileShape tile, TileShape cell, bool flips,
                                  const TileKinds& kinds)
{
    TileDuplicates result;
    const QImage sheet = readable(image);
    if (tile.width <= 0 || tile.height <= 0 || cell.width < tile.width ||
        cell.height < tile.height)
        return result;
    // The cell beyond the tile is its gutter.
    const TileLayout cells = TileLayout::grid(cell);
    const int columns = cells.columnsIn(sheet.width());
    const int rows = cells.rowsIn(sheet.height());
    const size_t count = size_t(columns) * size_t(rows);
    if (count == 0)
        return result;
    const size_t area = size_t(tile.area());
    // A tile that is not square is only ever mirrored: a quarter turn would change its shape.
    const std::vector<TileSymmetry> turns =
        flips ? TileSymmetry::keepingShape(tile.square()) : std::vector<TileSymmetry>(1);
    const int symmetries = int(turns.size());

    // sourceIndex[g][i]: the pixel of a tile that shows at position i once it is turned by g.
    std::vector<std::vector<uint32_t>> sourceIndex(
        static_cast<size_t>(symmetries), std::vector<uint32_t>(area));
    for (int g = 0; g < symmetries; ++g)
        for (int y = 0; y < tile.height; ++y)
            for (int x = 0; x < tile.width; ++x) {
                const auto [sx, sy] = turns[size_t(g)].sourceOf(x, y, tile.width, tile.height);
                sourceIndex[size_t(g)][size_t(y) * size_t(tile.width) + size_t(x)] =
                    uint32_t(sy) * uint32_t(tile.width) + uint32_t(sx);
            }
    // With flips every position weighs as the least of the positions the turns take it to, so
    // a tile and its turned copies hash alike and one hash per tile finds them all.
    const std::vector<uint64_t> positions = positionWeights(area);
    std::vector<uint64_t> weights(area);
    for (size_t i = 0; i < area; ++i) {
        uint32_t least = uint32_t(i);
        for (int g = 1; g < symmetries; ++g)
            least = std::min(least, sourceIndex[size_t(g)][i]);
        weights[i] = positions[least];
    }

    // Open addressing, at most half full.
    const size_t capacity = std::bit_ceil(std::max<size_t>(count * 2, 16));
    std::vector<Entry> table(capacity, Entry{0, -1});
    const size_t mask = capacity - 1;

    result.keptIndexOf.resize(count);
    result.symmetryOf.resize(count);
    std::vector<uint32_t> pixels(area);
    std::vector<uint32_t> kept(area);
    for (size_t t = 0; t < count; ++t) {
        const auto origin = [&](size_t number) {
            const QRect pixels = cells.tileRect(int64_t(number), columns);
            return std::array<int, 2>{pixels.x(), pixels.y()};
        };
        const auto [left, top] = origin(t);
        loadTile(sheet, left, top, tile, pixels.data());
        const auto kindOf = [&](size_t number) {
            return number < kinds.kind.size() ? kinds.kind[number] : 0u;
        };
        const auto unturned = [&](size_t number) {
            return number < kinds.unturned.size() && kinds.unturned[number];
        };
        const uint32_t kind = kindOf(t);
        // The kind is hashed as a pixel nowhere in the tile, the same whichever way it turns.
        uint64_t hash = spread(kind);
        for (size_t i = 0; i < area; ++i)
            hash += spread(pixels[i]) * weights[i];

        // The kept tile whose turned copy this tile is, the least symmetry first.
        int32_t found = -1;
        int foundSymmetry = 0;
        size_t slot = hash & mask;
        for (; table[slot].kept >= 0 && found < 0; slot = (slot + 1) & mask) {
            if (table[slot].hash != hash)
                continue;
            const int32_t index = table[slot].kept;
            const size_t keptTile = size_t(result.kept[size_t(index)]);
            if (kindOf(keptTile) != kind)
                continue;
            const auto [keptLeft, keptTop] = origin(keptTile);
            loadTile(sheet, keptLeft, keptTop, tile, kept.data());
            const int tried = unturned(t) || unturned(keptTile) ? 1 : symmetries;
            for (int g = 0; g < tried && found < 0; ++g) {
                const uint32_t* source = sourceIndex[size_t(g)].data();
                size_t i = 0;
                while (i < area && pixels[i] == kept[source[i]])
                    ++i;
                if (i == area) {
                    found = index;
                    foundSymmetry = g;
                }
            }
        }
        if (found >= 0) {
            result.keptIndexOf[t] = found;
            result.symmetryOf[t] = turns[size_t(foundSymmetry)];
            continue;
        }
        while (table[slot].kept >= 0)
            slot = (slot + 1) & mask;
        table[slot] = Entry{hash, int32_t(result.kept.size())};
        result.keptIndexOf[t] = int32_t(result.kept.size());
        result.kept.push_back(int32_t(t));
    }
    return result;
}

QImage packTiles(const QImage& image, const std::vector<int32_t>& kept, TileShape cell,
                 int columns)
{
    const QImage sheet = readable(image);
    const size_t bytes = size_t(sheet.depth() / 8);
    // Each tile is copied with its gutter as one cell.
    const TileLayout cells = TileLayout::grid(cell);
    const int sheetColumns = cells.columnsIn(sheet.width());
    const QSize tiles = TileLayout::packed(int64_t(kept.size()), columns);
    QImage packed(cells.imageSize(QSize(columns, std::max(tiles.height(), 1))), sheet.format());
    if (packed.isNull())
        return packed;
    if (sheet.hasAlphaChannel())
        packed.fill(0u);
    else
        packed.fill(Qt::black);
    for (size_t k = 0; k < kept.size(); ++k) {
        const QPoint fromAt = cells.tileRect(kept[k], sheetColumns).topLeft();
        const QPoint toAt = cells.tileRect(int64_t(k), columns).topLeft();
        const int fromX = fromAt.x();
        const int fromY = fromAt.y();
        const int toX = toAt.x();
        const int toY = toAt.y();
        for (int y = 0; y < cell.height; ++y)
            std::memcpy(packed.scanLine(toY + y) + size_t(toX) * bytes,
                        sheet.constScanLine(fromY + y) + size_t(fromX) * bytes,
                        size_t(cell.width) * bytes);
    }
    return packed;
}

namespace {

// Blocks that share a tile made one, the rectangle around both, until none do.
std::vector<TileBlock> joinedBlocks(std::vector<TileBlock> blocks)
{
    // Many entities show the same rectangle: each is joined once.
    const auto key = [](const TileBlock& b) {
        return std::tie(b.base, b.columns, b.row, b.column, b.across, b.down);
    };
    std::sort(blocks.begin(), blocks.end(),
              [&](const TileBlock& a, const TileBlock& b) { return key(a) < key(b); });
    blocks.erase(std::unique(blocks.begin(), blocks.end(),
                             [&](const TileBlock& a, const TileBlock& b) { return key(a) == key(b); }),
                 blocks.end());
    const auto overlap = [](const TileBlock& a, const TileBlock& b) {
        return a.base == b.base && a.columns == b.columns && a.row < b.row + b.down &&
               b.row < a.row + a.down && a.column < b.column + b.across &&
               b.column < a.column + a.across;
    };
    for (bool joined = true; joined;) {
        joined = false;
        for (size_t i = 0; i < blocks.size() && !joined; ++i)
            for (size_t j = i + 1; j < blocks.size() && !joined; ++j) {
                if (!overlap(blocks[i], blocks[j]))
                    continue;
                TileBlock& a = blocks[i];
                const TileBlock& b = blocks[j];
                const int32_t bottom = std::max(a.row + a.down, b.row + b.down);
                const int32_t right = std::max(a.column + a.across, b.column + b.across);
                a.row = std::min(a.row, b.row);
                a.column = std::min(a.column, b.column);
                a.down = bottom - a.row;
                a.across = right - a.column;
                blocks.erase(blocks.begin() + std::ptrdiff_t(j));
                joined = true;
            }
    }
    return blocks;
}

}  // namespace

void keepBlocksTogether(std::vector<int32_t>& kept, std::vector<int32_t>& keptIndexOf,
                        const std::vector<TileBlock>& given, int columns)
{
    std::vector<TileBlock> blocks = joinedBlocks(given);
    std::erase_if(blocks, [&](const TileBlock& b) {
        return b.across * b.down < 2 || b.across > columns;
    });
    if (blocks.empty() || columns <= 0)
        return;
    const auto tileAt = [](const TileBlock& b, int32_t r, int32_t c) {
        return b.base + (b.row + r) * b.columns + b.column + c;
    };
    // A tile of a block that is kept as itself (not merged into another).
    const auto keptItself = [&](int32_t tile) {
        return tile >= 0 && size_t(tile) < keptIndexOf.size() && keptIndexOf[size_t(tile)] >= 0 &&
               kept[size_t(keptIndexOf[size_t(tile)])] == tile;
    };
    std::vector<int> blockOf(keptIndexOf.size(), -1);
    for (size_t b = 0; b < blocks.size(); ++b)
        for (int32_t r = 0; r < blocks[b].down; ++r)
            for (int32_t c = 0; c < blocks[b].across; ++c)
                if (const int32_t tile = tileAt(blocks[b], r, c);
                    tile >= 0 && size_t(tile) < blockOf.size())
                    blockOf[size_t(tile)] = int(b);
    constexpr int32_t kFree = -2;
    std::vector<int32_t> places; // place -> tile, -1 empty, kFree not yet taken
    std::vector<int32_t> placeOf(kept.size(), -1);
    std::vector<bool> placed(blocks.size(), false);
    size_t cursor = 0; // the first place not taken
    const auto isFree = [&](size_t at) { return at >= places.size() || places[at] == kFree; };
    const auto isDropped = [&](int32_t tile) {
        return tile >= 0 && size_t(tile) < keptIndexOf.size() && keptIndexOf[size_t(tile)] < 0;
    };
    const auto take = [&](size_t at, int32_t tile) {
        if (at >= places.size())
            places.resize(at + 1, kFree);
        places[at] = tile;
        if (tile >= 0 && !isDropped(tile))
            placeOf[size_t(keptIndexOf[size_t(tile)])] = int32_t(at);
    };
    for (const int32_t tile : kept) {
        const int b = tile >= 0 && size_t(tile) < blockOf.size() ? blockOf[size_t(tile)] : -1;
        if (b < 0) {
            take(cursor, tile);
        } else if (!placed[size_t(b)]) {
            const TileBlock& block = blocks[size_t(b)];
            const auto fits = [&](size_t at) {
                if (int(at % size_t(columns)) + block.across > columns)
                    return false;
                for (int32_t r = 0; r < block.down; ++r)
                    for (int32_t c = 0; c < block.across; ++c)
                        if (!isFree(at + size_t(r * columns + c)))
                            return false;
                return true;
            };
            size_t at = cursor;
            while (!fits(at))
                ++at;
            for (int32_t r = 0; r < block.down; ++r)
                for (int32_t c = 0; c < block.across; ++c) {
                    // A dropped tile of the block's rectangle keeps its place rather than leave
                    // it empty.
                    const int32_t shown = tileAt(block, r, c);
                    take(at + size_t(r * columns + c),
                         keptItself(shown) || isDropped(shown) ? shown : -1);
                }
            placed[size_t(b)] = true;
        }
        while (!isFree(cursor))
            ++cursor;
    }
    while (!places.empty() && places.back() < 0)
        places.pop_back();
    // A remap leaves no place empty: dropped tiles fill the places left before the blocks, and
    // where too few are dropped the tiles are laid out as packing lays them.
    size_t filler = 0;
    for (int32_t& place : places) {
        if (place >= 0)
            continue;
        while (filler < keptIndexOf.size() &&
               (!isDropped(int32_t(filler)) || blockOf[filler] >= 0))
            ++filler;
        if (filler == keptIndexOf.size())
            return;
        place = int32_t(filler++);
    }
    for (int32_t& index : keptIndexOf)
        if (index >= 0)
            index = placeOf[size_t(index)];
    for (size_t at = 0; at < places.size(); ++at)
        keptIndexOf[size_t(places[at])] = int32_t(at);
    kept = std::move(places);
}

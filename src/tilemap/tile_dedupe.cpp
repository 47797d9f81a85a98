#include "tilemap/tile_dedupe.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

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
    uint8_t symmetry;
};

}  // namespace

TileDuplicates findDuplicateTiles(const QImage& image, int tile, int pitch, bool flips)
{
    TileDuplicates result;
    const QImage sheet = image.format() == QImage::Format_ARGB32 ||
                                 image.format() == QImage::Format_RGB32
                             ? image
                             : image.convertToFormat(image.hasAlphaChannel()
                                                         ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
    const int columns = pitch > 0 ? sheet.width() / pitch : 0;
    const int rows = pitch > 0 ? sheet.height() / pitch : 0;
    const size_t count = size_t(columns) * size_t(rows);
    if (count == 0 || tile <= 0)
        return result;
    const size_t area = size_t(tile) * size_t(tile);
    const int symmetries = flips ? TileSymmetry::kCount : 1;

    // sourceIndex[g][i]: the pixel of a tile that shows at position i once it is turned by g.
    std::vector<std::vector<uint32_t>> sourceIndex(
        static_cast<size_t>(symmetries), std::vector<uint32_t>(area));
    for (int g = 0; g < symmetries; ++g)
        for (int y = 0; y < tile; ++y)
            for (int x = 0; x < tile; ++x) {
                const auto [sx, sy] = TileSymmetry(unsigned(g)).sourceOf(x, y, tile);
                sourceIndex[size_t(g)][size_t(y) * size_t(tile) + size_t(x)] =
                    uint32_t(sy) * uint32_t(tile) + uint32_t(sx);
            }
    const std::vector<uint64_t> weights = positionWeights(area);

    // Open addressing, at most half full: every turned copy of every kept tile fits.
    const size_t capacity = std::bit_ceil(std::max<size_t>(count * size_t(symmetries) * 2, 16));
    std::vector<Entry> table(capacity, Entry{0, -1, 0});
    const size_t mask = capacity - 1;

    result.keptIndexOf.resize(count);
    result.symmetryOf.resize(count);
    std::vector<uint32_t> keptPixels;  // the kept tiles' pixels, one after another
    std::vector<uint32_t> pixels(area);
    std::vector<uint64_t> spreadPixels(area);
    std::array<uint64_t, TileSymmetry::kCount> turnedHash{};
    for (size_t t = 0; t < count; ++t) {
        const int left = int(t % size_t(columns)) * pitch;
        const int top = int(t / size_t(columns)) * pitch;
        uint64_t hash = 0;
        for (int y = 0; y < tile; ++y) {
            const auto* line = reinterpret_cast<const uint32_t*>(sheet.constScanLine(top + y)) + left;
            std::memcpy(&pixels[size_t(y) * size_t(tile)], line, size_t(tile) * 4);
        }
        for (size_t i = 0; i < area; ++i) {
            spreadPixels[i] = spread(pixels[i]);
            hash += spreadPixels[i] * weights[i];
        }

        // The kept tile whose turned copy this tile is, the least symmetry first.
        int32_t found = -1;
        unsigned foundSymmetry = TileSymmetry::kCount;
        for (size_t slot = hash & mask; table[slot].kept >= 0; slot = (slot + 1) & mask) {
            const Entry& entry = table[slot];
            if (entry.hash != hash || entry.symmetry >= foundSymmetry)
                continue;
            const uint32_t* kept = keptPixels.data() + size_t(entry.kept) * area;
            const std::vector<uint32_t>& source = sourceIndex[entry.symmetry];
            size_t i = 0;
            while (i < area && pixels[i] == kept[source[i]])
                ++i;
            if (i == area) {
                found = entry.kept;
                foundSymmetry = entry.symmetry;
            }
        }
        if (found >= 0) {
            result.keptIndexOf[t] = found;
            result.symmetryOf[t] = TileSymmetry(foundSymmetry);
            continue;
        }

        const int32_t index = int32_t(result.kept.size());
        result.kept.push_back(int32_t(t));
        result.keptIndexOf[t] = index;
        keptPixels.insert(keptPixels.end(), pixels.begin(), pixels.end());
        for (int g = 0; g < symmetries; ++g) {
            uint64_t turned = hash;
            if (g > 0) {
                turned = 0;
                const std::vector<uint32_t>& source = sourceIndex[size_t(g)];
                for (size_t i = 0; i < area; ++i)
                    turned += spreadPixels[source[i]] * weights[i];
            }
            turnedHash[size_t(g)] = turned;
            // A copy that looks like one of a lesser symmetry is found through that one.
            if (std::find(turnedHash.begin(), turnedHash.begin() + g, turned) !=
                turnedHash.begin() + g)
                continue;
            size_t slot = turned & mask;
            while (table[slot].kept >= 0)
                slot = (slot + 1) & mask;
            table[slot] = Entry{turned, index, uint8_t(g)};
        }
    }
    return result;
}

QImage packTiles(const QImage& image, const std::vector<int32_t>& kept, int pitch, int columns)
{
    const QImage sheet = image.format() == QImage::Format_ARGB32 ||
                                 image.format() == QImage::Format_RGB32
                             ? image
                             : image.convertToFormat(image.hasAlphaChannel()
                                                         ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
    const int sheetColumns = sheet.width() / pitch;
    const int rows = int((kept.size() + size_t(columns) - 1) / size_t(columns));
    QImage packed(columns * pitch, std::max(rows, 1) * pitch, sheet.format());
    if (packed.isNull())
        return packed;
    packed.fill(sheet.hasAlphaChannel() ? 0u : 0xff000000u);
    for (size_t k = 0; k < kept.size(); ++k) {
        const int fromX = kept[k] % sheetColumns * pitch;
        const int fromY = kept[k] / sheetColumns * pitch;
        const int toX = int(k % size_t(columns)) * pitch;
        const int toY = int(k / size_t(columns)) * pitch;
        for (int y = 0; y < pitch; ++y)
            std::memcpy(reinterpret_cast<uint32_t*>(packed.scanLine(toY + y)) + toX,
                        reinterpret_cast<const uint32_t*>(sheet.constScanLine(fromY + y)) + fromX,
                        size_t(pitch) * 4);
    }
    return packed;
}

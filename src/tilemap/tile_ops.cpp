#include "tilemap/tile_ops.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/pixel_block.h"

namespace {

// True when the map's full tiles at this pitch lie inside the image. They always do when the map
// was built for the image; a map from elsewhere must not make us read or write past its pixels.
bool mapFitsImage(const QImage& image, const TileMap& map, TileShape cell)
{
    const TileLayout cells = TileLayout::grid(cell);
    return cells.widthFor(map.columns()) <= image.width() &&
           cells.heightFor(map.rows()) <= image.height();
}

}  // namespace

void rebuildTileMap(Sheet& sheet)
{
    const QSize tiles =
        sheet.hasImage() ? sheet.tileLayout().tilesIn(sheet.workingImage.size()) : QSize(0, 0);
    const int columns = tiles.width();
    const int rows = tiles.height();
    sheet.tileMap = TileMap::identity(columns, rows);
    sheet.remapped = 0;
}

bool isFullTile(const TileMap& map, int x, int y)
{
    return x >= 0 && y >= 0 && x < map.columns() && y < map.rows();
}

bool swapTiles(Sheet& sheet, int x1, int y1, int x2, int y2)
{
    if (!sheet.hasImage() || (x1 == x2 && y1 == y2) || !isFullTile(sheet.tileMap, x1, y1) ||
        !isFullTile(sheet.tileMap, x2, y2) ||
        !mapFitsImage(sheet.workingImage, sheet.tileMap, sheet.tileLayout().cell()))
        return false;

    // Whole cells swap: each tile together with the grid line after it.
    const TileLayout layout = sheet.tileLayout();
    const QRect first = layout.cellRect(QPoint(x1, y1));
    swapBlocks(sheet.workingImage, first.topLeft(), layout.cellRect(QPoint(x2, y2)).topLeft(),
               first.size());
    std::swap(sheet.tileMap.at(x1, y1), sheet.tileMap.at(x2, y2));
    sheet.remapped = 1;
    return true;
}

std::vector<int> restoreOrder(const TileMap& map)
{
    const size_t count = size_t(map.fullTiles());
    std::vector<int32_t> numbers;
    numbers.reserve(count);
    for (int y = 0; y < map.rows(); ++y)
        for (int x = 0; x < map.columns(); ++x)
            numbers.push_back(map.at(x, y));

    // Swaps and every map file we accept keep the numbers a permutation of 0 .. count - 1; then
    // each tile's number is simply its place, and no sort is needed.
    std::vector<int> order(count, -1);
    bool permutation = true;
    for (size_t i = 0; i < count && permutation; ++i) {
        const int32_t number = numbers[i];
        permutation = number >= 0 && size_t(number) < count && order[size_t(number)] < 0;
        if (permutation)
            order[size_t(number)] = int(i);
    }
    if (permutation)
        return order;

    // Otherwise sort (number, position) keys. The position makes every key distinct, so a plain
    // sort gives exactly the stable order. The sign bit is flipped so negative numbers sort first.
    std::vector<uint64_t> keys(count);
    for (size_t i = 0; i < count; ++i)
        keys[i] = (uint64_t(uint32_t(numbers[i]) ^ 0x80000000u) << 32) | uint64_t(i);
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < count; ++i)
        order[i] = int(keys[i] & 0xffffffffu);
    return order;
}

namespace {

// Copies one pixel row of every tile in a row of the result. A fixed Bytes lets the compiler turn
// each tile row's memcpy into a few moves, which matters with a quarter of a million tiles.
template <size_t Bytes>
void copyTileRows(uchar* out, const uchar* in, const qsizetype* sources, int count, size_t bytes)
{
    const size_t n = Bytes ? Bytes : bytes;
    for (int i = 0; i < count; ++i, out += n)
        std::memcpy(out, in + sources[i], n);
}

using RowCopier = void (*)(uchar*, const uchar*, const qsizetype*, int, size_t);

RowCopier rowCopierFor(size_t bytes)
{
    switch (bytes) {
    case 24: return copyTileRows<24>;   // 8 pixels of 3 bytes
    case 27: return copyTileRows<27>;   // 9 of 3
    case 32: return copyTileRows<32>;   // 8 of 4
    case 36: return copyTileRows<36>;   // 9 of 4
    case 48: return copyTileRows<48>;   // 16 of 3
    case 51: return copyTileRows<51>;   // 17 of 3
    case 64: return copyTileRows<64>;   // 16 of 4
    case 68: return copyTileRows<68>;   // 17 of 4
    default: return copyTileRows<0>;
    }
}

}  // namespace

QImage arrangedImage(const QImage& image, const std::vector<int>& sourceOf, int columns, int rows,
                     TileShape cell)
{
    if (image.isNull() || qint64(columns) * cell.width > image.width() ||
        qint64(rows) * cell.height > image.height() ||
        sourceOf.size() != size_t(columns) * size_t(rows))
        return QImage();

    QImage result = createUninitialized(image.width(), image.height(), image.format());
    if (result.isNull())
        return result;
    result.setColorTable(image.colorTable());
    result.setDotsPerMeterX(image.dotsPerMeterX());
    result.setDotsPerMeterY(image.dotsPerMeterY());

    // The partial strips at the right and bottom never move; every other pixel is written once
    // by the tile copies below.
    const int tilesWidth = columns * cell.width;
    const int tilesHeight = rows * cell.height;
    if (tilesWidth < image.width() && tilesHeight > 0)
        copyBlock(image, QPoint(tilesWidth, 0), result, QPoint(tilesWidth, 0),
                  QSize(image.width() - tilesWidth, tilesHeight));
    if (tilesHeight < image.height())
        copyBlock(image, QPoint(0, tilesHeight), result, QPoint(0, tilesHeight),
                  QSize(image.width(), image.height() - tilesHeight));
    if (sourceOf.empty())
        return result;

    // Where each tile of the source starts, in the order the result takes them.
    const size_t tileBytes = size_t(cell.width) * size_t(image.depth() / 8);
    const qsizetype inStride = image.bytesPerLine();
    std::vector<qsizetype> sources(sourceOf.size());
    for (size_t k = 0; k < sourceOf.size(); ++k)
        sources[k] = qsizetype(sourceOf[k] / columns) * cell.height * inStride +
                     qsizetype(sourceOf[k] % columns) * qsizetype(tileBytes);

    // The result is written row after row, so its memory is filled front to back.
    const RowCopier copyRows = rowCopierFor(tileBytes);
    const uchar* in = image.constBits();
    uchar* out = result.bits();
    const qsizetype outStride = result.bytesPerLine();
    for (int tileRow = 0; tileRow < rows; ++tileRow) {
        const qsizetype* rowSources = sources.data() + size_t(tileRow) * size_t(columns);
        for (int line = 0; line < cell.height; ++line) {
            const qsizetype y = qsizetype(tileRow) * cell.height + line;
            copyRows(out + y * outStride, in + line * inStride, rowSources, columns, tileBytes);
        }
    }
    return result;
}

QImage restoredImage(const QImage& image, const TileMap& map, TileShape cell)
{
    if (image.isNull() || !mapFitsImage(image, map, cell))
        return QImage();
    return arrangedImage(image, restoreOrder(map), map.columns(), map.rows(), cell);
}

QImage appliedImage(const QImage& image, const TileMap& map, TileShape cell)
{
    if (image.isNull() || !mapFitsImage(image, map, cell) || !map.isPermutation())
        return QImage();
    const std::vector<int32_t> numbers = map.numbers();
    return arrangedImage(image, std::vector<int>(numbers.begin(), numbers.end()), map.columns(),
                         map.rows(), cell);
}

bool restoreTileOrder(Sheet& sheet)
{
    if (sheet.hasImage()) {
        QImage restored =
            restoredImage(sheet.workingImage, sheet.tileMap, sheet.tileLayout().cell());
        if (restored.isNull())
            return false;
        sheet.workingImage = std::move(restored);
    }
    sheet.remapped = 0;
    return true;
}

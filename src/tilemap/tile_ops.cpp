#include "tilemap/tile_ops.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "image/pixel_block.h"

namespace {

// True when the map's full tiles at this pitch lie inside the image. They always do when the map
// was built for the image; a map from elsewhere must not make us read or write past its pixels.
bool mapFitsImage(const QImage& image, const TileMap& map, int pitch)
{
    return qint64(map.columns()) * pitch <= image.width() &&
           qint64(map.rows()) * pitch <= image.height();
}

}  // namespace

void rebuildTileMap(Sheet& sheet)
{
    const int pitch = sheet.tilePitch();
    const int columns = sheet.hasImage() ? sheet.workingImage.width() / pitch : 0;
    const int rows = sheet.hasImage() ? sheet.workingImage.height() / pitch : 0;
    sheet.tileMap = TileMap::identity(columns, rows);
    sheet.remapped = 0;
}

bool isFullTile(const TileMap& map, int x, int y)
{
    return x >= 0 && y >= 0 && x < map.columns() && y < map.rows();
}

bool swapTiles(Sheet& sheet, int x1, int y1, int x2, int y2)
{
    const int pitch = sheet.tilePitch();
    if (!sheet.hasImage() || (x1 == x2 && y1 == y2) || !isFullTile(sheet.tileMap, x1, y1) ||
        !isFullTile(sheet.tileMap, x2, y2) || !mapFitsImage(sheet.workingImage, sheet.tileMap, pitch))
        return false;

    swapBlocks(sheet.workingImage, QPoint(x1 * pitch, y1 * pitch), QPoint(x2 * pitch, y2 * pitch),
               QSize(pitch, pitch));
    std::swap(sheet.tileMap.at(x1, y1), sheet.tileMap.at(x2, y2));
    sheet.remapped = 1;
    return true;
}

QImage restoredImage(const QImage& image, const TileMap& map, int pitch)
{
    if (image.isNull() || !mapFitsImage(image, map, pitch))
        return QImage();
    const int columns = map.columns();
    const int rows = map.rows();

    // Position k of the result (row by row) receives the tile that stood at order[k]. A stable
    // sort keeps tiles with equal numbers in the row-by-row order of where they stood.
    std::vector<int32_t> numbers;
    numbers.reserve(size_t(columns) * size_t(rows));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            numbers.push_back(map.at(x, y));
    std::vector<int> order(numbers.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return numbers[size_t(a)] < numbers[size_t(b)]; });

    QImage result(image.size(), image.format());
    if (result.isNull())
        return result;
    result.setColorTable(image.colorTable());
    result.setDotsPerMeterX(image.dotsPerMeterX());
    result.setDotsPerMeterY(image.dotsPerMeterY());

    // The partial strips at the right and bottom never move; every other pixel is written once
    // by the tile copies below.
    const int tilesWidth = columns * pitch;
    const int tilesHeight = rows * pitch;
    if (tilesWidth < image.width() && tilesHeight > 0)
        copyBlock(image, QPoint(tilesWidth, 0), result, QPoint(tilesWidth, 0),
                  QSize(image.width() - tilesWidth, tilesHeight));
    if (tilesHeight < image.height())
        copyBlock(image, QPoint(0, tilesHeight), result, QPoint(0, tilesHeight),
                  QSize(image.width(), image.height() - tilesHeight));

    const QSize tile(pitch, pitch);
    for (size_t k = 0; k < order.size(); ++k) {
        const int from = order[k];
        copyBlock(image, QPoint(from % columns * pitch, from / columns * pitch), result,
                  QPoint(int(k % size_t(columns)) * pitch, int(k / size_t(columns)) * pitch),
                  tile);
    }
    return result;
}

bool restoreTileOrder(Sheet& sheet)
{
    if (sheet.hasImage()) {
        QImage restored = restoredImage(sheet.workingImage, sheet.tileMap, sheet.tilePitch());
        if (restored.isNull())
            return false;
        sheet.workingImage = std::move(restored);
    }
    sheet.remapped = 0;
    return true;
}

#include "grid/tile_residue.h"

#include <cstring>
#include <vector>

#include "image/pixel_block.h"
#include "image/pixel_format.h"
#include "image/tile_layout.h"

namespace {

void toRgb(const uchar* in, bool bgr, QRgb* out, int count)
{
    if (bgr)
        bgrToRgb32(in, out, count);
    else
        std::memcpy(out, in, size_t(count) * sizeof(QRgb));
}

void fromRgb(const QRgb* in, bool bgr, uchar* out, int count)
{
    if (bgr)
        rgb32ToBgr(in, out, count);
    else
        std::memcpy(out, in, size_t(count) * sizeof(QRgb));
}

qint64 tilePixels(QSize size, const TileLayout& layout)
{
    return layout.tileCountIn(size) * layout.tileWidth * layout.tileHeight;
}

}  // namespace

PixelRuns pixelsOutsideTiles(const QImage& image, TileShape tile, int gutter)
{
    PixelRuns runs;
    const QImage source = inSheetLayout(image);
    if (source.isNull() || tile.width <= 0 || tile.height <= 0 || gutter < 0)
        return runs;
    const bool bgr = source.format() == QImage::Format_BGR888;
    const TileLayout layout = TileLayout::grid(tile, gutter);
    const int columns = layout.columnsIn(source.width());
    const int tileRows = int(layout.heightFor(layout.rowsIn(source.height())));
    std::vector<QRgb> row(size_t(source.width()));
    const int bpp = bgr ? 3 : 4;
    // Only the kept pixels are read: on a sheet without grid or strips, nothing of a tile row.
    const auto keep = [&](const uchar* line, int x, int count) {
        toRgb(line + size_t(x) * bpp, bgr, row.data(), count);
        runs.append(row.data(), size_t(count));
    };
    for (int y = 0; y < source.height(); ++y) {
        const uchar* line = source.constScanLine(y);
        if (y >= tileRows || layout.rowAt(y).within >= layout.tileHeight) {
            keep(line, 0, source.width());
            continue;
        }
        // The gap after each tile, then whatever follows the last whole tile.
        if (layout.gutter > 0)
            for (int c = 0; c < columns; ++c)
                keep(line, layout.columnLeft(c) + layout.tileWidth, layout.gutter);
        const int tilesWidth = int(layout.widthFor(columns));
        keep(line, tilesWidth, source.width() - tilesWidth);
    }
    runs.finish();
    return runs;
}

QImage placeTiles(const QImage& tiles, TileShape tile, int tilesGutter, QSize size, int gutter,
                  QImage::Format format, const PixelRuns& rest)
{
    if (tile.width <= 0 || tile.height <= 0 || gutter < 0 || tilesGutter < 0 || size.isEmpty())
        return QImage();
    const QImage source = inSheetLayout(tiles);
    if (source.isNull())
        return QImage();
    const TileLayout given = TileLayout::grid(tile, tilesGutter);
    const TileLayout layout = TileLayout::grid(tile, gutter);
    const int tileWidth = tile.width;
    const QSize tileCount = given.tilesIn(source.size());
    const int columns = tileCount.width();
    const int rows = tileCount.height();
    if (layout.tilesIn(size) != tileCount ||
        qint64(size.width()) * size.height() - tilePixels(size, layout) != qint64(rest.count()))
        return QImage();

    // Written in a sheet layout directly; any other format is made from RGB32 at the end.
    const bool direct = format == QImage::Format_RGB32 || format == QImage::Format_BGR888 ||
                        format == QImage::Format_ARGB32;
    const QImage::Format made = direct ? format : QImage::Format_RGB32;
    QImage result = createUninitialized(size.width(), size.height(), made);
    if (result.isNull())
        return result;
    const bool inBgr = source.format() == QImage::Format_BGR888;
    const bool outBgr = made == QImage::Format_BGR888;
    const int inBpp = inBgr ? 3 : 4;
    const int outBpp = outBgr ? 3 : 4;
    const bool sameLayout = inBgr == outBgr;

    PixelRuns::Reader reader(rest);
    std::vector<QRgb> buffer(size_t(size.width()));
    const int tileRows = int(layout.heightFor(rows));
    for (int y = 0; y < size.height(); ++y) {
        uchar* out = result.scanLine(y);
        const auto [row, within] = layout.rowAt(y);
        if (y >= tileRows || within >= layout.tileHeight) {
            reader.take(buffer.data(), buffer.size());
            fromRgb(buffer.data(), outBgr, out, size.width());
            continue;
        }
        const uchar* in = source.constScanLine(given.rowTop(row) + within);
        for (int c = 0; c < columns; ++c) {
            const uchar* from = in + size_t(given.columnLeft(c)) * inBpp;
            uchar* to = out + size_t(layout.columnLeft(c)) * outBpp;
            if (sameLayout) {
                std::memcpy(to, from, size_t(tileWidth) * outBpp);
            } else {
                toRgb(from, inBgr, buffer.data(), tileWidth);
                fromRgb(buffer.data(), outBgr, to, tileWidth);
            }
            if (gutter > 0) {
                reader.take(buffer.data(), size_t(gutter));
                fromRgb(buffer.data(), outBgr, to + size_t(tileWidth) * outBpp, gutter);
            }
        }
        const int tilesWidth = int(layout.widthFor(columns));
        const int tail = size.width() - tilesWidth;
        reader.take(buffer.data(), size_t(tail));
        fromRgb(buffer.data(), outBgr, out + size_t(tilesWidth) * outBpp, tail);
    }
    if (!direct)
        return result.convertToFormat(format);
    return result;
}

#include "grid/tile_residue.h"

#include <cstring>
#include <vector>

#include "image/pixel_block.h"
#include "image/pixel_format.h"

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

qint64 tilePixels(QSize size, int tileSize, int pitch)
{
    return qint64(size.width() / pitch) * (size.height() / pitch) * tileSize * tileSize;
}

}  // namespace

PixelRuns pixelsOutsideTiles(const QImage& image, int tileSize, int pitch)
{
    PixelRuns runs;
    const QImage source = inSheetLayout(image);
    if (source.isNull() || tileSize <= 0 || pitch < tileSize)
        return runs;
    const bool bgr = source.format() == QImage::Format_BGR888;
    const int columns = source.width() / pitch;
    const int tileRows = source.height() / pitch * pitch;
    std::vector<QRgb> row(size_t(source.width()));
    const int bpp = bgr ? 3 : 4;
    // Only the kept pixels are read: on a sheet without grid or strips, nothing of a tile row.
    const auto keep = [&](const uchar* line, int x, int count) {
        toRgb(line + size_t(x) * bpp, bgr, row.data(), count);
        runs.append(row.data(), size_t(count));
    };
    for (int y = 0; y < source.height(); ++y) {
        const uchar* line = source.constScanLine(y);
        if (y >= tileRows || y % pitch >= tileSize) {
            keep(line, 0, source.width());
            continue;
        }
        // The gap after each tile, then whatever follows the last whole tile.
        if (pitch > tileSize)
            for (int c = 0; c < columns; ++c)
                keep(line, c * pitch + tileSize, pitch - tileSize);
        keep(line, columns * pitch, source.width() - columns * pitch);
    }
    runs.finish();
    return runs;
}

QImage placeTiles(const QImage& tiles, int tileSize, int tilesPitch, QSize size, int pitch,
                  QImage::Format format, const PixelRuns& rest)
{
    if (tileSize <= 0 || pitch < tileSize || tilesPitch < tileSize || size.isEmpty())
        return QImage();
    const QImage source = inSheetLayout(tiles);
    if (source.isNull())
        return QImage();
    const int columns = source.width() / tilesPitch;
    const int rows = source.height() / tilesPitch;
    if (size.width() / pitch != columns || size.height() / pitch != rows ||
        qint64(size.width()) * size.height() - tilePixels(size, tileSize, pitch) !=
            qint64(rest.count()))
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
    const int tileRows = rows * pitch;
    for (int y = 0; y < size.height(); ++y) {
        uchar* out = result.scanLine(y);
        if (y >= tileRows || y % pitch >= tileSize) {
            reader.take(buffer.data(), buffer.size());
            fromRgb(buffer.data(), outBgr, out, size.width());
            continue;
        }
        const uchar* in = source.constScanLine(y / pitch * tilesPitch + y % pitch);
        for (int c = 0; c < columns; ++c) {
            const uchar* from = in + size_t(c) * tilesPitch * inBpp;
            uchar* to = out + size_t(c) * pitch * outBpp;
            if (sameLayout) {
                std::memcpy(to, from, size_t(tileSize) * outBpp);
            } else {
                toRgb(from, inBgr, buffer.data(), tileSize);
                fromRgb(buffer.data(), outBgr, to, tileSize);
            }
            if (pitch > tileSize) {
                reader.take(buffer.data(), size_t(pitch - tileSize));
                fromRgb(buffer.data(), outBgr, to + size_t(tileSize) * outBpp, pitch - tileSize);
            }
        }
        const int tail = size.width() - columns * pitch;
        reader.take(buffer.data(), size_t(tail));
        fromRgb(buffer.data(), outBgr, out + size_t(columns) * pitch * outBpp, tail);
    }
    if (!direct)
        return result.convertToFormat(format);
    return result;
}

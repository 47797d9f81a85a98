#include "grid/grid_transform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/pixel_block.h"
#include "image/pixel_format.h"
#include "image/tile_layout.h"

namespace {

GridResult refuse(const QString& why)
{
    return GridResult{QImage(), why};
}

// Qt keeps RGB32 and ARGB32 pixels as 0xAARRGGBB words, so a tile row of such a source is a plain
// byte copy, alpha and all.
struct FromRgb32 {
    static constexpr int kBytes = 4;
    static void copy(QRgb* out, const uchar* in, int count)
    {
        std::memcpy(out, in, size_t(count) * sizeof(QRgb));
    }
};

// BGR888 stores blue, green, red in that byte order: the low three bytes of an RGB32 word.
struct FromBgr888 {
    static constexpr int kBytes = 3;
    static void copy(QRgb* out, const uchar* in, int count)
    {
        bgrToRgb32(in, out, count);
    }
};

// One pass over the target, row by row: each row is either a row of tile pixels (whole tile rows
// copied, the grid column after each tile filled) or a grid row (filled). Nothing is written twice.
// A FixedTile of 8 or 16 lets the compiler unroll the copy of one tile row; 0 takes the layout's.
template <typename From, int FixedTile>
void buildRows(const QImage& source, QImage& target, const TileLayout& from, const TileLayout& to,
               int tilesX, QRgb fill)
{
    const int tile = FixedTile ? FixedTile : to.tileWidth;
    const int gapX = to.pitchX() - tile;
    const size_t sourceStep = size_t(from.pitchX()) * From::kBytes;
    const uchar* sourceBits = source.constBits();
    const qsizetype sourceStride = source.bytesPerLine();
    uchar* targetBits = target.bits();
    const qsizetype targetStride = target.bytesPerLine();
    for (int ty = 0; ty < target.height(); ++ty) {
        auto* out = reinterpret_cast<QRgb*>(targetBits + ty * targetStride);
        const auto [tileRow, inTile] = to.rowAt(ty);
        if (inTile >= to.tileHeight) {
            std::fill(out, out + target.width(), fill);
            continue;
        }
        const uchar* in = sourceBits + qsizetype(from.rowTop(tileRow) + inTile) * sourceStride +
                          qsizetype(from.columnLeft(0)) * From::kBytes;
        for (int x = 0; x < tilesX; ++x, in += sourceStep) {
            From::copy(out, in, tile);
            out += tile;
            for (int g = 0; g < gapX; ++g)
                *out++ = fill;
        }
    }
}

template <typename From>
void buildRowsFor(const QImage& source, QImage& target, const TileLayout& from,
                  const TileLayout& to, int tilesX, QRgb fill)
{
    switch (to.tileWidth) {
    case 8:
        buildRows<From, 8>(source, target, from, to, tilesX, fill);
        break;
    case 16:
        buildRows<From, 16>(source, target, from, to, tilesX, fill);
        break;
    default:
        buildRows<From, 0>(source, target, from, to, tilesX, fill);
    }
}

QString tooSmallMessage(const TileLayout& layout)
{
    if (layout.gutter == 0)
        return QStringLiteral("The sheet is smaller than one %1 × %2 tile.")
            .arg(layout.tileWidth)
            .arg(layout.tileHeight);
    return QStringLiteral("The sheet is smaller than one %1 × %2 tile with its grid line "
                          "(%3 × %4 pixels).")
        .arg(layout.tileWidth)
        .arg(layout.tileHeight)
        .arg(layout.cellWidth())
        .arg(layout.cellHeight());
}

}  // namespace

GridResult transformTiles(const QImage& source, TileShape tile, int sourceGutter, int targetGutter,
                          QRgb gridColor)
{
    Q_ASSERT(tile.width > 0 && tile.height > 0 && sourceGutter >= 0 && targetGutter >= 0);
    if (source.isNull())
        return refuse(QStringLiteral("No sheet is open."));

    // The grid line of either sheet is the gutter after every tile.
    const TileLayout fromLayout = TileLayout::grid(tile, sourceGutter);
    const TileLayout toLayout = TileLayout::grid(tile, targetGutter);
    const QSize tiles = fromLayout.tilesIn(source.size());
    const int tilesX = tiles.width();
    if (tiles.isEmpty())
        return refuse(tooSmallMessage(fromLayout));

    const qint64 width = toLayout.widthFor(tiles.width());
    const qint64 height = toLayout.heightFor(tiles.height());
    if (width > kMaxImageSide || height > kMaxImageSide)
        return refuse(QStringLiteral("The result would be %1 × %2 pixels, but a sheet can be at "
                                     "most %3 pixels wide and high.")
                          .arg(width)
                          .arg(height)
                          .arg(kMaxImageSide));

    // Our sheets are in one of the sheet layouts; anything else is brought to one first so the
    // row copies below stay plain.
    const QImage from = inSheetLayout(source);
    if (from.isNull())
        return refuse(QStringLiteral("There is not enough memory to convert the sheet."));

    // Uninitialised on purpose: buildRows writes every pixel exactly once. A sheet with alpha
    // keeps it; the lines are opaque either way.
    QImage target = createUninitialized(int(width), int(height),
                                        keepsAlpha(from) ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
    if (target.isNull())
        return refuse(QStringLiteral("There is not enough memory for a %1 × %2 sheet.")
                          .arg(width)
                          .arg(height));

    const QRgb fill = 0xff000000u | (gridColor & 0x00ffffffu);
    if (from.format() == QImage::Format_BGR888)
        buildRowsFor<FromBgr888>(from, target, fromLayout, toLayout, tilesX, fill);
    else
        buildRowsFor<FromRgb32>(from, target, fromLayout, toLayout, tilesX, fill);
    return GridResult{target, QString()};
}

GridResult insertGrid(const QImage& source, TileShape tile, QRgb gridColor)
{
    return transformTiles(source, tile, 0, 1, gridColor);
}

GridResult removeGrid(const QImage& source, TileShape tile, QRgb gridColor)
{
    return transformTiles(source, tile, 1, 0, gridColor);
}

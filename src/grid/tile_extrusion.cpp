#include "grid/tile_extrusion.h"

#include <algorithm>
#include <cstring>

#include "image/pixel_block.h"

namespace
{

int wholeTiles(int side, const TileLayout& layout)
{
    const int room = side - 2 * layout.margin + layout.spacing;
    return room < layout.tileSize ? 0 : room / (layout.tileSize + layout.spacing);
}

int sideOf(int tiles, const TileLayout& layout)
{
    return 2 * layout.margin + tiles * layout.tileSize + (tiles - 1) * layout.spacing;
}

// Copies the whole tiles of a sheet whose tiles carry `from` pixels of extrusion to a sheet whose
// tiles carry `to`, both around the same layout of bare tiles. One pass over the target row by
// row: a row is margin or spacing (filled) or a row of the source's tiles, each tile row copied
// with memcpy and its ring filled from the tile's edge pixels.
void copyExtruded(const QImage& source, QImage& target, const TileLayout& bare, int from, int to,
                  QSize tiles, QRgb fill)
{
    const int n = bare.tileSize;
    const int sourcePitch = n + 2 * from + bare.spacing;
    const int targetPitch = n + 2 * to + bare.spacing;
    const int width = target.width();
    for (int y = 0; y < target.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        const int inside = y - bare.margin;
        const int row = inside < 0 ? -1 : inside / targetPitch;
        const int v = inside - row * targetPitch; // within the extruded tile, ring included
        if (inside < 0 || row >= tiles.height() || v >= n + 2 * to) {
            std::fill(out, out + width, fill);
            continue;
        }
        const int sourceY = bare.margin + row * sourcePitch + from + std::clamp(v - to, 0, n - 1);
        const auto* in =
            reinterpret_cast<const QRgb*>(source.constScanLine(sourceY)) + bare.margin + from;
        QRgb* at = std::fill_n(out, bare.margin, fill);
        for (int column = 0; column < tiles.width(); ++column, in += sourcePitch) {
            if (column > 0)
                at = std::fill_n(at, bare.spacing, fill);
            at = std::fill_n(at, to, in[0]);
            std::memcpy(at, in, size_t(n) * sizeof(QRgb));
            at = std::fill_n(at + n, to, in[n - 1]);
        }
        std::fill(at, out + width, fill);
    }
}

GridResult convert(const QImage& source, const TileLayout& bare, int from, int to)
{
    if (source.isNull())
        return GridResult{QImage(), QStringLiteral("No sheet is open.")};
    const TileLayout sourceLayout = extrudedLayout(bare, from);
    const LayoutFit fit = fitLayout(source.size(), sourceLayout);
    if (fit.tiles.isEmpty())
        return GridResult{
            QImage(), QStringLiteral("The sheet holds no whole %1 × %1 tile%2.")
                          .arg(bare.tileSize)
                          .arg(from > 0 ? QStringLiteral(" with its %1-pixel extrusion").arg(from)
                                        : QString())};
    const TileLayout targetLayout = extrudedLayout(bare, to);
    const qint64 width =
        2 * qint64(targetLayout.margin) +
        qint64(fit.tiles.width()) * (targetLayout.tileSize + targetLayout.spacing) -
        targetLayout.spacing;
    const qint64 height =
        2 * qint64(targetLayout.margin) +
        qint64(fit.tiles.height()) * (targetLayout.tileSize + targetLayout.spacing) -
        targetLayout.spacing;
    if (width > kMaxImageSide || height > kMaxImageSide)
        return GridResult{QImage(),
                          QStringLiteral("The result would be %1 × %2 pixels, but a sheet can be "
                                         "at most %3 pixels wide and high.")
                              .arg(width)
                              .arg(height)
                              .arg(kMaxImageSide)};

    // Rows are copied as 32-bit words; an opaque sheet stays opaque and one with alpha keeps it.
    QImage converted;
    const QImage* in = &source;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32) {
        converted = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                    : QImage::Format_RGB32);
        if (converted.isNull())
            return GridResult{QImage(),
                              QStringLiteral("There is not enough memory to convert the sheet.")};
        in = &converted;
    }
    QImage target = createUninitialized(int(width), int(height), in->format());
    if (target.isNull())
        return GridResult{QImage(),
                          QStringLiteral("There is not enough memory for a %1 × %2 sheet.")
                              .arg(width)
                              .arg(height)};
    const QRgb fill = in->format() == QImage::Format_ARGB32 ? 0x00ffffffu : 0xffffffffu;
    copyExtruded(*in, target, bare, from, to, fit.tiles, fill);
    return GridResult{target, QString()};
}

} // namespace

std::optional<QPoint> firstUnextrudedTile(const QImage& sheet, const TileLayout& layout,
                                          int extrusion)
{
    const QImage rows = sheet.convertToFormat(QImage::Format_ARGB32);
    const int n = layout.tileSize;
    const int cell = n + 2 * extrusion;
    const int pitch = cell + layout.spacing;
    const QSize tiles = fitLayout(rows.size(), extrudedLayout(layout, extrusion)).tiles;
    for (int row = 0; row < tiles.height(); ++row) {
        const int top = layout.margin + row * pitch;
        for (int v = 0; v < cell; ++v) {
            // Each row of the cell against the tile row it copies, or against itself.
            const auto* line = reinterpret_cast<const QRgb*>(rows.constScanLine(top + v));
            const auto* edge = reinterpret_cast<const QRgb*>(
                rows.constScanLine(top + extrusion + std::clamp(v - extrusion, 0, n - 1)));
            for (int column = 0; column < tiles.width(); ++column) {
                const int left = layout.margin + column * pitch;
                const QRgb* at = line + left;
                const bool same =
                    std::memcmp(at, edge + left, size_t(cell) * sizeof(QRgb)) == 0 &&
                    std::all_of(at, at + extrusion, [&](QRgb p) { return p == at[extrusion]; }) &&
                    std::all_of(at + extrusion + n, at + cell,
                                [&](QRgb p) { return p == at[extrusion + n - 1]; });
                if (!same)
                    return QPoint(column, row);
            }
        }
    }
    return std::nullopt;
}

LayoutFit fitLayout(QSize sheet, const TileLayout& layout)
{
    const QSize tiles(wholeTiles(sheet.width(), layout), wholeTiles(sheet.height(), layout));
    if (tiles.isEmpty())
        return LayoutFit{tiles, QSize()};
    return LayoutFit{tiles, QSize(sheet.width() - sideOf(tiles.width(), layout),
                                  sheet.height() - sideOf(tiles.height(), layout))};
}

TileLayout extrudedLayout(const TileLayout& layout, int extrusion)
{
    return TileLayout{layout.tileSize, layout.margin + extrusion, layout.spacing + 2 * extrusion};
}

GridResult extrudeTiles(const QImage& source, const TileLayout& layout, int extrusion)
{
    return convert(source, layout, 0, extrusion);
}

GridResult unextrudeTiles(const QImage& source, const TileLayout& layout, int extrusion)
{
    return convert(source, layout, extrusion, 0);
}

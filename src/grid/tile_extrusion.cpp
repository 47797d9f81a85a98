#include "grid/tile_extrusion.h"

#include <algorithm>
#include <cstring>

#include "image/pixel_block.h"

namespace
{

// The extruded tiles of bare, ring and all, as the tiles of a layout: where each row of a sheet
// that carries extrusion pixels around bare's tiles belongs.
TileLayout ringedTiles(const TileLayout& bare, int extrusion)
{
    return TileLayout::spaced(bare.tileWidth + 2 * extrusion, bare.tileHeight + 2 * extrusion,
                              bare.margin, bare.spacing);
}

// Copies the whole tiles of a sheet whose tiles carry `from` pixels of extrusion to a sheet whose
// tiles carry `to`, both around the same layout of bare tiles. One pass over the target row by
// row: a row is margin or spacing (filled) or a row of the source's tiles, each tile row copied
// with memcpy and its ring filled from the tile's edge pixels.
void copyExtruded(const QImage& source, QImage& target, const TileLayout& bare, int from, int to,
                  QSize tiles, QRgb fill)
{
    const int n = bare.tileWidth;
    const TileLayout sourceLayout = extrudedLayout(bare, from);
    const int sourcePitch = sourceLayout.pitchX();
    const TileLayout targetCells = ringedTiles(bare, to);
    const int width = target.width();
    for (int y = 0; y < target.height(); ++y) {
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        const auto [row, v] = targetCells.rowAt(y); // v: within the extruded tile, ring included
        if (row < 0 || row >= tiles.height() || v >= targetCells.tileHeight) {
            std::fill(out, out + width, fill);
            continue;
        }
        const int sourceY = sourceLayout.rowTop(row) + std::clamp(v - to, 0, bare.tileHeight - 1);
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sourceY)) +
                         sourceLayout.columnLeft(0);
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
            QImage(), QStringLiteral("The sheet holds no whole %1 × %2 tile%3.")
                          .arg(bare.tileWidth)
                          .arg(bare.tileHeight)
                          .arg(from > 0 ? QStringLiteral(" with its %1-pixel extrusion").arg(from)
                                        : QString())};
    const TileLayout targetLayout = extrudedLayout(bare, to);
    const qint64 width = targetLayout.widthFor(fit.tiles.width());
    const qint64 height = targetLayout.heightFor(fit.tiles.height());
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
    const int n = layout.tileWidth;
    const TileLayout cells = ringedTiles(layout, extrusion);
    const int cell = cells.tileWidth;
    const QSize tiles = fitLayout(rows.size(), extrudedLayout(layout, extrusion)).tiles;
    for (int row = 0; row < tiles.height(); ++row) {
        const int top = cells.rowTop(row);
        for (int v = 0; v < cells.tileHeight; ++v) {
            // Each row of the cell against the tile row it copies, or against itself.
            const auto* line = reinterpret_cast<const QRgb*>(rows.constScanLine(top + v));
            const auto* edge = reinterpret_cast<const QRgb*>(rows.constScanLine(
                top + extrusion + std::clamp(v - extrusion, 0, layout.tileHeight - 1)));
            for (int column = 0; column < tiles.width(); ++column) {
                const int left = cells.columnLeft(column);
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
    const QSize tiles = layout.tilesIn(sheet);
    if (tiles.isEmpty())
        return LayoutFit{tiles, QSize()};
    return LayoutFit{tiles, layout.strips(sheet)};
}

TileLayout extrudedLayout(const TileLayout& layout, int extrusion)
{
    return TileLayout::spaced(layout.tileWidth, layout.tileHeight, layout.margin + extrusion,
                              layout.spacing + 2 * extrusion);
}

GridResult extrudeTiles(const QImage& source, const TileLayout& layout, int extrusion)
{
    return convert(source, layout, 0, extrusion);
}

GridResult unextrudeTiles(const QImage& source, const TileLayout& layout, int extrusion)
{
    return convert(source, layout, extrusion, 0);
}

#include "cli/sheet_report.h"

#include "tilemap/tile_dedupe.h"

#include <QColor>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "image/pixel_format.h"

namespace {

QString pngDepth(const QByteArray& head)
{
    // IHDR is the first chunk: bit depth at byte 24, colour type at 25.
    if (head.size() < 26)
        return {};
    const int bits = uchar(head[24]);
    switch (uchar(head[25])) {
    case 0:
        return QStringLiteral("%1-bit grey").arg(bits);
    case 2:
        return QStringLiteral("%1-bit RGB").arg(bits * 3);
    case 3:
        return QStringLiteral("%1-bit palette").arg(bits);
    case 4:
        return QStringLiteral("%1-bit grey and alpha").arg(bits * 2);
    case 6:
        return QStringLiteral("%1-bit RGBA").arg(bits * 4);
    default:
        return {};
    }
}

QString bmpDepth(const QByteArray& head)
{
    if (head.size() < 30)
        return {};
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    const quint32 infoSize = qFromLittleEndian<quint32>(h + 14);
    const int bits = qFromLittleEndian<quint16>(h + (infoSize == 12 ? 24 : 28));
    if (bits <= 8)
        return QStringLiteral("%1-bit palette").arg(bits);
    // Masks laid out as fields, with one for alpha (a version 4 or 5 information header).
    const bool alphaMask = infoSize >= 56 && head.size() >= 70 &&
                           qFromLittleEndian<quint32>(h + 30) == 3 &&
                           qFromLittleEndian<quint32>(h + 66) != 0;
    return (alphaMask ? QStringLiteral("%1-bit RGBA") : QStringLiteral("%1-bit RGB")).arg(bits);
}

QString gifDepth(const QByteArray& head)
{
    // The logical screen descriptor's flags: a global palette of 2^(n + 1) colours.
    if (head.size() < 11)
        return {};
    const int flags = uchar(head[10]);
    return QStringLiteral("%1-bit palette").arg((flags & 0x80) ? (flags & 7) + 1 : 8);
}

// JPEG keeps its component count in the start-of-frame segment, which may follow large metadata
// segments, so the segments are walked by their lengths.
QString jpegDepth(QFile& file)
{
    qint64 at = 2;
    for (int segments = 0; segments < 1000 && file.seek(at); ++segments) {
        const QByteArray marker = file.read(4);
        if (marker.size() < 4 || uchar(marker[0]) != 0xff)
            return {};
        const int kind = uchar(marker[1]);
        const int length = qFromBigEndian<quint16>(marker.constData() + 2);
        const bool startOfFrame =
            kind >= 0xc0 && kind <= 0xcf && kind != 0xc4 && kind != 0xc8 && kind != 0xcc;
        if (startOfFrame) {
            const QByteArray frame = file.read(6);
            if (frame.size() < 6)
                return {};
            const int bits = uchar(frame[0]);
            const int components = uchar(frame[5]);
            const char* kindName = components == 1 ? "grey" : components == 4 ? "CMYK" : "colour";
            return QStringLiteral("%1-bit %2")
                .arg(bits * components)
                .arg(QLatin1StringView(kindName));
        }
        at += 2 + length;
    }
    return {};
}

QString partialStrips(int right, int bottom)
{
    const QStringList parts = stripSizes(right, bottom);
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

QString tilesLine(const QImage& image, TileShape tile, int gutter)
{
    const TileLayout tiles = TileLayout::grid(tile, gutter);
    const QSize whole = tiles.tilesIn(image.size());
    const QSize strips = tiles.strips(image.size());
    const QString layout = gutter == 0 ? QStringLiteral("%1 × %2 tiles")
                                             .arg(tiles.tileWidth)
                                             .arg(tiles.tileHeight)
                                       : QStringLiteral("%1 × %2 tiles with a %3-pixel grid")
                                             .arg(tiles.tileWidth)
                                             .arg(tiles.tileHeight)
                                             .arg(gutter);
    return QStringLiteral("  %1: %2 × %3 whole; partial strips: %4\n")
        .arg(layout)
        .arg(whole.width())
        .arg(whole.height())
        .arg(partialStrips(strips.width(), strips.height()));
}

struct GridLayout {
    TileShape tile;
    int gutter;
};

}  // namespace

QStringList stripSizes(int right, int bottom)
{
    const auto size = [](int pixels, const char* side) {
        return (pixels == 1 ? QStringLiteral("1 pixel at the %1")
                            : QStringLiteral("%1 pixels at the %2").arg(pixels))
            .arg(QLatin1StringView(side));
    };
    QStringList parts;
    if (right > 0)
        parts << size(right, "right");
    if (bottom > 0)
        parts << size(bottom, "bottom");
    return parts;
}

QString storedDepth(const QString& path, const StoredForm& form)
{
    QFile file(path);
    QString depth;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(70);
        const auto paletteSize = [&] {
            const size_t count = form.palette.size();
            return QStringLiteral(" of %1 colour%2").arg(count).arg(count == 1 ? "" : "s");
        };
        if (head.startsWith("\x89PNG\r\n\x1a\n")) {
            depth = pngDepth(head);
            if (!depth.isEmpty() && form.known())
                depth += (form.paletted() ? paletteSize() : QString()) +
                         QStringLiteral(" (PNG colour type %1, bit depth %2)")
                             .arg(form.colourType)
                             .arg(form.bitDepth);
        } else if (head.startsWith("GIF8")) {
            depth = gifDepth(head);
            if (!depth.isEmpty() && form.paletted())
                depth += paletteSize();
        } else if (head.startsWith("BM")) {
            depth = bmpDepth(head);
        } else if (head.startsWith("\xff\xd8")) {
            depth = jpegDepth(file);
        }
    }
    return depth.isEmpty() ? QStringLiteral("unknown") : depth;
}

std::optional<QRgb> gridLineColour(const QImage& image, TileShape tile, int gutter)
{
    const TileLayout layout = TileLayout::grid(tile, gutter);
    const int pitch = layout.pitchX();
    const int tileWidth = tile.width;
    const int columns = layout.columnsIn(image.width());
    const int rows = layout.rowsIn(image.height());
    const int bytes = image.depth() / 8;
    if (columns == 0 || rows == 0 || bytes == 0 || bytes > 4)
        return std::nullopt;

    std::array<uchar, 4> line{};
    std::memcpy(line.data(), image.constScanLine(0) + size_t(tileWidth) * size_t(bytes),
                size_t(bytes));
    const auto isLine = [&](const uchar* row, int x) {
        return std::memcmp(row + size_t(x) * size_t(bytes), line.data(), size_t(bytes)) == 0;
    };

    bool tilesDiffer = false;
    bool firstColumnIsLine = true;
    bool firstRowIsLine = true;
    const int width = int(layout.widthFor(columns));
    const int height = int(layout.heightFor(rows));
    for (int y = 0; y < height; ++y) {
        const uchar* row = image.constScanLine(y);
        if (layout.rowAt(y).within >= layout.tileHeight) {
            for (int x = 0; x < width; ++x)
                if (!isLine(row, x))
                    return std::nullopt;
            continue;
        }
        for (int x = tileWidth; x < width; x += pitch)
            for (int g = 0; g < gutter; ++g)
                if (!isLine(row, x + g))
                    return std::nullopt;
        firstColumnIsLine = firstColumnIsLine && isLine(row, 0);
        if (y == 0) {
            for (int x = 0; x < width && firstRowIsLine; ++x)
                firstRowIsLine = x % pitch >= tileWidth || isLine(row, x);
        }
        for (int x = 0; x < width && !tilesDiffer; ++x)
            tilesDiffer = x % pitch < tileWidth && !isLine(row, x);
    }
    if (!tilesDiffer || firstColumnIsLine || firstRowIsLine)
        return std::nullopt;
    return image.pixel(tileWidth, 0) | 0xff000000u;
}

std::optional<int> gridTileSizeFound(const QImage& image, int gutter, int except)
{
    // The full check can take a pass over the sheet; a sheet of one colour passes the quick one
    // at every size, so only a few sizes get the full check.
    constexpr int kFullChecks = 16;
    const int largest = std::min({kMaxTileSize, image.width() - gutter, image.height() - gutter});
    int checked = 0;
    for (int tile = 1; tile <= largest && checked < kFullChecks; ++tile) {
        if (tile == except)
            continue;
        // Quick: the first line column is one colour down the first tile, and so is the first
        // line row along it.
        const QRgb line = image.pixel(tile, 0);
        bool plausible = true;
        for (int i = 0; i < tile + gutter && plausible; ++i)
            plausible = image.pixel(tile, i) == line && image.pixel(i, tile) == line;
        if (!plausible)
            continue;
        ++checked;
        if (gridLineColour(image, tile, gutter))
            return tile;
    }
    return std::nullopt;
}

QString sheetReport(const QString& name, const QImage& image, const QString& depth,
                    const CommandOptions& options)
{
    QString text = name + QLatin1Char('\n');
    text += QStringLiteral("  size: %1 × %2 pixels\n").arg(image.width()).arg(image.height());
    text += QStringLiteral("  depth: %1\n").arg(depth);
    const qint64 transparent = transparentPixelCount(image);
    text += transparent == 0
                ? QStringLiteral("  transparent pixels: none\n")
                : QStringLiteral("  transparent pixels: %1 of %2\n")
                      .arg(transparent)
                      .arg(qint64(image.width()) * image.height());

    std::vector<GridLayout> grids{{8, 1}, {16, 1}};
    text += tilesLine(image, 8, 0);
    text += tilesLine(image, 16, 0);
    if (options.tileGiven || options.gutter) {
        const int gutter = options.gutter.value_or(0);
        if (gutter > 0 || (options.tile != TileShape(8) && options.tile != TileShape(16)))
            text += tilesLine(image, options.tile, gutter);
        const GridLayout asked{options.tile, options.gutter.value_or(1)};
        if (std::none_of(grids.begin(), grids.end(), [&](const GridLayout& g) {
                return g.tile == asked.tile && g.gutter == asked.gutter;
            }))
            grids.push_back(asked);
    }

    QStringList pitches;
    bool found = false;
    for (const GridLayout& grid : grids) {
        if (const QString pitch = shapeText(grid.tile.grown(grid.gutter)); !pitches.contains(pitch))
            pitches << pitch;
        if (const std::optional<QRgb> colour = gridLineColour(image, grid.tile, grid.gutter)) {
            text += QStringLiteral("  grid: %1-pixel lines of %2 after every %3 tile\n")
                        .arg(grid.gutter)
                        .arg(QColor(*colour).name(), tileText(grid.tile));
            found = true;
        }
    }
    if (!found) {
        const QString last = pitches.takeLast();
        const QString list =
            pitches.isEmpty() ? last
                              : pitches.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
        text += QStringLiteral("  grid: none found at pitch %1\n").arg(list);
    }
    if (const TileShape cell = options.layout().cell();
        image.width() >= cell.width && image.height() >= cell.height) {
        text += QStringLiteral("  duplicate %1 tiles: %2 exact, %3 with flips\n")
                    .arg(tileText(options.tile))
                    .arg(findDuplicateTiles(image, options.tile, cell, false).merged())
                    .arg(findDuplicateTiles(image, options.tile, cell, true).merged());
    }
    return text;
}

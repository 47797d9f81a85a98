#include "image/tile_layout.h"

#include <algorithm>

namespace
{

// a / b rounded down and up, for any sign of a (b > 0).
template <typename Int> Int floorDiv(Int a, Int b)
{
    return a >= 0 ? a / b : -1 - (-1 - a) / b;
}

template <typename Int> Int ceilDiv(Int a, Int b)
{
    return -floorDiv<Int>(-a, b);
}

// The run of tiles of edge tile and cell at pitch, margin from the start, whose block is exactly
// length pixels from start.
template <typename Int>
std::optional<typename BasicTileLayout<Int>::Span> spanning(Int start, Int length, Int margin,
                                                            Int cell, Int pitch)
{
    const Int inside = start - margin;
    if (pitch <= 0 || inside < 0 || inside % pitch != 0)
        return std::nullopt;
    // count tiles: count cells and count - 1 spacings.
    const Int spacing = pitch - cell;
    const Int room = length + spacing;
    if (room < pitch || room % pitch != 0)
        return std::nullopt;
    return typename BasicTileLayout<Int>::Span{Int(inside / pitch), Int(room / pitch)};
}

} // namespace

template <typename Int>
std::optional<typename BasicTileLayout<Int>::Span>
BasicTileLayout<Int>::columnsSpanning(Int left, Int width) const
{
    return spanning<Int>(left, width, margin, cellWidth(), pitchX());
}

template <typename Int>
std::optional<typename BasicTileLayout<Int>::Span>
BasicTileLayout<Int>::rowsSpanning(Int top, Int height) const
{
    return spanning<Int>(top, height, margin, cellHeight(), pitchY());
}

template <typename Int> std::optional<QRect> BasicTileLayout<Int>::tilesSpanning(QRect pixels) const
{
    const auto columns = columnsSpanning(Int(pixels.left()), Int(pixels.width()));
    const auto rows = rowsSpanning(Int(pixels.top()), Int(pixels.height()));
    if (!columns || !rows)
        return std::nullopt;
    return QRect(int(columns->first), int(rows->first), int(columns->count), int(rows->count));
}

template <typename Int> QRect BasicTileLayout<Int>::tilesTouching(QRect pixels, QSize tiles) const
{
    if (pixels.isEmpty() || pitchX() <= 0 || pitchY() <= 0)
        return QRect();
    // A column's own pixels run from columnLeft(c) to columnLeft(c) + tileWidth - 1.
    const auto first = [&](int64_t from, int64_t tile, int64_t pitch) {
        return ceilDiv<int64_t>(from - margin - tile + 1, pitch);
    };
    const auto last = [&](int64_t to, int64_t pitch) {
        return floorDiv<int64_t>(to - margin, pitch);
    };
    const int64_t left = std::max<int64_t>(first(pixels.left(), tileWidth, pitchX()), 0);
    const int64_t top = std::max<int64_t>(first(pixels.top(), tileHeight, pitchY()), 0);
    const int64_t right = std::min<int64_t>(last(pixels.right(), pitchX()), tiles.width() - 1);
    const int64_t bottom = std::min<int64_t>(last(pixels.bottom(), pitchY()), tiles.height() - 1);
    if (left > right || top > bottom)
        return QRect();
    return QRect(QPoint(int(left), int(top)), QPoint(int(right), int(bottom)));
}

QString shapeText(TileShape shape)
{
    return shape.square() ? QString::number(shape.width)
                          : QStringLiteral("%1x%2").arg(shape.width).arg(shape.height);
}

QString tileText(TileShape shape)
{
    return QStringLiteral("%1 × %2").arg(shape.width).arg(shape.height);
}

template struct BasicTileLayout<int>;
template struct BasicTileLayout<int64_t>;

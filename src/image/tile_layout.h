#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <optional>

// The width and height of a tile, or of a tile with its gutter (a cell). One number is a square:
// the square sheets that most callers speak of pass their edge as it is.
struct TileShape {
    int width = 16;
    int height = 16;

    constexpr TileShape() = default;
    constexpr TileShape(int side) : width(side), height(side) {} // NOLINT: N is N x N
    constexpr TileShape(int width, int height) : width(width), height(height) {}

    constexpr bool square() const { return width == height; }
    constexpr int64_t area() const { return int64_t(width) * int64_t(height); }
    // The shape with by pixels more on the right and at the bottom (a cell of by-pixel gutter).
    constexpr TileShape grown(int by) const { return TileShape(width + by, height + by); }
    QSize size() const { return QSize(width, height); }
    friend constexpr bool operator==(TileShape, TileShape) = default;
};

// A tile shape as --tile takes it: "16" for a square, "32x64" otherwise.
QString shapeText(TileShape shape);
// A tile shape as messages show it: "16 × 16", "32 × 64".
QString tileText(TileShape shape);

// Where the tiles of a sheet lie, the one description of it for the whole program. The first
// tile's top left is at (margin, margin). Every tile is followed by gutter pixels, the last one
// too (the one-pixel lines of a grid that Tilegrid inserts lie there), and two neighbours are
// spacing pixels further apart (as level files' tilesets put it, nothing after the last); margin
// pixels close the sheet. A tile with its gutter is its cell. Width and height are kept apart
// everywhere: nothing here takes a tile to be square.
//
// Int is the width of the arithmetic: TileLayout (int) for images, TileLayout64 for what level
// files declare, which may be any size. Columns, rows and positions are per tile or per row, never
// per pixel, so everything a caller asks in a loop is inline.
template <typename Int> struct BasicTileLayout {
    Int tileWidth = 16;
    Int tileHeight = 16;
    Int margin = 0;  // before the first tile and after the last, on every side
    Int spacing = 0; // between two neighbouring tiles only
    Int gutter = 0;  // after every tile, the last one too

    // All five or none (16 x 16 tiles side by side): a shorter list would be read silently in
    // the wrong places.
    constexpr BasicTileLayout() = default;
    constexpr BasicTileLayout(Int tileWidth, Int tileHeight, Int margin, Int spacing, Int gutter)
        : tileWidth(tileWidth), tileHeight(tileHeight), margin(margin), spacing(spacing),
          gutter(gutter)
    {
    }

    // Tiles one after the other, each followed by gutter pixels (a sheet with Tilegrid's grid
    // has a gutter of 1, one without it none).
    static constexpr BasicTileLayout grid(Int width, Int height, Int gutter = 0)
    {
        return BasicTileLayout{width, height, 0, 0, gutter};
    }
    static constexpr BasicTileLayout grid(TileShape tile, Int gutter = 0)
    {
        return BasicTileLayout{tile.width, tile.height, 0, 0, gutter};
    }
    // Tiles with a margin around them all and spacing between them.
    static constexpr BasicTileLayout spaced(Int width, Int height, Int margin, Int spacing)
    {
        return BasicTileLayout{width, height, margin, spacing, 0};
    }

    constexpr TileShape tile() const { return TileShape(int(tileWidth), int(tileHeight)); }
    constexpr TileShape cell() const { return TileShape(int(cellWidth()), int(cellHeight())); }
    constexpr Int cellWidth() const { return tileWidth + gutter; }
    constexpr Int cellHeight() const { return tileHeight + gutter; }
    // From one tile's left (top) to its neighbour's.
    constexpr Int pitchX() const { return tileWidth + gutter + spacing; }
    constexpr Int pitchY() const { return tileHeight + gutter + spacing; }

    // The whole tiles across a side of the sheet (a tile counts with its gutter); 0 when the
    // layout has no pitch.
    constexpr Int columnsIn(Int width) const { return along(width, cellWidth(), pitchX()); }
    constexpr Int rowsIn(Int height) const { return along(height, cellHeight(), pitchY()); }
    QSize tilesIn(QSize image) const
    {
        return QSize(int(columnsIn(Int(image.width()))), int(rowsIn(Int(image.height()))));
    }
    int64_t tileCountIn(QSize image) const
    {
        return int64_t(columnsIn(Int(image.width()))) * int64_t(rowsIn(Int(image.height())));
    }

    // The side of a sheet of exactly that many whole tiles, margins included (just the margins
    // for none).
    constexpr int64_t widthFor(int64_t columns) const { return sideFor(columns, cellWidth()); }
    constexpr int64_t heightFor(int64_t rows) const { return sideFor(rows, cellHeight()); }
    // The image a sheet of tiles.width() x tiles.height() whole tiles takes.
    QSize imageSize(QSize tiles) const
    {
        return QSize(int(widthFor(tiles.width())), int(heightFor(tiles.height())));
    }

    // The partial strips: the pixels at the right (bottom) beyond the whole tiles and margins.
    constexpr int64_t stripRight(Int width) const
    {
        return leftOver(width, widthFor(columnsIn(width)));
    }
    constexpr int64_t stripBottom(Int height) const
    {
        return leftOver(height, heightFor(rowsIn(height)));
    }
    QSize strips(QSize image) const
    {
        return QSize(int(stripRight(Int(image.width()))), int(stripBottom(Int(image.height()))));
    }

    // Where a column's (row's) tile pixels begin.
    constexpr Int columnLeft(Int column) const { return margin + column * pitchX(); }
    constexpr Int rowTop(Int row) const { return margin + row * pitchY(); }

    // Which column (row) a pixel's pitch belongs to, and how far into it the pixel lies: a tile
    // pixel when 0 <= at < count and within < tileWidth (tileHeight); its gutter or the spacing
    // after it beyond. Pixels in the leading margin give column (row) -1.
    struct Place {
        Int at;
        Int within;
    };
    constexpr Place columnAt(Int x) const { return placeAt(x - margin, pitchX()); }
    constexpr Place rowAt(Int y) const { return placeAt(y - margin, pitchY()); }

    // Tile number index, counted row by row over columns columns, as (column, row).
    static constexpr QPoint tileAt(int64_t index, int64_t columns)
    {
        return QPoint(int(index % columns), int(index / columns));
    }

    // The pixels of one tile, of a tile and its gutter, and of a block of tiles (from the first
    // tile's top left through the last one's gutter: the spacing between them included).
    QRect tileRect(QPoint tile) const
    {
        return QRect(int(columnLeft(Int(tile.x()))), int(rowTop(Int(tile.y()))), int(tileWidth),
                     int(tileHeight));
    }
    QRect tileRect(int64_t index, int64_t columns) const
    {
        return tileRect(tileAt(index, columns));
    }
    QRect cellRect(QPoint tile) const
    {
        return QRect(int(columnLeft(Int(tile.x()))), int(rowTop(Int(tile.y()))), int(cellWidth()),
                     int(cellHeight()));
    }
    QRect blockRect(QRect tiles) const
    {
        return QRect(QPoint(int(columnLeft(Int(tiles.left()))), int(rowTop(Int(tiles.top())))),
                     QSize(int(tiles.width() * pitchX() - spacing),
                           int(tiles.height() * pitchY() - spacing)));
    }

    // A run of whole columns (rows).
    struct Span {
        Int first;
        Int count;
    };
    // The columns (rows) whose block spans exactly width (height) pixels from left (top), when
    // some do: the pixel rectangle of a block of tiles back to the block.
    std::optional<Span> columnsSpanning(Int left, Int width) const;
    std::optional<Span> rowsSpanning(Int top, Int height) const;
    std::optional<QRect> tilesSpanning(QRect pixels) const;
    // Every tile (column, row) with a pixel of its own inside pixels: columns and rows below 0
    // or beyond the sheet are left out, as is everything for an empty rectangle.
    QRect tilesTouching(QRect pixels, QSize tiles) const;

    // count tiles packed row by row into columns columns: columns x ceil(count / columns).
    static constexpr QSize packed(int64_t count, int64_t columns)
    {
        return QSize(int(columns), int((count + columns - 1) / columns));
    }

  private:
    static constexpr int64_t leftOver(int64_t side, int64_t used)
    {
        return side > used ? side - used : 0;
    }
    constexpr Int along(Int side, Int cell, Int pitch) const
    {
        const Int room = side - 2 * margin + spacing;
        return pitch <= 0 || room < cell ? 0 : room / pitch;
    }
    constexpr int64_t sideFor(int64_t tiles, int64_t cell) const
    {
        return tiles <= 0 ? 2 * int64_t(margin)
                          : 2 * int64_t(margin) + tiles * cell + (tiles - 1) * int64_t(spacing);
    }
    static constexpr Place placeAt(Int inside, Int pitch)
    {
        const Int at = inside >= 0 ? inside / pitch : -1 - (-1 - inside) / pitch;
        return Place{at, inside - at * pitch};
    }
};

using TileLayout = BasicTileLayout<int>;
using TileLayout64 = BasicTileLayout<int64_t>;

extern template struct BasicTileLayout<int>;
extern template struct BasicTileLayout<int64_t>;

#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <optional>

#include "grid/grid_transform.h"
#include "image/tile_layout.h"

// Extrusion works on sheets whose tiles lie at a margin and spacing apart (no gutter).
// The whole tiles across and down a sheet of that size, and the pixels left over at the right and
// bottom beyond them and their margin.
struct LayoutFit {
    QSize tiles;
    QSize strips;
};
LayoutFit fitLayout(QSize sheet, const TileLayout& layout);

// The layout of the sheet after every tile of layout gains extrusion pixels on each side: the
// tiles themselves start extrusion pixels further in, and lie 2 extrusion pixels further apart.
TileLayout extrudedLayout(const TileLayout& layout, int extrusion);

// Every whole tile of layout gets extrusion pixels on each side copied from its own edge row or
// column, the corners from its corner pixel. The margin and spacing of the source, which stay
// around the extruded tiles, are transparent white, or opaque white on an opaque
// sheet. Pixels beyond the last whole tile are dropped. Alpha is kept exactly: a 32-bit source
// keeps its format (Format_ARGB32 or Format_RGB32), others become one of them. Refused like
// transformTiles.
GridResult extrudeTiles(const QImage& source, const TileLayout& layout, int extrusion);

// The first whole tile (column, row) of a sheet laid out as extrudedLayout(layout, extrusion)
// whose ring is not copies of its edge pixels, or nullopt when every one is.
std::optional<QPoint> firstUnextrudedTile(const QImage& sheet, const TileLayout& layout,
                                          int extrusion);

// The other way round: source is laid out as extrudedLayout(layout, extrusion); the result, laid
// out as layout, holds every whole tile without its extrusion.
GridResult unextrudeTiles(const QImage& source, const TileLayout& layout, int extrusion);

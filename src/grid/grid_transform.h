#pragma once

#include <QImage>
#include <QString>

#include "image/tile_layout.h"

struct GridResult {
    QImage image;   // the new 32-bit image (with the source's alpha, if it keeps one); null when refused
    QString error;  // why it was refused, in plain words
    bool ok() const { return !image.isNull(); }
};

// Copies every whole tile of its shape, each followed by sourceGutter pixels, to tiles followed by
// targetGutter pixels on a new 32-bit image filled with gridColor, opaque; the fill that the tiles
// leave uncovered becomes the grid lines.
// The image is RGB32, or ARGB32 with every tile pixel's alpha when the source keeps alpha.
// Pixels beyond the last whole tile are dropped. Refused (null image and a message) when the source
// holds no whole tile in a direction, when the result would be wider or higher than kMaxImageSide,
// or when its memory cannot be had. The source may be in any of the sheet layouts (other formats
// are converted first).
GridResult transformTiles(const QImage& source, TileShape tile, int sourceGutter, int targetGutter,
                          QRgb gridColor);

// A one-pixel grid line after every tile column and row (gutter 0 -> 1).
GridResult insertGrid(const QImage& source, TileShape tile, QRgb gridColor);

// Drops the grid lines again (gutter 1 -> 0).
GridResult removeGrid(const QImage& source, TileShape tile, QRgb gridColor);

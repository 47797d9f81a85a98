#pragma once

#include <QImage>
#include <QSize>

#include "image/pixel_runs.h"
#include "image/tile_layout.h"

// What a grid step leaves out, so that it can be undone without keeping the sheet: every pixel
// that is not part of a whole tile, row by row. For a sheet without a grid that is the partial
// strips at the right and bottom; for a gridded one also the grid lines, whatever their colours.

// The pixels of image outside its whole tiles of that shape, each followed by gutter pixels, row
// by row.
PixelRuns pixelsOutsideTiles(const QImage& image, TileShape tile, int gutter);

// The inverse: a size image in format whose whole tiles (each followed by gutter pixels) are those
// of tiles (followed by tilesGutter, in the same columns and rows) and whose every other pixel
// comes from rest, row by row. Null when rest does not hold exactly those pixels, the tiles do not fit, or memory runs out.
QImage placeTiles(const QImage& tiles, TileShape tile, int tilesGutter, QSize size, int gutter,
                  QImage::Format format, const PixelRuns& rest);

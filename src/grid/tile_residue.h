#pragma once

#include <QImage>
#include <QSize>

#include "image/pixel_runs.h"

// What a grid step leaves out, so that it can be undone without keeping the sheet: every pixel
// that is not part of a whole tile, row by row. For a sheet without a grid that is the partial
// strips at the right and bottom; for a gridded one also the grid lines, whatever their colours.

// The pixels of image outside its whole tileSize x tileSize tiles at pitch (each tile at the
// top left of its pitch x pitch block), row by row.
PixelRuns pixelsOutsideTiles(const QImage& image, int tileSize, int pitch);

// The inverse: a size image in format whose whole tiles at pitch are those of tiles (at
// tilesPitch, in the same columns and rows) and whose every other pixel comes from rest, row by
// row. Null when rest does not hold exactly those pixels, the tiles do not fit, or memory runs out.
QImage placeTiles(const QImage& tiles, int tileSize, int tilesPitch, QSize size, int pitch,
                  QImage::Format format, const PixelRuns& rest);

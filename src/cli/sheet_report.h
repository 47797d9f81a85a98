#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <optional>

#include "cli/command_options.h"
#include "document/png_form.h"

// How the file at path stores its pixels, read from its header ("24-bit RGB", "8-bit palette",
// "32-bit RGBA"); "unknown" when the header says nothing we know. With the form its decoder found,
// a palette's size follows ("4-bit palette of 13 colours"), and for a PNG its colour type and bit
// depth ("(PNG colour type 3, bit depth 4)").
QString storedDepth(const QString& path, const StoredForm& form = {});

// The colour of the grid when image looks gridded at this tile size and gutter: lines of gutter
// pixels, all of one colour, after every whole tile column and row, none before the first, and
// tiles that are not all that colour. nullopt otherwise.
std::optional<QRgb> gridLineColour(const QImage& image, TileShape tile, int gutter);

// Another tile size than except at which image looks gridded with lines of gutter pixels, the
// smallest found; nullopt when none is found.
std::optional<int> gridTileSizeFound(const QImage& image, int gutter, int except);

// The partial strips right and bottom pixels wide, as "1 pixel at the right", "3 pixels at the
// bottom"; empty when both are 0.
QStringList stripSizes(int right, int bottom);

// The block that "info" prints for one sheet: its name, then one indented "key: value" line each
// for size, depth, the pixels that are not opaque (of an image read with its alpha), whole tiles
// and partial strips of 8 and 16 (and --tile N, at pitch N + G when --gutter G is given), and the
// grid found at pitch 9 or 17 (or N + G).
QString sheetReport(const QString& name, const QImage& image, const QString& depth,
                    const CommandOptions& options);

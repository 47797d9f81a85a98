#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <optional>

#include "document/png_writer.h"
#include "tilemap/map_file.h"
#include "tilemap/tile_map.h"

// The sheet's files without a question asked: the window's commands ask first and then call
// these, and the command line calls them directly. Each returns an empty string on success,
// otherwise the reason in plain words, naming the file; a failed save leaves any existing file as
// it was.

enum class ImageFileFormat { Png, Bmp, Webp };

// The format a path's extension names (".png", ".bmp" or ".webp", in any case), or nullopt.
std::optional<ImageFileFormat> imageFormatOf(const QString& path);

// What a save may be told besides the image.
struct SaveOptions {
    // Threads that compress a PNG at most; 0 takes as many as the shared worker pool has cores
    // free.
    int threads = 0;
    // Hears the rows written so far and the image's height, on the saving thread; returning
    // false cancels the save, and any existing file stays as it was.
    std::function<bool(qint64 done, qint64 total)> progress;
    PngCompression compression = PngCompression::Fast;  // BMP has no choice
    // A PNG's form to keep, and where to tell the colour type written (see PngWriteOptions).
    const StoredForm* keep = nullptr;
    int* writtenColourType = nullptr;
};

// Writes image to path in format through a temporary file that replaces the target when complete.
QString saveImageFile(const QImage& image, const QString& path, ImageFileFormat format,
                      const SaveOptions& options = {});

// Reads the map file at path for a sheet of columns x rows full tiles of that shape; accepted only
// when it holds a permutation of their numbers.
MapParseResult readMapFile(const QString& path, int columns, int rows, TileShape tile);

// Reads the map file at path as one row of however many numbers it holds, for a use that has no
// sheet to fit it to (carrying it into level files); accepted only when they are a permutation.
// Messages about the numbers begin with the file's name.
MapParseResult readMapFileAsOneRow(const QString& path);

// Writes the map's text to path, atomically.
QString writeMapFile(const TileMap& map, const QString& path);

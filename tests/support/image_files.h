#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <ostream>
#include <string>
#include <vector>

// Image files made and taken apart byte by byte, for tests of the readers and writers.

QByteArray readFileBytes(const QString& path);
void writeFileBytes(const QString& path, const QByteArray& bytes);
// The names in a folder, hidden ones included, sorted.
QStringList folderEntries(const QString& folder);

// A GIF89a of image, with one palette entry per distinct colour (at most 256), in order of first
// appearance row by row. transparentIndex >= 0 marks that palette entry transparent. Qt cannot
// write GIF, so the tests build their own.
QByteArray makeGif(const QImage& image, int transparentIndex = -1);

// A PNG chunk: length, type, data and CRC.
QByteArray pngChunk(const char* type, const QByteArray& data);
inline const QByteArray kPngSignature = QByteArray("\x89PNG\r\n\x1a\n", 8);

struct PngChunk {
    QByteArray type;
    QByteArray data;
    bool crcOk = false;
};
// The chunks of a PNG file in order; empty when the signature is wrong or a chunk is cut short.
std::vector<PngChunk> pngChunks(const QByteArray& file);

// zlib-inflates data; empty when it is not exactly one complete zlib stream (Adler-32 checked).
QByteArray inflateZlib(const QByteArray& data);

// The pixels of an image file as ImageMagick reads them, as 8-bit R,G,B bytes row after row (with
// channels "rgba" R,G,B,A; its message when it cannot read it); null when ImageMagick is not
// installed.
QByteArray imageMagickRgb(const QByteArray& file, const char* channels = "rgb");
// The same bytes of image as Qt holds it: what ImageMagick should read from a file of it.
QByteArray rgbBytes(const QImage& image, const char* channels = "rgb");

// A PNG written by libpng in any of its layouts, for tests of the reader. Sample values come from
// a fixed seed; with trns, the file has a tRNS chunk (a transparent colour, or an alpha per
// palette entry) and the first pixel of every other row has the transparent colour.
struct PngLayout {
    int colourType;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
    int bitDepth;    // 1, 2, 4, 8 or 16, as the colour type allows
    bool trns = false;
    bool interlaced = false;
    int filters = 0;  // libpng's PNG_FILTER_* mask the rows may use; 0 leaves it to libpng
};
QByteArray makePng(int width, int height, const PngLayout& layout);
// One layout of each kind of PNG transparency: RGBA and grey + alpha at 8 and 16 bits (and
// interlaced), a palette with tRNS, RGB and grey with a tRNS colour.
std::vector<PngLayout> transparentPngLayouts();
void PrintTo(const PngLayout& layout, std::ostream* out);
// A layout as a test name: "Rgba16", "Palette8Trns", "Rgb8Interlaced", "Grey8FilterSub".
std::string pngLayoutName(const PngLayout& layout);

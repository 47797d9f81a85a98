#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
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

// zlib-inflates data; empty when it is not a complete zlib stream.
QByteArray inflateZlib(const QByteArray& data);

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

class QIODevice;

// The header of an uncompressed bottom-up BMP of the given size and bits per pixel: 54 bytes, or
// with alpha (32 bits only) 138, a version 5 information header whose masks name B,G,R,A bytes.
QByteArray bmpHeader(int width, int height, int bitsPerPixel, bool alpha = false);

// Writes image as an uncompressed BMP, 24 or 32 bits per pixel following the image's depth, rows
// bottom-up and padded to 4 bytes. A sheet with an alpha channel keeps it (see bmpHeader); an
// opaque 32-bit one stores alpha 255 under the plain 40-byte information header. Returns false with the device's message in error. progress, when
// given, hears the rows written so far and the height after each part; false cancels the save.
bool writeBmp(const QImage& image, QIODevice& device, QString& error,
              const std::function<bool(qint64 done, qint64 total)>& progress = {});

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <functional>

class QIODevice;

// The 54-byte header of an uncompressed bottom-up BMP of the given size and bits per pixel.
QByteArray bmpHeader(int width, int height, int bitsPerPixel);

// Writes image as an uncompressed BMP, 24 or 32 bits per pixel following the image's depth, rows
// bottom-up and padded to 4 bytes. Returns false with the device's message in error. progress, when
// given, hears the rows written so far and the height after each part; false cancels the save.
bool writeBmp(const QImage& image, QIODevice& device, QString& error,
              const std::function<bool(qint64 done, qint64 total)>& progress = {});

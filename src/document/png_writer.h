#pragma once

#include <QImage>
#include <QString>

class QIODevice;

// Writes image as PNG through libpng: IHDR, IDAT, IEND only; 8 bits; colour type 2 for a 24-bit
// image, 6 (alpha 255) for a 32-bit one; filter None on every row; zlib level 9.
// Returns false with libpng's own message (or the device's) in error.
bool writePng(const QImage& image, QIODevice& device, QString& error);

#pragma once

#include <QImage>
#include <QtEndian>
#include <cstring>

// Both image writers store the sheet's own depth: 24-bit images as bytes B,G,R and 32-bit ones as
// B,G,R,A. Qt keeps Format_BGR888 as B,G,R and Format_RGB32 / Format_ARGB32 as B,G,R,A on a
// little-endian machine, so those are handed over as they are; anything else is converted once.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit rows are read as B,G,R,A bytes");

// The image in one of those layouts, or a null image when memory for a conversion runs out.
inline QImage inWriterLayout(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_BGR888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return image;
    default:
        return image.convertToFormat(image.depth() == 32 ? QImage::Format_RGB32
                                                         : QImage::Format_BGR888);
    }
}

// Copies one 32-bit row as B,G,R with alpha 255, whatever the alpha byte held.
// Whole 32-bit words, so the compiler can vectorise the loop.
inline void copyOpaqueRow(const uchar* from, uchar* to, int width)
{
    for (int x = 0; x < width; ++x) {
        quint32 pixel;
        std::memcpy(&pixel, from + 4 * x, 4);
        pixel |= 0xff000000u;  // the fourth byte in memory
        std::memcpy(to + 4 * x, &pixel, 4);
    }
}

#pragma once

#include <QImage>
#include <QRgb>
#include <QtEndian>
#include <cstring>

// The sheet's pixels in memory, and every conversion between them and the byte orders of files
// and of the screen.
//
// A sheet is held in one of three layouts; Qt keeps them as these bytes on a little-endian machine:
//   Format_BGR888  B,G,R      opaque, as an opened file without transparency
//   Format_RGB32   B,G,R,FF   opaque, after a grid step
//   Format_ARGB32  B,G,R,A    straight alpha (never premultiplied), when transparency is kept
// Files hold R,G,B(,A) (PNG) or B,G,R(,A) (BMP).
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit pixels are read as B,G,R,A bytes");

// Whether a 32-bit row keeps its alpha byte or is made opaque on the way.
enum class Alpha { Opaque, Keep };

// The sheet keeps an alpha channel.
inline bool keepsAlpha(const QImage& image)
{
    return image.format() == QImage::Format_ARGB32;
}

// The image in one of the sheet's layouts, converted once when it is in none: with an alpha
// channel to ARGB32, otherwise to RGB32 or BGR888 by its depth. A null image when memory runs out.
QImage inSheetLayout(const QImage& image);

// One row of width pixels from R,G,B to B,G,R or back (the same swap).
void swapRedBlue24(const uchar* from, uchar* to, int width);

// One row from R,G,B,A to B,G,R,A or back; alpha 255 everywhere with Alpha::Opaque.
void swapRedBlue32(const uchar* from, uchar* to, int width, Alpha alpha);

// One B,G,R,A row copied; alpha 255 everywhere with Alpha::Opaque.
void copyRow32(const uchar* from, uchar* to, int width, Alpha alpha);

// Lays a row of B,G,R,A pixels (R,G,B,A with swapRedBlue) with straight alpha over black into
// B,G,R: each channel becomes channel * alpha / 255, rounded. True when some pixel was not opaque.
bool layOverBlack(const uchar* bgra, uchar* bgr, int width, bool swapRedBlue = false);

// True when every pixel of a B,G,R,A (or R,G,B,A) row has alpha 255.
bool rowIsOpaque(const uchar* rgba, int width);

// True when some pixel of image is not opaque (only ARGB32 sheets have such pixels).
bool hasTransparentPixels(const QImage& image);

// Counts the pixels of image that are not opaque.
qint64 transparentPixelCount(const QImage& image);

// An ARGB32 image made 24-bit, laid over black; null when memory runs out.
QImage overBlack24(const QImage& argb);

// B,G,R bytes to opaque 0xffRRGGBB words, and back (the alpha byte dropped).
void bgrToRgb32(const uchar* bgr, QRgb* out, int count);
void rgb32ToBgr(const QRgb* in, uchar* bgr, int count);

// One pixel of each layout as an opaque colour for the screen; straight alpha is drawn over black.
inline QRgb screenPixelBgr888(const uchar* row, int x)
{
    const uchar* p = row + size_t(x) * 3;
    return 0xff000000u | (QRgb(p[2]) << 16) | (QRgb(p[1]) << 8) | QRgb(p[0]);
}
inline QRgb screenPixelRgb32(const uchar* row, int x)
{
    QRgb pixel;
    std::memcpy(&pixel, row + size_t(x) * 4, 4);
    return pixel | 0xff000000u;
}
inline QRgb screenPixelArgb32(const uchar* row, int x)
{
    QRgb pixel;
    std::memcpy(&pixel, row + size_t(x) * 4, 4);
    const QRgb alpha = pixel >> 24;
    if (alpha == 255)
        return pixel;
    const auto scale = [alpha](QRgb channel) { return (channel * alpha + 127) / 255; };
    return 0xff000000u | scale((pixel >> 16) & 0xff) << 16 | scale((pixel >> 8) & 0xff) << 8 |
           scale(pixel & 0xff);
}

#include "image/pixel_format.h"

#include "image/pixel_block.h"

QImage inSheetLayout(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_BGR888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return image;
    default:
        if (image.hasAlphaChannel())
            return image.convertToFormat(QImage::Format_ARGB32);
        return image.convertToFormat(image.depth() == 32 ? QImage::Format_RGB32
                                                         : QImage::Format_BGR888);
    }
}

void swapRedBlue24(const uchar* from, uchar* to, int width)
{
    for (int x = 0; x < width; ++x) {
        to[3 * x] = from[3 * x + 2];
        to[3 * x + 1] = from[3 * x + 1];
        to[3 * x + 2] = from[3 * x];
    }
}

// Whole 32-bit words in these loops, so the compiler can vectorise them.
void swapRedBlue32(const uchar* from, uchar* to, int width, Alpha alpha)
{
    const quint32 set = alpha == Alpha::Opaque ? 0xff000000u : 0;
    for (int x = 0; x < width; ++x) {
        quint32 pixel;
        std::memcpy(&pixel, from + 4 * x, 4);
        pixel = set | (pixel & 0xff00ff00u) | ((pixel >> 16) & 0xffu) | ((pixel & 0xffu) << 16);
        std::memcpy(to + 4 * x, &pixel, 4);
    }
}

void copyRow32(const uchar* from, uchar* to, int width, Alpha alpha)
{
    if (alpha == Alpha::Keep) {
        std::memcpy(to, from, size_t(width) * 4);
        return;
    }
    for (int x = 0; x < width; ++x) {
        quint32 pixel;
        std::memcpy(&pixel, from + 4 * x, 4);
        pixel |= 0xff000000u;  // the fourth byte in memory
        std::memcpy(to + 4 * x, &pixel, 4);
    }
}

bool layOverBlack(const uchar* bgra, uchar* bgr, int width, bool swapRedBlue)
{
    const int blue = swapRedBlue ? 2 : 0, red = 2 - blue;
    bool transparent = false;
    for (int x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        const int alpha = bgra[3];
        if (alpha == 255 && x + 1 < width) {
            // Most pixels of most files: a plain copy, four bytes at once; the fourth is the next
            // pixel's, written again by it.
            quint32 pixel;
            std::memcpy(&pixel, bgra, 4);
            if (swapRedBlue)
                pixel = (pixel & 0xff00u) | ((pixel >> 16) & 0xffu) | ((pixel & 0xffu) << 16);
            std::memcpy(bgr, &pixel, 4);
            continue;
        }
        transparent = transparent || alpha != 255;
        bgr[0] = uchar((bgra[blue] * alpha + 127) / 255);
        bgr[1] = uchar((bgra[1] * alpha + 127) / 255);
        bgr[2] = uchar((bgra[red] * alpha + 127) / 255);
    }
    return transparent;
}

bool rowIsOpaque(const uchar* rgba, int width)
{
    quint32 all = 0xffffffffu;
    for (int x = 0; x < width; ++x) {
        quint32 pixel;
        std::memcpy(&pixel, rgba + 4 * x, 4);
        all &= pixel;
    }
    return (all >> 24) == 0xff;
}

bool hasTransparentPixels(const QImage& image)
{
    if (!keepsAlpha(image))
        return false;
    for (int y = 0; y < image.height(); ++y)
        if (!rowIsOpaque(image.constScanLine(y), image.width()))
            return true;
    return false;
}

qint64 transparentPixelCount(const QImage& image)
{
    if (!keepsAlpha(image))
        return 0;
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            count += row[4 * x + 3] != 255;
    }
    return count;
}

QImage overBlack24(const QImage& argb)
{
    QImage opaque = createUninitialized(argb.width(), argb.height(), QImage::Format_BGR888);
    if (opaque.isNull())
        return opaque;
    for (int y = 0; y < argb.height(); ++y)
        layOverBlack(argb.constScanLine(y), opaque.scanLine(y), argb.width());
    return opaque;
}

void bgrToRgb32(const uchar* bgr, QRgb* out, int count)
{
    for (int i = 0; i < count; ++i, bgr += 3)
        out[i] = 0xff000000u | QRgb(bgr[0]) | (QRgb(bgr[1]) << 8) | (QRgb(bgr[2]) << 16);
}

void rgb32ToBgr(const QRgb* in, uchar* bgr, int count)
{
    for (int i = 0; i < count; ++i, bgr += 3) {
        bgr[0] = uchar(in[i]);
        bgr[1] = uchar(in[i] >> 8);
        bgr[2] = uchar(in[i] >> 16);
    }
}

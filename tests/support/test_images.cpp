#include "support/test_images.h"

QRgb pixelColour(int x, int y)
{
    // 12 bits of x and 12 bits of y spread over the three channels.
    return qRgb((x & 0xff), ((x >> 8) & 0x0f) | ((y & 0x0f) << 4), (y >> 4) & 0xff);
}

int pixelAlpha(int x, int y)
{
    return (x * 37 + y * 11) % 256;
}

int pixelAlphaOf(QRgb rgb)
{
    return pixelAlpha(qRed(rgb) | (qGreen(rgb) & 0x0f) << 8, qGreen(rgb) >> 4 | qBlue(rgb) << 4);
}

QImage makeTestImage(int width, int height, QImage::Format format)
{
    const bool alpha = format == QImage::Format_ARGB32;
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, alpha ? (pixelColour(x, y) & 0xffffffu) | uint(pixelAlpha(x, y)) << 24
                                       : pixelColour(x, y));
    return image.convertToFormat(format);
}

QRgb rgbAt(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xff000000u;
}

bool sameBlock(const QImage& a, int ax, int ay, const QImage& b, int bx, int by, int w, int h)
{
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (rgbAt(a, ax + x, ay + y) != rgbAt(b, bx + x, by + y))
                return false;
    return true;
}

bool sameRgb(const QImage& a, const QImage& b)
{
    return a.size() == b.size() && sameBlock(a, 0, 0, b, 0, 0, a.width(), a.height());
}

QImage turnedTile(const QImage& tile, unsigned bits)
{
    QImage out = tile;
    if (bits & 1) {
        out = QImage(tile.height(), tile.width(), tile.format());
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                out.setPixel(x, y, tile.pixel(y, x));
    }
    return out.mirrored((bits & 4) != 0, (bits & 2) != 0);
}

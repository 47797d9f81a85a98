#include "image/pixel_block.h"

#include <cstring>
#include <vector>

namespace {
int bytesPerPixel(const QImage& image) { return image.depth() / 8; }
}  // namespace

void copyBlock(const QImage& src, QPoint srcPos, QImage& dst, QPoint dstPos, QSize size)
{
    Q_ASSERT(src.format() == dst.format());
    const int bpp = bytesPerPixel(src);
    const size_t rowBytes = size_t(size.width()) * bpp;
    const uchar* from = src.constScanLine(srcPos.y()) + size_t(srcPos.x()) * bpp;
    uchar* to = dst.scanLine(dstPos.y()) + size_t(dstPos.x()) * bpp;
    const qsizetype fromStride = src.bytesPerLine();
    const qsizetype toStride = dst.bytesPerLine();
    for (int row = 0; row < size.height(); ++row) {
        std::memcpy(to, from, rowBytes);
        from += fromStride;
        to += toStride;
    }
}

void swapBlocks(QImage& image, QPoint a, QPoint b, QSize size)
{
    const int bpp = bytesPerPixel(image);
    const size_t rowBytes = size_t(size.width()) * bpp;
    std::vector<uchar> scratch(rowBytes);
    for (int row = 0; row < size.height(); ++row) {
        uchar* pa = image.scanLine(a.y() + row) + size_t(a.x()) * bpp;
        uchar* pb = image.scanLine(b.y() + row) + size_t(b.x()) * bpp;
        std::memcpy(scratch.data(), pa, rowBytes);
        std::memcpy(pa, pb, rowBytes);
        std::memcpy(pb, scratch.data(), rowBytes);
    }
}

QImage createFilled(int width, int height, QImage::Format format, QRgb colour)
{
    QImage image(width, height, format);
    if (image.isNull())
        return image;
    image.fill(QColor::fromRgb(qRed(colour), qGreen(colour), qBlue(colour)));
    return image;
}

#include "view/zoom_render.h"

#include <algorithm>
#include <cstring>

namespace {

// One source row, converted to 32-bit pixels for [firstX, lastX] of the image.
inline QRgb pixelAt(const uchar* row, QImage::Format format, int x)
{
    if (format == QImage::Format_BGR888) {
        const uchar* p = row + size_t(x) * 3;
        return 0xff000000u | (QRgb(p[2]) << 16) | (QRgb(p[1]) << 8) | QRgb(p[0]);
    }
    return reinterpret_cast<const QRgb*>(row)[x] | 0xff000000u;
}

void renderRow(const uchar* sourceRow, QImage::Format format, int zoom, int left, int width,
               QRgb* out)
{
    int cx = left;
    const int end = left + width;
    while (cx < end) {
        const int sx = cx / zoom;
        const QRgb colour = pixelAt(sourceRow, format, sx);
        const int runEnd = std::min(end, (sx + 1) * zoom);
        for (; cx < runEnd; ++cx)
            *out++ = colour;
    }
}

}  // namespace

void renderZoomed(const QImage& image, int zoom, const QRect& area, QImage& out)
{
    if (out.size() != area.size() || out.format() != QImage::Format_RGB32)
        out = QImage(area.size(), QImage::Format_RGB32);
    if (out.isNull())
        return;

    // Anything other than our two working formats is converted once (never happens in the program).
    QImage converted;
    const QImage* source = &image;
    if (image.format() != QImage::Format_BGR888 && image.format() != QImage::Format_RGB32 &&
        image.format() != QImage::Format_ARGB32) {
        converted = image.convertToFormat(QImage::Format_RGB32);
        source = &converted;
    }
    const QImage::Format format =
        source->format() == QImage::Format_BGR888 ? QImage::Format_BGR888 : QImage::Format_RGB32;

    const size_t rowBytes = size_t(area.width()) * 4;
    int previousSourceY = -1;
    for (int y = 0; y < area.height(); ++y) {
        const int sy = (area.top() + y) / zoom;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        if (sy == previousSourceY) {
            // Rows that show the same image row are copies of the first one.
            std::memcpy(target, out.constScanLine(y - 1), rowBytes);
            continue;
        }
        renderRow(source->constScanLine(sy), format, zoom, area.left(), area.width(), target);
        previousSourceY = sy;
    }
}

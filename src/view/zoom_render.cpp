#include "view/zoom_render.h"

#include <algorithm>
#include <cstring>

#include "image/pixel_format.h"

namespace {

struct Bgr888 {
    static QRgb at(const uchar* row, int x) { return screenPixelBgr888(row, x); }
};

struct Rgb32 {
    static QRgb at(const uchar* row, int x) { return screenPixelRgb32(row, x); }
};

// Straight alpha is shown over black, as the sheet would be without it.
struct Argb32 {
    static QRgb at(const uchar* row, int x) { return screenPixelArgb32(row, x); }
};

// One canvas row: each image pixel from the first one shown becomes a run of zoom canvas pixels,
// the first and last runs cut to the area. No division per pixel.
template <typename Source>
void renderRow(const uchar* sourceRow, int zoom, int left, int width, QRgb* out)
{
    QRgb* const end = out + width;
    int sx = left / zoom;
    if (zoom == 1) {
        while (out < end)
            *out++ = Source::at(sourceRow, sx++);
        return;
    }
    const int firstRun = std::min(width, (sx + 1) * zoom - left);
    std::fill(out, out + firstRun, Source::at(sourceRow, sx++));
    out += firstRun;
    while (end - out >= zoom) {
        const QRgb colour = Source::at(sourceRow, sx++);
        for (int i = 0; i < zoom; ++i)
            out[i] = colour;
        out += zoom;
    }
    if (out < end)
        std::fill(out, end, Source::at(sourceRow, sx));
}

}  // namespace

void renderZoomed(const QImage& image, int zoom, const QRect& area, QImage& out)
{
    if (out.size() != area.size() || out.format() != QImage::Format_RGB32)
        out = QImage(area.size(), QImage::Format_RGB32);
    if (out.isNull())
        return;

    // Anything other than the sheet layouts is converted once (never happens in the program).
    const QImage source = inSheetLayout(image);
    const QImage::Format format = source.format();

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
        const uchar* row = source.constScanLine(sy);
        if (format == QImage::Format_BGR888)
            renderRow<Bgr888>(row, zoom, area.left(), area.width(), target);
        else if (format == QImage::Format_ARGB32)
            renderRow<Argb32>(row, zoom, area.left(), area.width(), target);
        else
            renderRow<Rgb32>(row, zoom, area.left(), area.width(), target);
        previousSourceY = sy;
    }
}

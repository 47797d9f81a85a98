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

// One canvas row of a sheet with straight alpha, laid over the checks of its band of rows: light
// first when band is even. An opaque pixel is one run as above; any other changes colour where
// the checks do.
void renderRowOverChecks(const uchar* sourceRow, int zoom, int left, int width, int band,
                         QRgb* out)
{
    static_assert((kCheckSize & (kCheckSize - 1)) == 0, "checks are found by masking");
    const QRgb checks[2] = {kLightCheck, kDarkCheck};
    const int end = left + width;
    int sx = left / zoom;
    int cx = left;
    while (cx < end) {
        QRgb pixel;
        std::memcpy(&pixel, sourceRow + size_t(sx) * 4, 4);
        const int stop = std::min(end, (sx + 1) * zoom);
        if (pixel >> 24 == 255) {
            std::fill(out + (cx - left), out + (stop - left), pixel);
            cx = stop;
        } else {
            const QRgb shown[2] = {laidOver(pixel, checks[0]), laidOver(pixel, checks[1])};
            while (cx < stop) {
                const int checkEnd = std::min(stop, (cx | (kCheckSize - 1)) + 1);
                std::fill(out + (cx - left), out + (checkEnd - left),
                          shown[(cx / kCheckSize + band) & 1]);
                cx = checkEnd;
            }
        }
        ++sx;
    }
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
    const bool checks = format == QImage::Format_ARGB32;
    int previousSourceY = -1;
    int previousBand = -1;
    for (int y = 0; y < area.height(); ++y) {
        const int sy = (area.top() + y) / zoom;
        const int band = checks ? (area.top() + y) / kCheckSize : 0;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        if (sy == previousSourceY && band == previousBand) {
            // Rows that show the same image row (over the same checks) are copies of the first one.
            std::memcpy(target, out.constScanLine(y - 1), rowBytes);
            continue;
        }
        const uchar* row = source.constScanLine(sy);
        if (format == QImage::Format_BGR888)
            renderRow<Bgr888>(row, zoom, area.left(), area.width(), target);
        else if (checks)
            renderRowOverChecks(row, zoom, area.left(), area.width(), band, target);
        else
            renderRow<Rgb32>(row, zoom, area.left(), area.width(), target);
        previousSourceY = sy;
        previousBand = band;
    }
}

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "view/zoom_render.h"

// The colour canvas pixel (cx, cy) shows: the sheet pixel under it, straight alpha laid over the
// light or dark check there.
QRgb shown(const QImage& image, int zoom, int cx, int cy)
{
    const QRgb pixel = image.pixel(cx / zoom, cy / zoom);
    const QRgb check = (cx / kCheckSize + cy / kCheckSize) % 2 == 0 ? qRgb(224, 224, 224)
                                                                    : qRgb(160, 160, 160);
    const auto over = [&](int channel, int under) {
        return (channel * qAlpha(pixel) + under * (255 - qAlpha(pixel)) + 127) / 255;
    };
    return qRgb(over(qRed(pixel), qRed(check)), over(qGreen(pixel), qGreen(check)),
                over(qBlue(pixel), qBlue(check)));
}

// Every rendered pixel must be the image pixel under it, for every sheet layout, any zoom and
// areas that start and end inside a zoom block or a check.
TEST(ZoomRender, EveryCanvasPixelShowsTheImagePixelUnderIt)
{
    for (QImage::Format format :
         {QImage::Format_BGR888, QImage::Format_RGB32, QImage::Format_ARGB32}) {
        const QImage image = makeTestImage(13, 7, format);
        for (int zoom = 1; zoom <= 10; ++zoom) {
            const QRect areas[] = {
                QRect(0, 0, 13 * zoom, 7 * zoom),
                QRect(zoom / 2 + 1, zoom + zoom / 3, 5 * zoom + 1, 3 * zoom - 1),
                QRect(13 * zoom - 1, 7 * zoom - 1, 1, 1),
                QRect(zoom + 3, zoom / 2 + 1, 11 * zoom - 4, 6 * zoom - 1),
            };
            QImage out;
            for (const QRect& area : areas) {
                renderZoomed(image, zoom, area, out);
                ASSERT_EQ(out.size(), area.size());
                for (int y = 0; y < area.height(); ++y)
                    for (int x = 0; x < area.width(); ++x)
                        ASSERT_EQ(out.pixel(x, y), shown(image, zoom, area.x() + x, area.y() + y))
                            << "format " << format << " zoom " << zoom << " at " << area.x() + x
                            << "," << area.y() + y;
            }
        }
    }
}

TEST(ZoomRender, OnePixelSheetAtZoomTenFillsTenByTen)
{
    QImage image(1, 1, QImage::Format_BGR888);
    image.setPixel(0, 0, qRgb(12, 34, 56));
    QImage out;
    renderZoomed(image, 10, QRect(0, 0, 10, 10), out);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(out.pixel(x, y), qRgb(12, 34, 56));
}

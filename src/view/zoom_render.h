#pragma once

#include <QImage>
#include <QRect>

// Renders the part area (in canvas pixels) of image enlarged zoom times, nearest neighbour: canvas
// pixel (cx, cy) shows image pixel (cx / zoom, cy / zoom). A sheet that keeps its alpha is laid
// over a checkerboard of kCheckSize canvas pixels, light where (cx / kCheckSize + cy / kCheckSize)
// is even, so that transparent pixels show as such; opaque pixels show as they are. out is
// reused when it already has the right size; it becomes a Format_RGB32 image of area's size. Only
// the exposed part is ever rendered, so memory does not grow with the zoom. area must lie inside
// the zoomed image.
inline constexpr int kCheckSize = 8;
inline constexpr QRgb kLightCheck = 0xffe0e0e0u;
inline constexpr QRgb kDarkCheck = 0xffa0a0a0u;

// The check under canvas pixel (cx, cy).
constexpr QRgb checkAt(int cx, int cy)
{
    return ((cx / kCheckSize + cy / kCheckSize) & 1) == 0 ? kLightCheck : kDarkCheck;
}

// A straight-alpha pixel laid over an opaque background colour, rounded to nearest.
constexpr QRgb laidOver(QRgb pixel, QRgb background)
{
    const QRgb alpha = pixel >> 24;
    const auto mix = [alpha](QRgb front, QRgb back) {
        return (front * alpha + back * (255 - alpha) + 127) / 255;
    };
    return 0xff000000u | mix((pixel >> 16) & 0xff, (background >> 16) & 0xff) << 16 |
           mix((pixel >> 8) & 0xff, (background >> 8) & 0xff) << 8 |
           mix(pixel & 0xff, background & 0xff);
}

void renderZoomed(const QImage& image, int zoom, const QRect& area, QImage& out);

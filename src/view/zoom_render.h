#pragma once

#include <QImage>
#include <QRect>

// Renders the part area (in canvas pixels) of image enlarged zoom times, nearest neighbour: canvas
// pixel (cx, cy) shows image pixel (cx / zoom, cy / zoom), straight alpha laid over black. out is
// reused when it already has the right size; it becomes a Format_RGB32 image of area's size. Only
// the exposed part is ever rendered, so memory does not grow with the zoom. area must lie inside
// the zoomed image.
void renderZoomed(const QImage& image, int zoom, const QRect& area, QImage& out);

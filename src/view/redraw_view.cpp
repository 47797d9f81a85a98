#include "view/redraw_view.h"

#include <QWidget>
#include <algorithm>

#include "view/zoom_canvas.h"

void redrawView(int& zoom, const QImage& workingImage, QWidget& inner, ZoomCanvas& canvas)
{
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    if (workingImage.isNull())
        return;

    const int width = workingImage.width() * zoom;
    const int height = workingImage.height() * zoom;
    if (inner.width() != width)
        inner.resize(width, inner.height());
    if (inner.height() != height)
        inner.resize(inner.width(), height);
    canvas.setGeometry(0, 0, width, height);
    canvas.showImage(&workingImage, zoom);
}

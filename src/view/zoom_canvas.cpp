#include "view/zoom_canvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "view/zoom_render.h"

ZoomCanvas::ZoomCanvas(QRgb fill, QWidget* parent) : QWidget(parent), fill_(QColor::fromRgb(fill))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void ZoomCanvas::showImage(const QImage* image, int zoom)
{
    image_ = image;
    zoom_ = zoom;
    update();
}

void ZoomCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect imageArea =
        image_ ? QRect(0, 0, image_->width() * zoom_, image_->height() * zoom_) : QRect();
    for (const QRect& rect : event->region()) {
        const QRect shown = rect & imageArea;
        if (!shown.isEmpty()) {
            renderZoomed(*image_, zoom_, shown, buffer_);
            painter.drawImage(shown.topLeft(), buffer_);
        }
        // Before the first image, and wherever the canvas reaches beyond it, the initial fill.
        for (const QRect& rest : QRegion(rect).subtracted(shown))
            painter.fillRect(rest, fill_);
    }
}

void ZoomCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit leftPressed(event->position().toPoint());
}

void ZoomCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like any other.
    mousePressEvent(event);
}

void ZoomCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit leftReleased(event->position().toPoint());
}

#include "view/zoom_canvas.h"

#include <QKeyEvent>
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

void ZoomCanvas::setDragMarks(const QRect& pressed, const QRect& target)
{
    if (pressed == pressedMark_ && target == targetMark_)
        return;
    // Only the old and the new marks need painting again.
    QRegion dirty;
    for (const QRect& mark : {pressedMark_, targetMark_, pressed, target})
        if (!mark.isEmpty())
            dirty += onCanvas(mark);
    pressedMark_ = pressed;
    targetMark_ = target;
    update(dirty);
}

QRect ZoomCanvas::onCanvas(const QRect& imageRect) const
{
    return QRect(imageRect.topLeft() * zoom_, imageRect.size() * zoom_);
}

void ZoomCanvas::paintMarks(QPainter& painter)
{
    const auto inner = [this](const QRect& mark) {
        return QRectF(QPointF(mark.topLeft() * zoom_), QSizeF(mark.size() * zoom_));
    };
    // Frames lie just inside their tile, so that a mark never covers a neighbour.
    if (!targetMark_.isEmpty()) {
        // Where the tile would go: a light wash and a solid frame.
        painter.fillRect(inner(targetMark_), QColor(255, 255, 255, 70));
        painter.setPen(QPen(Qt::white, 2));
        painter.drawRect(inner(targetMark_).adjusted(1, 1, -1, -1));
    }
    if (!pressedMark_.isEmpty()) {
        // The pressed tile: black and white dashes, visible on any colour.
        const QRectF frame = inner(pressedMark_).adjusted(1, 1, -1, -1);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawRect(frame);
        painter.setPen(QPen(Qt::white, 2, Qt::DashLine));
        painter.drawRect(frame);
    }
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
    if (image_ && (!pressedMark_.isEmpty() || !targetMark_.isEmpty()))
        paintMarks(painter);
}

void ZoomCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        leftHeld_ = true;
        emit leftPressed(event->position().toPoint());
    }
}

void ZoomCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (leftHeld_ && (event->buttons() & Qt::LeftButton))
        emit dragMoved(event->position().toPoint());
}

void ZoomCanvas::keyPressEvent(QKeyEvent* event)
{
    if (leftHeld_ && event->key() == Qt::Key_Escape) {
        emit dragCancelled();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ZoomCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a press like any other.
    mousePressEvent(event);
}

void ZoomCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        leftHeld_ = false;
        emit leftReleased(event->position().toPoint());
    }
}

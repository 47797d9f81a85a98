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
    setMouseTracking(true);  // the status bar names the tile under the pointer
}

void ZoomCanvas::showImage(const QImage* image, int zoom)
{
    image_ = image;
    zoom_ = zoom;
    update();
}

void ZoomCanvas::setDragMarks(const QRect& pressed, const QRect& target, bool refused)
{
    if (pressed == pressedMark_ && target == targetMark_ && refused == refused_)
        return;
    // Only the bands of the old and the new marks need painting again, and the washed target of
    // a swap (one tile) whole.
    QRegion dirty = markArea(pressedMark_) + markArea(pressed);
    dirty += pressedMark_.isEmpty() ? markArea(targetMark_) : QRegion(onCanvas(targetMark_));
    dirty += pressed.isEmpty() ? markArea(target) : QRegion(onCanvas(target));
    pressedMark_ = pressed;
    targetMark_ = target;
    refused_ = refused;
    update(dirty);
}

void ZoomCanvas::setSelectionFrame(const QRect& selection)
{
    if (selection == selectionMark_)
        return;
    update(markArea(selectionMark_) + markArea(selection));
    selectionMark_ = selection;
}

QRect ZoomCanvas::onCanvas(const QRect& imageRect) const
{
    return QRect(imageRect.topLeft() * zoom_, imageRect.size() * zoom_);
}

QRegion ZoomCanvas::markArea(const QRect& imageRect) const
{
    if (imageRect.isEmpty())
        return {};
    const QRect outer = onCanvas(imageRect);
    const QRect inner = outer.adjusted(kMarkBand, kMarkBand, -kMarkBand, -kMarkBand);
    if (inner.isEmpty())
        return outer;
    // Four strips; a region built by subtraction would cost as much as the rectangle it leaves.
    return QRegion(QRect(outer.left(), outer.top(), outer.width(), kMarkBand)) +
           QRect(outer.left(), inner.bottom() + 1, outer.width(), kMarkBand) +
           QRect(outer.left(), inner.top(), kMarkBand, inner.height()) +
           QRect(inner.right() + 1, inner.top(), kMarkBand, inner.height());
}

void ZoomCanvas::paintMarks(QPainter& painter)
{
    // Frames lie just inside their rectangle, within the band, so that a mark never covers a
    // neighbour and only its band is repainted.
    const auto frame = [this](const QRect& mark) {
        return QRectF(QPointF(mark.topLeft() * zoom_), QSizeF(mark.size() * zoom_)).adjusted(1, 1, -1, -1);
    };
    const auto dashed = [&painter](const QRectF& rect, const QColor& under, const QColor& over) {
        painter.setPen(QPen(under, 2));
        painter.drawRect(rect);
        painter.setPen(QPen(over, 2, Qt::DashLine));
        painter.drawRect(rect);
    };
    if (!selectionMark_.isEmpty())
        dashed(frame(selectionMark_), QColor(0, 90, 200), Qt::white);
    if (!targetMark_.isEmpty()) {
        // Where the tiles would go: a solid white frame (over a light wash for a swap's one
        // tile); red dashes where they cannot go.
        if (!pressedMark_.isEmpty())
            painter.fillRect(frame(targetMark_).adjusted(-1, -1, 1, 1), QColor(255, 255, 255, 70));
        if (refused_) {
            dashed(frame(targetMark_), Qt::white, QColor(220, 0, 0));
        } else {
            painter.setPen(QPen(Qt::black, 1));
            painter.drawRect(frame(targetMark_).adjusted(1.5, 1.5, -1.5, -1.5));
            painter.setPen(QPen(Qt::white, 2));
            painter.drawRect(frame(targetMark_));
        }
    }
    if (!pressedMark_.isEmpty())
        dashed(frame(pressedMark_), Qt::black, Qt::white);
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
    if (image_ && (!pressedMark_.isEmpty() || !targetMark_.isEmpty() || !selectionMark_.isEmpty())) {
        painter.setClipRegion(event->region());
        paintMarks(painter);
    }
}

void ZoomCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        leftHeld_ = true;
        emit leftPressed(event->position().toPoint(), event->modifiers());
    }
}

void ZoomCanvas::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    emit pointerMoved(position);
    if (leftHeld_ && (event->buttons() & Qt::LeftButton))
        emit dragMoved(position);
}

void ZoomCanvas::leaveEvent(QEvent* event)
{
    emit pointerLeft();
    QWidget::leaveEvent(event);
}

void ZoomCanvas::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (leftHeld_ && key == Qt::Key_Escape)
        emit dragCancelled();  // and the selection goes too, as after any Escape
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    if (arrow || key == Qt::Key_Escape || (key == Qt::Key_A && event->modifiers() == Qt::ControlModifier)) {
        emit keyPressed(key, event->modifiers() & ~Qt::KeypadModifier);
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

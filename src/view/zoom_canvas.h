#pragma once

#include <QImage>
#include <QWidget>

// The drawing canvas: shows an image enlarged by an integer zoom, painting only what is exposed.
// It paints straight from the image it was given rather than from a copy: a copy, even a shallow
// one, would make every in-place change of a huge sheet (a tile swap) duplicate all its pixels, and
// would keep a replaced sheet alive until the next redraw. Every change of the image is followed
// by a redraw, so what is painted is always what the last redraw showed.
class ZoomCanvas : public QWidget {
    Q_OBJECT
public:
    ZoomCanvas(QRgb fill, QWidget* parent = nullptr);

    // Shows image at zoom from now on and schedules a repaint. image must outlive the canvas or
    // the next call.
    void showImage(const QImage* image, int zoom);

    // Drag feedback, in image pixels: pressed is outlined, target is marked as where it would go,
    // or as refused. An empty rectangle shows nothing. Drawn over the picture only, never into the
    // image.
    void setDragMarks(const QRect& pressed, const QRect& target, bool refused = false);
    // The frame around the selected tiles, in image pixels; empty for none.
    void setSelectionFrame(const QRect& selection);

    // How far into its rectangle a mark reaches, in canvas pixels: only that band is ever
    // repainted when a mark comes or goes.
    static constexpr int kMarkBand = 3;

signals:
    // Positions are in canvas pixels.
    void leftPressed(QPoint position, Qt::KeyboardModifiers modifiers);
    void leftReleased(QPoint position);
    // While the left button is held: the pointer moved, or Escape was pressed.
    void dragMoved(QPoint position);
    void dragCancelled();
    // The pointer moved over the canvas, button held or not; left it.
    void pointerMoved(QPoint position);
    void pointerLeft();
    // Arrow keys, Escape (while no drag is pending) and Ctrl+A.
    void keyPressed(int key, Qt::KeyboardModifiers modifiers);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // A mark in canvas pixels.
    QRect onCanvas(const QRect& imageRect) const;
    // The canvas pixels a mark paints: the band inside its rectangle.
    QRegion markArea(const QRect& imageRect) const;
    void paintMarks(QPainter& painter);

    QColor fill_;
    const QImage* image_ = nullptr;
    int zoom_ = 1;
    QImage buffer_;  // reused between paints
    QRect pressedMark_;
    QRect targetMark_;
    bool refused_ = false;
    QRect selectionMark_;
    bool leftHeld_ = false;
};

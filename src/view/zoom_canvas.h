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

signals:
    // Positions are in canvas pixels.
    void leftPressed(QPoint position);
    void leftReleased(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor fill_;
    const QImage* image_ = nullptr;
    int zoom_ = 1;
    QImage buffer_;  // reused between paints
};

#pragma once

#include <QImage>
#include <QWidget>

// The drawing canvas: shows an image enlarged by an integer zoom, painting only what is exposed.
// It keeps a shallow copy of what it last showed (Qt shares the pixels until the image changes),
// so a repaint between two redraws shows what the last redraw showed.
class ZoomCanvas : public QWidget {
    Q_OBJECT
public:
    ZoomCanvas(QRgb fill, QWidget* parent = nullptr);

    // Shows image at zoom from now on and schedules a repaint.
    void showImage(const QImage& image, int zoom);

    const QImage& shownImage() const { return image_; }
    int shownZoom() const { return zoom_; }

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
    QImage image_;
    int zoom_ = 1;
    QImage buffer_;  // reused between paints
};

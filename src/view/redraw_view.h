#pragma once

#include <QImage>

class QWidget;
class ZoomCanvas;

inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 10;

// Clamps zoom to 1..10, then (with an image) sizes the scroll area's inner widget to the zoomed
// image, setting width and height only when they differ, puts the canvas at (0, 0) with that size
// and has it show the image, which must stay alive (it is the working image). Without an image
// only the clamp happens.
void redrawView(int& zoom, const QImage& workingImage, QWidget& inner, ZoomCanvas& canvas);

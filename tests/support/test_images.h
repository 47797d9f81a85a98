#pragma once

#include <QImage>
#include <QRgb>

// Small images with a distinct colour per pixel, so that a shifted or swapped pixel is caught.

// The colour test images give pixel (x, y); distinct for x, y < 4096.
QRgb pixelColour(int x, int y);

// The alpha of pixel (x, y) in a test image with alpha: every value from 0 to 255 occurs.
int pixelAlpha(int x, int y);
// The alpha that test images give the pixel of colour rgb (its alpha ignored).
int pixelAlphaOf(QRgb rgb);

// A width x height image in format whose pixel (x, y) is pixelColour(x, y); in Format_ARGB32 with
// straight alpha pixelAlpha(x, y).
QImage makeTestImage(int width, int height, QImage::Format format = QImage::Format_BGR888);

// The colour of a pixel as opaque RGB, whatever the image's format.
QRgb rgbAt(const QImage& image, int x, int y);

// True when the two images have the same size and the same RGB in every pixel (depth may differ).
bool sameRgb(const QImage& a, const QImage& b);

// True when the w x h block at (ax, ay) of a equals the block at (bx, by) of b in RGB.
bool sameBlock(const QImage& a, int ax, int ay, const QImage& b, int bx, int by, int w, int h);

// A square tile shown as a level cell's flip bits say (H 4, V 2, D 1): mirrored across its
// top-left diagonal first, then left to right, then top to bottom. Done with whole-image mirrors,
// apart from the program's own symmetry arithmetic.
QImage turnedTile(const QImage& tile, unsigned bits);

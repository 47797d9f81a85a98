#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>

// Largest width or height of a sheet we accept: sizes must fit a signed 16-bit value.
inline constexpr int kMaxImageSide = 32767;

// Copies a size.width() x size.height() block of src at srcPos to dst at dstPos, row by row with
// memcpy. Both images must have the same format, and both rectangles must lie wholly inside their
// images; callers guarantee it, so this never clips.
void copyBlock(const QImage& src, QPoint srcPos, QImage& dst, QPoint dstPos, QSize size);

// Exchanges two equally sized, non-overlapping blocks of one image in place.
void swapBlocks(QImage& image, QPoint a, QPoint b, QSize size);

// True when two equally sized blocks of one image hold the same bytes.
bool sameBlocks(const QImage& image, QPoint a, QPoint b, QSize size);

// A new image of the given size and format whose pixels are not yet written, for callers that write
// every pixel themselves. Returns a null image when the memory cannot be had.
QImage createUninitialized(int width, int height, QImage::Format format);


// argb (straight alpha) laid over black as 24-bit B,G,R, as overBlack24 gives it. When argb was
// made by createUninitialized and nothing else shares it, that is done in its own memory, which
// then shrinks: a large sheet never needs a second copy of its pixels.
QImage overBlack24InPlace(QImage argb);

#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include "document/png_form.h"

class QIODevice;
struct PngReadState;

// Reads a PNG file into 24-bit B,G,R rows (QImage::Format_BGR888), transparency (alpha or tRNS)
// laid over black as channel * alpha / 255 rounded, or into B,G,R,A rows with straight alpha
// (QImage::Format_ARGB32): every colour type, bit depth and interlacing, 16-bit channels rounded
// to 8. libpng reads the header and writes the rows of most layouts
// straight into the image; 8-bit RGB and RGBA without interlacing, as nearly every sheet is, are
// inflated by libdeflate instead, far faster, through one copy of the filtered rows, and on all
// cores when the stream comes in pieces that stand alone, as this program writes it. In two
// steps, so the caller can check the size from the header before any pixel memory is taken. Any
// error, a cut-off or damaged file included, fails the step with its reason in error().
// Bytes of filtered rows a PNG's image data inflates to: each row of each pass (all seven when
// interlaced) with its filter byte.
qint64 pngInflatedSize(quint32 width, quint32 height, int bitsPerPixel, bool interlaced);

class PngReader {
public:
    // device must be open and positioned at the file's start.
    explicit PngReader(QIODevice& device);
    ~PngReader();
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    // Reads up to the first image data; size() is valid afterwards.
    bool readHeader();
    QSize size() const { return size_; }
    // Bytes the image data inflates to, known from the header: how much any memory taken for the
    // pixels may be checked against.
    qint64 inflatedSize() const;

    // Whether the file has transparency: an alpha channel or a tRNS chunk. Valid after readHeader.
    bool hasAlpha() const;
    // The colour type, bit depth and palette the file stores. Valid after readHeader.
    StoredForm storedForm() const;

    // Decodes every row into image, an image of size(): Format_BGR888, or Format_ARGB32 when the
    // file hasAlpha(); then reads the rest of the file up to its end chunk.
    bool readPixels(QImage& image);
    // Whether some pixel read by readPixels was not opaque.
    bool transparent() const;

    QString error() const;

private:
    bool inflatePlain(QImage& image);

    PngReadState* state_;
    QSize size_;
};

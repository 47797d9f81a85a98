#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QIODevice;
struct PngReadState;

// Reads a PNG file through libpng straight into 24-bit B,G,R rows (QImage::Format_BGR888): every
// colour type, bit depth and interlacing, 16-bit channels rounded to 8, transparency (alpha or
// tRNS) laid over black as channel * alpha / 255 rounded. In two steps, so the caller can check
// the size from the header before any pixel memory is taken. Any libpng error, a cut-off file
// included, fails the step with libpng's own words in error().
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

    // Decodes every row into image, which must be a Format_BGR888 image of size(), then reads the
    // rest of the file up to its end chunk.
    bool readPixels(QImage& image);

    QString error() const;

private:
    PngReadState* state_;
    QSize size_;
};

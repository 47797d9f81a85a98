#pragma once

#include <QImage>
#include <QString>

#include "document/png_form.h"

// What becomes of pixels that are not opaque.
enum class Transparency {
    OverBlack,  // laid over black: every sheet is opaque 24-bit
    Keep,       // a file with such pixels gives a sheet with straight alpha
};

struct DecodeResult {
    // On success 24-bit (QImage::Format_BGR888), or with Transparency::Keep and transparent
    // pixels Format_ARGB32 with straight alpha; null on failure.
    QImage image;
    QString error;             // the reason in plain words, naming the file
    bool transparent = false;  // the file has pixels that are not opaque
    // How a PNG or GIF stores its pixels (a GIF as a palette); unknown for other formats.
    StoredForm stored{};
    bool ok() const { return !image.isNull(); }
};

// Decodes a BMP, JPEG, PNG or GIF file (format taken from the content) into an image of the
// file's exact size and colours; transparency as asked. Sizes above kMaxImageSide are refused from
// the header, before any pixel memory is allocated.
DecodeResult loadImageFile(const QString& path, Transparency transparency = Transparency::OverBlack);

// The picture's size as the file's header states it, read without decoding a pixel; an invalid
// size when the file is no BMP, JPEG, PNG or GIF image or its header cannot be read. The pixels
// may still turn out to be damaged.
QSize imageFileSize(const QString& path);

// The same for bytes already in memory; fileName only names the file in messages.
DecodeResult decodeImageData(const QByteArray& data, const QString& fileName,
                             Transparency transparency = Transparency::OverBlack);

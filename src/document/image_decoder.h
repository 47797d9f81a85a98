#pragma once

#include <QImage>
#include <QString>

struct DecodeResult {
    QImage image;   // 24-bit (QImage::Format_BGR888) on success, null on failure
    QString error;  // the reason in plain words, naming the file
    bool ok() const { return !image.isNull(); }
};

// Decodes a BMP, JPEG, PNG or GIF file (format taken from the content) into a 24-bit image of the
// file's exact size and colours. Transparent pixels are composed over black. Sizes above
// kMaxImageSide are refused from the header, before any pixel memory is allocated.
DecodeResult loadImageFile(const QString& path);

// The same for bytes already in memory; fileName only names the file in messages.
DecodeResult decodeImageData(const QByteArray& data, const QString& fileName);

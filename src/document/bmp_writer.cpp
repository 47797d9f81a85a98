#include "document/bmp_writer.h"

#include <QIODevice>
#include <QtEndian>
#include <cstring>

#include "document/png_writer.h"
#include "image/pixel_format.h"

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoBytes = 40;
constexpr int kInfoV5Bytes = 124;
// Rows are gathered into chunks of about this size, so a big sheet costs few device writes.
constexpr qsizetype kChunkBytes = 1 << 20;

qsizetype rowSize(int width, int bitsPerPixel)
{
    return (qsizetype(width) * (bitsPerPixel / 8) + 3) / 4 * 4;
}

void put16(char* at, quint16 value)
{
    qToLittleEndian(value, at);
}

void put32(char* at, quint32 value)
{
    qToLittleEndian(value, at);
}

}  // namespace

QByteArray bmpHeader(int width, int height, int bitsPerPixel, bool alpha)
{
    const int headerBytes = kFileHeaderBytes + (alpha ? kInfoV5Bytes : kInfoBytes);
    const quint32 imageBytes = quint32(rowSize(width, bitsPerPixel) * height);
    QByteArray header(headerBytes, '\0');
    char* h = header.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, quint32(headerBytes) + imageBytes);  // file size
    put32(h + 10, quint32(headerBytes));              // offset of the pixel rows
    put32(h + 14, quint32(headerBytes - kFileHeaderBytes));  // size of the information header
    put32(h + 18, quint32(width));
    put32(h + 22, quint32(height));  // positive: bottom row first
    put16(h + 26, 1);                // planes
    put16(h + 28, quint16(bitsPerPixel));
    put32(h + 34, imageBytes);
    // Compression, resolutions and colour counts stay 0 without alpha.
    if (alpha) {
        put32(h + 30, 3);            // the pixels are laid out as the masks say
        put32(h + 54, 0x00ff0000u);  // red, green, blue and alpha masks: B,G,R,A bytes
        put32(h + 58, 0x0000ff00u);
        put32(h + 62, 0x000000ffu);
        put32(h + 66, 0xff000000u);
        put32(h + 70, 0x73524742u);  // colour space "sRGB"; its end points stay 0
        put32(h + 122, 4);           // rendering intent: pictures
    }
    return header;
}

bool writeBmp(const QImage& image, QIODevice& device, QString& error,
              const std::function<bool(qint64 done, qint64 total)>& progress)
{
    const QImage pixels = inSheetLayout(image);
    if (pixels.isNull()) {
        error = QStringLiteral("not enough memory to prepare the image");
        return false;
    }
    const int bits = pixels.depth() == 32 ? 32 : 24;
    const int width = pixels.width();
    const qsizetype stride = rowSize(width, bits);
    const qsizetype pixelBytes = qsizetype(width) * (bits / 8);

    const Alpha alpha = keepsAlpha(pixels) ? Alpha::Keep : Alpha::Opaque;
    QByteArray chunk = bmpHeader(width, pixels.height(), bits, alpha == Alpha::Keep);
    chunk.reserve(kChunkBytes + stride);
    auto flush = [&](int rowsLeft) {
        if (device.write(chunk) != chunk.size()) {
            error = device.errorString();
            return false;
        }
        chunk.resize(0);
        if (progress && !progress(pixels.height() - rowsLeft, pixels.height())) {
            error = QString::fromLatin1(kSaveCancelled);
            return false;
        }
        return true;
    };

    for (int y = pixels.height() - 1; y >= 0; --y) {
        const qsizetype at = chunk.size();
        chunk.resize(at + stride);
        char* row = chunk.data() + at;
        if (bits == 32)
            copyRow32(pixels.constScanLine(y), reinterpret_cast<uchar*>(row), width, alpha);
        else
            std::memcpy(row, pixels.constScanLine(y), size_t(pixelBytes));
        std::memset(row + pixelBytes, 0, size_t(stride - pixelBytes));
        if (chunk.size() >= kChunkBytes && !flush(y))
            return false;
    }
    return chunk.isEmpty() || flush(0);
}

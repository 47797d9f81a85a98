#include "document/bmp_writer.h"

#include <QIODevice>
#include <QtEndian>
#include <cstring>

#include "document/png_writer.h"
#include "document/writer_pixels.h"

namespace {

constexpr int kHeaderBytes = 54;
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

QByteArray bmpHeader(int width, int height, int bitsPerPixel)
{
    const quint32 imageBytes = quint32(rowSize(width, bitsPerPixel) * height);
    QByteArray header(kHeaderBytes, '\0');
    char* h = header.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, kHeaderBytes + imageBytes);  // file size
    put32(h + 10, kHeaderBytes);              // offset of the pixel rows
    put32(h + 14, 40);                        // size of the information header
    put32(h + 18, quint32(width));
    put32(h + 22, quint32(height));  // positive: bottom row first
    put16(h + 26, 1);                // planes
    put16(h + 28, quint16(bitsPerPixel));
    put32(h + 34, imageBytes);
    // Compression, resolutions and colour counts stay 0.
    return header;
}

bool writeBmp(const QImage& image, QIODevice& device, QString& error,
              const std::function<bool(qint64 done, qint64 total)>& progress)
{
    const QImage pixels = inWriterLayout(image);
    if (pixels.isNull()) {
        error = QStringLiteral("not enough memory to prepare the image");
        return false;
    }
    const int bits = pixels.depth() == 32 ? 32 : 24;
    const int width = pixels.width();
    const qsizetype stride = rowSize(width, bits);
    const qsizetype pixelBytes = qsizetype(width) * (bits / 8);

    QByteArray chunk = bmpHeader(width, pixels.height(), bits);
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
            copyOpaqueRow(pixels.constScanLine(y), reinterpret_cast<uchar*>(row), width);
        else
            std::memcpy(row, pixels.constScanLine(y), size_t(pixelBytes));
        std::memset(row + pixelBytes, 0, size_t(stride - pixelBytes));
        if (chunk.size() >= kChunkBytes && !flush(y))
            return false;
    }
    return chunk.isEmpty() || flush(0);
}

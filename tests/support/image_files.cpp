#include "support/image_files.h"

#include <zlib.h>

#include <QDir>
#include <QFile>
#include <QtEndian>

#include "support/test_images.h"

QByteArray readFileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFileBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot,
                                  QDir::Name);
}

namespace {
void put16(QByteArray& out, int value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

void put32be(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

// Packs variable-width codes least significant bit first, as GIF's LZW stream wants.
struct CodeWriter {
    QByteArray bytes;
    quint32 pending = 0;
    int pendingBits = 0;
    void put(int code, int width)
    {
        pending |= quint32(code) << pendingBits;
        pendingBits += width;
        while (pendingBits >= 8) {
            bytes.append(char(pending & 0xff));
            pending >>= 8;
            pendingBits -= 8;
        }
    }
    void finish()
    {
        if (pendingBits > 0)
            bytes.append(char(pending & 0xff));
    }
};
}  // namespace

QByteArray makeGif(const QImage& image, int transparentIndex)
{
    QList<QRgb> palette;
    std::vector<int> indices;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = rgbAt(image, x, y);
            qsizetype index = palette.indexOf(colour);
            if (index < 0) {
                index = palette.size();
                palette.append(colour);
            }
            indices.push_back(int(index));
        }
    int tableBits = 1;
    while ((1 << tableBits) < palette.size())
        ++tableBits;

    QByteArray out("GIF89a");
    put16(out, image.width());
    put16(out, image.height());
    out.append(char(0x80 | ((tableBits - 1) << 4) | (tableBits - 1)));  // global colour table
    out.append('\0');                                                   // background colour
    out.append('\0');                                                   // aspect ratio
    for (int i = 0; i < (1 << tableBits); ++i) {
        const QRgb colour = i < palette.size() ? palette[i] : 0;
        out.append(char(qRed(colour)));
        out.append(char(qGreen(colour)));
        out.append(char(qBlue(colour)));
    }
    if (transparentIndex >= 0)
        out.append(QByteArray("\x21\xf9\x04\x01\x00\x00", 6))
            .append(char(transparentIndex))
            .append('\0');
    out.append(',');
    put16(out, 0);
    put16(out, 0);
    put16(out, image.width());
    put16(out, image.height());
    out.append('\0');

    // Uncompressed LZW: a clear code before every few pixels keeps the dictionary from growing,
    // so every code keeps the starting width.
    const int minCodeSize = std::max(2, tableBits);
    const int clear = 1 << minCodeSize;
    const int width = minCodeSize + 1;
    const size_t run = size_t(std::max(1, clear - 3));
    CodeWriter codes;
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i % run == 0)
            codes.put(clear, width);
        codes.put(indices[i], width);
    }
    codes.put(clear + 1, width);  // end of information
    codes.finish();

    out.append(char(minCodeSize));
    for (qsizetype at = 0; at < codes.bytes.size(); at += 255) {
        const QByteArray block = codes.bytes.mid(at, 255);
        out.append(char(block.size())).append(block);
    }
    out.append('\0');
    out.append(';');
    return out;
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray out;
    put32be(out, quint32(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    out.append(typed);
    put32be(out, quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()),
                               uInt(typed.size()))));
    return out;
}

std::vector<PngChunk> pngChunks(const QByteArray& file)
{
    if (!file.startsWith(kPngSignature))
        return {};
    std::vector<PngChunk> chunks;
    qsizetype at = kPngSignature.size();
    while (at < file.size()) {
        if (file.size() - at < 12)
            return {};
        const quint32 length = qFromBigEndian<quint32>(file.constData() + at);
        if (qsizetype(length) > file.size() - at - 12)
            return {};
        const QByteArray typed = file.mid(at + 4, 4 + qsizetype(length));
        const quint32 crc = qFromBigEndian<quint32>(file.constData() + at + 8 + length);
        chunks.push_back({typed.left(4), typed.mid(4),
                          crc == crc32(0, reinterpret_cast<const Bytef*>(typed.constData()),
                                       uInt(typed.size()))});
        at += 12 + qsizetype(length);
    }
    return chunks;
}

QByteArray inflateZlib(const QByteArray& data)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray out;
    char buffer[1 << 16];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

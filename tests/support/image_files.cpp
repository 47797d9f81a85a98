#include "support/image_files.h"

#include <png.h>
#include <zlib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <csetjmp>
#include <random>
#include <string>
#include <utility>

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
    return status == Z_STREAM_END && stream.avail_in == 0 ? out : QByteArray();
}

namespace {

void appendPngBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

// The libpng part, free of objects with destructors because of setjmp.
bool writeLayout(QByteArray* out, const PngLayout* layout, int width, int height, png_bytepp rows,
                 const png_color* palette, int paletteSize, const png_byte* alphas,
                 const png_color_16* transparent)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendPngBytes, nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), layout->bitDepth,
                 layout->colourType,
                 layout->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout->filters != 0)
        png_set_filter(png, 0, layout->filters);
    if (paletteSize > 0)
        png_set_PLTE(png, info, palette, paletteSize);
    if (layout->trns)
        png_set_tRNS(png, info, alphas, paletteSize, transparent);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

QByteArray makePng(int width, int height, const PngLayout& layout)
{
    std::mt19937 random(1234u + unsigned(layout.colourType * 100 + layout.bitDepth));
    const int channels = layout.colourType == 2 ? 3 : layout.colourType == 4 ? 2
                         : layout.colourType == 6 ? 4 : 1;
    const int maxValue = (1 << layout.bitDepth) - 1;
    const int paletteSize = layout.colourType == 3 ? 1 << layout.bitDepth : 0;
    std::vector<png_color> palette(static_cast<size_t>(paletteSize));
    std::vector<png_byte> alphas(static_cast<size_t>(paletteSize));
    for (int i = 0; i < paletteSize; ++i) {
        palette[size_t(i)] = {png_byte(random()), png_byte(random()), png_byte(random())};
        alphas[size_t(i)] = png_byte(i == 0 ? 0 : random());
    }
    const int transparentValue = int(random() % unsigned(maxValue + 1));
    const png_color_16 transparent{0, png_uint_16(transparentValue), png_uint_16(transparentValue),
                                   png_uint_16(transparentValue), png_uint_16(transparentValue)};

    // Samples packed as the file holds them: several to a byte below 8 bits, big-endian at 16.
    const size_t rowBytes = (size_t(width) * size_t(channels) * size_t(layout.bitDepth) + 7) / 8;
    std::vector<png_byte> pixels(rowBytes * size_t(height), 0);
    std::vector<png_bytep> rows;
    for (int y = 0; y < height; ++y) {
        png_bytep row = &pixels[size_t(y) * rowBytes];
        rows.push_back(row);
        for (int i = 0; i < width * channels; ++i) {
            int value = int(random() % unsigned(maxValue + 1));
            if (layout.trns && i < channels && y % 2 == 0)
                value = layout.colourType == 3 ? 0 : transparentValue;
            const int bit = i * layout.bitDepth;
            if (layout.bitDepth == 16) {
                row[2 * i] = png_byte(value >> 8);
                row[2 * i + 1] = png_byte(value);
            } else {
                row[bit / 8] |= png_byte(value << (8 - layout.bitDepth - bit % 8));
            }
        }
    }
    QByteArray out;
    return writeLayout(&out, &layout, width, height, rows.data(), palette.data(), paletteSize,
                       alphas.data(), &transparent)
               ? out
               : QByteArray();
}

std::vector<PngLayout> transparentPngLayouts()
{
    return {PngLayout{6, 8},       PngLayout{6, 16},      PngLayout{6, 8, false, true},
            PngLayout{4, 8},       PngLayout{4, 16},      PngLayout{3, 8, true},
            PngLayout{2, 8, true}, PngLayout{0, 8, true}};
}

void PrintTo(const PngLayout& layout, std::ostream* out)
{
    *out << "colour type " << layout.colourType << ", " << layout.bitDepth << " bits"
         << (layout.trns ? ", tRNS" : "") << (layout.interlaced ? ", interlaced" : "")
         << (layout.filters ? ", filters " + std::to_string(layout.filters) : "");
}

std::string pngLayoutName(const PngLayout& layout)
{
    static const char* const kinds[] = {"Grey", "", "Rgb", "Palette", "GreyAlpha", "", "Rgba"};
    std::string name = kinds[layout.colourType] + std::to_string(layout.bitDepth);
    if (layout.trns)
        name += "Trns";
    if (layout.interlaced)
        name += "Interlaced";
    for (const auto& [filter, filterName] :
         {std::pair{PNG_FILTER_NONE, "None"}, std::pair{PNG_FILTER_SUB, "Sub"},
          std::pair{PNG_FILTER_UP, "Up"}, std::pair{PNG_FILTER_AVG, "Avg"},
          std::pair{PNG_FILTER_PAETH, "Paeth"}})
        if (layout.filters & filter)
            name += std::string("Filter") + filterName;
    return name;
}

QByteArray imageMagickRgb(const QByteArray& file, const char* channels)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        return {};
    QProcess process;
    process.start(convert, {QStringLiteral("-"), QStringLiteral("-depth"), QStringLiteral("8"),
                            QLatin1StringView(channels) + QStringLiteral(":-")});
    process.write(file);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray("ImageMagick failed: ") + process.readAllStandardError();
    return process.readAllStandardOutput();
}

QByteArray rgbBytes(const QImage& image, const char* channels)
{
    const bool alpha = qstrcmp(channels, "rgba") == 0;
    const QImage rgb = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    QByteArray bytes;
    for (int y = 0; y < rgb.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(rgb.constScanLine(y)),
                     qsizetype(rgb.width()) * (alpha ? 4 : 3));
    return bytes;
}

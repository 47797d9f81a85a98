#include <gtest/gtest.h>

#include <zlib.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <QtEndian>
#include <thread>

#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/image_decoder.h"
#include "document/png_writer.h"
#include "support/image_files.h"
#include "support/test_images.h"

namespace {

struct PngCase {
    QImage::Format format;
    QSize size;
    PngWriteOptions options = {};
};

void PrintTo(const PngCase& c, std::ostream* out)
{
    *out << (c.format == QImage::Format_ARGB32  ? "32-bit with alpha "
             : c.format == QImage::Format_RGB32 ? "32-bit "
                                                : "24-bit ")
         << c.size.width() << "x"
         << c.size.height() << ", pieces of " << c.options.pieceBytes << " bytes on "
         << c.options.threads << " threads";
}

PngWriteOptions pieces(qint64 bytes, int threads)
{
    PngWriteOptions options;
    options.pieceBytes = bytes;
    options.threads = threads;
    return options;
}

class PngWriterTest : public testing::TestWithParam<PngCase> {};

// Every row becomes its own piece or shares one with a few others, so joins fall everywhere.
TEST_P(PngWriterTest, WritesOnlyIhdrIdatIendWithUnfilteredRowsInOneZlibStream)
{
    const auto& [format, size, options] = GetParam();
    const bool alpha = format != QImage::Format_BGR888;
    const bool keepsAlpha = format == QImage::Format_ARGB32;
    const QImage image = makeTestImage(size.width(), size.height(), format);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(writePng(image, buffer, error, options)) << error.toStdString();

    const std::vector<PngChunk> chunks = pngChunks(buffer.data());
    ASSERT_GE(chunks.size(), 3u);
    QByteArray idat;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const QByteArray expected = i == 0 ? "IHDR" : i + 1 == chunks.size() ? "IEND" : "IDAT";
        EXPECT_EQ(chunks[i].type, expected) << "chunk " << i;
        EXPECT_TRUE(chunks[i].crcOk) << "chunk " << i;
        if (chunks[i].type == "IDAT")
            idat += chunks[i].data;
    }

    const QByteArray& ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13);
    EXPECT_EQ(qFromBigEndian<quint32>(ihdr.constData()), quint32(size.width()));
    EXPECT_EQ(qFromBigEndian<quint32>(ihdr.constData() + 4), quint32(size.height()));
    EXPECT_EQ(ihdr.mid(8), QByteArray::fromHex(alpha ? "0806000000" : "0802000000"));

    // The zlib header's level field says "maximum compression".
    ASSERT_GE(idat.size(), 2);
    EXPECT_EQ(quint8(idat[1]) >> 6, 3);

    const int channels = alpha ? 4 : 3;
    const qsizetype rowBytes = 1 + qsizetype(size.width()) * channels;
    const QByteArray raw = inflateZlib(idat);
    ASSERT_EQ(raw.size(), rowBytes * size.height());
    EXPECT_EQ(qFromBigEndian<quint32>(idat.constData() + idat.size() - 4),
              adler32(1, reinterpret_cast<const Bytef*>(raw.constData()), uInt(raw.size())));
    for (int y = 0; y < size.height(); ++y) {
        const char* row = raw.constData() + y * rowBytes;
        EXPECT_EQ(row[0], 0) << "filter of row " << y;
        for (int x = 0; x < size.width(); ++x) {
            const auto* p = reinterpret_cast<const uchar*>(row + 1 + x * channels);
            const QRgb want = pixelColour(x, y);
            ASSERT_EQ(qRgb(p[0], p[1], p[2]), want) << x << "," << y;
            if (alpha) {
                ASSERT_EQ(p[3], keepsAlpha ? pixelAlpha(x, y) : 255) << x << "," << y;
            }
        }
    }

    // libpng (through our reader), Qt and ImageMagick read the same pixels back, alpha and all.
    const DecodeResult back =
        decodeImageData(buffer.data(), QStringLiteral("back.png"), Transparency::Keep);
    ASSERT_TRUE(back.ok()) << back.error.toStdString();
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(back.image.convertToFormat(QImage::Format_ARGB32), argb);
    EXPECT_EQ(QImage::fromData(buffer.data(), "PNG").convertToFormat(QImage::Format_ARGB32), argb);
    const char* magickChannels = keepsAlpha ? "rgba" : "rgb";
    const QByteArray magick = imageMagickRgb(buffer.data(), magickChannels);
    EXPECT_TRUE(magick.isNull() || magick == rgbBytes(image, magickChannels))
        << magick.left(200).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PngWriterTest,
    testing::Values(PngCase{QImage::Format_BGR888, QSize(1, 1)},
                    PngCase{QImage::Format_RGB32, QSize(1, 1)},
                    PngCase{QImage::Format_BGR888, QSize(5, 3)},
                    PngCase{QImage::Format_RGB32, QSize(5, 3)},
                    PngCase{QImage::Format_BGR888, QSize(513, 10)},
                    PngCase{QImage::Format_RGB32, QSize(513, 10)},
                    PngCase{QImage::Format_BGR888, QSize(37, 29), pieces(1, 3)},
                    PngCase{QImage::Format_RGB32, QSize(37, 29), pieces(400, 2)},
                    PngCase{QImage::Format_BGR888, QSize(1001, 40), pieces(9000, 0)},
                    PngCase{QImage::Format_RGB32, QSize(3, 50), pieces(1, 1)},
                    PngCase{QImage::Format_ARGB32, QSize(1, 1)},
                    PngCase{QImage::Format_ARGB32, QSize(513, 10)},
                    PngCase{QImage::Format_ARGB32, QSize(37, 29), pieces(400, 2)}),
    [](const testing::TestParamInfo<PngCase>& info) {
        const PngCase& c = info.param;
        std::string name = c.format == QImage::Format_ARGB32  ? "Alpha32"
                           : c.format == QImage::Format_RGB32 ? "Rgb32"
                                                              : "Rgb24";
        name += "_" + std::to_string(c.size.width()) + "x" + std::to_string(c.size.height());
        if (c.options.pieceBytes != PngWriteOptions().pieceBytes)
            name += "_Pieces" + std::to_string(c.options.pieceBytes) + "On" +
                    std::to_string(c.options.threads);
        return name;
    });

// Every compression keeps the pixels and alpha exactly, as libpng (in Qt's reader and ours) and
// ImageMagick read them; on a sheet of repeated tiles the stronger ones are no larger.
// A sheet in pieces of a few rows, every row the row above plus (or minus) one and each pixel
// half the one on its left, has the filters guess a piece's first row from the real row above it.
TEST(PngWriter, EveryCompressionKeepsThePixelsAndTheStrongerOnesAreNoLarger)
{
    const QImage tiles = makeTestImage(128, 16, QImage::Format_ARGB32);
    QImage drawn(512, 192, QImage::Format_ARGB32);
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            // Repeated tiles above, a noisy gradient below that the Paeth filter has to guess.
            drawn.setPixel(x, y,
                           y < 96 ? tiles.pixel((x / 16 * 5 + y / 16 * 3) % 8 * 16 + x % 16, y % 16)
                                  : qRgba(x + x * y % 7, y + (x ^ y) % 5, x + y, 255 - (x + y) / 4));
    // A sheet of 16 colours, and one of four greys, that a palette or 2-bit grey says smaller:
    // small tries a palette, smallest grey and lower depths too.
    QImage few(256, 96, QImage::Format_BGR888), grey(256, 96, QImage::Format_BGR888);
    for (int y = 0; y < few.height(); ++y)
        for (int x = 0; x < few.width(); ++x) {
            few.setPixel(x, y, qRgb((x / 8 + y / 16) % 4 * 80, (x / 16 + y / 8) % 4 * 60, 7));
            const int level = (x / 8 + y / 8 + x * y % 3) % 4 * 85;
            grey.setPixel(x, y, qRgb(level, level, level));
        }
    // Not grey and of more than 256 colours, so that it stays RGB(A) whatever the compression.
    QImage steps(8, 200, QImage::Format_ARGB32);
    for (int y = 0; y < steps.height(); ++y)
        for (int x = 0; x < steps.width(); ++x) {
            const int up = (55 + y) >> x, down = (255 - y) >> x;
            steps.setPixel(x, y, qRgba(up, down, up, up));
        }
    struct Kind {
        QImage sheet;
        std::vector<int> types[3];  // the colour types each compression may write
        qint64 pieceBytes = 20000;
    };
    for (const Kind& kind :
         {Kind{drawn.convertToFormat(QImage::Format_BGR888), {{2}, {2}, {2}}},
          Kind{drawn, {{6}, {6}, {6}}}, Kind{few, {{2}, {3}, {3}}},
          Kind{grey, {{2}, {3}, {0, 3}}},
          Kind{steps.convertToFormat(QImage::Format_BGR888), {{2}, {2}, {2}}, 125},
          Kind{steps, {{6}, {6}, {6}}, 125}}) {
        const QImage& sheet = kind.sheet;
        const QImage::Format format = sheet.format();
        const bool reduced = kind.types[1] != kind.types[0];
        std::vector<qsizetype> sizes;
        for (const PngCompression compression :
             {PngCompression::Fast, PngCompression::Small, PngCompression::Smallest}) {
            PngWriteOptions options = pieces(kind.pieceBytes, 2);
            options.compression = compression;
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            QString error;
            ASSERT_TRUE(writePng(sheet, buffer, error, options)) << error.toStdString();
            const QByteArray& file = buffer.data();
            sizes.push_back(file.size());
            const std::vector<int>& types = kind.types[sizes.size() - 1];
            EXPECT_NE(std::find(types.begin(), types.end(), int(file[25])), types.end())
                << int(file[25]);
            const QImage argb = sheet.convertToFormat(QImage::Format_ARGB32);
            EXPECT_EQ(decodeImageData(file, "a.png", Transparency::Keep)
                          .image.convertToFormat(QImage::Format_ARGB32), argb);
            EXPECT_EQ(QImage::fromData(file, "PNG").convertToFormat(QImage::Format_ARGB32), argb);
            const char* channels = format == QImage::Format_ARGB32 ? "rgba" : "rgb";
            const QByteArray magick = imageMagickRgb(file, channels);
            EXPECT_TRUE(magick.isNull() || magick == rgbBytes(sheet, channels));
            // One zlib stream; only smallest filters rows, as these gradients reward.
            QByteArray idat;
            for (const PngChunk& chunk : pngChunks(file))
                idat += chunk.type == "IDAT" ? chunk.data : QByteArray();
            const QByteArray raw = inflateZlib(idat);
            ASSERT_EQ(raw.size() % sheet.height(), 0);
            bool filtered = false;
            for (qsizetype at = 0; at < raw.size(); at += raw.size() / sheet.height())
                filtered = filtered || raw[at] != 0;
            EXPECT_TRUE(reduced || filtered == (compression == PngCompression::Smallest));
        }
        EXPECT_LE(sizes[2], sizes[1]);
        EXPECT_LE(sizes[1], sizes[0]);
    }
}

// Cancelling keeps the file there was; progress comes on the saving thread, row counts rising.
TEST(PngWriter, ReportsProgressAndCancelKeepsTheExistingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sheet.png"));
    writeFileBytes(path, "old");
    const QImage image = makeTestImage(64, 40, QImage::Format_RGB32);
    for (const int stopAfter : {3, 0}) {
        PngWriteOptions options = pieces(1, 2);
        std::vector<qint64> seen;
        const std::thread::id saver = std::this_thread::get_id();
        options.progress = [&](qint64 done, qint64 total) {
            EXPECT_EQ(std::this_thread::get_id(), saver);
            EXPECT_EQ(total, 40);
            seen.push_back(done);
            return stopAfter == 0 || int(seen.size()) < stopAfter;
        };
        const QString error = writeFileAtomically(path, [&](QIODevice& device, QString& reason) {
            return writePng(image, device, reason, options);
        });
        EXPECT_EQ(folderEntries(dir.path()), QStringList{QStringLiteral("sheet.png")});
        if (stopAfter > 0) {
            EXPECT_TRUE(error.contains(QStringLiteral("the save was cancelled")))
                << error.toStdString();
            EXPECT_EQ(seen, (std::vector<qint64>{1, 2, 3}));
            EXPECT_EQ(readFileBytes(path), "old");
        } else {
            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
            ASSERT_EQ(seen.size(), 40u);
            EXPECT_EQ(seen.back(), 40);
            EXPECT_TRUE(sameRgb(decodeImageData(readFileBytes(path), path).image, image));
        }
    }
}

struct BmpRow {
    int width;
    int height;
    int bits;
    int rowSize;  // as the file layout gives it: bytes per row padded to a multiple of 4
    bool alpha = false;  // a sheet with straight alpha (32 bits)
};

class BmpWriterTest : public testing::TestWithParam<BmpRow> {};

TEST_P(BmpWriterTest, WritesTheHeaderFieldsAndBottomUpPaddedRows)
{
    const BmpRow row = GetParam();
    const QImage image = makeTestImage(row.width, row.height,
                                       row.alpha       ? QImage::Format_ARGB32
                                       : row.bits == 32 ? QImage::Format_RGB32
                                                        : QImage::Format_BGR888);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(writeBmp(image, buffer, error)) << error.toStdString();
    const QByteArray file = buffer.data();
    const quint32 imageBytes = quint32(row.rowSize * row.height);
    // With alpha, a version 5 information header names the bytes by their masks.
    const quint32 headerBytes = row.alpha ? 138 : 54;
    ASSERT_EQ(file.size(), qsizetype(headerBytes + imageBytes));

    const auto* b = reinterpret_cast<const uchar*>(file.constData());
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(b + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(b + at); };
    EXPECT_EQ(file.left(2), "BM");
    const struct {
        int offset;
        quint32 value;
        quint32 actual;
    } fields[] = {{2, headerBytes + imageBytes, u32(2)}, {6, 0, u16(6)},  {8, 0, u16(8)},
                  {10, headerBytes, u32(10)}, {14, headerBytes - 14, u32(14)},
                  {18, quint32(row.width), u32(18)},  {22, quint32(row.height), u32(22)},
                  {26, 1, u16(26)}, {28, quint32(row.bits), u16(28)},
                  {30, row.alpha ? 3u : 0u, u32(30)}, {34, imageBytes, u32(34)}, {38, 0, u32(38)},
                  {42, 0, u32(42)}, {46, 0, u32(46)}, {50, 0, u32(50)}};
    for (const auto& field : fields)
        EXPECT_EQ(field.actual, field.value) << "field at offset " << field.offset;
    if (row.alpha) {
        EXPECT_EQ(file.mid(54, 16).toHex(), "0000ff0000ff0000ff000000000000ff");
    }

    const int bytesPerPixel = row.bits / 8;
    for (int fileRow = 0; fileRow < row.height; ++fileRow) {
        const uchar* line = b + headerBytes + fileRow * row.rowSize;
        const int y = row.height - 1 - fileRow;
        for (int x = 0; x < row.width; ++x) {
            const uchar* p = line + x * bytesPerPixel;
            ASSERT_EQ(qRgb(p[2], p[1], p[0]), pixelColour(x, y)) << x << "," << y;
            if (row.bits == 32) {
                ASSERT_EQ(p[3], row.alpha ? pixelAlpha(x, y) : 255);
            }
        }
        for (int pad = row.width * bytesPerPixel; pad < row.rowSize; ++pad)
            EXPECT_EQ(line[pad], 0) << "padding of file row " << fileRow;
    }

    // What we write, we read back; so do Qt and ImageMagick, alpha and all.
    const DecodeResult back = decodeImageData(file, QStringLiteral("back.bmp"), Transparency::Keep);
    ASSERT_TRUE(back.ok()) << back.error.toStdString();
    EXPECT_TRUE(row.alpha ? back.image == image : sameRgb(back.image, image));
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(QImage::fromData(file, "BMP").convertToFormat(QImage::Format_ARGB32), argb);
    const char* channels = row.alpha ? "rgba" : "rgb";
    const QByteArray magick = imageMagickRgb(file, channels);
    EXPECT_TRUE(magick.isNull() || magick == rgbBytes(image, channels))
        << magick.left(200).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Sizes, BmpWriterTest,
                         testing::Values(BmpRow{5, 3, 24, 16}, BmpRow{1, 1, 24, 4},
                                         BmpRow{4, 2, 24, 12}, BmpRow{7, 2, 24, 24},
                                         BmpRow{5, 3, 32, 20}, BmpRow{1, 1, 32, 4},
                                         BmpRow{5, 3, 32, 20, true},
                                         BmpRow{1, 1, 32, 4, true}),
                         [](const testing::TestParamInfo<BmpRow>& info) {
                             const BmpRow& row = info.param;
                             return std::string(row.alpha ? "Alpha" : "Bmp") +
                                    std::to_string(row.bits) + "_" + std::to_string(row.width) +
                                    "x" + std::to_string(row.height);
                         });

}  // namespace

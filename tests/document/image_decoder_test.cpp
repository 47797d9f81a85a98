#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "document/bmp_writer.h"
#include "document/image_decoder.h"
#include "document/png_reader.h"
#include "document/png_writer.h"
#include "support/image_files.h"
#include "support/test_images.h"

namespace {

QByteArray encodedByQt(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

enum class Format { Png, Bmp, Gif };

QByteArray encoded(const QImage& image, Format format)
{
    switch (format) {
    case Format::Png:
        return encodedByQt(image, "PNG");
    case Format::Bmp:
        return encodedByQt(image, "BMP");
    case Format::Gif:
        return makeGif(image);
    }
    return {};
}

class LosslessDecodeTest : public testing::TestWithParam<std::tuple<Format, QSize>> {
protected:
    QTemporaryDir dir;
};

TEST_P(LosslessDecodeTest, GivesTheFilesSizeAndColoursAs24Bit)
{
    const auto [format, size] = GetParam();
    const QImage original = makeTestImage(size.width(), size.height(), QImage::Format_RGB32);
    // The name says JPEG on purpose: the content decides the format.
    const QString path = dir.filePath(QStringLiteral("sheet.jpg"));
    writeFileBytes(path, encoded(original, format));

    const DecodeResult result = loadImageFile(path);
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_TRUE(result.error.isEmpty());
    EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
    EXPECT_TRUE(sameRgb(result.image, original));
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessDecodeTest,
                         testing::Combine(testing::Values(Format::Png, Format::Bmp, Format::Gif),
                                          testing::Values(QSize(1, 1), QSize(5, 3), QSize(13, 7))),
                         [](const auto& info) {
                             const Format format = std::get<0>(info.param);
                             const QSize size = std::get<1>(info.param);
                             return std::string(format == Format::Png   ? "Png"
                                                : format == Format::Bmp ? "Bmp"
                                                                        : "Gif") +
                                    "_" + std::to_string(size.width()) + "x" +
                                    std::to_string(size.height());
                         });

TEST(ImageDecoder, DecodesJpegToNearlyTheSameColours)
{
    // Flat 16 x 16 blocks survive JPEG's blocks and colour subsampling almost unchanged.
    QImage original(32, 16, QImage::Format_RGB32);
    original.fill(qRgb(200, 40, 90));
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x)
            original.setPixel(x, y, qRgb(30, 160, 220));

    const DecodeResult result = decodeImageData(encodedByQt(original, "JPEG", 100), "a.jpg");
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
    ASSERT_EQ(result.image.size(), original.size());
    for (const QPoint p : {QPoint(3, 4), QPoint(27, 9)}) {
        const QRgb want = original.pixel(p);
        const QRgb got = result.image.pixel(p);
        EXPECT_NEAR(qRed(got), qRed(want), 4);
        EXPECT_NEAR(qGreen(got), qGreen(want), 4);
        EXPECT_NEAR(qBlue(got), qBlue(want), 4);
    }
}

// Photos may carry data after the picture's end (camera trailers, a second picture); only the
// first picture is read, and markers in what follows do not make it look cut short.
TEST(ImageDecoder, ReadsAJpegUpToItsOwnEndWhateverFollows)
{
    const QByteArray jpeg = encodedByQt(makeTestImage(24, 16), "JPEG");
    const QByteArray cutOffSecondPicture =
        QByteArray("\xff\xd8\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00", 12) +
        QByteArray(40, '\x5a');
    const DecodeResult alone = decodeImageData(jpeg, QStringLiteral("photo.jpg"));
    const DecodeResult followed =
        decodeImageData(jpeg + cutOffSecondPicture, QStringLiteral("photo.jpg"));
    ASSERT_TRUE(alone.ok()) << alone.error.toStdString();
    ASSERT_TRUE(followed.ok()) << followed.error.toStdString();
    EXPECT_EQ(followed.image, alone.image);
}

TEST(ImageDecoder, LaysPngAlphaOverBlack)
{
    const int alphas[] = {255, 128, 1, 0};
    QImage original(4, 1, QImage::Format_ARGB32);
    for (int x = 0; x < 4; ++x)
        original.setPixel(x, 0, qRgba(200, 100, 51, alphas[x]));

    const DecodeResult result = decodeImageData(encodedByQt(original, "PNG"), "alpha.png");
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
    for (int x = 0; x < 4; ++x) {
        const auto over = [&](int c) { return (c * alphas[x] + 127) / 255; };
        EXPECT_EQ(result.image.pixel(x, 0), qRgb(over(200), over(100), over(51))) << x;
    }
}

TEST(ImageDecoder, GivesAGifsTransparentColourBlack)
{
    const QImage original = makeTestImage(3, 2);
    const DecodeResult result = decodeImageData(makeGif(original, 1), "clear.gif");
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
    ASSERT_EQ(result.image.size(), original.size());
    // Palette entry 1 is the second pixel of the first row; every other pixel keeps its colour.
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(rgbAt(result.image, x, y),
                      x == 1 && y == 0 ? qRgb(0, 0, 0) : pixelColour(x, y));
    // Kept, that pixel is the one with alpha 0.
    const DecodeResult kept =
        decodeImageData(makeGif(original, 1), "clear.gif", Transparency::Keep);
    ASSERT_EQ(kept.image.format(), QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const bool clear = x == 1 && y == 0;
            EXPECT_EQ(kept.image.pixel(x, y) | (clear ? 0xffffffu : 0u),
                      clear ? 0x00ffffffu : pixelColour(x, y))
                << x << "," << y;
        }
}

// The size the guard against forged headers counts on is what libpng's rows truly inflate to,
// in every layout, interlaced or not, at sizes that leave passes empty or partial.
TEST(ImageDecoder, KnowsWhatPngImageDataInflatesTo)
{
    for (const PngLayout layout : {PngLayout{0, 1}, PngLayout{0, 4}, PngLayout{2, 16},
                                   PngLayout{3, 2}, PngLayout{4, 8}, PngLayout{6, 8}})
        for (const bool interlaced : {false, true})
            for (const QSize size : {QSize(1, 1), QSize(3, 5), QSize(13, 7), QSize(17, 9)}) {
                const QByteArray png =
                    makePng(size.width(), size.height(),
                            PngLayout{layout.colourType, layout.bitDepth, false, interlaced});
                QByteArray idat;
                for (const PngChunk& chunk : pngChunks(png))
                    idat += chunk.type == "IDAT" ? chunk.data : QByteArray();
                const int channels = std::array{1, 0, 3, 1, 2, 0, 4}[size_t(layout.colourType)];
                EXPECT_EQ(inflateZlib(idat).size(),
                          pngInflatedSize(quint32(size.width()), quint32(size.height()),
                                          layout.bitDepth * channels, interlaced))
                    << layout.colourType << "/" << layout.bitDepth << " " << interlaced << " "
                    << size.width() << "x" << size.height();
            }
}

class PngLayoutTest : public testing::TestWithParam<std::tuple<PngLayout, bool>> {};

// Every layout a PNG can have reads as Qt's reader gives it, transparency laid over black, or kept
// as straight alpha when asked (a sheet without transparent pixels is the same 24-bit sheet then).
// Qt misreads 16-bit RGB with a transparent colour, so there the reference is the same file without
// one, and the pixels of that colour must come out black (or keep their colour at alpha 0).
TEST_P(PngLayoutTest, ReadsAsQtDoesWithTransparencyOverBlackOrKept)
{
    PngLayout layout = std::get<0>(GetParam());
    layout.interlaced = std::get<1>(GetParam());
    const QByteArray png = makePng(13, 7, layout);
    const bool qtMisreads = layout.colourType == 2 && layout.bitDepth == 16 && layout.trns;
    PngLayout reference = layout;
    reference.trns = reference.trns && !qtMisreads;
    const QImage qt = QImage::fromData(makePng(13, 7, reference), "PNG")
                          .convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(qt.isNull());

    const DecodeResult result = decodeImageData(png, QStringLiteral("layout.png"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
    ASSERT_EQ(result.image.size(), qt.size());
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x) {
            const bool transparent = qtMisreads && x == 0 && y % 2 == 0;
            const QRgb want = transparent ? qRgba(0, 0, 0, 0) : qt.pixel(x, y);
            const auto over = [&](int c) { return (c * qAlpha(want) + 127) / 255; };
            ASSERT_EQ(rgbAt(result.image, x, y),
                      qRgb(over(qRed(want)), over(qGreen(want)), over(qBlue(want))))
                << x << "," << y;
        }

    const DecodeResult kept = decodeImageData(png, QStringLiteral("layout.png"), Transparency::Keep);
    ASSERT_TRUE(kept.ok()) << kept.error.toStdString();
    bool transparent = false;
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x)
            transparent = transparent || qAlpha(qt.pixel(x, y)) != 255 ||
                          (qtMisreads && x == 0 && y % 2 == 0);
    EXPECT_EQ(kept.transparent, transparent);
    EXPECT_EQ(result.transparent, transparent);
    if (!transparent) {
        EXPECT_EQ(kept.image, result.image);
        return;
    }
    // Qt does not always tell the colour under alpha 0.
    ASSERT_EQ(kept.image.format(), QImage::Format_ARGB32);
    for (int y = 0; y < qt.height(); ++y)
        for (int x = 0; x < qt.width(); ++x) {
            const bool cleared = (qtMisreads && x == 0 && y % 2 == 0) || qAlpha(qt.pixel(x, y)) == 0;
            const QRgb mask = cleared ? 0xff000000u : 0xffffffffu;
            ASSERT_EQ(kept.image.pixel(x, y) & mask, cleared ? 0u : qt.pixel(x, y)) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PngLayoutTest,
    testing::Combine(testing::Values(PngLayout{0, 1}, PngLayout{0, 2}, PngLayout{0, 4},
                                     PngLayout{0, 8}, PngLayout{0, 16}, PngLayout{0, 8, true},
                                     PngLayout{0, 16, true}, PngLayout{2, 8}, PngLayout{2, 16},
                                     PngLayout{2, 8, true}, PngLayout{2, 16, true},
                                     PngLayout{3, 1}, PngLayout{3, 2, true}, PngLayout{3, 4},
                                     PngLayout{3, 8}, PngLayout{3, 8, true}, PngLayout{4, 8},
                                     PngLayout{4, 16}, PngLayout{6, 8}, PngLayout{6, 16},
                                     // Each row filter alone, at both plain depths.
                                     PngLayout{2, 8, false, false, PNG_FILTER_SUB},
                                     PngLayout{2, 8, false, false, PNG_FILTER_UP},
                                     PngLayout{6, 8, false, false, PNG_FILTER_AVG},
                                     PngLayout{6, 8, false, false, PNG_FILTER_PAETH},
                                     PngLayout{2, 8, false, false, PNG_FILTER_PAETH}),
                     testing::Bool()),
    [](const auto& info) {
        return pngLayoutName(std::get<0>(info.param)) +
               (std::get<1>(info.param) ? "_Interlaced" : "");
    });

struct BadFile {
    const char* what;
    // Makes the file in dir and returns its path.
    std::function<QString(const QTemporaryDir& dir)> make;
    const char* reason;
};

QString fileWith(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("bad file.png"));
    writeFileBytes(path, bytes);
    return path;
}

QByteArray pngOf(int width, int height)
{
    return encodedByQt(makeTestImage(width, height), "PNG");
}

// A PNG of width x height pixels of the given layout and raw rows (each with its filter byte),
// with PLTE and tRNS when given, as no writer would make it.
QByteArray handMadePng(int width, int height, int bitDepth, int colourType, const QByteArray& rows,
                       const QByteArray& palette = {}, const QByteArray& alphas = {},
                       bool interlaced = false)
{
    QByteArray header(13, '\0');
    qToBigEndian(quint32(width), header.data());
    qToBigEndian(quint32(height), header.data() + 4);
    header[8] = char(bitDepth);
    header[9] = char(colourType);
    header[12] = char(interlaced);
    QByteArray packed(qsizetype(compressBound(uLong(rows.size()))), '\0');
    uLongf size = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(rows.constData()), uLong(rows.size()));
    packed.resize(qsizetype(size));
    return kPngSignature + pngChunk("IHDR", header) +
           (palette.isEmpty() ? QByteArray() : pngChunk("PLTE", palette)) +
           (alphas.isEmpty() ? QByteArray() : pngChunk("tRNS", alphas)) +
           pngChunk("IDAT", packed) + pngChunk("IEND", {});
}

// Two palette entries and, row after row, 4 x 2 pixels that name entries 0, 1, 0 and index.
QByteArray twoEntryPng(int index, const QByteArray& alphas = {})
{
    const QByteArray row = QByteArray(1, '\0') + QByteArray("\0\1\0", 3) + char(index);
    return handMadePng(4, 2, 8, 3, row + row, QByteArray("\xff\0\0\0\0\xff", 6), alphas);
}

void PrintTo(const BadFile& file, std::ostream* out)
{
    *out << file.what;
}

class BadFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(BadFileTest, IsRefusedWithAMessageNamingTheFile)
{
    QTemporaryDir dir;
    const QString path = GetParam().make(dir);
    const DecodeResult result = loadImageFile(path);
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.image.isNull());
    EXPECT_TRUE(result.error.contains(path)) << result.error.toStdString();
    EXPECT_TRUE(result.error.contains(QString::fromUtf8(GetParam().reason)))
        << result.error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    testing::Values(
        BadFile{"missing", [](const QTemporaryDir& d) { return d.filePath("gone.png"); },
                "does not exist"},
        BadFile{"folder", [](const QTemporaryDir& d) { return d.path(); }, "is a folder"},
        BadFile{"empty", [](const QTemporaryDir& d) { return fileWith(d, {}); }, "is empty"},
        BadFile{"text",
                [](const QTemporaryDir& d) { return fileWith(d, "0\r\n1\r\n2\r\n3\r\n"); },
                "is not a BMP, JPEG, PNG or GIF image"},
        BadFile{"other format",
                [](const QTemporaryDir& d) { return fileWith(d, "P3\n1 1\n255\n0 0 0\n"); },
                "is not a BMP, JPEG, PNG or GIF image"},
        BadFile{"truncated png",
                [](const QTemporaryDir& d) {
                    const QByteArray png = pngOf(64, 64);
                    return fileWith(d, png.left(png.size() / 2));
                },
                "is damaged"},
        BadFile{"png without its end chunk",
                [](const QTemporaryDir& d) {
                    const QByteArray png = pngOf(64, 64);
                    return fileWith(d, png.left(png.size() - 12));
                },
                "is damaged"},
        BadFile{"truncated interlaced png",
                [](const QTemporaryDir& d) {
                    const QByteArray png = makePng(64, 64, {6, 8, false, true});
                    return fileWith(d, png.left(png.size() * 3 / 4));
                },
                "is damaged"},
        BadFile{"damaged png data",
                [](const QTemporaryDir& d) {
                    QByteArray png = pngOf(64, 64);
                    for (qsizetype i = 60; i < png.size() - 20; ++i)
                        png[i] = char(0x5a ^ png[i]);
                    return fileWith(d, png);
                },
                "is damaged"},
        BadFile{"png palette index beyond the palette",
                [](const QTemporaryDir& d) { return fileWith(d, twoEntryPng(2)); },
                "a pixel names a palette entry beyond the palette"},
        BadFile{"interlaced png palette index beyond the palette",
                [](const QTemporaryDir& d) {
                    return fileWith(d, handMadePng(1, 1, 8, 3, QByteArray("\0\x07", 2),
                                                   QByteArray("\xff\0\0\0\0\xff", 6), {},
                                                   true));
                },
                "a pixel names a palette entry beyond the palette"},
        BadFile{"png tRNS longer than the palette",
                [](const QTemporaryDir& d) {
                    return fileWith(d, twoEntryPng(1, QByteArray("\0\x80\x40", 3)));
                },
                "its tRNS chunk does not fit its colour type or palette"},
        BadFile{"png bit depth its colour type does not allow",
                [](const QTemporaryDir& d) {
                    return fileWith(d, handMadePng(2, 1, 4, 2, QByteArray(4, '\0')));
                },
                "its bit depth of 4 is not one colour type 2 allows"},
        BadFile{"truncated bmp",
                [](const QTemporaryDir& d) {
                    const QByteArray bmp = encodedByQt(makeTestImage(64, 64), "BMP");
                    return fileWith(d, bmp.left(bmp.size() / 2));
                },
                "is damaged"},
        BadFile{"truncated gif",
                [](const QTemporaryDir& d) {
                    const QByteArray gif = makeGif(makeTestImage(16, 16));
                    return fileWith(d, gif.left(gif.size() / 2));
                },
                "is damaged"},
        BadFile{"truncated jpeg",
                [](const QTemporaryDir& d) {
                    const QByteArray jpeg = encodedByQt(makeTestImage(64, 64), "JPEG");
                    return fileWith(d, jpeg.left(jpeg.size() - 40));
                },
                "is damaged"}),
    [](const testing::TestParamInfo<BadFile>& info) {
        return QString::fromUtf8(info.param.what).replace(' ', '_').toStdString();
    });

TEST(ImageDecoder, OpensSidesUpTo32767AndRefusesLargerOnesBeforeDecoding)
{
    QByteArray ihdr(13, '\0');
    auto pngClaiming = [&](quint32 width, quint32 height, char depth = 8, char colourType = 2,
                           const QByteArray& idat = "x") {
        qToBigEndian(width, ihdr.data());
        qToBigEndian(height, ihdr.data() + 4);
        ihdr[8] = depth;
        ihdr[9] = colourType;
        return kPngSignature + pngChunk("IHDR", ihdr) + pngChunk("IDAT", idat) +
               pngChunk("IEND", {});
    };
    // Black, one bit a pixel: over 30 000 bytes of pixels from each byte of file.
    const auto flatOneBit = [&](quint32 side) {
        const QByteArray rows(qsizetype(side) * (1 + (side + 7) / 8), '\0');
        return pngClaiming(side, side, 1, 0, qCompress(rows, 9).mid(4));
    };
    const auto sheet = [](int width, int height, const char* format) {
        return encodedByQt(makeTestImage(width, height), format);
    };
    const struct {
        const char* what;
        QByteArray bytes;
        const char* reason;  // null for a file that opens
        QSize size = {};     // of a file that opens
    } rows[] = {
        {"widest png", sheet(32767, 1, "PNG"), nullptr, QSize(32767, 1)},
        {"widest bmp", sheet(32767, 1, "BMP"), nullptr, QSize(32767, 1)},
        {"tallest png", sheet(1, 32767, "PNG"), nullptr, QSize(1, 32767)},
        {"tallest bmp", sheet(1, 32767, "BMP"), nullptr, QSize(1, 32767)},
        {"wide png", pngClaiming(40000, 10), "40000 × 10 pixels, larger than 32 767 pixels a side"},
        {"tall png", pngClaiming(10, 32768), "10 × 32768 pixels, larger than 32 767 pixels a side"},
        {"wide bmp", bmpHeader(40000, 10, 24), "40000 × 10 pixels, larger than 32 767 pixels a side"},
        // Within the side limit, but a header this big must not make us reserve gigabytes.
        {"huge png", pngClaiming(30000, 30000), "30000 × 30000 pixels, far more than the file"},
        // Rows that would inflate to more than deflate can make of the whole file.
        {"forged png", pngClaiming(200, 200), "200 × 200 pixels, far more than the file"},
        {"flat 1-bit png", flatOneBit(2000), nullptr, QSize(2000, 2000)},
    };
    for (const auto& row : rows) {
        const DecodeResult result = decodeImageData(row.bytes, QStringLiteral("forged"));
        if (!row.reason) {
            EXPECT_TRUE(result.ok()) << row.what << ": " << result.error.toStdString();
            EXPECT_EQ(result.image.size(), row.size) << row.what;
            continue;
        }
        EXPECT_FALSE(result.ok()) << row.what;
        EXPECT_TRUE(result.error.contains(QStringLiteral("“forged”")))
            << result.error.toStdString();
        EXPECT_TRUE(result.error.contains(QString::fromUtf8(row.reason)))
            << row.what << ": " << result.error.toStdString();
    }
}

// A flat sheet compresses far, yet it is real: the forged-header guard must let it through.
TEST(ImageDecoder, LoadsAHighlyCompressedLargeSheet)
{
    QImage flat(4000, 3000, QImage::Format_RGB32);
    flat.fill(qRgb(10, 200, 30));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(writePng(flat, buffer, error)) << error.toStdString();
    const DecodeResult result = decodeImageData(buffer.data(), QStringLiteral("flat.png"));
    ASSERT_TRUE(result.ok()) << result.error.toStdString();
    EXPECT_EQ(result.image.size(), QSize(4000, 3000));
    EXPECT_EQ(rgbAt(result.image, 3999, 2999), qRgb(10, 200, 30));
}

// The BMPs this program writes, at both depths, stored bottom-up or top-down, read back exactly.
TEST(ImageDecoder, ReadsPlainBmpsAtBothDepthsAndRowOrders)
{
    for (QImage::Format format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
        for (int width : {1, 5, 7}) {
            const QImage original = makeTestImage(width, 4, format);
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            QString error;
            ASSERT_TRUE(writeBmp(original, buffer, error)) << error.toStdString();
            const QByteArray bottomUp = buffer.data();

            // The same picture top-down: negative height, rows in reading order.
            const qsizetype rowBytes = (bottomUp.size() - 54) / 4;
            QByteArray topDown = bottomUp.left(54);
            qToLittleEndian<qint32>(-4, topDown.data() + 22);
            for (int row = 3; row >= 0; --row)
                topDown += bottomUp.mid(54 + row * rowBytes, rowBytes);

            for (const QByteArray& bytes : {bottomUp, topDown}) {
                const DecodeResult result = decodeImageData(bytes, QStringLiteral("plain.bmp"));
                ASSERT_TRUE(result.ok()) << result.error.toStdString();
                EXPECT_EQ(result.image.format(), QImage::Format_BGR888);
                EXPECT_TRUE(sameRgb(result.image, original))
                    << "format " << format << " width " << width;
            }
            const DecodeResult cut =
                decodeImageData(bottomUp.left(bottomUp.size() - 1), QStringLiteral("cut.bmp"));
            EXPECT_FALSE(cut.ok());
        }
    }
}

// The PNG of a 24-bit image whose image data is one zlib stream, sync-flushed after each of the
// given raw byte counts and cut into one IDAT chunk per flush: the layout this program's writer
// gives its independent pieces, but with zlib's matches free to reach back across a flush.
QByteArray syncFlushedPng(const QImage& image, const std::vector<int>& flushAfter)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray raw;
    for (int y = 0; y < rgb.height(); ++y)
        raw +=
            '\0' + QByteArray(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    z_stream z{};
    deflateInit(&z, 6);
    std::vector<QByteArray> parts;
    int from = 0;
    std::vector<int> ends = flushAfter;
    ends.push_back(int(raw.size()));
    for (size_t i = 0; i < ends.size(); ++i) {
        QByteArray out(int(deflateBound(&z, uLong(raw.size()))) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(raw.data() + from);
        z.avail_in = uInt(ends[i] - from);
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, i + 1 == ends.size() ? Z_FINISH : Z_SYNC_FLUSH);
        out.resize(out.size() - qsizetype(z.avail_out));
        parts.push_back(out);
        from = ends[i];
    }
    deflateEnd(&z);
    QByteArray ihdr(13, '\0');
    qToBigEndian(quint32(image.width()), ihdr.data());
    qToBigEndian(quint32(image.height()), ihdr.data() + 4);
    ihdr[8] = 8;
    ihdr[9] = 2;
    QByteArray png = kPngSignature + pngChunk("IHDR", ihdr);
    for (const QByteArray& part : parts)
        png += pngChunk("IDAT", part);
    return png + pngChunk("IEND", {});
}

// The file again with change applied to its list of chunks, every chunk's CRC made right.
QByteArray withChunks(const QByteArray& png,
                      const std::function<void(std::vector<PngChunk>&)>& change)
{
    std::vector<PngChunk> chunks = pngChunks(png);
    change(chunks);
    QByteArray out = kPngSignature;
    for (const PngChunk& chunk : chunks)
        out += pngChunk(chunk.type.constData(), chunk.data);
    return out;
}

// The file again with change applied to the data of its IDAT chunk number index (from 0).
QByteArray withIdatChanged(const QByteArray& png, int index,
                           const std::function<void(QByteArray&)>& change)
{
    return withChunks(png, [&](std::vector<PngChunk>& chunks) {
        int seen = 0;
        for (PngChunk& chunk : chunks)
            if (chunk.type == "IDAT" && seen++ == index)
                change(chunk.data);
    });
}

// Streams in pieces are inflated piece by piece on several cores when the pieces stand alone, as
// this program writes them. Streams that only look so are still read exactly, and damage in any
// piece or a wrong checksum is refused, never shown.
TEST(ImageDecoder, ReadsStreamsInPiecesExactlyAndRefusesDamageInAnyPiece)
{
    // Identical rows: zlib's matches reach back into the piece before.
    QImage striped(61, 40, QImage::Format_BGR888);
    for (int y = 0; y < striped.height(); ++y)
        for (int x = 0; x < striped.width(); ++x)
            striped.setPixel(x, y, pixelColour(x, 0));
    const QImage varied = makeTestImage(61, 40);
    constexpr int kRow = 1 + 61 * 3;
    QBuffer written;
    written.open(QIODevice::WriteOnly);
    QString error;
    PngWriteOptions small;
    small.pieceBytes = 5 * kRow;
    ASSERT_TRUE(writePng(varied, written, error, small)) << error.toStdString();
    ASSERT_GE(pngChunks(written.data()).size(), 8u);
    const auto flipMiddleByte = [](QByteArray& data) {
        data[data.size() / 2] = char(data[data.size() / 2] ^ 0x10);
    };
    const auto wrongChecksum = [](QByteArray& data) {
        data[data.size() - 1] = char(data[data.size() - 1] ^ 1);
    };

    const struct {
        const char* what;
        QByteArray png;
        const QImage* image;  // null when the file must be refused
    } rows[] = {
        {"written by this program", written.data(), &varied},
        {"flushed every 5 rows, matches reaching back",
         syncFlushedPng(striped, {5 * kRow, 10 * kRow, 15 * kRow, 20 * kRow}), &striped},
        {"flushed mid-row, the first piece the largest",
         syncFlushedPng(varied, {9 * kRow + 7, 12 * kRow, 15 * kRow - 3}), &varied},
        {"flushed so the last piece is the largest", syncFlushedPng(varied, {kRow, 2 * kRow}),
         &varied},
        {"damage in a middle piece", withIdatChanged(written.data(), 3, flipMiddleByte), nullptr},
        {"damage in the last piece",
         withIdatChanged(written.data(), int(pngChunks(written.data()).size()) - 3, flipMiddleByte),
         nullptr},
        {"wrong checksum",
         withIdatChanged(written.data(), int(pngChunks(written.data()).size()) - 3, wrongChecksum),
         nullptr},
        {"image data split by another chunk",
         withChunks(written.data(),
                    [](std::vector<PngChunk>& chunks) {
                        const auto idat = std::find_if(chunks.begin(), chunks.end(),
                                                       [](auto& c) { return c.type == "IDAT"; });
                        chunks.insert(idat + 1, PngChunk{"tEXt", QByteArray("Comment\0x", 9)});
                    }),
         nullptr},
        // One chunk, its stream ending at a flush with no final block, then the checksum.
        {"one piece without its end",
         withChunks(syncFlushedPng(varied, {40 * kRow}),
                    [](std::vector<PngChunk>& chunks) {
                        ASSERT_EQ(chunks.size(), 4u);
                        chunks[1].data += chunks[2].data.right(4);
                        chunks.erase(chunks.begin() + 2);
                    }),
         nullptr},
    };
    for (const auto& row : rows) {
        const DecodeResult result = decodeImageData(row.png, QStringLiteral("pieces.png"));
        if (!row.image) {
            EXPECT_FALSE(result.ok()) << row.what;
            EXPECT_TRUE(result.error.contains(QStringLiteral("is damaged")))
                << row.what << ": " << result.error.toStdString();
            continue;
        }
        ASSERT_TRUE(result.ok()) << row.what << ": " << result.error.toStdString();
        EXPECT_TRUE(sameRgb(result.image, *row.image)) << row.what;
    }
}

}  // namespace

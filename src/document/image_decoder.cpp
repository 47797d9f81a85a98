#include "document/image_decoder.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

#include "document/file_messages.h"
#include "document/png_reader.h"
#include "image/pixel_block.h"
#include "image/pixel_format.h"

namespace {

// Pixel memory one decode may claim: decoders produce 4 bytes a pixel, and every sheet up to
// 32767 x 32767 must load.
constexpr int kDecodeLimitMiB = 4096;

// How many bytes of decoded pixels one byte of file can at most become. GIF's LZW expands about
// 2730:1 (one byte a pixel); decoded pixels take 4 bytes. A header that claims more than this of
// its file is forged or damaged, and is refused before any memory is reserved for it.
constexpr qint64 kMaxExpansion = 16384;

// Deflate makes at most 258 bytes of one 2-bit code: a PNG whose rows would inflate to more than
// this many times its whole file cannot hold them. Checked on the filtered rows the header
// implies, so a 1-bit sheet may be as large as its data can truly make it, and a forged header
// reserves nothing.
constexpr qint64 kMaxInflation = 1032;

DecodeResult failure(const QString& message)
{
    return DecodeResult{QImage(), message};
}

bool isAcceptedFormat(const QByteArray& format)
{
    const QByteArray f = format.toLower();
    // WebP comes through Qt's image-formats plugin, when it is installed.
    return f == "bmp" || f == "png" || f == "gif" || f == "jpeg" || f == "jpg" || f == "webp";
}

// The sheet made of a decoded picture that may have straight alpha (ARGB32): kept as it is when
// asked to and some pixel is not opaque, otherwise laid over black into 24-bit B,G,R, so fully
// transparent pixels come out black. A null image when memory runs out.
DecodeResult fromStraightAlpha(QImage argb, Transparency transparency)
{
    DecodeResult result;
    result.transparent = hasTransparentPixels(argb);
    result.image = transparency == Transparency::Keep && result.transparent
                       ? std::move(argb)
                       : overBlack24InPlace(std::move(argb));
    return result;
}

// The file's colours as a sheet; see fromStraightAlpha. Returns a null image when memory runs out.
DecodeResult toSheet(const QImage& decoded, Transparency transparency)
{
    if (!decoded.hasAlphaChannel())
        return DecodeResult{decoded.convertToFormat(QImage::Format_BGR888), QString()};
    QImage argb = decoded.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        return {};
    return fromStraightAlpha(std::move(argb), transparency);
}

// Reads a device from its start in blocks and puts its position back when done, so that a check
// can walk a whole file without holding it in memory.
class BlockReader {
public:
    explicit BlockReader(QIODevice& device) : device_(device), resume_(device.pos())
    {
        device_.seek(0);
    }
    ~BlockReader() { device_.seek(resume_); }
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next byte, or -1 at the end of the file.
    int next()
    {
        if (at_ == block_.size() && !refill())
            return -1;
        return uchar(block_[at_++]);
    }

    // Passes over count bytes; false when the file ends first.
    bool skip(qint64 count)
    {
        const qint64 inBlock = std::min<qint64>(count, block_.size() - at_);
        at_ += inBlock;
        count -= inBlock;
        if (count == 0)
            return true;
        const qint64 to = device_.pos() + count;
        return to <= device_.size() && device_.seek(to);
    }

    // Moves up to the next byte equal to value, without passing it; false when there is none.
    bool skipTo(uchar value)
    {
        for (;;) {
            const char* from = block_.constData() + at_;
            if (const void* found = std::memchr(from, value, size_t(block_.size() - at_))) {
                at_ += static_cast<const char*>(found) - from;
                return true;
            }
            if (!refill())
                return false;
        }
    }

private:
    static constexpr qint64 kBlockBytes = 64 * 1024;

    bool refill()
    {
        block_ = device_.read(kBlockBytes);
        at_ = 0;
        return !block_.isEmpty();
    }

    QIODevice& device_;
    const qint64 resume_;
    QByteArray block_;
    qsizetype at_ = 0;
};

bool isRestartMarker(int code)
{
    return code >= 0xd0 && code <= 0xd7;
}

// The code of the next JPEG marker: the byte after one or more FF. Inside entropy-coded data
// FF 00 stands for the data byte FF and restart markers belong to the data, so both are passed
// over there. -1 when the file ends first.
int nextJpegMarker(BlockReader& in, bool inScan)
{
    for (;;) {
        if (!in.skipTo(0xff))
            return -1;
        int code = 0xff;
        while (code == 0xff)
            code = in.next();
        if (code < 0)
            return -1;
        if (!inScan || (code != 0x00 && !isRestartMarker(code)))
            return code;
    }
}

// Walks the segments from the start, by their lengths and each scan's data up to the marker after
// it, until the first picture's own end-of-image marker. Whatever follows that (camera trailers,
// further pictures) is not looked at.
bool jpegIsCutShort(QIODevice& device)
{
    BlockReader in(device);
    bool inScan = false;
    for (;;) {
        const int code = nextJpegMarker(in, inScan);
        if (code < 0)
            return true;
        if (code == 0xd9)
            return false;
        inScan = false;
        // Start of image, restart markers and stray bytes carry no length.
        if (code == 0xd8 || code == 0x01 || code == 0x00 || isRestartMarker(code))
            continue;
        const int high = in.next();
        const int low = in.next();
        if (low < 0)
            return true;
        const int length = high << 8 | low;
        if (length >= 2 && !in.skip(length - 2))
            return true;
        inScan = code == 0xda;
    }
}

// Qt's BMP and JPEG readers make up what a cut-off file lacks instead of failing, so for those two
// we check beforehand that the file holds its whole picture.
bool isCutShort(QIODevice& device)
{
    const QByteArray head = device.peek(34);
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    if (head.size() >= 26 && head.startsWith("BM")) {
        const quint32 infoSize = qFromLittleEndian<quint32>(h + 14);
        qint64 width = 0, height = 0, bits = 0, compression = 0;
        if (infoSize == 12) {
            width = qFromLittleEndian<quint16>(h + 18);
            height = qFromLittleEndian<quint16>(h + 20);
            bits = qFromLittleEndian<quint16>(h + 24);
        } else if (infoSize >= 40 && head.size() >= 34) {
            width = qAbs(qint64(qFromLittleEndian<qint32>(h + 18)));
            height = qAbs(qint64(qFromLittleEndian<qint32>(h + 22)));
            bits = qFromLittleEndian<quint16>(h + 28);
            compression = qFromLittleEndian<quint32>(h + 30);
        } else {
            return false;
        }
        // Compressed rows have no size known up front; oversized ones are refused later.
        const bool plainRows = compression == 0 || compression == 3 || compression == 6;
        if (!plainRows || width > kMaxImageSide || height > kMaxImageSide)
            return false;
        const qint64 rowBytes = (width * bits + 31) / 32 * 4;
        return device.size() < qFromLittleEndian<quint32>(h + 10) + rowBytes * height;
    }
    if (head.startsWith("\xff\xd8\xff"))
        return jpegIsCutShort(device);
    return false;
}

// Uncompressed 24- and 32-bit BMPs, the kinds this program writes, are read here directly: Qt's
// reader refuses those above 16384 x 16384 pixels, and reading straight into 24-bit rows saves its
// 32-bit copy. A 32-bit one whose masks name B,G,R,A bytes has straight alpha; in any other the
// fourth byte is not alpha. Anything else is left to Qt.
enum class PlainBmp { NotPlain, Read, TooLarge, OutOfMemory, CutShort };

bool hasAlphaMasks(const uchar* info, quint32 infoSize)
{
    return infoSize >= 56 && qFromLittleEndian<quint32>(info + 40) == 0x00ff0000u &&
           qFromLittleEndian<quint32>(info + 44) == 0x0000ff00u &&
           qFromLittleEndian<quint32>(info + 48) == 0x000000ffu &&
           qFromLittleEndian<quint32>(info + 52) == 0xff000000u;
}

PlainBmp readPlainBmp(QIODevice& device, DecodeResult& out, QSize& size,
                      Transparency transparency)
{
    const qint64 resume = device.pos();
    device.seek(0);
    const QByteArray head = device.read(70);
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    const auto notPlain = [&] {
        device.seek(resume);
        return PlainBmp::NotPlain;
    };
    if (head.size() < 54 || !head.startsWith("BM"))
        return notPlain();
    const quint32 offset = qFromLittleEndian<quint32>(h + 10);
    const quint32 infoSize = qFromLittleEndian<quint32>(h + 14);
    const qint32 width = qFromLittleEndian<qint32>(h + 18);
    const qint32 height = qFromLittleEndian<qint32>(h + 22);
    const quint16 planes = qFromLittleEndian<quint16>(h + 26);
    const quint16 bits = qFromLittleEndian<quint16>(h + 28);
    const quint32 compression = qFromLittleEndian<quint32>(h + 30);
    const bool alpha = bits == 32 && compression == 3 && head.size() >= 70 &&
                       hasAlphaMasks(h + 14, infoSize);
    if (infoSize < 40 || planes != 1 || (bits != 24 && bits != 32) ||
        (compression != 0 && !alpha) || width <= 0 || height == 0 || height == std::numeric_limits<qint32>::min() ||
        offset < 14 + infoSize)
        return notPlain();

    const int rows = qAbs(height);
    size = QSize(width, rows);
    if (width > kMaxImageSide || rows > kMaxImageSide)
        return PlainBmp::TooLarge;
    const qint64 rowBytes = (qint64(width) * bits + 31) / 32 * 4;
    if (device.size() < qint64(offset) + rowBytes * rows)
        return PlainBmp::CutShort;
    QImage& image = out.image;
    image = QImage(width, rows, alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (image.isNull())
        return PlainBmp::OutOfMemory;
    QByteArray row(rowBytes, Qt::Uninitialized);
    device.seek(offset);
    const int pixelBytes = bits / 8;
    for (int i = 0; i < rows; ++i) {
        if (device.read(row.data(), rowBytes) != rowBytes)
            return PlainBmp::CutShort;
        // Rows are stored bottom-up unless the height is negative.
        uchar* to = image.scanLine(height > 0 ? rows - 1 - i : i);
        const auto* from = reinterpret_cast<const uchar*>(row.constData());
        if (pixelBytes == 3 || alpha) {
            std::memcpy(to, from, size_t(width) * size_t(pixelBytes));
        } else {
            for (int x = 0; x < width; ++x, from += 4, to += 3) {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        }
    }
    if (alpha) {
        out = fromStraightAlpha(std::move(image), transparency);
        if (out.image.isNull())
            return PlainBmp::OutOfMemory;
    }
    return PlainBmp::Read;
}

QString tooLargeMessage(const QString& name, QSize size)
{
    return QStringLiteral("%1 is %2 × %3 pixels, larger than 32 767 pixels a side.")
        .arg(quotedPath(name), QString::number(size.width()), QString::number(size.height()));
}

// Why a picture of the size a header claims is refused before its memory is taken, or nothing:
// needed bytes must come from a file of fileSize, whose bytes each make at most expansion.
QString sizeProblem(const QString& name, QSize size, qint64 fileSize, qint64 needed,
                    qint64 expansion)
{
    if (size.width() > kMaxImageSide || size.height() > kMaxImageSide)
        return tooLargeMessage(name, size);
    if (needed > std::max<qint64>(fileSize, 1) * expansion)
        return QStringLiteral("%1 is damaged: its header claims %2 × %3 pixels, far more than the "
                              "file can hold.")
            .arg(quotedPath(name), QString::number(size.width()), QString::number(size.height()));
    return {};
}

QString unreadableMessage(const QString& name, const QString& reason)
{
    return QStringLiteral("%1 is damaged or incomplete and cannot be read (%2).")
        .arg(quotedPath(name), reason);
}

QString noMemoryMessage(const QString& name, QSize size)
{
    return QStringLiteral("There is not enough memory to open %1 (%2 × %3 pixels).")
        .arg(quotedPath(name), QString::number(size.width()), QString::number(size.height()));
}

// PNGs are decoded by libpng straight into the sheet's rows, without Qt's 32-bit copy.
DecodeResult readPng(QIODevice& device, const QString& name, Transparency transparency)
{
    device.seek(0);
    PngReader png(device);
    if (!png.readHeader())
        return failure(unreadableMessage(name, png.error()));
    if (const QString why =
            sizeProblem(name, png.size(), device.size(), png.inflatedSize(), kMaxInflation);
        !why.isEmpty())
        return failure(why);
    const bool keep = transparency == Transparency::Keep && png.hasAlpha();
    QImage image = createUninitialized(png.size().width(), png.size().height(),
                                       keep ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (image.isNull())
        return failure(noMemoryMessage(name, png.size()));
    if (!png.readPixels(image))
        return failure(unreadableMessage(name, png.error()));
    // A file that could hold transparency but has none gives the same sheet as ever.
    if (keep && !png.transparent())
        image = overBlack24InPlace(std::move(image));
    if (image.isNull())
        return failure(noMemoryMessage(name, png.size()));
    return DecodeResult{std::move(image), QString(), png.transparent(), png.storedForm()};
}

// A GIF's first picture as a palette: the global colour table, or the picture's own, with its
// transparent entry; the table's size gives the bit depth. Unknown when the blocks before the
// picture cannot be walked in the first bytes.
StoredForm gifForm(QIODevice& device)
{
    const qint64 resume = device.pos();
    device.seek(0);
    const QByteArray head = device.peek(1 << 16);
    device.seek(resume);
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    const qsizetype size = head.size();
    StoredForm form;
    if (size < 13)
        return {};
    const auto table = [&](qsizetype at, int flags) {
        const int entries = 2 << (flags & 7);
        if (at + 3 * entries > size)
            return false;
        form.palette.clear();
        for (int i = 0; i < entries; ++i)
            form.palette.push_back(qRgb(h[at + 3 * i], h[at + 3 * i + 1], h[at + 3 * i + 2]));
        const int bits = (flags & 7) + 1;
        form.bitDepth = bits <= 2 ? bits : bits <= 4 ? 4 : 8;
        return true;
    };
    qsizetype at = 13;
    if ((h[10] & 0x80) && !table(at, h[10]))
        return {};
    if (h[10] & 0x80)
        at += 3 * (2 << (h[10] & 7));
    int transparentIndex = -1;
    while (at < size) {
        if (h[at] == 0x2c) {  // the picture: its own table replaces the global one
            if (at + 10 > size || ((h[at + 9] & 0x80) && !table(at + 10, h[at + 9])))
                return {};
            break;
        }
        if (h[at] != 0x21 || at + 2 > size)
            return {};
        if (h[at + 1] == 0xf9 && at + 6 < size && (h[at + 3] & 1))
            transparentIndex = h[at + 6];
        at += 2;
        while (at < size && h[at] != 0)  // the extension's sub-blocks
            at += 1 + h[at];
        ++at;
    }
    if (at >= size || form.palette.empty())
        return {};
    form.colourType = 3;
    if (transparentIndex >= 0 && transparentIndex < qsizetype(form.palette.size())) {
        form.palette[size_t(transparentIndex)] &= 0x00ffffffu;
        form.alphaEntries = transparentIndex + 1;
    }
    return form;
}

DecodeResult decodeDevice(QIODevice& device, const QString& name, Transparency transparency)
{
    // The limit is process-wide in Qt. It is set once, before the first decode: decodes may run
    // on several threads at once, and writing it from each would race.
    static const bool limitSet = [] {
        QImageReader::setAllocationLimit(kDecodeLimitMiB);
        return true;
    }();
    Q_UNUSED(limitSet);

    // The reader sees only the bytes, so the format comes from the content, never from the name.
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead() || !isAcceptedFormat(reader.format()))
        return failure(QStringLiteral("%1 is not a BMP, JPEG, PNG or GIF image.").arg(quotedPath(name)));

    if (isCutShort(device))
        return failure(QStringLiteral("%1 is damaged: the file ends before the picture does.")
                           .arg(quotedPath(name)));

    if (reader.format().toLower() == "bmp") {
        DecodeResult plain;
        QSize claimed;
        switch (readPlainBmp(device, plain, claimed, transparency)) {
        case PlainBmp::Read:
            return plain;
        case PlainBmp::TooLarge:
            return failure(tooLargeMessage(name, claimed));
        case PlainBmp::OutOfMemory:
            return failure(QStringLiteral("There is not enough memory to open %1.")
                               .arg(quotedPath(name)));
        case PlainBmp::CutShort:
            return failure(QStringLiteral("%1 is damaged: the file ends before the picture does.")
                               .arg(quotedPath(name)));
        case PlainBmp::NotPlain:
            break;
        }
    }

    if (reader.format().toLower() == "png")
        return readPng(device, name, transparency);

    const QSize size = reader.size();
    if (size.isValid())
        if (const QString why = sizeProblem(name, size, device.size(),
                                            qint64(size.width()) * size.height() * 4, kMaxExpansion);
            !why.isEmpty())
            return failure(why);

    // Read before the decoder moves on past the header.
    const StoredForm gif = reader.format().toLower() == "gif" ? gifForm(device) : StoredForm();
    QImage decoded;
    if (!reader.read(&decoded) || decoded.isNull())
        return failure(unreadableMessage(name, reader.errorString()));
    // Formats that give no size up front are checked once decoded.
    if (decoded.width() > kMaxImageSide || decoded.height() > kMaxImageSide)
        return failure(tooLargeMessage(name, decoded.size()));

    DecodeResult sheet = toSheet(decoded, transparency);
    if (sheet.image.isNull())
        return failure(noMemoryMessage(name, decoded.size()));
    if (gif.known()) {
        sheet.stored = gif;
        // The transparent entry takes the colour the decoder gives its pixels.
        if (sheet.stored.alphaEntries > 0 && keepsAlpha(sheet.image))
            for (int y = 0; y < sheet.image.height(); ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(sheet.image.constScanLine(y));
                const auto* clear = std::find_if(row, row + sheet.image.width(),
                                                 [](QRgb pixel) { return qAlpha(pixel) == 0; });
                if (clear != row + sheet.image.width()) {
                    sheet.stored.palette[size_t(sheet.stored.alphaEntries - 1)] = *clear;
                    break;
                }
            }
    }
    return sheet;
}

}  // namespace

DecodeResult loadImageFile(const QString& path, Transparency transparency)
{
    QFile file(path);
    if (const QString why = openForReading(file, QStringLiteral("an image file")); !why.isEmpty())
        return failure(why);
    if (file.size() == 0)
        return failure(QStringLiteral("%1 is empty, not a BMP, JPEG, PNG or GIF image.")
                           .arg(quotedPath(path)));
    return decodeDevice(file, path, transparency);
}

QSize imageFileSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // PNG and BMP are read here: Qt's BMP reader gives no size for the largest sheets.
    const QByteArray head = file.peek(26);
    const auto* h = reinterpret_cast<const uchar*>(head.constData());
    if (head.size() >= 24 && head.startsWith("\x89PNG\r\n\x1a\n") && head.mid(12, 4) == "IHDR") {
        const quint32 width = qFromBigEndian<quint32>(h + 16);
        const quint32 height = qFromBigEndian<quint32>(h + 20);
        if (width == 0 || height == 0 || width > quint32(INT_MAX) || height > quint32(INT_MAX))
            return {};
        return QSize(int(width), int(height));
    }
    if (head.size() >= 26 && head.startsWith("BM")) {
        const quint32 infoSize = qFromLittleEndian<quint32>(h + 14);
        if (infoSize == 12)
            return QSize(qFromLittleEndian<quint16>(h + 18), qFromLittleEndian<quint16>(h + 20));
        const qint32 width = qFromLittleEndian<qint32>(h + 18);
        const qint32 height = qFromLittleEndian<qint32>(h + 22);
        if (infoSize < 40 || width <= 0 || height == 0 || height == INT_MIN)
            return {};
        return QSize(width, qAbs(height));
    }
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead() || !isAcceptedFormat(reader.format()))
        return {};
    return reader.size();
}

DecodeResult decodeImageData(const QByteArray& data, const QString& fileName,
                             Transparency transparency)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return decodeDevice(buffer, fileName, transparency);
}

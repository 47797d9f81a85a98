#include "document/sheet_files.h"

#include <QFile>
#include <QImageWriter>

#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/file_messages.h"
#include "image/pixel_format.h"
#include "document/path_extension.h"
#include "document/png_writer.h"

std::optional<ImageFileFormat> imageFormatOf(const QString& path)
{
    const QString extension = pathExtension(path.toUpper());
    if (extension == QLatin1StringView("PNG"))
        return ImageFileFormat::Png;
    if (extension == QLatin1StringView("BMP"))
        return ImageFileFormat::Bmp;
    if (extension == QLatin1StringView("WEBP"))
        return ImageFileFormat::Webp;
    return std::nullopt;
}

namespace {

// WebP goes through Qt's image-formats plugin, lossless (its quality 100), alpha kept when the
// sheet keeps it.
bool writeWebp(const QImage& image, QIODevice& device, QString& reason)
{
    QImageWriter writer(&device, "webp");
    if (!writer.canWrite()) {
        reason = QStringLiteral("WebP cannot be written here: Qt's image-formats plugin "
                                "(qt6-image-formats-plugins) is missing");
        return false;
    }
    writer.setQuality(100);
    const QImage pixels = image.convertToFormat(keepsAlpha(image) ? QImage::Format_ARGB32
                                                                  : QImage::Format_RGB32);
    if (pixels.isNull()) {
        reason = QStringLiteral("not enough memory to prepare the image");
        return false;
    }
    if (!writer.write(pixels)) {
        reason = writer.errorString();
        return false;
    }
    return true;
}

}  // namespace

QString saveImageFile(const QImage& image, const QString& path, ImageFileFormat format,
                      const SaveOptions& options)
{
    return writeFileAtomically(path, [&](QIODevice& device, QString& reason) {
        if (format == ImageFileFormat::Bmp)
            return writeBmp(image, device, reason, options.progress);
        if (format == ImageFileFormat::Webp)
            return writeWebp(image, device, reason);
        PngWriteOptions png;
        png.threads = options.threads;
        png.progress = options.progress;
        png.compression = options.compression;
        png.keep = options.keep;
        png.writtenColourType = options.writtenColourType;
        return writePng(image, device, reason, png);
    });
}

namespace {

// The whole text of the map file at path when it is no larger than largest bytes; otherwise an
// empty optional, and error says why (tooLargeFor: "the map of the open sheet").
std::optional<QByteArray> readMapBytes(const QString& path, qint64 largest,
                                       const QString& tooLargeFor, QString& error)
{
    QFile file(path);
    error = openForReading(file, QStringLiteral("a map file"));
    if (!error.isEmpty())
        return std::nullopt;
    // A map needs a few bytes a tile; anything far larger is not a map, and reading it whole
    // would only cost memory.
    if (file.size() > largest) {
        error = QStringLiteral("%1 is too large to be %2.").arg(quotedPath(path), tooLargeFor);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), file.errorString());
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

MapParseResult readMapFile(const QString& path, int columns, int rows, TileShape tile)
{
    MapParseResult result;
    const std::optional<QByteArray> bytes =
        readMapBytes(path, qint64(columns) * rows * 64 + (qint64(1) << 20),
                     QStringLiteral("the map of the open sheet"), result.error);
    if (!bytes)
        return result;
    return parseMapText(*bytes, columns, rows, quotedPath(path), tile);
}

MapParseResult readMapFileAsOneRow(const QString& path)
{
    MapParseResult result;
    // 256 MiB hold the numbers of tens of millions of tiles, more than the largest sheet has.
    const std::optional<QByteArray> bytes =
        readMapBytes(path, qint64(1) << 28, QStringLiteral("a tile map"), result.error);
    if (!bytes)
        return result;
    const qsizetype count = mapLineCount(*bytes);
    if (count == 0) {
        result.error = QStringLiteral("%1 holds no tile number.").arg(quotedPath(path));
        return result;
    }
    result = parseMapText(*bytes, int(count), 1, quotedPath(path), 0);
    if (!result.map)
        result.error = QStringLiteral("%1: %2").arg(quotedPath(path), result.error);
    return result;
}

QString writeMapFile(const TileMap& map, const QString& path)
{
    return writeFileAtomically(path, writeMapText(map));
}

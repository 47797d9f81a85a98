#include "document/sheet_files.h"

#include <QFile>

#include "document/atomic_file.h"
#include "document/bmp_writer.h"
#include "document/file_messages.h"
#include "document/path_extension.h"
#include "document/png_writer.h"

std::optional<ImageFileFormat> imageFormatOf(const QString& path)
{
    const QString extension = pathExtension(path.toUpper());
    if (extension == QLatin1StringView("PNG"))
        return ImageFileFormat::Png;
    if (extension == QLatin1StringView("BMP"))
        return ImageFileFormat::Bmp;
    return std::nullopt;
}

QString saveImageFile(const QImage& image, const QString& path, ImageFileFormat format,
                      const SaveOptions& options)
{
    return writeFileAtomically(path, [&](QIODevice& device, QString& reason) {
        if (format == ImageFileFormat::Bmp)
            return writeBmp(image, device, reason, options.progress);
        PngWriteOptions png;
        png.threads = options.threads;
        png.progress = options.progress;
        return writePng(image, device, reason, png);
    });
}

MapParseResult readMapFile(const QString& path, int columns, int rows, int tileSize)
{
    MapParseResult result;
    QFile file(path);
    if (const QString why = openForReading(file, QStringLiteral("a map file")); !why.isEmpty()) {
        result.error = why;
        return result;
    }
    // A map needs a few bytes a tile; anything far larger is not the map of this sheet, and
    // reading it whole would only cost memory.
    const qint64 largest = qint64(columns) * rows * 64 + (qint64(1) << 20);
    if (file.size() > largest) {
        result.error =
            QStringLiteral("%1 is too large to be the map of the open sheet.").arg(quotedPath(path));
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error =
            QStringLiteral("%1 cannot be read: %2.").arg(quotedPath(path), file.errorString());
        return result;
    }
    return parseMapText(bytes, columns, rows, quotedPath(path), tileSize);
}

QString writeMapFile(const TileMap& map, const QString& path)
{
    return writeFileAtomically(path, writeMapText(map));
}

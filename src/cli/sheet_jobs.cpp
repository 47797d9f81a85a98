#include "cli/sheet_jobs.h"

#include "cli/sheet_report.h"
#include "cli/tile_matching.h"
#include "document/file_messages.h"
#include "document/image_decoder.h"
#include "document/sheet_files.h"
#include "grid/grid_transform.h"
#include "image/pixel_format.h"
#include "tilemap/tile_ops.h"

namespace {

JobResult failed(const QString& why)
{
    return JobResult{why, QString()};
}

// The command line keeps every pixel's alpha; an opaque sheet is read as it always was.
DecodeResult loadSheet(const QString& path)
{
    return loadImageFile(path, Transparency::Keep);
}

// The grid and tile functions speak of "the sheet"; with many sheets the message must say which.
QString aboutSheet(const QString& path, const QString& why)
{
    return QStringLiteral("%1: %2").arg(quotedPath(path), why);
}

QString noWholeTile(const QString& path, const CommandOptions& options)
{
    if (!options.gutter)
        return QStringLiteral("%1 holds no whole %2 × %2 tile.")
            .arg(quotedPath(path))
            .arg(options.tileSize);
    return QStringLiteral("%1 holds no whole %2 × %2 tile with its %3-pixel grid.")
        .arg(quotedPath(path))
        .arg(options.tileSize)
        .arg(*options.gutter);
}

// Turns one decoded sheet into the result to save; on failure returns a null image and says why.
using SheetEdit = QImage (*)(const QImage& sheet, const CommandOptions& options,
                             const QString& input, QString& why);

JobResult editSheet(const CommandOptions& options, const Job& job, SheetEdit edit)
{
    const QString& input = job.inputs.front();
    QImage result;
    {
        const DecodeResult decoded = loadSheet(input);
        if (!decoded.ok())
            return failed(decoded.error);
        QString why;
        result = edit(decoded.image, options, input, why);
        if (result.isNull())
            return failed(why);
    } // the source's memory is given back before the result is encoded
    SaveOptions save;
    save.threads = options.saveThreads;
    return failed(saveImageFile(result, job.output,
                                imageFormatOf(job.output).value_or(ImageFileFormat::Png), save));
}

template <bool Insert>
QImage gridded(const QImage& sheet, const CommandOptions& options, const QString& input,
               QString& why)
{
    const int plain = options.tileSize;
    const int withGrid = plain + options.gutter.value_or(1);
    GridResult result = Insert ? transformTiles(sheet, plain, plain, withGrid, options.gridColor)
                               : transformTiles(sheet, plain, withGrid, plain, options.gridColor);
    if (!result.ok())
        why = aboutSheet(input, result.error);
    return result.image;
}

template <bool Restore>
QImage rearranged(const QImage& sheet, const CommandOptions& options, const QString& input,
                  QString& why)
{
    const int pitch = options.pitch();
    const int columns = sheet.width() / pitch;
    const int rows = sheet.height() / pitch;
    if (columns == 0 || rows == 0) {
        why = noWholeTile(input, options);
        return QImage();
    }
    const MapParseResult parsed = readMapFile(options.mapPath, columns, rows, options.tileSize);
    if (!parsed.map) {
        why = QStringLiteral("%1 with the map %2: %3")
                  .arg(quotedPath(input), quotedPath(options.mapPath), parsed.error);
        return QImage();
    }
    QImage result = Restore ? restoredImage(sheet, *parsed.map, pitch)
                            : appliedImage(sheet, *parsed.map, pitch);
    if (result.isNull())
        why = QStringLiteral("There is not enough memory to rearrange %1.").arg(quotedPath(input));
    return result;
}

}  // namespace

JobResult addGridJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, gridded<true>);
}

JobResult removeGridJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, gridded<false>);
}

JobResult restoreMapJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, rearranged<true>);
}

JobResult applyMapJob(const CommandOptions& options, const Job& job)
{
    return editSheet(options, job, rearranged<false>);
}

JobResult deriveMapJob(const CommandOptions& options, const Job& job)
{
    const QString& originalPath = job.inputs.at(0);
    const QString& rearrangedPath = job.inputs.at(1);
    DecodeResult original = loadSheet(originalPath);
    if (!original.ok())
        return failed(original.error);
    DecodeResult moved = loadSheet(rearrangedPath);
    if (!moved.ok())
        return failed(moved.error);
    // Tiles are compared in all four channels: when one sheet has alpha, the other is read as
    // opaque B,G,R,A too.
    if (keepsAlpha(original.image) != keepsAlpha(moved.image)) {
        for (QImage* sheet : {&original.image, &moved.image})
            *sheet = sheet->convertToFormat(QImage::Format_ARGB32);
        if (original.image.isNull() || moved.image.isNull())
            return failed(QStringLiteral("There is not enough memory to compare %1 and %2.")
                              .arg(quotedPath(originalPath), quotedPath(rearrangedPath)));
    }

    const int pitch = options.pitch();
    const int columns = original.image.width() / pitch;
    const int rows = original.image.height() / pitch;
    if (columns == 0 || rows == 0)
        return failed(noWholeTile(originalPath, options));
    if (moved.image.width() / pitch != columns || moved.image.height() / pitch != rows)
        return failed(QStringLiteral("%1 holds %2 × %3 whole tiles, but %4 holds %5 × %6: a "
                                     "rearrangement keeps every tile.")
                          .arg(quotedPath(rearrangedPath))
                          .arg(moved.image.width() / pitch)
                          .arg(moved.image.height() / pitch)
                          .arg(quotedPath(originalPath))
                          .arg(columns)
                          .arg(rows));

    const TileMatch match = matchTiles(original.image, moved.image, options.tileSize, pitch);
    if (!match.map) {
        const int column = match.unmatched % columns;
        const int row = match.unmatched / columns;
        const QString where =
            QStringLiteral("The tile in column %1, row %2 of %3 (at pixel %4, %5)")
                .arg(column + 1)
                .arg(row + 1)
                .arg(quotedPath(rearrangedPath))
                .arg(column * pitch)
                .arg(row * pitch);
        return failed(
            match.used ? QStringLiteral("%1 occurs more often there than in %2.")
                             .arg(where, quotedPath(originalPath))
                       : QStringLiteral("%1 is not in %2.").arg(where, quotedPath(originalPath)));
    }
    return failed(writeMapFile(*match.map, job.output));
}

JobResult infoJob(const CommandOptions& options, const Job& job)
{
    const QString& input = job.inputs.front();
    const DecodeResult decoded = loadSheet(input);
    if (!decoded.ok())
        return failed(decoded.error);
    return JobResult{QString(), sheetReport(input, decoded.image, storedDepth(input), options)};
}

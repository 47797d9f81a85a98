#include "app/file_commands.h"

#include <QFileInfo>

#include "app/background_work.h"

#include "document/document.h"
#include "document/file_messages.h"
#include "document/image_decoder.h"
#include "document/path_extension.h"
#include "document/sheet_files.h"
#include "image/pixel_format.h"
#include "level/level_format.h"
#include "platform/dialogs.h"

namespace {

// Runs job through work, or in place without it. True when the user cancelled it.
bool runWork(BackgroundWork* work, const QString& what, qint64 bytes,
             const BackgroundWork::Work& job, bool canCancel = false)
{
    if (work) {
        work->run(what, bytes, job, canCancel);
        return work->wasCancelled();
    }
    BackgroundWork::Progress inPlace;
    job(inPlace);
    return false;
}

}  // namespace

QString levelFilter()
{
    const QString patterns = levelFilePatterns().join(u';');
    return QStringLiteral("Level Files (%1)|%1|All Files (*)|*").arg(patterns);
}

QString quotedFileName(const QString& path)
{
    return QStringLiteral("“%1”").arg(QFileInfo(path).fileName());
}

bool openImage(Document& doc, Dialogs& dialogs, const QString& path, BackgroundWork* work)
{
    QString file = path;
    if (file.isEmpty()) {
        file = dialogs.openFile(kOpenImageTitle, kImageOpenFilter).path;
        if (file.isEmpty())
            return false;
    }

    // Decode and ask before touching the document, so a bad file or a closed question costs the
    // user nothing.
    DecodeResult decoded;
    // A compressed file holds many times its size in pixels.
    runWork(work, QStringLiteral("Opening %1…").arg(quotedFileName(file)),
            QFileInfo(file).size() * 8, [&](BackgroundWork::Progress&) {
                try {
                    decoded = loadImageFile(file, doc.transparency());
                } catch (const std::bad_alloc&) {
                    decoded.error = QStringLiteral("There is not enough memory to open %1.")
                                        .arg(quotedPath(file));
                }
            });
    if (!decoded.ok()) {
        dialogs.showError(decoded.error);
        return false;
    }
    TileShape tileSize = doc.tileSize();
    int gridFlag = doc.gridFlag();
    switch (dialogs.askGridLayout()) {
    case GridAnswer::Grid8x8:
        tileSize = 8;
        gridFlag = 1;
        break;
    case GridAnswer::Grid16x16:
        tileSize = 16;
        gridFlag = 1;
        break;
    case GridAnswer::NoGrid:
        tileSize = 16;
        gridFlag = 0;
        break;
    case GridAnswer::Closed:
        break;  // the layout in force before stays
    }
    const bool dropped = decoded.transparent && !keepsAlpha(decoded.image);
    doc.replaceSheet(std::move(decoded.image), tileSize, gridFlag, file, dropped);
    return true;
}

bool saveImageAs(Document& doc, Dialogs& dialogs, BackgroundWork* work)
{
    if (!doc.hasImage())
        return false;
    const FileChoice choice = dialogs.saveFile(kSaveTitle, kImageSaveFilter);
    if (choice.path.isEmpty())
        return false;

    // The chosen filter decides the format; the typed name only gets the matching extension.
    const bool png = choice.filterIndex == 0;
    const QString target = png ? withExtension(choice.path, QStringLiteral("PNG"), QStringLiteral(".png"))
                               : withExtension(choice.path, QStringLiteral("BMP"), QStringLiteral(".bmp"));
    return saveImageTo(doc, dialogs, target, png ? ImageFileFormat::Png : ImageFileFormat::Bmp,
                       work);
}

bool saveImageTo(Document& doc, Dialogs& dialogs, const QString& target, ImageFileFormat format,
                 BackgroundWork* work)
{
    QString error;
    const QImage& image = doc.workingImage();
    const bool cancelled = runWork(
        work, QStringLiteral("Saving %1…").arg(quotedFileName(target)), image.sizeInBytes(),
        [&](BackgroundWork::Progress& progress) {
            SaveOptions options;
            options.progress = [&progress](qint64 done, qint64 total) {
                progress.report(done, total);
                return !progress.cancelled();
            };
            try {
                error = saveImageFile(image, target, format, options);
            } catch (const std::bad_alloc&) {
                error = QStringLiteral("Could not save %1: there is not enough memory.")
                            .arg(quotedPath(target));
            }
        },
        true);
    if (!error.isEmpty()) {
        // A save the user stopped needs no message: any existing file is as it was.
        if (!cancelled)
            dialogs.showError(error);
        return false;
    }
    doc.markImageSaved(target);
    return true;
}

void chooseGridColor(Document& doc, Dialogs& dialogs)
{
    if (const std::optional<QRgb> chosen = dialogs.chooseColor(doc.gridColor()))
        doc.setGridColor(*chosen);
}

bool openMapFile(Document& doc, Dialogs& dialogs, const QString& path)
{
    // The map means nothing without its sheet, so say so rather than read a file we cannot use.
    if (!doc.hasImage()) {
        dialogs.showError(QStringLiteral("Open the sheet this map belongs to first."));
        return false;
    }
    QString file = path;
    if (file.isEmpty()) {
        file = dialogs.openFile(kOpenImageTitle, kMapFilter).path;
        if (file.isEmpty())
            return false;
    }
    const QString error = doc.openMap(file);
    if (!error.isEmpty()) {
        dialogs.showError(error);
        return false;
    }
    return true;
}

bool saveMapFile(Document& doc, Dialogs& dialogs)
{
    if (!doc.hasImage())
        return false;
    const FileChoice choice = dialogs.saveFile(kSaveTitle, kMapFilter);
    if (choice.path.isEmpty())
        return false;

    const QString target =
        withExtension(choice.path, QStringLiteral("ZEKO-MAP"), QStringLiteral(".zeko-map"));
    const QString error = doc.saveMap(target);
    if (!error.isEmpty()) {
        dialogs.showError(error);
        return false;
    }
    return true;
}
